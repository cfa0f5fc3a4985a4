#include "options.h"

#include <charconv>
#include <cmath>

#include "game_text.h"

namespace er_bot {

namespace {

// Whole numbers in [minimum, maximum] and nothing else.
bool ParseInt(std::string_view text, int64_t minimum, int64_t maximum, int64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= minimum &&
           value <= maximum;
}

// Decimal numbers in (0, maximum].
bool ParsePositive(std::string_view text, double maximum, double& value) {
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value) &&
           value > 0 && value <= maximum;
}

// HOST, HOST:PORT; the port 1-65535.
bool ParseTarget(std::string_view text, Target& target, std::string& error) {
    const size_t colon = text.rfind(':');
    target.host = std::string(text.substr(0, colon));
    target.port.reset();
    if (colon != std::string_view::npos) {
        int64_t port = 0;
        if (!ParseInt(text.substr(colon + 1), 1, 65535, port)) {
            error = "bad port in '" + std::string(text) + "' (1-65535)";
            return false;
        }
        target.port = uint16_t(port);
    }
    if (target.host.empty()) {
        error = "missing host in '" + std::string(text) + "'";
        return false;
    }
    return true;
}

class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string_view>& args) : args_(args) {}

    bool done() const { return next_ >= args_.size(); }
    std::string_view Next() { return args_[next_++]; }

    // The value of "--name VALUE" or "--name=VALUE" for the option `arg`, once it is known to
    // be an option of that name.
    bool Value(std::string_view arg, std::string_view& value, std::string& error) {
        if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            return true;
        }
        if (done()) {
            error = "missing value for " + std::string(arg);
            return false;
        }
        value = Next();
        return true;
    }

private:
    const std::vector<std::string_view>& args_;
    size_t next_ = 0;
};

std::string_view OptionName(std::string_view arg) {
    return arg.substr(0, arg.find('='));
}

bool ParseHidden(std::string_view list, std::set<uint32_t>& hidden, std::string& error) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        const auto type = ParseMessageType(item);
        if (!type) {
            error = "--hide: unknown message type '" + std::string(item) + "'";
            return false;
        }
        hidden.insert(*type);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return true;
}

}  // namespace

ParseResult ParseArguments(const std::vector<std::string_view>& args) {
    ParseResult result;
    std::string& error = result.error;
    ArgumentReader reader(args);
    if (reader.done()) {
        error = "missing command (enum, join or load)";
        return result;
    }
    const std::string_view command = reader.Next();
    if (command == "--help" || command == "-h" || command == "help") {
        if (!reader.done()) {
            error = "unexpected argument '" + std::string(reader.Next()) + "'";
            return result;
        }
        result.command = HelpRequest{};
        return result;
    }
    if (command != "enum" && command != "join" && command != "load") {
        error = "unknown command '" + std::string(command) + "' (enum, join or load)";
        return result;
    }

    EnumOptions enumOptions;
    JoinOptions join;
    LoadOptions load;
    bool haveTarget = false, haveName = false, havePlayers = false, haveDuration = false;
    Target target;
    // Each option and the commands it belongs to.
    auto belongs = [&](std::string_view name, std::initializer_list<std::string_view> commands) {
        for (std::string_view c : commands)
            if (c == command)
                return true;
        error = std::string(name) + " is not an option of " + std::string(command);
        return false;
    };
    while (!reader.done()) {
        const std::string_view arg = reader.Next();
        if (arg == "--help" || arg == "-h") {
            result.command = HelpRequest{};
            return result;
        }
        if (!arg.starts_with("--")) {
            if (haveTarget) {
                error = "unexpected argument '" + std::string(arg) + "'";
                return result;
            }
            if (!ParseTarget(arg, target, error))
                return result;
            haveTarget = true;
            continue;
        }
        const std::string_view name = OptionName(arg);
        std::string_view value;
        int64_t number = 0;
        if (name == "--timeout") {
            if (!belongs(name, {"enum", "join"}) || !reader.Value(arg, value, error))
                return result;
            if (!ParseInt(value, 1, 3600000, number)) {
                error =
                    "--timeout must be 1-3600000 milliseconds, not '" + std::string(value) + "'";
                return result;
            }
            enumOptions.timeoutMs = join.timeoutMs = int(number);
        } else if (name == "--name") {
            if (!belongs(name, {"join"}) || !reader.Value(arg, value, error))
                return result;
            if (value.empty() || value.size() > 255) {
                error = "--name must be 1-255 bytes long";
                return result;
            }
            join.name = std::string(value);
            haveName = true;
        } else if (name == "--hide") {
            if (!belongs(name, {"join"}) || !reader.Value(arg, value, error) ||
                !ParseHidden(value, join.hidden, error))
                return result;
        } else if (name == "--application") {
            if (!belongs(name, {"join"}) || !reader.Value(arg, value, error))
                return result;
            join.application = dplay8::ParseGuid(value);
            if (!join.application) {
                error = "--application must be a GUID in braces, not '" + std::string(value) + "'";
                return result;
            }
        } else if (name == "--players") {
            if (!belongs(name, {"load"}) || !reader.Value(arg, value, error))
                return result;
            if (!ParseInt(value, 1, 60000, number)) {
                error = "--players must be 1-60000, not '" + std::string(value) + "'";
                return result;
            }
            load.players = int(number);
            havePlayers = true;
        } else if (name == "--duration") {
            if (!belongs(name, {"load"}) || !reader.Value(arg, value, error))
                return result;
            if (!ParsePositive(value, 86400, load.durationSeconds)) {
                error = "--duration must be seconds above 0 and at most 86400, not '" +
                        std::string(value) + "'";
                return result;
            }
            haveDuration = true;
        } else if (name == "--rate") {
            if (!belongs(name, {"load"}) || !reader.Value(arg, value, error))
                return result;
            if (!ParsePositive(value, 1000, load.rateHz)) {
                error = "--rate must be reports a second above 0 and at most 1000, not '" +
                        std::string(value) + "'";
                return result;
            }
        } else if (name == "--join-rate") {
            if (!belongs(name, {"load"}) || !reader.Value(arg, value, error))
                return result;
            if (!ParsePositive(value, 100000, load.joinRate)) {
                error = "--join-rate must be joins a second above 0 and at most 100000, not '" +
                        std::string(value) + "'";
                return result;
            }
        } else if (name == "--join-timeout") {
            if (!belongs(name, {"load"}) || !reader.Value(arg, value, error))
                return result;
            if (!ParseInt(value, 1, 3600000, number)) {
                error = "--join-timeout must be 1-3600000 milliseconds, not '" +
                        std::string(value) + "'";
                return result;
            }
            load.joinTimeoutMs = int(number);
        } else if (name == "--pattern") {
            if (!belongs(name, {"load"}) || !reader.Value(arg, value, error))
                return result;
            if (value != "spread" && value != "crowd") {
                error = "--pattern must be spread or crowd, not '" + std::string(value) + "'";
                return result;
            }
            load.pattern = value == "spread" ? Pattern::kSpread : Pattern::kCrowd;
        } else if (name == "--name-prefix") {
            if (!belongs(name, {"load"}) || !reader.Value(arg, value, error))
                return result;
            if (value.empty() || value.size() > 64) {
                error = "--name-prefix must be 1-64 bytes long";
                return result;
            }
            load.namePrefix = std::string(value);
        } else {
            error = "unknown option '" + std::string(arg) + "'";
            return result;
        }
    }
    if (!haveTarget) {
        error = std::string(command) + " needs HOST[:PORT]";
    } else if (command == "enum") {
        enumOptions.target = target;
        result.command = enumOptions;
    } else if (command == "join") {
        if (!haveName) {
            error = "join needs --name NAME";
            return result;
        }
        join.target = target;
        result.command = join;
    } else if (!havePlayers || !haveDuration) {
        error = "load needs --players N and --duration S";
    } else {
        load.target = target;
        result.command = load;
    }
    return result;
}

const char* UsageText() {
    return "usage: er-bot enum HOST[:PORT] [--timeout MS]\n"
           "       er-bot join HOST[:PORT] --name NAME [--timeout MS] [--hide TYPE,...]\n"
           "                   [--application {GUID}]\n"
           "       er-bot load HOST[:PORT] --players N --duration S [--rate HZ]\n"
           "                   [--pattern spread|crowd] [--join-rate PER_SECOND]\n"
           "                   [--join-timeout MS] [--name-prefix TEXT]\n"
           "\n"
           "A client of the EmberRealms game server (docs/er-bot.md).\n"
           "  enum   ask HOST for its sessions and print each answer: name, players, instance\n"
           "         and the address the answer came from. Without a port, asks the server's\n"
           "         default port 25857 and the enumeration port 6073. --timeout: how long to\n"
           "         wait for answers (default 2000 ms). Exit 1 when nobody answers.\n"
           "  join   join as NAME, print every game message received, one a line, and run the\n"
           "         commands read from standard input (move, stop, tag, chat, npctext, who,\n"
           "         quit; 'help' lists them). --timeout: for the join (default 10000 ms).\n"
           "         --hide: message types not to print (names or numbers). --application:\n"
           "         join with another application GUID (the host then refuses the join).\n"
           "  load   N players join (--join-rate a second, default 100), walk and report their\n"
           "         position --rate times a second (default 20) for S seconds once all have\n"
           "         joined, then leave; prints a summary and a RESULT line. --pattern:\n"
           "         spread (3000 x 3000 area, the default) or crowd (one 300 x 300 box).\n"
           "         --join-timeout: a join not done by then has failed (default 10000 ms).\n"
           "Without a port, join and load use 25857.\n"
           "  --help  show this text\n";
}

}  // namespace er_bot
