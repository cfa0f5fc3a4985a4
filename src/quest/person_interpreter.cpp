// NPC lines of the server script: the NPC blocks of person-script sections, direct NPC lines
// and NPC queries in expressions. An NPC line names its NPC by the number after its first
// "[" and its command by the word after its first ">".
//
// The command set is being filled in: SET_MESSAGE, RESET_SCRIPT, WALKTO, SET_POSITION,
// SET_SPEED, SET_FACING and SET_HEAD_FACING act today; every other command word is recognised
// by no test yet and so does nothing, like any unknown word.

#include <cstring>

#include "npc/main_object_set.h"
#include "npc/npc_codes.h"
#include "quest/find_text.h"
#include "quest/server_script.h"

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

// Truncation toward zero of a position that may lie outside the 32-bit range.
int32_t Truncate(float value) {
    if (!(value > -2147483648.0f && value < 2147483648.0f)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
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
        return Truncate(npc.posX);
    }
    if (Contains(word, "YPOS")) {
        return Truncate(npc.posY);
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
        if (npc.posX == static_cast<float>(x) && npc.posY == static_cast<float>(y)) {
            npc.action = kActionIdle;
            npc.instruction += advance;
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
