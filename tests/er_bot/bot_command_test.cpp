// The lines `er-bot join` reads: each gives one whole command or one error.

#include <gtest/gtest.h>

#include "bot_command.h"

namespace er_bot {
namespace {

using Kind = BotCommand::Kind;

BotCommand Move(float x, float y, uint8_t direction = 0) {
    BotCommand c;
    c.kind = Kind::kMove, c.x = x, c.y = y, c.direction = direction;
    return c;
}

BotCommand Of(Kind kind) {
    BotCommand c;
    c.kind = kind;
    return c;
}

BotCommand Chat(std::string text) {
    BotCommand c = Of(Kind::kChat);
    c.text = std::move(text);
    return c;
}

BotCommand Tag(uint32_t tag) {
    BotCommand c = Of(Kind::kTag);
    c.tag = tag;
    return c;
}

BotCommand NpcText(uint32_t npc, uint32_t entry) {
    BotCommand c = Of(Kind::kNpcText);
    c.npc = npc, c.entry = entry;
    return c;
}

TEST(ErBotCommands, EachLineIsOneCommandOrOneError) {
    struct Case {
        const char* line;
        std::optional<BotCommand> command;
        const char* error;
    };
    // clang-format off
    const Case cases[] = {
        {"", Of(Kind::kNone), ""},
        {"   \t ", Of(Kind::kNone), ""},
        {"# a comment", Of(Kind::kNone), ""},
        {"move 10 20", Move(10, 20), ""},
        {"  move\t-1.5  300.25  east \r\n", Move(-1.5f, 300.25f, 1), ""},
        {"move 1 2 west", Move(1, 2, 3), ""},
        {"move 1 2 north", Move(1, 2, 0), ""},
        {"move 1 2 south", Move(1, 2, 2), ""},
        {"move 1 2 255", Move(1, 2, 255), ""},
        {"move 1e2 2", Move(100, 2), ""},
        {"move 1", std::nullopt, "usage: move X Y [DIR]"},
        {"move 1 2 3 4", std::nullopt, "usage: move X Y [DIR]"},
        {"move x 2", std::nullopt, "move: X and Y must be numbers"},
        {"move 1 nan", std::nullopt, "move: X and Y must be numbers"},
        {"move 1 inf", std::nullopt, "move: X and Y must be numbers"},
        {"move 1 2 256", std::nullopt, "move: DIR must be 0-255 or north, east, south, west"},
        {"move 1 2 up", std::nullopt, "move: DIR must be 0-255 or north, east, south, west"},
        {"stop", Of(Kind::kStop), ""},
        {"who", Of(Kind::kWho), ""},
        {"quit", Of(Kind::kQuit), ""},
        {"help", Of(Kind::kHelp), ""},
        {"quit now", std::nullopt, "quit takes no arguments"},
        {"tag 7", Tag(7), ""},
        {"tag 4294967295", Tag(4294967295u), ""},
        {"tag 4294967296", std::nullopt, "usage: tag N (0-4294967295)"},
        {"tag -1", std::nullopt, "usage: tag N (0-4294967295)"},
        {"tag", std::nullopt, "usage: tag N (0-4294967295)"},
        {"chat hello there", Chat("hello there"), ""},
        {"chat   two  spaces kept  ", Chat("two  spaces kept  "), ""},
        {"chat Grüße", Chat("Grüße"), ""},
        {"chat", std::nullopt, "usage: chat TEXT"},
        {"chatter x", std::nullopt, "unknown command 'chatter' (try help)"},
        {"npctext 3", NpcText(3, 0), ""},
        {"npctext 49 9", NpcText(49, 9), ""},
        {"npctext 50 10", NpcText(50, 10), ""},  // the server's to refuse
        {"npctext", std::nullopt, "usage: npctext NPC [ENTRY] (NPC slot 0-49, entry 0-9)"},
        {"npctext a", std::nullopt, "usage: npctext NPC [ENTRY] (NPC slot 0-49, entry 0-9)"},
        {"npctext 1 2 3", std::nullopt, "usage: npctext NPC [ENTRY] (NPC slot 0-49, entry 0-9)"},
        {"MOVE 1 2", std::nullopt, "unknown command 'MOVE' (try help)"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        BotCommand command;
        std::string error;
        const bool ok = ParseBotCommand(c.line, command, error);
        EXPECT_EQ(ok, c.command.has_value());
        if (c.command) {
            EXPECT_EQ(command, *c.command);
        }
        EXPECT_EQ(error, c.error);
    }
}

TEST(ErBotCommands, TheHelpNamesEveryCommand) {
    const std::string help = BotCommandHelp();
    for (const char* word :
         {"move X Y [DIR]", "stop", "tag N", "chat TEXT", "npctext NPC [ENTRY]", "who", "quit"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace er_bot
