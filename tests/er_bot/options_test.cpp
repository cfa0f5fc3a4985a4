// er-bot's command line: each argument line gives one whole parsed command or one error.

#include <gtest/gtest.h>

#include <sstream>

#include "options.h"

namespace er_bot {
namespace {

std::vector<std::string_view> Split(const std::string& line, std::vector<std::string>& store) {
    std::istringstream in(line);
    store.clear();
    for (std::string word; in >> word;)
        store.push_back(word);
    return {store.begin(), store.end()};
}

Target At(const char* host, std::optional<uint16_t> port = std::nullopt) {
    return Target{host, port};
}

JoinOptions Join(Target target, std::string name) {
    JoinOptions j;
    j.target = std::move(target);
    j.name = std::move(name);
    return j;
}

LoadOptions Load(Target target, int players, double duration) {
    LoadOptions l;
    l.target = std::move(target);
    l.players = players;
    l.durationSeconds = duration;
    return l;
}

TEST(ErBotOptions, EachArgumentLineParsesToOneCommandOrOneError) {
    JoinOptions hidden = Join(At("h", 7), "Ann");
    hidden.hidden = {16, 10, 9};
    hidden.timeoutMs = 500;
    JoinOptions other = Join(At("h"), "Ann");
    other.application = dplay8::Guid{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    LoadOptions full = Load(At("10.0.0.1", 2302), 2000, 10.5);
    full.rateHz = 30, full.pattern = Pattern::kCrowd, full.joinRate = 250.5;
    full.joinTimeoutMs = 2000, full.namePrefix = "x";
    EnumOptions quick{At("localhost"), 300};
    struct Case {
        const char* line;
        std::optional<Command> command;
        const char* error;
    };
    // clang-format off
    const Case cases[] = {
        {"--help", HelpRequest{}, ""},
        {"-h", HelpRequest{}, ""},
        {"help", HelpRequest{}, ""},
        {"join h --name A --help", HelpRequest{}, ""},
        {"enum 127.0.0.1:2302", EnumOptions{At("127.0.0.1", 2302), 2000}, ""},
        {"enum localhost --timeout 300", quick, ""},
        {"enum --timeout=300 localhost", quick, ""},
        {"enum h:65535", EnumOptions{At("h", 65535), 2000}, ""},
        {"join h --name Ann", Join(At("h"), "Ann"), ""},
        {"join --name=Ann h", Join(At("h"), "Ann"), ""},
        {"join h:7 --name Ann --timeout 500 --hide npcupdate,SkyWeather,9", hidden, ""},
        {"join h --name Ann --application {01234567-89AB-CDEF-0102-030405060708}", other, ""},
        {"load h --players 1 --duration 3", Load(At("h"), 1, 3), ""},
        {"load 10.0.0.1:2302 --players 2000 --duration 10.5 --rate 30 --pattern crowd "
         "--join-rate 250.5 --join-timeout 2000 --name-prefix x", full, ""},
        {"", std::nullopt, "missing command (enum, join or load)"},
        {"frob h", std::nullopt, "unknown command 'frob' (enum, join or load)"},
        {"--help extra", std::nullopt, "unexpected argument 'extra'"},
        {"enum", std::nullopt, "enum needs HOST[:PORT]"},
        {"enum a b", std::nullopt, "unexpected argument 'b'"},
        {"enum h:0", std::nullopt, "bad port in 'h:0' (1-65535)"},
        {"enum h:65536", std::nullopt, "bad port in 'h:65536' (1-65535)"},
        {"enum h:x", std::nullopt, "bad port in 'h:x' (1-65535)"},
        {"enum :2302", std::nullopt, "missing host in ':2302'"},
        {"enum h --timeout", std::nullopt, "missing value for --timeout"},
        {"enum h --timeout 0", std::nullopt, "--timeout must be 1-3600000 milliseconds, not '0'"},
        {"enum h --timeout 1.5", std::nullopt, "--timeout must be 1-3600000 milliseconds, not '1.5'"},
        {"enum h --name Ann", std::nullopt, "--name is not an option of enum"},
        {"enum h --frob", std::nullopt, "unknown option '--frob'"},
        {"join h", std::nullopt, "join needs --name NAME"},
        {"join h --name", std::nullopt, "missing value for --name"},
        {"join h --name=", std::nullopt, "--name must be 1-255 bytes long"},
        {"join h --name A --hide Bogus", std::nullopt, "--hide: unknown message type 'Bogus'"},
        {"join h --name A --application 1234", std::nullopt,
         "--application must be a GUID in braces, not '1234'"},
        {"join h --name A --players 3", std::nullopt, "--players is not an option of join"},
        {"load h --players 3", std::nullopt, "load needs --players N and --duration S"},
        {"load h --duration 3", std::nullopt, "load needs --players N and --duration S"},
        {"load h --players 0 --duration 3", std::nullopt, "--players must be 1-60000, not '0'"},
        {"load h --players 60001 --duration 3", std::nullopt, "--players must be 1-60000, not '60001'"},
        {"load h --players 2 --duration 0", std::nullopt,
         "--duration must be seconds above 0 and at most 86400, not '0'"},
        {"load h --players 2 --duration -1", std::nullopt,
         "--duration must be seconds above 0 and at most 86400, not '-1'"},
        {"load h --players 2 --duration 1e3", std::nullopt,
         "--duration must be seconds above 0 and at most 86400, not '1e3'"},
        {"load h --players 2 --duration 3 --rate 1001", std::nullopt,
         "--rate must be reports a second above 0 and at most 1000, not '1001'"},
        {"load h --players 2 --duration 3 --pattern grid", std::nullopt,
         "--pattern must be spread or crowd, not 'grid'"},
        {"load h --players 2 --duration 3 --join-rate 0", std::nullopt,
         "--join-rate must be joins a second above 0 and at most 100000, not '0'"},
        {"load h --players 2 --duration 3 --timeout 5", std::nullopt,
         "--timeout is not an option of load"},
    };
    // clang-format on
    std::vector<std::string> store;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const ParseResult result = ParseArguments(Split(c.line, store));
        EXPECT_EQ(result.command, c.command);
        EXPECT_EQ(result.error, c.error);
    }
}

TEST(ErBotOptions, TheUsageNamesEveryCommandAndOption) {
    const std::string usage = UsageText();
    for (const char* word : {"enum", "join", "load", "--timeout", "--name", "--hide",
                             "--application", "--players", "--duration", "--rate", "--pattern",
                             "--join-rate", "--join-timeout", "--name-prefix", "25857", "6073"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace er_bot
