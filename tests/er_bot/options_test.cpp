// er-bot's command line: each argument line gives one whole parsed command or one error.

#include <gtest/gtest.h>

#include <sstream>

#include "options.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

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

TEST(ErBotOptions, EachArgumentLineParsesToOneCommandOrOneError) {
    const JoinOptions ann{.target = At("h"), .name = "Ann"},
        hidden{.target = At("h", 7), .name = "Ann", .timeoutMs = 500, .hidden = {16, 10, 9}},
        other{.target = At("h"),
              .name = "Ann",
              .application = dplay8::Guid{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}}};
    const LoadOptions full{At("10.0.0.1", 2302), 2000, 10.5, 30, Pattern::kCrowd, 250.5, 2000, "x"};
    const EnumOptions quick{At("localhost"), 300};
    const std::string duration = "--duration must be seconds above 0 and at most 86400, not ",
                      needs = "load needs --players N and --duration S",
                      timeout = "--timeout must be 1-3600000 milliseconds, not ",
                      port = "bad port in 'h:";
    // clang-format off
    const std::tuple<const char*, std::optional<Command>, std::string> cases[] = {
        {"--help", HelpRequest{}, ""}, {"-h", HelpRequest{}, ""}, {"help", HelpRequest{}, ""}, {"join h --name A --help", HelpRequest{}, ""},
        {"enum 127.0.0.1:2302", EnumOptions{At("127.0.0.1", 2302)}, ""}, {"enum localhost --timeout 300", quick, ""},
        {"enum --timeout=300 localhost", quick, ""}, {"enum h:65535", EnumOptions{At("h", 65535)}, ""},
        {"join h --name Ann", ann, ""}, {"join --name=Ann h", ann, ""}, {"join h:7 --name Ann --timeout 500 --hide npcupdate,SkyWeather,9", hidden, ""},
        {"join h --name Ann --application {01234567-89AB-CDEF-0102-030405060708}", other, ""},
        {"load h --players 1 --duration 3", LoadOptions{.target = At("h"), .players = 1, .durationSeconds = 3}, ""},
        {"load 10.0.0.1:2302 --players 2000 --duration 10.5 --rate 30 --pattern crowd --join-rate 250.5 --join-timeout 2000 --name-prefix x", full, ""},
        {"", {}, "missing command (enum, join or load)"}, {"frob h", {}, "unknown command 'frob' (enum, join or load)"},
        {"--help extra", {}, "unexpected argument 'extra'"}, {"enum", {}, "enum needs HOST[:PORT]"}, {"enum a b", {}, "unexpected argument 'b'"},
        {"enum h:0", {}, port + "0' (1-65535)"}, {"enum h:65536", {}, port + "65536' (1-65535)"}, {"enum h:x", {}, port + "x' (1-65535)"},
        {"enum :2302", {}, "missing host in ':2302'"}, {"enum h --timeout", {}, "missing value for --timeout"},
        {"enum h --timeout 0", {}, timeout + "'0'"}, {"enum h --timeout 1.5", {}, timeout + "'1.5'"},
        {"enum h --name Ann", {}, "--name is not an option of enum"}, {"enum h --frob", {}, "unknown option '--frob'"},
        {"join h", {}, "join needs --name NAME"}, {"join h --name", {}, "missing value for --name"}, {"join h --name=", {}, "--name must be 1-255 bytes long"},
        {"join h --name A --hide Bogus", {}, "--hide: unknown message type 'Bogus'"},
        {"join h --name A --application 1234", {}, "--application must be a GUID in braces, not '1234'"},
        {"join h --name A --players 3", {}, "--players is not an option of join"}, {"load h --players 3", {}, needs}, {"load h --duration 3", {}, needs},
        {"load h --players 0 --duration 3", {}, "--players must be 1-60000, not '0'"},
        {"load h --players 60001 --duration 3", {}, "--players must be 1-60000, not '60001'"},
        {"load h --players 2 --duration 0", {}, duration + "'0'"}, {"load h --players 2 --duration -1", {}, duration + "'-1'"},
        {"load h --players 2 --duration 1e3", {}, duration + "'1e3'"},
        {"load h --players 2 --duration 3 --rate 1001", {}, "--rate must be reports a second above 0 and at most 1000, not '1001'"},
        {"load h --players 2 --duration 3 --pattern grid", {}, "--pattern must be spread or crowd, not 'grid'"},
        {"load h --players 2 --duration 3 --join-rate 0", {}, "--join-rate must be joins a second above 0 and at most 100000, not '0'"},
        {"load h --players 2 --duration 3 --timeout 5", {}, "--timeout is not an option of load"},
    };
    // clang-format on
    std::vector<std::string> store;
    for (const auto& [line, command, error] : cases) {
        const ParseResult result = ParseArguments(Split(line, store));
        EXPECT_EQ(std::pair(result.command, result.error), std::pair(command, error)) << line;
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
