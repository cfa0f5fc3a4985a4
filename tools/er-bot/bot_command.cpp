#include "bot_command.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace er_bot {

namespace {

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool ParseU32(std::string_view text, uint32_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool ParseCoordinate(std::string_view text, float& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

bool ParseDirection(std::string_view text, uint8_t& value) {
    static constexpr std::string_view kNames[] = {"north", "east", "south", "west"};
    for (uint8_t i = 0; i < 4; ++i) {
        if (text == kNames[i]) {
            value = i;
            return true;
        }
    }
    uint32_t number = 0;
    if (!ParseU32(text, number) || number > 255)
        return false;
    value = uint8_t(number);
    return true;
}

}  // namespace

bool ParseBotCommand(std::string_view line, BotCommand& command, std::string& error) {
    using Kind = BotCommand::Kind;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    command = BotCommand{};
    const std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0][0] == '#')
        return true;
    const std::string_view name = words[0];
    const size_t arguments = words.size() - 1;
    auto fail = [&](const std::string& message) {
        error = message;
        return false;
    };
    if (name == "move") {
        if (arguments < 2 || arguments > 3)
            return fail("usage: move X Y [DIR]");
        command.kind = Kind::kMove;
        if (!ParseCoordinate(words[1], command.x) || !ParseCoordinate(words[2], command.y))
            return fail("move: X and Y must be numbers");
        if (arguments == 3 && !ParseDirection(words[3], command.direction))
            return fail("move: DIR must be 0-255 or north, east, south, west");
    } else if (name == "stop" || name == "who" || name == "quit" || name == "help") {
        if (arguments != 0)
            return fail(std::string(name) + " takes no arguments");
        command.kind = name == "stop"   ? Kind::kStop
                       : name == "who"  ? Kind::kWho
                       : name == "quit" ? Kind::kQuit
                                        : Kind::kHelp;
    } else if (name == "tag") {
        if (arguments != 1 || !ParseU32(words[1], command.tag))
            return fail("usage: tag N (0-4294967295)");
        command.kind = Kind::kTag;
    } else if (name == "chat") {
        if (arguments == 0)
            return fail("usage: chat TEXT");
        command.kind = Kind::kChat;
        // Everything after the word and the blanks that follow it, as typed.
        const size_t start =
            line.find_first_not_of(" \t", size_t(words[0].data() - line.data()) + 4);
        command.text = std::string(line.substr(start));
    } else if (name == "npctext") {
        if (arguments < 1 || arguments > 2 || !ParseU32(words[1], command.npc) ||
            (arguments == 2 && !ParseU32(words[2], command.entry)))
            return fail("usage: npctext NPC [ENTRY] (NPC slot 0-49, entry 0-9)");
        command.kind = Kind::kNpcText;
    } else {
        return fail("unknown command '" + std::string(name) + "' (try help)");
    }
    return true;
}

const char* BotCommandHelp() {
    return "commands, one a line:\n"
           "  move X Y [DIR]       report our position (PlayerMoving); DIR 0-255 or "
           "north/east/south/west\n"
           "  stop                 report that we stopped (PlayerStopped) where we are\n"
           "  tag N                set our tag\n"
           "  chat TEXT            say TEXT to the players near us\n"
           "  npctext NPC [ENTRY]  ask for an NPC's conversation text (slot 0-49, entry 0-9)\n"
           "  who                  list the players the server has announced\n"
           "  quit                 leave the session (so does the end of the input)\n";
}

}  // namespace er_bot
