#include "quest/quest_text_form.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "quest/leading_number.h"
#include "quest/quest_field.h"
#include "quest/server_quest_loader.h"
#include "quest/text_escape.h"

namespace {

// How a field ends in the file.
enum class FieldEnd { Tilde, Zero, FileEnd };

struct QuestField {
    std::string text;  // the field's bytes as read, top bits restored
    FieldEnd end = FieldEnd::Tilde;
};

std::vector<QuestField> SplitFields(std::string_view bytes) {
    std::vector<QuestField> fields;
    QuestField current;
    for (const char c : bytes) {
        if (c == kQuestFieldEnd || c == '\0') {
            current.end = c == '\0' ? FieldEnd::Zero : FieldEnd::Tilde;
            fields.push_back(std::move(current));
            current = QuestField();
        } else {
            current.text += static_cast<char>(FlipQuestByte(static_cast<unsigned char>(c)));
        }
    }
    if (!current.text.empty()) {
        current.end = FieldEnd::FileEnd;
        fields.push_back(std::move(current));
    }
    return fields;
}

// Writes the decoded fields line by line, naming each by its place in the quest's layout.
class Decoder {
public:
    explicit Decoder(std::string_view bytes) : fields_(SplitFields(bytes)) {}

    std::string Run() {
        out_ = "# EmberRealms quest file, er-quest text form 1\n";
        Line("header", {"value"});
        const int32_t screens = Line("screens", {"count"});
        for (int32_t i = 0; i < screens && Left(); ++i) {
            const size_t first = next_;
            Line("screen", {"column", "row"}, "screen " + std::to_string(i));
            columns_.push_back(NumberAt(first));
            rows_.push_back(first + 1 < next_ ? NumberAt(first + 1) : 0);
        }
        Line("unused", {"a", "b", "c", "d"});
        for (int32_t i = 0; i < screens && Left(); ++i) {
            const bool known = static_cast<size_t>(i) < columns_.size();
            const int32_t column = known ? columns_[i] : 0;
            const int32_t row = known ? rows_[i] : 0;
            char note[96];
            std::snprintf(note, sizeof note, "screen %d: column %d, row %d", i, column, row);
            const int32_t placements = Line("block", {"placements"}, note);
            for (int32_t p = 0; p < placements && Left(); ++p) {
                const size_t first = next_;
                Line("place", {"x", "y", "name"}, PlaceNote(first, column, row));
            }
            const int32_t objects = Line("objects", {"count"});
            for (int32_t o = 0; o < objects && Left(); ++o) {
                Line("object", {"a", "b", "c", "d", "e", "f"});
            }
        }
        while (Left()) {
            Line("extra", {"value"}, "not read by the server");
        }
        return out_;
    }

private:
    bool Left() const { return next_ < fields_.size(); }
    int32_t NumberAt(size_t index) const { return LeadingNumber(fields_[index].text); }

    std::string PlaceNote(size_t first, int32_t column, int32_t row) const {
        if (first + 2 >= fields_.size()) {
            return "cut short by the end of the file";
        }
        char note[64];
        std::snprintf(note, sizeof note, "world %d,%d", PlacementWorldX(column, NumberAt(first)),
                      PlacementWorldY(row, NumberAt(first + 1)));
        return note;
    }

    // One line of up to labels.size() fields; gives the first field as a number.
    int32_t Line(const char* keyword, std::initializer_list<const char*> labels,
                 const std::string& note = "") {
        if (!Left()) {
            return 0;
        }
        const int32_t value = NumberAt(next_);
        out_ += keyword;
        for (const char* label : labels) {
            if (!Left()) {
                break;
            }
            const QuestField& field = fields_[next_++];
            out_ += ' ';
            out_ += label;
            out_ += "=\"" + EscapeText(field.text) + '"';
            if (field.end == FieldEnd::Zero) {
                out_ += "!nul";
            } else if (field.end == FieldEnd::FileEnd) {
                out_ += "!eof";
            }
        }
        if (!note.empty()) {
            out_ += "  # " + note;
        }
        out_ += '\n';
        return value;
    }

    std::vector<QuestField> fields_;
    size_t next_ = 0;
    std::vector<int32_t> columns_;
    std::vector<int32_t> rows_;
    std::string out_;
};

bool IsLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

// Parses the fields of one line after its keyword and appends their bytes.
bool EncodeLine(std::string_view line, std::string& bytes, bool& sawFileEnd, std::string& why) {
    size_t i = 0;
    while (i < line.size() && IsLabelChar(line[i])) {
        ++i;
    }
    if (i == 0) {
        why = "a line must start with a keyword";
        return false;
    }
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i >= line.size() || line[i] == '#') {
            return true;
        }
        const size_t labelStart = i;
        while (i < line.size() && IsLabelChar(line[i])) {
            ++i;
        }
        if (i > labelStart) {
            if (i >= line.size() || line[i] != '=') {
                why = "a label must be followed by '='";
                return false;
            }
            ++i;
        }
        if (i >= line.size() || line[i] != '"') {
            why = "expected a quoted field";
            return false;
        }
        ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != '"') {
            i += line[i] == '\\' ? 2 : 1;
        }
        if (i >= line.size()) {
            why = "a quoted field is not closed";
            return false;
        }
        std::string text;
        if (!UnescapeText(line.substr(start, i - start), text)) {
            why = "a bad escape in a quoted field";
            return false;
        }
        ++i;
        FieldEnd end = FieldEnd::Tilde;
        if (line.substr(i).starts_with("!nul")) {
            end = FieldEnd::Zero;
            i += 4;
        } else if (line.substr(i).starts_with("!eof")) {
            end = FieldEnd::FileEnd;
            i += 4;
        }
        if (sawFileEnd) {
            why = "no field can follow one marked !eof";
            return false;
        }
        for (const char c : text) {
            const unsigned char stored = FlipQuestByte(static_cast<unsigned char>(c));
            if (stored == 0 || stored == static_cast<unsigned char>(kQuestFieldEnd)) {
                why = "a field cannot hold the bytes 0x80 or 0xFE (they would end it)";
                return false;
            }
            bytes += static_cast<char>(stored);
        }
        if (end == FieldEnd::Tilde) {
            bytes += kQuestFieldEnd;
        } else if (end == FieldEnd::Zero) {
            bytes += '\0';
        } else {
            sawFileEnd = true;
        }
    }
}

}  // namespace

std::string DecodeQuest(std::string_view bytes) {
    return Decoder(bytes).Run();
}

bool EncodeQuest(std::string_view text, std::string& bytes, std::string& error) {
    bytes.clear();
    bool sawFileEnd = false;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        size_t first = 0;
        while (first < line.size() && (line[first] == ' ' || line[first] == '\t')) {
            ++first;
        }
        line.remove_prefix(first);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string why;
        if (!EncodeLine(line, bytes, sawFileEnd, why)) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        }
    }
    return true;
}
