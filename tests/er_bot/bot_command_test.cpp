// The lines `er-bot join` reads: each gives one whole command or one error.

#include <gtest/gtest.h>

#include <variant>

#include "bot_command.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace er_bot {
namespace {

using enum BotCommand::Kind;
using Outcome = std::variant<BotCommand, std::string>;  // the command, or the error

BotCommand Move(float x, float y, uint8_t direction = 0) {
    return {.kind = kMove, .x = x, .y = y, .direction = direction};
}

TEST(ErBotCommands, EachLineIsOneCommandOrOneError) {
    const std::string move = "usage: move X Y [DIR]", numbers = "move: X and Y must be numbers",
                      dir = "move: DIR must be 0-255 or north, east, south, west",
                      tag = "usage: tag N (0-4294967295)",
                      npc = "usage: npctext NPC [ENTRY] (NPC slot 0-49, entry 0-9)";
    // clang-format off
    const std::pair<const char*, Outcome> cases[] = {
        {"", BotCommand{}}, {"   \t ", BotCommand{}}, {"# a comment", BotCommand{}}, {"move 10 20", Move(10, 20)},
        {"  move\t-1.5  300.25  east \r\n", Move(-1.5f, 300.25f, 1)}, {"move 1 2 west", Move(1, 2, 3)},
        {"move 1 2 north", Move(1, 2, 0)}, {"move 1 2 south", Move(1, 2, 2)}, {"move 1 2 255", Move(1, 2, 255)},
        {"move 1e2 2", Move(100, 2)}, {"move 1", move}, {"move 1 2 3 4", move}, {"move x 2", numbers},
        {"move 1 nan", numbers}, {"move 1 inf", numbers}, {"move 1 2 256", dir}, {"move 1 2 up", dir},
        {"stop", BotCommand{.kind = kStop}}, {"who", BotCommand{.kind = kWho}}, {"quit", BotCommand{.kind = kQuit}},
        {"help", BotCommand{.kind = kHelp}}, {"quit now", "quit takes no arguments"},
        {"tag 7", BotCommand{.kind = kTag, .tag = 7}}, {"tag 4294967295", BotCommand{.kind = kTag, .tag = 4294967295u}},
        {"tag 4294967296", tag}, {"tag -1", tag}, {"tag", tag},
        {"chat hello there", BotCommand{.kind = kChat, .text = "hello there"}},
        {"chat   two  spaces kept  ", BotCommand{.kind = kChat, .text = "two  spaces kept  "}},
        {"chat Grüße", BotCommand{.kind = kChat, .text = "Grüße"}}, {"chat", "usage: chat TEXT"},
        {"chatter x", "unknown command 'chatter' (try help)"}, {"npctext 3", BotCommand{.kind = kNpcText, .npc = 3}},
        {"npctext 49 9", BotCommand{.kind = kNpcText, .npc = 49, .entry = 9}},
        {"npctext 50 10", BotCommand{.kind = kNpcText, .npc = 50, .entry = 10}},  // the server's to refuse
        {"npctext", npc}, {"npctext a", npc}, {"npctext 1 2 3", npc}, {"MOVE 1 2", "unknown command 'MOVE' (try help)"},
    };
    // clang-format on
    for (const auto& [line, want] : cases) {
        BotCommand command;
        std::string error;
        const bool ok = ParseBotCommand(line, command, error);
        EXPECT_EQ(ok && error.empty() ? Outcome(command) : Outcome(error), want) << line;
    }
    const std::string help = BotCommandHelp();
    for (const char* word :
         {"move X Y [DIR]", "stop", "tag N", "chat TEXT", "npctext NPC [ENTRY]", "who", "quit"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace er_bot
