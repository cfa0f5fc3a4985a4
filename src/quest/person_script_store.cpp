#include "quest/person_script_store.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "npc/text_line_reader.h"
#include "base/data_path.h"
#include "base/debug_log.h"

namespace {

// The name as the store keeps it: at most kPersonScriptNameLength characters.
void CutName(const char* name, char (&cut)[kPersonScriptNameLength + 1]) {
    std::memset(cut, 0, sizeof cut);
    if (name != nullptr) {
        std::memcpy(cut, name, strnlen(name, kPersonScriptNameLength));
    }
}

// Whether the file may be read: a regular file inside the script folder. A name that climbs
// out with ".." could otherwise reach any file of the machine, and a pipe or device would
// block the game tick in its first read.
bool Readable(const std::string& path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (path.compare(start, end - start, "..") == 0 && end - start == 2) {
            return false;
        }
        start = end + 1;
    }
    std::error_code error;
    return std::filesystem::status(path, error).type() == std::filesystem::file_type::regular;
}

}  // namespace

const PersonScriptFile* CPersonScriptStore::Find(const char* name) const {
    char cut[kPersonScriptNameLength + 1];
    CutName(name, cut);
    for (const PersonScriptFile& file : files_) {
        if (std::strcmp(file.name, cut) == 0) {
            return &file;
        }
    }
    return nullptr;
}

void CPersonScriptStore::AddFile(const char* name) {
    if (Find(name) != nullptr) {
        return;
    }
    if (static_cast<int32_t>(files_.size()) >= kPersonScriptMaxFiles) {
        if (!reportedFull_) {
            LogLine(
                "CPersonScriptStore: Too many person script files, further files are "
                "not registered!");
            reportedFull_ = true;
        }
        return;
    }
    PersonScriptFile file;
    CutName(name, file.name);
    file.ordinal = static_cast<int32_t>(files_.size());

    const std::string windowsPath = std::string("script\\") + file.name;
    const std::string path = DataPath(windowsPath.c_str());
    std::FILE* stream = Readable(path) ? std::fopen(path.c_str(), "r") : nullptr;
    if (stream == nullptr) {
        LogLine("Error: Could not open Person Script File:");
        LogLine(windowsPath.c_str());
    } else {
        char buffer[kPersonScriptReadSize];
        for (int32_t read = 0;
             read < kPersonScriptMaxReads && ReadTextLine(stream, buffer, kPersonScriptReadSize);
             ++read) {
            file.lines.push_back(PersonScriptLine{read});
        }
        std::fclose(stream);
    }
    files_.push_back(std::move(file));
}
