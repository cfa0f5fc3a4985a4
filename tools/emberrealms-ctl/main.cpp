// emberrealms-ctl [--socket PATH] [COMMAND...]: runs one console command on a running server
// and prints its answer, or, without a command, reads commands with line editing until the
// end of input.

#include <editline/readline.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/control_socket_path.h"
#include "control_client.h"

namespace {

constexpr const char* kUsage =
    "usage: emberrealms-ctl [--socket PATH] [COMMAND...]\n"
    "Runs a console command (help lists them) on the running server whose control socket is\n"
    "PATH (default: %s), or reads commands one a line when none is given.\n";

bool Print(const std::optional<std::string>& answer) {
    if (!answer) {
        std::fprintf(stderr, "emberrealms-ctl: the server closed the connection\n");
        return false;
    }
    std::fwrite(answer->data(), 1, answer->size(), stdout);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = DefaultControlSocketPath(), command;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (command.empty() && (arg == "--help" || arg == "-h")) {
            std::printf(kUsage, path.c_str());
            return 0;
        }
        if (command.empty() && arg == "--socket" && i + 1 < argc) {
            path = argv[++i];
        } else if (command.empty() && arg.starts_with("--socket=")) {
            path = arg.substr(9);
        } else if (command.empty() && arg.starts_with("--")) {
            std::fprintf(stderr, kUsage, path.c_str());
            return 2;
        } else {
            command += (command.empty() ? "" : " ") + arg;
        }
    }
    ControlClient client;
    std::string error;
    if (!client.Connect(path, error)) {
        std::fprintf(stderr, "emberrealms-ctl: %s\n", error.c_str());
        return 1;
    }
    if (!command.empty()) {
        return Print(client.Ask(command)) ? 0 : 1;
    }
    const bool interactive = isatty(STDIN_FILENO);
    for (;;) {
        std::string line;
        if (interactive) {
            char* read = readline("emberrealms> ");
            if (read == nullptr) {
                break;
            }
            line = read;
            std::free(read);
            if (!line.empty()) {
                add_history(line.c_str());
            }
        } else {
            char buffer[8192];
            if (std::fgets(buffer, sizeof buffer, stdin) == nullptr) {
                break;
            }
            line = buffer;
            if (!line.empty() && line.back() == '\n') {
                line.pop_back();
            }
        }
        if (!Print(client.Ask(line))) {
            return 1;
        }
        if (line == "exit" || line == "quit") {
            break;
        }
    }
    return 0;
}
