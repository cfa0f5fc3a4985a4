#pragma once
// The command line of er-bot: which of its three commands, and their options. Parsing is pure,
// so that a table of argument lines can pin it down.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dplay8/guid.h"
#include "walk_pattern.h"

namespace er_bot {

// The server's port when none is given, and the port that answers enumeration on its own.
inline constexpr uint16_t kDefaultGamePort = 25857;
inline constexpr uint16_t kEnumerationPort = 6073;

struct Target {
    std::string host;
    std::optional<uint16_t> port;
    bool operator==(const Target&) const = default;
};

struct EnumOptions {
    Target target;
    int timeoutMs = 2000;
    bool operator==(const EnumOptions&) const = default;
};

struct JoinOptions {
    Target target;
    std::string name;  // UTF-8, as typed
    int timeoutMs = 10000;
    std::set<uint32_t> hidden;                // message types not printed
    std::optional<dplay8::Guid> application;  // another game's sessions; the default: ours
    bool operator==(const JoinOptions&) const = default;
};

struct LoadOptions {
    Target target;
    int players = 0;
    double durationSeconds = 0;
    double rateHz = 20;
    Pattern pattern = Pattern::kSpread;
    double joinRate = 100;  // joins started per second
    int joinTimeoutMs = 10000;
    std::string namePrefix = "bot";
    bool operator==(const LoadOptions&) const = default;
};

struct HelpRequest {
    bool operator==(const HelpRequest&) const = default;
};

using Command = std::variant<HelpRequest, EnumOptions, JoinOptions, LoadOptions>;

struct ParseResult {
    std::optional<Command> command;
    std::string error;  // when there is no command
};

// The arguments after the program's name.
ParseResult ParseArguments(const std::vector<std::string_view>& args);
const char* UsageText();

}  // namespace er_bot
