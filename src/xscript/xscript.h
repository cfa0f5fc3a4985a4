#pragma once
// CXScript, the XScript engine: a script loaded once into a flat token list, run from the top
// on every call of Run by an operator-precedence evaluator. Host functions registered by name
// are called through one function handler and exchange values through the value stack.
//
// Return values follow the engine's convention: 0 for success, -1 or -2 for failure.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xscript/precedence.h"
#include "xscript/tables.h"
#include "xscript/value.h"

struct CXToken {
    std::string text;  // symbol text, word, number as written, or literal without quotes
    int32_t line = 0;  // counting from 1
    int32_t code = 0;  // 0 to 38 for symbols, 39 literal, 40 word
};

class CXScript;

// Called for every applied host-function call with the engine and a copy of the called
// symbol (its name, code 38). The result is ignored.
using XFunctionHandler = int32_t (*)(CXScript* engine, CXSymbol symbol);
// Called with "syntax error" and the offending token's line.
using XErrorHandler = void (*)(const char* message, int32_t line);

class CXScript {
public:
    CXScript();
    CXScript(const CXScript&) = delete;
    CXScript& operator=(const CXScript&) = delete;

    // --- engine interface -------------------------------------------------------------
    // Appends a host-function name to the symbol list. Only names registered before a
    // script is loaded are recognised in it.
    int32_t RegisterFunction(std::string_view name);
    int32_t SetFunctionHandler(XFunctionHandler handler);
    int32_t SetErrorHandler(XErrorHandler handler);
    // Appends the tokens of a file: 0, -1 when it cannot be read (nothing appended), -2 on a
    // "/*" inside a comment or a "*/" outside one (the tokens before it stay).
    int32_t LoadScript(const char* path);
    // The same for a script already in memory, read as the bytes of a file: 0 or -2.
    int32_t LoadScriptText(std::string_view bytes);
    // Executes the whole token list once. Gives 0.
    int32_t Run();
    // Moves the top n values into list (entry 0 is the deepest), resolving variable names
    // when asked. -1 when the stack held fewer than n: the entries not reached stay empty.
    int32_t PopValues(int32_t n, std::vector<CXValue>& list, bool resolve);
    int32_t PushValue(const CXValue& value);
    const CXVariable* GetVariable(std::string_view name) const;
    int32_t SetVariable(std::string_view name, const CXValue& value);
    // Cursor to 0, operator and value stacks emptied, every variable gone. Tokens, symbols,
    // the loop stack and the handlers stay.
    int32_t ResetState();

    // --- lexer ------------------------------------------------------------------------
    // Reads one token of line from start: writes its text into buffer (always terminated)
    // and its code into code, and gives the position after it, or 0 when no token is left.
    int32_t Tokenize(std::string_view line, int32_t start, char* buffer, int32_t bufferSize,
                     int32_t& code) const;

    // --- optional step limit, off by default --------------------------------------------
    // With a limit, a run stops after taking that many tokens; 0 removes the limit. Meant
    // for harnesses and tools: without a limit a loop whose condition stays true never ends.
    void SetStepLimit(uint64_t maxTokens) { stepLimit_ = maxTokens; }
    // Whether the last Run stopped at the limit.
    bool StepLimitReached() const { return stepLimitReached_; }
    // How many tokens the last Run took, block skips not included.
    uint64_t StepsTaken() const { return stepsTaken_; }

    // --- inspection -------------------------------------------------------------------
    const std::vector<CXToken>& Tokens() const { return tokens_; }
    const std::vector<CXSymbol>& Symbols() const { return symbols_; }
    const CXVariableTable& Variables() const { return variables_; }
    const xscript::PrecedenceTable& Precedence() const { return precedence_; }
    const std::vector<std::string>& ErrorMessages() const { return errors_; }
    int32_t Cursor() const { return cursor_; }
    int32_t ValueStackDepth() const { return static_cast<int32_t>(values_.size()); }
    int32_t OperatorStackDepth() const { return static_cast<int32_t>(operators_.size()); }
    int32_t LoopStackDepth() const { return static_cast<int32_t>(loops_.size()); }
    // Index of the first symbol with this text, or -1.
    int32_t FindSymbol(std::string_view text) const;

private:
    // interpreter.cpp
    const CXToken* NextToken();
    int32_t Reduce();
    int32_t ApplyArithmetic(int32_t code);
    int32_t ApplyAssignment(int32_t code);
    int32_t ApplyComparison(int32_t code);
    int32_t ApplyKeyword(int32_t code);
    int32_t ReduceCloseParen();
    int32_t ReduceSemicolon();
    int32_t ReduceCloseBrace();
    void SkipBlock();
    // Pushes the loop of the nearest "while" token before the cursor unless it is already on
    // top; false when there is no such token.
    bool EnterLoop();
    void LeaveLoop();
    void PushOperator(const CXToken& token);

    // lexer.cpp
    int32_t MatchSymbol(std::string_view rest, int32_t bufferSize) const;
    int32_t MatchStringLiteral(std::string_view rest, char* buffer, int32_t bufferSize) const;

    // Grows a stack that is full. The stacks start with room for 64 entries.
    template <typename Stack>
    static void MakeRoom(Stack& stack);

    std::vector<CXToken> tokens_;
    int32_t cursor_ = 0;
    xscript::PrecedenceTable precedence_;
    std::vector<std::string> errors_;
    std::vector<int32_t> loops_;
    std::vector<CXSymbol> symbols_;
    std::vector<CXSymbol> operators_;
    std::vector<CXValue> values_;
    CXVariableTable variables_;
    XFunctionHandler functionHandler_ = nullptr;
    XErrorHandler errorHandler_ = nullptr;

    uint64_t stepLimit_ = 0;
    bool stepLimitReached_ = false;
    uint64_t stepsTaken_ = 0;
    // Scratch argument lists for the operators, kept to avoid an allocation per operator.
    std::vector<CXValue> operands_;
};

template <typename Stack>
void CXScript::MakeRoom(Stack& stack) {
    // Geometric growth keeps pushes cheap when stray braces pile up inside a long loop.
    if (stack.size() == stack.capacity()) {
        stack.reserve(stack.capacity() * 2 + 64);
    }
}
