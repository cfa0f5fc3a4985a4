#include "npc/npc_definition.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "npc/npc_codes.h"
#include "npc/server_npc.h"
#include "npc/text_line_reader.h"
#include "base/data_path.h"
#include "base/debug_log.h"

namespace {

bool Contains(const char* line, const char* key) {
    return std::strstr(line, key) != nullptr;
}

// One read of the definition file into a fixed line buffer.
class DefinitionReader {
public:
    explicit DefinitionReader(std::FILE* file) : file_(file) {}
    bool Next() { return ReadTextLine(file_, line, kDefinitionLineSize); }

    char line[kDefinitionLineSize] = {};

private:
    std::FILE* file_;
};

// Leaves the reader just after the name line that contains name; false at end of file.
// A name line is never itself taken for a "[NAME]" line, and neither is the line after it.
bool FindDefinition(DefinitionReader& reader, const char* name) {
    if (!reader.Next()) {
        return false;
    }
    for (;;) {
        if (Contains(reader.line, "[NAME]")) {
            if (!reader.Next()) {
                return false;
            }
            if (Contains(reader.line, name)) {
                return true;
            }
        }
        if (!reader.Next()) {
            return false;
        }
    }
}

// Reads the body up to the next "[NAME]" line. Each key consumes the line after it as its
// value; a "[TYPE]" value line is still looked at for "[SPEED]", as the value shares the
// buffer the key line was in.
void ApplyBody(DefinitionReader& reader, CServerNPC& npc) {
    while (reader.Next()) {
        if (Contains(reader.line, "[NAME]")) {
            return;
        }
        if (Contains(reader.line, "[TYPE]")) {
            if (!reader.Next()) {
                return;
            }
            npc.type = TypeFromWords(reader.line, npc.type);
        }
        if (Contains(reader.line, "[SPEED]")) {
            if (!reader.Next()) {
                return;
            }
            npc.speed = SpeedFromText(reader.line);
        }
    }
}

}  // namespace

int32_t TypeFromWords(const char* line, int32_t current) {
    int32_t type = current;
    if (Contains(line, "still")) {
        type = kTypeStill;
    }
    if (Contains(line, "headturn")) {
        type = kTypeHeadturn;
    }
    if (Contains(line, "personscript")) {
        type = kTypePersonscript;
    }
    return type;
}

float SpeedFromText(const char* line) {
    // strtol in base 10 reads exactly the blanks, sign and digits that atoi does, and is
    // defined for values that do not fit.
    const long value = std::strtol(line, nullptr, 10);
    if (value > INT32_MAX) {
        return static_cast<float>(INT32_MAX);
    }
    if (value < INT32_MIN) {
        return static_cast<float>(INT32_MIN);
    }
    return static_cast<float>(static_cast<int32_t>(value));
}

void CServerNPC::LoadDefinition(const char* name) {
    std::FILE* file = OpenDataFile(kNpcDefinitionFile, "r");
    if (file == nullptr) {
        LogLine("CServerNPC: NPC definition file not found!");
        return;
    }
    DefinitionReader reader(file);
    if (FindDefinition(reader, name != nullptr ? name : "")) {
        ApplyBody(reader, *this);
    }
    std::fclose(file);
}
