// The tokenizer and the loader: a script file becomes the flat token list the evaluator walks.
// Keywords and host-function names are symbols found as prefixes, so they are also found
// inside words ("shift" reads as sh, if, t); script authors know this and name around it.

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "xscript/xscript.h"

namespace {

// One read of the loader takes at most this many bytes, like fgets with a 1024-byte buffer;
// a longer line is read in parts, each counted as a line of its own.
constexpr size_t kLineBufferSize = 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsNumberByte(char c) {
    return (c >= '0' && c <= '9') || c == '.';
}

// Writes as much of text as fits, always terminated.
void CopyToBuffer(std::string_view text, char* buffer, int32_t bufferSize) {
    const size_t n = std::min(text.size(), static_cast<size_t>(bufferSize - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

char Unescape(char c) {
    switch (c) {
        case 'r':
            return '\r';
        case 'n':
            return '\n';
        case 'b':
            return '\b';
        default:
            // Backslash and double quote stand for themselves, and so does any other byte.
            return c;
    }
}

// A string literal at the start of rest: its length in the line including both quotes, or 0
// when there is no closing quote on the line. textLength gets the length of the unescaped
// text, and text the text itself when asked for.
size_t ScanStringLiteral(std::string_view rest, size_t& textLength, std::string* text) {
    textLength = 0;
    if (rest.empty() || rest[0] != '"') {
        return 0;
    }
    for (size_t i = 1; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '"') {
            return i + 1;
        }
        if (c == '\\') {
            if (i + 1 >= rest.size()) {
                return 0;
            }
            c = Unescape(rest[++i]);
        }
        ++textLength;
        if (text) {
            text->push_back(c);
        }
    }
    return 0;
}

}  // namespace

int32_t CXScript::MatchSymbol(std::string_view rest, int32_t bufferSize) const {
    int32_t best = -1;
    size_t bestLength = 0;
    for (size_t i = 0; i < symbols_.size(); ++i) {
        const std::string& text = symbols_[i].text;
        // An empty name would match everywhere without consuming anything.
        if (text.empty() || text.size() <= bestLength || rest.empty() || text[0] != rest[0]) {
            continue;
        }
        if (text.size() >= static_cast<size_t>(bufferSize) || rest.substr(0, text.size()) != text) {
            continue;
        }
        best = static_cast<int32_t>(i);
        bestLength = text.size();
    }
    return best;
}

int32_t CXScript::MatchStringLiteral(std::string_view rest, char* buffer,
                                     int32_t bufferSize) const {
    size_t textLength = 0;
    const size_t length = ScanStringLiteral(rest, textLength, nullptr);
    if (length == 0 || textLength >= static_cast<size_t>(bufferSize)) {
        return 0;
    }
    if (buffer) {
        std::string text;
        ScanStringLiteral(rest, textLength, &text);
        CopyToBuffer(text, buffer, bufferSize);
    }
    return static_cast<int32_t>(length);
}

int32_t CXScript::Tokenize(std::string_view line, int32_t start, char* buffer, int32_t bufferSize,
                           int32_t& code) const {
    code = xscript::kLiteral;
    if (buffer == nullptr || bufferSize < 1) {
        return 0;
    }
    buffer[0] = '\0';
    // The line is a C string: nothing after a zero byte belongs to it.
    line = line.substr(0, line.find('\0'));
    // Positions are 32-bit; no script line comes near this.
    line = line.substr(0, static_cast<size_t>(INT32_MAX));
    if (start < 0 || static_cast<size_t>(start) >= line.size()) {
        return 0;
    }
    size_t pos = static_cast<size_t>(start);
    while (pos < line.size() && IsBlank(line[pos])) {
        ++pos;
    }
    const std::string_view rest = line.substr(pos);

    struct Marker {
        const char* text;
        int32_t code;
    };
    static constexpr Marker kCommentMarkers[] = {
        {"//", xscript::kLineComment},
        {"/*", xscript::kCommentStart},
        {"*/", xscript::kCommentEnd},
    };
    for (const Marker& marker : kCommentMarkers) {
        if (rest.substr(0, 2) == marker.text) {
            code = marker.code;
            CopyToBuffer(marker.text, buffer, bufferSize);
            return static_cast<int32_t>(pos + 2);
        }
    }

    if (const int32_t length = MatchStringLiteral(rest, buffer, bufferSize); length > 0) {
        return static_cast<int32_t>(pos) + length;
    }

    if (const int32_t symbol = MatchSymbol(rest, bufferSize); symbol >= 0) {
        const std::string& text = symbols_[static_cast<size_t>(symbol)].text;
        // The first entry with this text decides the code, so "-" is always subtraction here.
        code = symbols_[static_cast<size_t>(FindSymbol(text))].code;
        CopyToBuffer(text, buffer, bufferSize);
        return static_cast<int32_t>(pos + text.size());
    }

    size_t end = 0;
    if (!rest.empty() && IsNumberByte(rest[0])) {
        bool point = false;
        while (end < rest.size() && IsNumberByte(rest[end])) {
            if (rest[end] == '.') {
                if (point) {
                    break;  // a second point starts the next number
                }
                point = true;
            }
            ++end;
        }
    } else {
        code = xscript::kWord;
        while (end < rest.size() && !IsBlank(rest[end]) &&
               MatchStringLiteral(rest.substr(end), nullptr, bufferSize) == 0 &&
               MatchSymbol(rest.substr(end), bufferSize) < 0) {
            ++end;
        }
    }
    // A word or number longer than the buffer is consumed whole and stored cut short.
    CopyToBuffer(rest.substr(0, end), buffer, bufferSize);
    return static_cast<int32_t>(pos + end);
}

int32_t CXScript::LoadScript(const char* path) {
    if (path == nullptr) {
        return -1;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return -1;
    }
    std::string bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.append(chunk, n);
    }
    // A directory opens on Linux but cannot be read: treat it like a file that is not there.
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        return -1;
    }
    return LoadScriptText(bytes);
}

int32_t CXScript::LoadScriptText(std::string_view bytes) {
    // Text mode: a carriage return before a line feed is part of the line end.
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        text.push_back(bytes[i]);
    }

    int32_t lineNumber = 1;
    bool inComment = false;
    char buffer[kLineBufferSize];
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t limit = std::min(text.size(), pos + (kLineBufferSize - 1));
        const size_t newline = text.find('\n', pos);
        const size_t readEnd =
            (newline != std::string::npos && newline < limit) ? newline + 1 : limit;
        std::string_view line(text.data() + pos, readEnd - pos);
        pos = readEnd;
        line = line.substr(0, line.find('\0'));
        if (!line.empty() && line.back() == '\n') {
            line.remove_suffix(1);
        }

        int32_t start = 0;
        int32_t code = 0;
        while ((start = Tokenize(line, start, buffer, sizeof buffer, code)) != 0) {
            if (code == xscript::kLineComment) {
                break;
            }
            if (code == xscript::kCommentStart) {
                if (inComment) {
                    return -2;
                }
                inComment = true;
                continue;
            }
            if (code == xscript::kCommentEnd) {
                if (!inComment) {
                    return -2;
                }
                inComment = false;
                continue;
            }
            if (code == xscript::kSubtract && !tokens_.empty()) {
                const int32_t last = tokens_.back().code;
                if (last != xscript::kLiteral && last != xscript::kWord &&
                    last != xscript::kCloseParen) {
                    code = xscript::kNegate;
                }
            }
            if (!inComment) {
                tokens_.push_back(CXToken{buffer, lineNumber, code});
            }
        }
        ++lineNumber;
    }
    return 0;
}
