#pragma once
// CServerScript, the world's trigger language: the lines of "script\ERtest2.ers" loaded once
// and executed from the top on every game tick. A line is recognised by the keywords it
// contains; nothing is parsed in advance, and a cursor (current line, current position) is
// what every reader and command works on. A line that matches no keyword does nothing.

#include <cstdint>

#include "quest/script_world.h"

constexpr int32_t kScriptLineSlots = 2000;
constexpr int32_t kScriptLineSize = 300;  // bytes of one stored line, terminating zero included
constexpr int32_t kScriptMaxRunningLines = 500;  // a longer script is stored but never runs
constexpr int32_t kScriptTokenSize = 300;
constexpr int32_t kScriptTermSize = 50;
constexpr int32_t kScriptReadLimit = 50;  // characters a reader takes at most
// WAIT_FOR keeps its first argument, the NPC number, in a buffer of this many bytes.
constexpr int32_t kWaitForArgumentSize = 20;
// Line executions allowed in one main pass. A main section of many RUN_PERSON_SCRIPT lines runs
// its section once for each, so the work of a pass grows with the square of the script: a
// 500-line script can ask for about 62,500 executions at one level. The budget is four times
// that, so scripts run exactly as written; it is a safety net, and a pass that reaches it ends
// there (about 80 ms of work), so no script can stop the game.
constexpr int64_t kScriptPassBudget = 250000;

constexpr const char* kScriptEchoFile = "scriptput.txt";

class CServerScript {
public:
    explicit CServerScript(ScriptWorld world);

    // --- loading (server_script_load.cpp) ----------------------------------------------
    void Load(const char* fileName);
    void DumpScript();

    // --- running (server_script_run.cpp) -----------------------------------------------
    void RunMainPass();
    void ExecuteLine();
    void EvaluateCondition();
    void SkipToEndif();
    void RunIfBlock();
    void RunPersonScriptSection(const char* lineText);

    // --- expressions (script_evaluate.cpp) ---------------------------------------------
    int32_t Evaluate(const char* text);
    int32_t TermValue(const char* term);

    // --- readers (script_readers.cpp) --------------------------------------------------
    bool FindKeyword(const char* keyword);
    void NextWord();
    void NextArgument();
    void QuotedText(const char* text);

    // --- NPC lines (person_interpreter.cpp) ---------------------------------------------
    void RunPersonBlock(const char* beginLine);
    int32_t ExecuteNpcLine(const char* line, bool execute, int32_t advance);
    int32_t QueryNpc(const char* term) { return ExecuteNpcLine(term, false, 0); }

    // The text of stored line `index`; an empty text outside the stored lines.
    const char* Line(int32_t index) const;
    const char* CurrentLineText() const { return Line(currentLine); }
    // Global n as the script names it (GLOBAL[n], n = 1..99); 0 outside the table.
    int32_t Global(int32_t n) const;
    // Whether the last main pass stopped at its budget (kScriptPassBudget unless set).
    bool BudgetExhausted() const { return budgetLeft_ <= 0; }
    void SetPassBudget(int64_t lineExecutions) { passBudget_ = lineExecutions; }

    int32_t lineCount = 0;
    int32_t currentLine = 0;
    int32_t currentPosition = 0;
    char lines[kScriptLineSlots][kScriptLineSize] = {};
    char tokenBuffer[kScriptTokenSize] = {};
    char termBuffer[kScriptTermSize] = {};
    int32_t runningValue = 0;
    int32_t currentPersonScriptNumber = 0;
    int32_t blockLineCounter = 0;
    int32_t savedLine = 0;

private:
    // Takes one line execution from the pass budget; false once it is used up.
    bool Spend();
    // Empties the token buffer; only the bytes a reader may have written need clearing.
    void ClearToken();
    int32_t* GlobalSlot(int32_t index) const;
    // Frame time × 10: what one pass of a waiting line adds to the NPC's wait timer.
    float FrameTenths() const;

    ScriptWorld world_;
    int64_t passBudget_ = kScriptPassBudget;
    int64_t budgetLeft_ = kScriptPassBudget;
    int32_t tokenUsed_ = 0;  // bytes of tokenBuffer that may be non-zero
};

// The two characters right after the first "[" of text read as a decimal number, minus 1:
// "[7]" and "[07]" give 6, "[123]" gives 11. A text without "[" gives -1.
int32_t BracketIndex(const char* text);
