#pragma once
// The person-script files that the XScript program registers with "RunPersonScript". Each
// file is opened once, under "script\" + its name, and read to its end one line at a time;
// the store keeps one record per read. Nothing in the server executes the records: person
// scripts run from the server script, and the store is the register of what was asked for.

#include <cstdint>
#include <vector>

constexpr int32_t kPersonScriptNameLength = 51;  // characters of a name that are kept
constexpr int32_t kPersonScriptReadSize = 1024;  // one read takes at most 1023 characters
// Scripts may name files every tick, and names are untrusted: the store and each file's
// reads are bounded so that no script can grow the store or stall the tick without limit.
constexpr int32_t kPersonScriptMaxFiles = 256;
constexpr int32_t kPersonScriptMaxReads = 10000;

struct PersonScriptLine {
    int32_t read = 0;  // 0-based number of the read that produced this record
};

struct PersonScriptFile {
    char name[kPersonScriptNameLength + 1] = {};
    int32_t ordinal = 0;  // files registered before this one
    std::vector<PersonScriptLine> lines;
};

class CPersonScriptStore {
public:
    // Registers the file of this name unless a file of the same (cut) name is registered.
    // A file that cannot be opened is registered too, with no lines, after two debug-log
    // entries: "Error: Could not open Person Script File:" and the path.
    void AddFile(const char* name);

    const std::vector<PersonScriptFile>& Files() const { return files_; }
    // The file registered under this name, or nullptr.
    const PersonScriptFile* Find(const char* name) const;

private:
    std::vector<PersonScriptFile> files_;
    bool reportedFull_ = false;
};
