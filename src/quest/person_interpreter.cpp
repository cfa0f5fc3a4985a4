// NPC lines of the server script: the NPC blocks of person-script sections, direct NPC lines
// and NPC queries in expressions. An NPC line names its NPC by the number after its first
// "[" and its command by the word after its first ">". A command that completes moves the
// NPC's instruction on by the advance the caller gives (1 in a block, 0 for a direct line);
// an unknown word does nothing and never completes, so inside a block it stalls its NPC.

#include <cstring>

#include "npc/float_truncate.h"
#include "npc/main_object_set.h"
#include "npc/npc_codes.h"
#include "quest/find_text.h"
#include "quest/message_map_fill.h"
#include "quest/server_script.h"
#include "world/night_day.h"

namespace {

bool Contains(const char* text, std::string_view word) {
    return ContainsText(text, word);
}

// The command word: the characters after the first ">" up to the first blank, "(" or the
// end of the text.
void CommandWord(const char* line, char* word, size_t size) {
    std::memset(word, 0, size);
    const char* arrow = std::strchr(line, '>');
    if (arrow == nullptr) {
        return;
    }
    size_t n = 0;
    for (const char* p = arrow + 1; *p != '\0' && *p != ' ' && *p != '(' && n + 1 < size; ++p) {
        word[n++] = *p;
    }
}

// The four direction words; -1 for any other text.
int32_t Direction(const char* text) {
    static constexpr const char* kWords[] = {"NORTH", "EAST", "SOUTH", "WEST"};
    for (int32_t i = 0; i < 4; ++i) {
        if (std::strcmp(text, kWords[i]) == 0) {
            return i;
        }
    }
    return -1;
}

int32_t QueryProperty(const CServerNPC& npc, const char* word) {
    if (Contains(word, "MESSAGE")) {
        return npc.currentMessage;
    }
    if (Contains(word, "ENDED")) {
        const int32_t script = BracketIndex(FindText(word, "ENDED"));
        return script >= 0 && script < kNpcScriptCount ? npc.scriptEnded[script] : 0;
    }
    if (Contains(word, "INSTRUCTION")) {
        return npc.instruction + 1;
    }
    if (Contains(word, "XPOS")) {
        return TruncateToInt32(npc.posX);
    }
    if (Contains(word, "YPOS")) {
        return TruncateToInt32(npc.posY);
    }
    return -100;
}

}  // namespace

void CServerScript::RunPersonBlock(const char* beginLine) {
    blockLineCounter = 0;
    const int32_t blockSlot = BracketIndex(beginLine);
    CServerNPC* blockNpc = world_.npcs != nullptr && CMainObjectSet::ValidSlot(blockSlot)
                               ? &world_.npcs->Npc(blockSlot)
                               : nullptr;
    const int32_t script = currentPersonScriptNumber;

    while (currentLine < lineCount) {
        currentPosition = 0;
        const char* line = CurrentLineText();
        if (Contains(line, "PERSON_END[")) {
            const int32_t endSlot = BracketIndex(line);
            if (world_.npcs != nullptr && CMainObjectSet::ValidSlot(endSlot)) {
                world_.npcs->Npc(endSlot).instructionCount = blockLineCounter;
            }
            blockLineCounter = 0;
            return;
        }
        if (Contains(line, "NPC[")) {
            if (blockNpc == nullptr || blockNpc->type != kTypePersonscript) {
                return;
            }
            const bool ended = script >= 0 && script < kNpcScriptCount
                                   ? blockNpc->scriptEnded[script] != 0
                                   : false;
            if (!ended) {
                if (blockNpc->instruction == blockLineCounter) {
                    if (!Spend()) {
                        return;
                    }
                    ExecuteNpcLine(line, true, 1);
                }
                ++blockLineCounter;
            }
        }
        if (Contains(line, "BEGIN_PERSON_SCRIPT")) {
            blockLineCounter = 0;
            return;
        }
        ++currentLine;
    }
}

int32_t CServerScript::ExecuteNpcLine(const char* line, bool execute, int32_t advance) {
    if (line == nullptr || world_.npcs == nullptr) {
        return -100;
    }
    // Lines without an NPC number or a command word are no NPC lines.
    const int32_t slot = BracketIndex(line);
    if (!CMainObjectSet::ValidSlot(slot) || std::strchr(line, '>') == nullptr) {
        return -100;
    }
    CServerNPC& npc = world_.npcs->Npc(slot);
    char word[kScriptTokenSize];
    CommandWord(line, word, sizeof word);

    if (!execute) {
        return QueryProperty(npc, word);
    }

    // Arguments come from the current line at the current position; the first read is the
    // part of the line before its first "(".
    const auto argument = [this]() {
        NextArgument();
        return Evaluate(tokenBuffer);
    };
    const auto text = [this, line]() {
        QuotedText(line);
        return static_cast<const char*>(tokenBuffer);
    };
    NextArgument();

    if (std::strcmp(word, "SET_MESSAGE") == 0) {
        // Stored in a signed byte: the value wraps to its low eight bits.
        npc.currentMessage = static_cast<int8_t>(static_cast<uint32_t>(argument()) - 1u);
        return 0;
    }
    if (std::strcmp(word, "RESET_SCRIPT") == 0) {
        const int64_t script = int64_t{argument()} - 1;
        if (script >= 0 && script < kNpcScriptCount) {
            npc.scriptEnded[script] = 0;
        }
        return 0;
    }
    if (Contains(word, "MESSAGE_MAP")) {
        // The entry's number stands in the command word, read as the NPC's is from the line.
        const int32_t entry = BracketIndex(word);
        if (entry >= 0 && entry < kNpcMessageMapSize) {
            MessageMapFill fill;
            for (int32_t i = 0; i < kMessageLinkCount; ++i) {
                NextArgument();
                if (std::strcmp(tokenBuffer, "TRUE") == 0) {
                    fill.flag = 1;
                    break;
                }
                if (std::strcmp(tokenBuffer, "FALSE") == 0) {
                    fill.flag = 0;
                    break;
                }
                fill.links[fill.linkCount++] = StoredLink(Evaluate(tokenBuffer));
            }
            fill.text = text();
            FillMessageEntry(*world_.npcs, slot, entry, fill);
            npc.instruction += advance;
        }
        // An entry outside 1-10 leaves the line like one with an unknown word.
    }
    if (std::strcmp(word, "SAY") == 0) {
        const char* said = text();
        // QuotedText keeps at most 299 characters, so the text always fits.
        static_assert(sizeof npc.sayText == sizeof tokenBuffer);
        std::memcpy(npc.sayText, said, sizeof npc.sayText);
        npc.sayText[kNpcSayTextSize - 1] = '\0';
        // The NPC is addressed by the number on the line, which is its slot once placed.
        world_.npcs->SayToNearbyPlayers(slot, TruncateToInt32(npc.posX), TruncateToInt32(npc.posY));
        npc.instruction += advance;
    }
    if (std::strcmp(word, "WAIT_FOR_DAY") == 0) {
        const int32_t day = argument();
        if (world_.clock != nullptr && world_.clock->dayCount == day) {
            npc.waitTimer = 0.0f;
            npc.action = kActionIdle;
            npc.instruction += advance;
        }
        npc.action = kActionWaiting;
        npc.waitTimer = 0.0f;
    }
    if (std::strcmp(word, "WAIT_FOR_TIME") == 0) {
        const int32_t hour = argument();
        const int32_t minute = argument();
        if (world_.clock != nullptr && world_.clock->shownHour == hour &&
            world_.clock->shownMinute == minute) {
            npc.waitTimer = 0.0f;
            npc.action = kActionIdle;
            npc.instruction += advance;
        }
        npc.action = kActionWaiting;
        npc.waitTimer = 0.0f;
    }
    if (std::strcmp(word, "WAIT_FOR") == 0) {
        // Both texts are read before either is evaluated; the first keeps 19 characters.
        char first[kWaitForArgumentSize] = {};
        NextArgument();
        std::memcpy(first, tokenBuffer, sizeof first - 1);
        NextArgument();
        char second[kScriptReadLimit + 1] = {};
        std::memcpy(second, tokenBuffer, sizeof second - 1);
        const int32_t other = Evaluate(first) - 1;
        const int32_t done = Evaluate(second);
        // Waiting for an NPC outside 1-50 leaves the line like one with an unknown word.
        if (CMainObjectSet::ValidSlot(other)) {
            if (world_.npcs->Npc(other).instruction >= done) {
                npc.waitTimer = 0.0f;
                npc.action = kActionIdle;
                npc.instruction += advance;
            }
            npc.action = kActionWaiting;
            npc.waitTimer += FrameTenths();
        }
    }
    if (std::strcmp(word, "SET_FACING") == 0) {
        const int32_t direction = Direction(text());
        if (direction >= 0) {
            npc.facing = direction;
        }
        npc.headFacing = npc.facing;
        npc.instruction += advance;
    }
    if (std::strcmp(word, "SET_HEAD_FACING") == 0) {
        const int32_t direction = Direction(text());
        if (direction >= 0) {
            npc.headFacing = direction;
        }
        npc.instruction += advance;
    }
    if (std::strcmp(word, "SET_POSITION") == 0) {
        const int32_t x = argument();
        const int32_t y = argument();
        npc.posX = static_cast<float>(x);
        npc.posY = static_cast<float>(y);
        npc.instruction += advance;
    }
    // APPEAR and DISAPPEAR are found anywhere in the word and skip the remaining tests.
    if (Contains(word, "DISAPPEAR")) {
        npc.visible = 0;
        npc.instruction += advance;
    } else if (Contains(word, "APPEAR")) {
        npc.visible = 1;
        npc.instruction += advance;
    } else {
        if (std::strcmp(word, "SET_SPEED") == 0) {
            npc.speed = static_cast<float>(argument());
            npc.instruction += advance;
        }
        if (std::strcmp(word, "WALKTO") == 0) {
            const int32_t x = argument();
            const int32_t y = argument();
            npc.targetX = x;
            npc.targetY = y;
            npc.action = kActionWalking;
            // Arrival is exact: WalkStep puts the NPC on the target's whole units.
            if (npc.posX == static_cast<float>(x) && npc.posY == static_cast<float>(y)) {
                npc.action = kActionIdle;
                npc.instruction += advance;
            }
        }
        if (std::strcmp(word, "WAIT") == 0) {
            // The timer is compared before this pass's increment is added.
            const int32_t tenths = argument();
            if (static_cast<float>(tenths) < npc.waitTimer) {
                npc.waitTimer = 0.0f;
                npc.action = kActionIdle;
                npc.instruction += advance;
            }
            npc.action = kActionWaiting;
            npc.waitTimer += FrameTenths();
        }
    }

    // The end of the block: the NPC has completed its last instruction.
    if (npc.instruction == npc.instructionCount) {
        const int32_t script = currentPersonScriptNumber;
        if (script >= 0 && script < kNpcScriptCount) {
            npc.scriptEnded[script] = 1;
        }
        npc.action = kActionIdle;
        npc.instruction = 0;
        npc.instructionCount = -1;
    }
    return -100;
}

float CServerScript::FrameTenths() const {
    const float frameTime = world_.frameTime ? world_.frameTime() : 0.0f;
    return frameTime * 10.0f;
}
