// Loading the server script and writing its echo file.

#include <cstdio>
#include <cstring>
#include <utility>

#include "npc/text_line_reader.h"
#include "quest/server_script.h"
#include "base/data_path.h"
#include "base/debug_log.h"

CServerScript::CServerScript(ScriptWorld world) : world_(std::move(world)) {}

const char* CServerScript::Line(int32_t index) const {
    if (index < 0 || index >= lineCount || index >= kScriptLineSlots) {
        return "";
    }
    return lines[index];
}

int32_t* CServerScript::GlobalSlot(int32_t index) const {
    if (world_.globals == nullptr || index < 0 || index >= kGlobalCount) {
        return nullptr;
    }
    return &world_.globals[index];
}

int32_t CServerScript::Global(int32_t n) const {
    const int32_t* slot = GlobalSlot(n - 1);
    return slot != nullptr ? *slot : 0;
}

void CServerScript::Load(const char* fileName) {
    // A load replaces whatever an earlier load stored (the server loads once; tools and tests
    // may load again).
    for (int32_t i = 0; i < lineCount && i < kScriptLineSlots; ++i) {
        std::memset(lines[i], 0, sizeof lines[i]);
    }
    lineCount = 0;
    currentPosition = 0;
    std::FILE* file = OpenDataFile(fileName, "r");
    if (file == nullptr) {
        LogLine("CServerScript: Could not open script file!");
        return;
    }
    char buffer[kScriptLineSize];
    for (;;) {
        std::memset(buffer, 0, sizeof buffer);
        if (!ReadTextLine(file, buffer, kScriptLineSize)) {
            break;
        }
        if (std::strstr(buffer, "EOF") != nullptr) {
            break;
        }
        // Lines beyond the store's slots are dropped; such a script never runs anyway.
        if (std::strlen(buffer) > 3 && lineCount < kScriptLineSlots) {
            std::memcpy(lines[lineCount], buffer, sizeof buffer);
            ++lineCount;
        }
    }
    DumpScript();
    std::fclose(file);
}

void CServerScript::DumpScript() {
    std::FILE* echo = std::fopen(kScriptEchoFile, "w");
    if (echo == nullptr) {
        LogLine("CServerScript: Could not write scriptput.txt!");
        return;
    }
    for (int32_t i = 0; i < lineCount; ++i) {
        std::fputs(lines[i], echo);
    }
    std::fclose(echo);
}
