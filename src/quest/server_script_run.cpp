// The main pass and the line dispatcher: conditions, IF blocks, person-script sections and
// SET_GLOBAL. Every test finds its keyword anywhere in the line, afresh on every pass.

#include <cstring>

#include "quest/find_text.h"
#include "quest/server_script.h"

namespace {

bool Contains(const char* line, std::string_view keyword) {
    return ContainsText(line, keyword);
}

}  // namespace

bool CServerScript::Spend() {
    if (budgetLeft_ <= 0) {
        return false;
    }
    --budgetLeft_;
    return true;
}

void CServerScript::RunMainPass() {
    if (lineCount < 1 || lineCount > kScriptMaxRunningLines) {
        return;
    }
    budgetLeft_ = passBudget_;
    currentLine = 0;
    while (currentLine < lineCount) {
        currentPosition = 0;
        if (Contains(CurrentLineText(), "BEGIN_PERSON_SCRIPT")) {
            return;
        }
        if (!Spend()) {
            return;
        }
        ExecuteLine();
        ++currentLine;
    }
}

void CServerScript::ExecuteLine() {
    if (FindKeyword("IF")) {
        EvaluateCondition();
    }
    if (FindKeyword("RUN_PERSON_SCRIPT")) {
        RunPersonScriptSection(CurrentLineText());
    }
    if (FindKeyword("PERSON_BEGIN[")) {
        RunPersonBlock(CurrentLineText());
    }
    if (FindKeyword("NPC") && currentPosition < 5) {
        ExecuteNpcLine(CurrentLineText(), true, 0);
    }
    if (FindKeyword("SET_GLOBAL")) {
        const int32_t index = BracketIndex(CurrentLineText());
        NextArgument();
        NextArgument();
        const int32_t value = Evaluate(tokenBuffer);
        if (int32_t* slot = GlobalSlot(index)) {
            *slot = value;
        }
    }
}

void CServerScript::EvaluateCondition() {
    for (;;) {
        // A word is at most kScriptReadLimit characters.
        char left[kScriptReadLimit + 1];
        char op[kScriptReadLimit + 1];
        char right[kScriptReadLimit + 1];
        NextWord();
        std::memcpy(left, tokenBuffer, sizeof left);
        NextWord();
        std::memcpy(op, tokenBuffer, sizeof op);
        NextWord();
        std::memcpy(right, tokenBuffer, sizeof right);

        bool holds = false;
        switch (op[0]) {
            case '=':
            case '<':
            case '>':
            case '!': {
                // The right side is evaluated first: its NPC queries may move nothing, but
                // the order is kept so that every term is read as it always was.
                const int32_t r = Evaluate(right);
                const int32_t l = Evaluate(left);
                holds = op[0] == '='   ? l == r
                        : op[0] == '<' ? l < r
                        : op[0] == '>' ? l > r
                                       : l != r;
                break;
            }
            default:
                return;  // no operator: the line is no condition and nothing happens
        }

        if (!holds) {
            SkipToEndif();
            return;
        }
        NextWord();
        if (std::strcmp(tokenBuffer, "AND") != 0) {
            RunIfBlock();
            return;
        }
    }
}

void CServerScript::SkipToEndif() {
    int32_t depth = 0;
    while (currentLine < lineCount) {
        const char* line = CurrentLineText();
        if (Contains(line, "IF ")) {
            ++depth;
        }
        if (Contains(line, "ENDIF")) {
            --depth;
            if (depth < 1) {
                return;
            }
        }
        ++currentLine;
    }
    currentLine = lineCount;
}

void CServerScript::RunIfBlock() {
    ++currentLine;
    while (currentLine < lineCount) {
        if (Contains(CurrentLineText(), "ENDIF")) {
            return;
        }
        if (!Spend()) {
            return;
        }
        ExecuteLine();
        ++currentLine;
    }
}

void CServerScript::RunPersonScriptSection(const char* lineText) {
    savedLine = currentLine;
    const int32_t section = BracketIndex(lineText);

    int32_t begin = currentLine;
    while (begin < lineCount && !(Contains(Line(begin), "BEGIN_PERSON_SCRIPT") &&
                                  BracketIndex(Line(begin)) == section)) {
        ++begin;
    }
    if (begin >= lineCount) {
        currentLine = savedLine;
        return;
    }

    currentPersonScriptNumber = section;
    currentLine = begin + 1;
    while (currentLine < lineCount) {
        currentPosition = 0;
        const char* line = CurrentLineText();
        if (Contains(line, "BEGIN_PERSON_SCRIPT") || Contains(line, "END_PERSON_SCRIPT")) {
            break;
        }
        if (!Spend()) {
            break;
        }
        ExecuteLine();
        ++currentLine;
    }
    // One saved line serves every level: a section run from inside another section returns
    // the cursor to the inner RUN line when the outer one ends.
    currentLine = savedLine;
}
