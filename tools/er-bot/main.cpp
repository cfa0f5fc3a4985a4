// er-bot: a command-line client of the EmberRealms game server, for looking at a running
// server (enum), playing one player by hand or by script (join) and load-testing it (load).

#include <csignal>
#include <cstdio>
#include <string_view>
#include <vector>

#include "commands.h"
#include "options.h"

namespace {

constexpr int kUsageError = 2;

}  // namespace

int main(int argc, char** argv) {
    // Every line reaches a pipe as soon as it is printed: scripts wait for them.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const er_bot::ParseResult parsed = er_bot::ParseArguments(args);
    if (!parsed.command) {
        std::fprintf(stderr, "er-bot: %s\nTry 'er-bot --help' for the usage.\n",
                     parsed.error.c_str());
        return kUsageError;
    }
    return std::visit(
        [](const auto& options) -> int {
            using T = std::decay_t<decltype(options)>;
            if constexpr (std::is_same_v<T, er_bot::HelpRequest>) {
                std::printf("%s", er_bot::UsageText());
                return 0;
            } else if constexpr (std::is_same_v<T, er_bot::EnumOptions>) {
                return er_bot::RunEnum(options);
            } else if constexpr (std::is_same_v<T, er_bot::JoinOptions>) {
                return er_bot::RunJoin(options);
            } else {
                return er_bot::RunLoad(options);
            }
        },
        *parsed.command);
}
