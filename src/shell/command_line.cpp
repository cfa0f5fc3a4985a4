#include "shell/command_line.h"

#include <string_view>

const char* UsageText() {
    return "usage: emberrealms-server [--data DIR] [--headless] [--start]\n"
           "\n"
           "  --data DIR   run in DIR: the world's data files are read from it, and the debug\n"
           "               log ErrorChk.txt and scriptput.txt are written to it\n"
           "  --headless   no window: the console reads commands from standard input\n"
           "               (chosen automatically when there is no display)\n"
           "  --start      start hosting as soon as the server is up\n"
           "  --help       show this text\n"
           "  --version    show the version\n";
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine result;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (arg == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        if (arg == "--headless") {
            result.options.headless = true;
        } else if (arg == "--start") {
            result.options.start = true;
        } else if (arg == "--data" || arg.starts_with("--data=")) {
            if (arg == "--data") {
                if (i + 1 >= argc) {
                    result.action = CommandLine::Action::Error;
                    result.error = "--data needs a directory";
                    return result;
                }
                result.options.dataDir = argv[++i];
            } else {
                result.options.dataDir = std::string(arg.substr(7));
            }
            if (result.options.dataDir.empty()) {
                result.action = CommandLine::Action::Error;
                result.error = "--data needs a directory";
                return result;
            }
        } else {
            result.action = CommandLine::Action::Error;
            result.error = "unknown option '" + std::string(arg) + "'";
            return result;
        }
    }
    return result;
}
