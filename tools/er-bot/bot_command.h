#pragma once
// The commands `er-bot join` reads from standard input, one a line:
//   move X Y [DIR]   PlayerMoving at (X, Y); DIR (0-255, or north/east/south/west) is the
//                    client byte the server relays to the players near us
//   stop             PlayerStopped where the last move left us
//   tag N            our tag, which the server passes to every player
//   chat TEXT        the rest of the line to the players near us
//   npctext NPC [ENTRY]  ask for entry ENTRY (default 0) of the message map of NPC slot NPC
//   who              the players the server has announced
//   quit             leave and end (so does the end of the input)
//   help             this list
// Blank lines and lines starting with '#' do nothing.

#include <cstdint>
#include <string>
#include <string_view>

namespace er_bot {

struct BotCommand {
    enum class Kind { kNone, kMove, kStop, kTag, kChat, kNpcText, kWho, kQuit, kHelp };
    Kind kind = Kind::kNone;
    float x = 0, y = 0;
    uint8_t direction = 0;
    uint32_t tag = 0;
    std::string text;  // chat, as typed (UTF-8)
    uint32_t npc = 0, entry = 0;
    bool operator==(const BotCommand&) const = default;
};

// False with `error` set for a line that is no command or has bad arguments.
bool ParseBotCommand(std::string_view line, BotCommand& command, std::string& error);
const char* BotCommandHelp();

}  // namespace er_bot
