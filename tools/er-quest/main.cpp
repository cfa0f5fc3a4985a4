// er-quest: quest files (.qst) to a readable text form and back, and a check that loads a quest
// the way the server does.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "quest/quest_text_form.h"
#include "quest_check.h"

namespace {

constexpr int kUsageError = 2;

const char* Usage() {
    return "usage: er-quest decode FILE.qst          print the quest file as text\n"
           "       er-quest encode FILE.txt -o FILE.qst  write the text back as a quest file\n"
           "       er-quest check FILE.qst [--data DIR]  load it as the server would in DIR\n"
           "FILE may be - for standard input; encode without -o writes to standard output.\n"
           "The text form is described in docs/quest-format.md.\n";
}

bool ReadAll(const std::string& path, std::string& content) {
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    content.clear();
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        content.append(buffer, n);
    }
    const bool ok = !std::ferror(file);
    if (file != stdin) {
        std::fclose(file);
    }
    return ok;
}

bool WriteAll(const std::string& path, const std::string& content) {
    std::FILE* file = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const bool closed = file == stdout ? std::fflush(file) == 0 : std::fclose(file) == 0;
    return ok && closed;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "er-quest: %s\n", message.c_str());
    return kUsageError;
}

int Decode(int argc, char** argv) {
    if (argc != 3) {
        return Fail(std::string("decode needs one file\n") + Usage());
    }
    std::string bytes;
    if (!ReadAll(argv[2], bytes)) {
        return Fail(std::string("cannot read ") + argv[2]);
    }
    return WriteAll("-", DecodeQuest(bytes)) ? 0 : Fail("cannot write the text");
}

int Encode(int argc, char** argv) {
    std::string input;
    std::string output = "-";
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-o" && i + 1 < argc) {
            output = argv[++i];
        } else if (input.empty()) {
            input = argv[i];
        } else {
            return Fail(std::string("encode takes one text file and -o FILE\n") + Usage());
        }
    }
    if (input.empty()) {
        input = "-";
    }
    std::string text;
    if (!ReadAll(input, text)) {
        return Fail("cannot read " + input);
    }
    std::string bytes;
    std::string error;
    if (!EncodeQuest(text, bytes, error)) {
        return Fail(input + ": " + error);
    }
    return WriteAll(output, bytes) ? 0 : Fail("cannot write " + output);
}

int Check(int argc, char** argv) {
    std::string quest;
    std::string dataDir;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--data" && i + 1 < argc) {
            dataDir = argv[++i];
        } else if (quest.empty()) {
            quest = argv[i];
        } else {
            return Fail(std::string("check takes one quest file and --data DIR\n") + Usage());
        }
    }
    if (quest.empty()) {
        return Fail(std::string("check needs a quest file\n") + Usage());
    }
    std::error_code error;
    // The quest file is named relative to where er-quest was started, the data files relative
    // to the data directory, as the server reads them.
    const std::string questPath = std::filesystem::absolute(quest, error).string();
    if (!dataDir.empty()) {
        std::filesystem::current_path(dataDir, error);
        if (error) {
            return Fail("cannot use data directory " + dataDir + ": " + error.message());
        }
    }
    return CheckQuest(questPath, stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Fail(std::string("no command\n") + Usage());
    }
    const std::string_view command = argv[1];
    if (command == "decode") {
        return Decode(argc, argv);
    }
    if (command == "encode") {
        return Encode(argc, argv);
    }
    if (command == "check") {
        return Check(argc, argv);
    }
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(Usage(), stdout);
        return 0;
    }
    return Fail("unknown command '" + std::string(command) + "'\n" + Usage());
}
