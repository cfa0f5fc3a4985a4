#include "shell/command_line.h"

#include <charconv>
#include <string_view>
#include <utility>

const char* UsageText() {
    return "usage: emberrealms-server [--data DIR] [--headless] [--start]\n"
           "                          [--control-socket PATH | --no-control-socket]\n"
           "                          [--web-console ADDRESS:PORT]\n"
           "       emberrealms-server [--data DIR] --simulate N [--seed S] [--dump-every K]\n"
           "\n"
           "  --data DIR   run in DIR: the world's data files are read from it, and the debug\n"
           "               log ErrorChk.txt and scriptput.txt are written to it\n"
           "  --headless   no window: the console reads commands from standard input\n"
           "               (chosen automatically when there is no display)\n"
           "  --start      start hosting as soon as the server is up\n"
           "  --control-socket PATH  serve the console's commands on this Unix-domain\n"
           "               socket (default: control.sock in the runtime directory; see\n"
           "               docs/operations.md), for emberrealms-ctl\n"
           "  --no-control-socket  no control socket\n"
           "  --web-console ADDRESS:PORT  serve the web console there, whatever the\n"
           "               settings say (port 0: the system chooses; see docs/web-console.md)\n"
           "  --simulate N run N game ticks on a simulated clock, as fast as possible, and\n"
           "               print the world's state after tick N (see docs/simulate.md)\n"
           "  --seed S     seed of the weather's random source in a simulation (default 1)\n"
           "  --dump-every K  also print the state after every K-th tick (default N)\n"
           "  --help       show this text\n"
           "  --version    show the version\n";
}

namespace {

// A whole decimal number in [minimum, maximum], nothing else.
bool ParseNumber(std::string_view text, int64_t minimum, int64_t maximum, int64_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && ptr == end && value >= minimum && value <= maximum;
}

// The value of an option given as "--name VALUE" or "--name=VALUE"; false when it is missing.
bool OptionValue(std::string_view arg, std::string_view name, int argc, const char* const* argv,
                 int& i, std::string_view& value) {
    if (arg == name) {
        if (i + 1 >= argc) {
            return false;
        }
        value = argv[++i];
        return true;
    }
    value = arg.substr(name.size() + 1);
    return true;
}

bool IsOption(std::string_view arg, std::string_view name) {
    return arg == name ||
           (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
}

// "ADDRESS:PORT", the address of IPv6 in brackets ("[::1]:8080").
bool ParseListenAddress(std::string_view text, std::string& address, uint16_t& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    std::string_view host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    int64_t number = 0;
    if (host.empty() || !ParseNumber(text.substr(colon + 1), 0, 65535, number)) {
        return false;
    }
    address = std::string(host);
    port = static_cast<uint16_t>(number);
    return true;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine result;
    const auto fail = [&result](std::string message) {
        result.action = CommandLine::Action::Error;
        result.error = std::move(message);
        return result;
    };
    bool seedGiven = false;
    bool dumpGiven = false;
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
        } else if (arg == "--no-control-socket") {
            result.options.noControlSocket = true;
        } else if (IsOption(arg, "--control-socket")) {
            std::string_view value;
            if (!OptionValue(arg, "--control-socket", argc, argv, i, value) || value.empty()) {
                return fail("--control-socket needs a path");
            }
            result.options.controlSocket = std::string(value);
        } else if (IsOption(arg, "--web-console")) {
            std::string_view value;
            if (!OptionValue(arg, "--web-console", argc, argv, i, value) ||
                !ParseListenAddress(value, result.options.webConsoleAddress,
                                    result.options.webConsolePort)) {
                return fail("--web-console needs ADDRESS:PORT (port 0: the system chooses)");
            }
            result.options.webConsole = true;
        } else if (IsOption(arg, "--simulate")) {
            std::string_view value;
            int64_t ticks = 0;
            if (!OptionValue(arg, "--simulate", argc, argv, i, value) ||
                !ParseNumber(value, 0, INT32_MAX, ticks)) {
                return fail("--simulate needs a number of ticks (0 or more)");
            }
            result.options.simulate = true;
            result.options.simulateTicks = ticks;
        } else if (IsOption(arg, "--seed")) {
            std::string_view value;
            int64_t seed = 0;
            if (!OptionValue(arg, "--seed", argc, argv, i, value) ||
                !ParseNumber(value, 0, UINT32_MAX, seed)) {
                return fail("--seed needs a number from 0 to 4294967295");
            }
            result.options.simulateSeed = static_cast<uint32_t>(seed);
            seedGiven = true;
        } else if (IsOption(arg, "--dump-every")) {
            std::string_view value;
            int64_t every = 0;
            if (!OptionValue(arg, "--dump-every", argc, argv, i, value) ||
                !ParseNumber(value, 1, INT32_MAX, every)) {
                return fail("--dump-every needs a number of ticks (1 or more)");
            }
            result.options.simulateDumpEvery = every;
            dumpGiven = true;
        } else {
            result.action = CommandLine::Action::Error;
            result.error = "unknown option '" + std::string(arg) + "'";
            return result;
        }
    }
    if (!result.options.simulate && (seedGiven || dumpGiven)) {
        return fail("--seed and --dump-every belong to --simulate");
    }
    if (result.options.simulate && result.options.start) {
        return fail("--simulate does not host: it cannot be combined with --start");
    }
    if (result.options.simulate && !dumpGiven) {
        result.options.simulateDumpEvery = result.options.simulateTicks;
    }
    return result;
}
