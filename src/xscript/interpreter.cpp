// The evaluator: one pass over the token list per Run, operands on the value stack, operators
// and keywords on the operator stack, the precedence table deciding when a waiting operator
// is applied. Control flow only moves the token cursor, so a closing brace inside a loop body
// always jumps back to the innermost "while" and there is no short-circuit evaluation; quest
// scripts are written against exactly this behaviour.

#include <climits>

#include "xscript/xscript.h"

using namespace xscript;

namespace {

// Integer remainder that cannot trap: a zero divisor gives 0, and so does INT_MIN % -1
// (whose true remainder is 0 anyway).
int32_t Remainder(int32_t left, int32_t right) {
    if (right == 0 || right == -1) {
        return 0;
    }
    return left % right;
}

// The new value of a compound assignment, or of a binary arithmetic operator.
CXValue Combine(int32_t code, const CXValue& left, const CXValue& right) {
    switch (code) {
        case kAdd:
        case kAddAssign:
            return CXValue(left.ToDouble() + right.ToDouble());
        case kSubtract:
        case kSubtractAssign:
            return CXValue(left.ToDouble() - right.ToDouble());
        case kMultiply:
        case kMultiplyAssign:
            return CXValue(left.ToDouble() * right.ToDouble());
        case kDivide:
        case kDivideAssign:
            // IEEE division: a zero divisor gives an infinity or not-a-number.
            return CXValue(left.ToDouble() / right.ToDouble());
        case kRemainder:
        case kRemainderAssign:
            return CXValue(Remainder(left.ToInt(), right.ToInt()));
        case kBitOr:
        case kOrAssign:
            return CXValue(left.ToInt() | right.ToInt());
        case kBitAnd:
        case kAndAssign:
            return CXValue(left.ToInt() & right.ToInt());
        case kBitXor:
        case kXorAssign:
            return CXValue(left.ToInt() ^ right.ToInt());
        case kLogicalOr:
            return CXValue(static_cast<int32_t>(left.ToInt() != 0 || right.ToInt() != 0));
        case kLogicalAnd:
            return CXValue(static_cast<int32_t>(left.ToInt() != 0 && right.ToInt() != 0));
        default:
            return CXValue();
    }
}

bool Compare(int32_t code, const CXValue& left, const CXValue& right) {
    const int order = CompareValues(left, right);
    switch (code) {
        case kEqual:
            return order == 0;
        case kNotEqual:
            return order != 0;
        case kLess:
            return order < 0;
        case kGreater:
            return order > 0;
        case kLessEqual:
            return order <= 0;
        default:
            return order >= 0;
    }
}

}  // namespace

const CXToken* CXScript::NextToken() {
    if (cursor_ < 0 || static_cast<size_t>(cursor_) >= tokens_.size()) {
        return nullptr;
    }
    return &tokens_[static_cast<size_t>(cursor_++)];
}

void CXScript::PushOperator(const CXToken& token) {
    MakeRoom(operators_);
    operators_.emplace_back(token.text, token.code);
}

int32_t CXScript::Run() {
    cursor_ = 0;
    values_.clear();
    operators_.clear();
    stepLimitReached_ = false;
    stepsTaken_ = 0;

    while (cursor_ >= 0 && static_cast<size_t>(cursor_) < tokens_.size()) {
        if (stepLimit_ != 0 && stepsTaken_ >= stepLimit_) {
            stepLimitReached_ = true;
            return 0;
        }
        ++stepsTaken_;
        // Tokens are addressed by index: a host function may load more of them, which can
        // move the list while this token is still being handled.
        const size_t index = static_cast<size_t>(cursor_++);
        const int32_t code = tokens_[index].code;
        if (code == kLiteral || code == kWord) {
            MakeRoom(values_);
            values_.emplace_back(std::string_view(tokens_[index].text), code == kWord ? 1 : 0);
            continue;
        }
        if (code < 0 || code >= kSymbolCodeCount) {
            continue;
        }
        for (;;) {
            if (operators_.empty()) {
                PushOperator(tokens_[index]);
                break;
            }
            const uint8_t relation =
                precedence_[static_cast<size_t>(operators_.back().code)][static_cast<size_t>(code)];
            if (relation == kReduce) {
                Reduce();
                continue;
            }
            if (relation == kShift) {
                PushOperator(tokens_[index]);
            } else if (relation == kShiftAndReduce) {
                PushOperator(tokens_[index]);
                Reduce();
            } else if (errorHandler_ != nullptr) {
                errorHandler_(errors_[0].c_str(), tokens_[index].line);
            }
            break;
        }
    }
    while (Reduce() >= 0) {
    }
    return 0;
}

int32_t CXScript::Reduce() {
    if (operators_.empty()) {
        return -1;
    }
    const int32_t code = operators_.back().code;
    switch (code) {
        case kOpenParen:
        case kOpenBrace:
            operators_.pop_back();
            return -1;
        case kCloseParen:
            operators_.pop_back();
            return ReduceCloseParen();
        case kSemicolon:
            operators_.pop_back();
            return ReduceSemicolon();
        case kComma:
            operators_.pop_back();
            return 0;
        case kCloseBrace:
            operators_.pop_back();
            return ReduceCloseBrace();
        case kHostCall: {
            CXSymbol called = std::move(operators_.back());
            operators_.pop_back();
            if (functionHandler_ != nullptr) {
                functionHandler_(this, std::move(called));
            }
            return 0;
        }
        default:
            operators_.pop_back();
            break;
    }
    if (code >= kAssign && code <= kXorAssign) {
        return ApplyAssignment(code);
    }
    if (code >= kEqual && code <= kGreaterEqual) {
        return ApplyComparison(code);
    }
    if (code >= kIf && code <= kContinue) {
        return ApplyKeyword(code);
    }
    return ApplyArithmetic(code);
}

int32_t CXScript::ApplyArithmetic(int32_t code) {
    if (code == kNegate || code == kNot) {
        if (PopValues(1, operands_, true) < 0) {
            return -1;
        }
        const CXValue& operand = operands_[0];
        PushValue(code == kNegate ? CXValue(-operand.ToDouble())
                                  : CXValue(static_cast<int32_t>(operand.ToInt() == 0)));
        return 0;
    }
    if (PopValues(2, operands_, true) < 0) {
        return -1;
    }
    PushValue(Combine(code, operands_[0], operands_[1]));
    return 0;
}

int32_t CXScript::ApplyComparison(int32_t code) {
    if (PopValues(2, operands_, true) < 0) {
        return -1;
    }
    PushValue(CXValue(static_cast<int32_t>(Compare(code, operands_[0], operands_[1]))));
    return 0;
}

int32_t CXScript::ApplyAssignment(int32_t code) {
    if (PopValues(1, operands_, true) < 0) {
        return -1;
    }
    const CXValue right = std::move(operands_[0]);
    if (PopValues(1, operands_, false) < 0) {
        return -1;
    }
    // Whatever the target is, its text names the variable: "5 = 1" assigns "5.000000".
    const std::string& name = operands_[0].Text();
    CXVariable* variable = code == kAssign ? nullptr : variables_.Find(name);
    if (variable != nullptr) {
        variable->value = Combine(code, variable->value, right);
    } else {
        variables_.Set(name, right);
    }
    // The assignment's own value is the right side, not the variable's new value.
    PushValue(CXValue(std::string_view(right.Text()), 0));
    return 0;
}

int32_t CXScript::ApplyKeyword(int32_t code) {
    switch (code) {
        case kIf: {
            if (PopValues(1, operands_, true) < 0) {
                return -1;
            }
            if (operands_[0].Truth()) {
                return 0;
            }
            SkipBlock();
            // A skipped "if" block takes its "else" keyword along, so the else block then
            // runs as a plain block.
            if (static_cast<size_t>(cursor_) < tokens_.size() &&
                tokens_[static_cast<size_t>(cursor_)].text == "else") {
                ++cursor_;
            }
            return 0;
        }
        case kElse:
            SkipBlock();
            return 0;
        case kWhile: {
            if (PopValues(1, operands_, true) < 0) {
                return -1;
            }
            const bool truth = operands_[0].Truth();
            const bool entered = EnterLoop();
            if (truth) {
                return 0;
            }
            SkipBlock();
            if (entered) {
                LeaveLoop();
            }
            return 0;
        }
        case kBreak:
            if (loops_.empty()) {
                return 0;
            }
            cursor_ = loops_.back();
            while (static_cast<size_t>(cursor_) < tokens_.size() &&
                   tokens_[static_cast<size_t>(cursor_)].text != "{") {
                ++cursor_;
            }
            if (static_cast<size_t>(cursor_) < tokens_.size()) {
                ++cursor_;
            }
            SkipBlock();
            LeaveLoop();
            return 0;
        default:  // continue
            if (!loops_.empty()) {
                cursor_ = loops_.back();
            }
            return 0;
    }
}

int32_t CXScript::ReduceCloseParen() {
    for (;;) {
        if (operators_.empty()) {
            return -1;
        }
        if (operators_.back().code == kOpenParen) {
            operators_.pop_back();
            return 0;
        }
        if (Reduce() < 0) {
            return -1;
        }
    }
}

int32_t CXScript::ReduceSemicolon() {
    while (!operators_.empty() && operators_.back().code != kOpenParen &&
           operators_.back().code != kOpenBrace) {
        if (Reduce() < 0) {
            break;
        }
    }
    values_.clear();
    return -1;
}

int32_t CXScript::ReduceCloseBrace() {
    for (;;) {
        if (operators_.empty()) {
            return -1;
        }
        if (operators_.back().code == kOpenBrace) {
            operators_.pop_back();
            // Every closing brace inside a loop, not only the loop's own, goes back to the
            // innermost "while"; the loop stays entered until its condition fails.
            if (!loops_.empty()) {
                cursor_ = loops_.back();
            }
            return 0;
        }
        if (Reduce() < 0) {
            return -1;
        }
    }
}

void CXScript::SkipBlock() {
    // Braces are recognised by text, so string literals "{" and "}" count as well.
    int32_t depth = 0;
    while (const CXToken* token = NextToken()) {
        if (token->text == "{") {
            ++depth;
        } else if (token->text == "}") {
            if (depth == 0) {
                return;
            }
            --depth;
        }
    }
}

bool CXScript::EnterLoop() {
    int32_t index = cursor_ - 1;
    if (index >= static_cast<int32_t>(tokens_.size())) {
        index = static_cast<int32_t>(tokens_.size()) - 1;
    }
    while (index >= 0 && tokens_[static_cast<size_t>(index)].text != "while") {
        --index;
    }
    if (index < 0) {
        return false;  // no "while" before the cursor: no loop is entered
    }
    if (loops_.empty() || loops_.back() != index) {
        MakeRoom(loops_);
        loops_.push_back(index);
    }
    return true;
}

void CXScript::LeaveLoop() {
    if (!loops_.empty()) {
        loops_.pop_back();
    }
}
