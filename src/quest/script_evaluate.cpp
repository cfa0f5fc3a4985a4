// Integer expressions of the server script: terms and the operators + - * / %, each written
// with a blank on both sides, folded strictly from left to right.

#include <cstring>

#include "npc/main_object_set.h"
#include "quest/find_text.h"
#include "quest/leading_number.h"
#include "quest/server_script.h"
#include "world/game_weather.h"
#include "world/night_day.h"

namespace {

// Signed 32-bit arithmetic that wraps instead of overflowing. A zero divisor gives 0.
int32_t Apply(char op, int32_t left, int32_t right) {
    const uint32_t l = static_cast<uint32_t>(left);
    const uint32_t r = static_cast<uint32_t>(right);
    switch (op) {
        case '+':
            return static_cast<int32_t>(l + r);
        case '-':
            return static_cast<int32_t>(l - r);
        case '*':
            return static_cast<int32_t>(l * r);
        case '/':
            if (right == 0) {
                return 0;
            }
            if (right == -1) {
                return static_cast<int32_t>(0u - l);  // the most negative value stays itself
            }
            return left / right;
        case '%':
            if (right == 0 || right == -1) {
                return 0;
            }
            return left % right;
        default:
            return right;
    }
}

// Truncation toward zero of a float that may lie outside the 32-bit range.
int32_t TruncateVolume(float value) {
    if (!(value > -2147483648.0f && value < 2147483648.0f)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

int32_t CServerScript::Evaluate(const char* text) {
    // The text may be one of this object's own buffers, which term values can overwrite.
    char source[kScriptTokenSize];
    const int32_t length =
        text == nullptr ? 0 : static_cast<int32_t>(strnlen(text, kScriptTokenSize - 1));
    if (length > 0) {
        std::memcpy(source, text, length);
    }
    source[length] = '\0';
    // Characters past the end read as zero, like the rest of a cleared buffer.
    const auto at = [&](int32_t i) { return i >= 0 && i < length ? source[i] : '\0'; };

    std::memset(termBuffer, 0, sizeof termBuffer);
    int32_t termLength = 0;
    runningValue = 0;
    char pending = 0;
    bool folded = false;
    int32_t i = 0;

    for (;;) {
        if (at(i) == '\0' && i <= length) {
            break;
        }
        if (at(i) == ' ') {
            const int32_t value = TermValue(termBuffer);
            runningValue = pending != 0 ? Apply(pending, runningValue, value) : value;
            folded = true;
            ++i;
        }
        // The five tests in their order, each at the position the previous one left.
        const char c = at(i);
        if (c == '+' || c == '-' || c == '*' || c == '/' || c == '%') {
            for (const char op : {'+', '-', '*', '/', '%'}) {
                const bool matches = at(i) == op && (op != '-' || at(i + 1) == ' ');
                if (matches) {
                    pending = op;
                    std::memset(termBuffer, 0, sizeof termBuffer);
                    termLength = 0;
                    i += 2;
                }
            }
        }
        // A term keeps its first kScriptTermSize - 1 characters; the rest are dropped.
        if (termLength < kScriptTermSize - 1) {
            termBuffer[termLength++] = at(i);
        }
        ++i;
        if (i > length) {
            return -100;  // the scanner stepped past the terminating character
        }
    }

    if (!folded) {
        return TermValue(termBuffer);
    }
    if (pending != 0) {
        runningValue = Apply(pending, runningValue, TermValue(termBuffer));
    }
    return runningValue;
}

int32_t CServerScript::TermValue(const char* term) {
    char copy[kScriptTermSize] = {};
    if (term != nullptr) {
        std::memcpy(copy, term, strnlen(term, kScriptTermSize - 1));
    }
    const auto contains = [&](std::string_view word) { return ContainsText(copy, word); };

    if (contains("TRUE")) {
        return 1;
    }
    if (contains("FALSE")) {
        return 0;
    }
    if (contains("DAY_COUNT")) {
        return world_.clock != nullptr ? world_.clock->dayCount : 0;
    }
    if (contains("MINUTE_COUNT")) {
        return world_.clock != nullptr ? world_.clock->shownMinute : 0;
    }
    if (contains("HOUR_COUNT")) {
        return world_.clock != nullptr ? world_.clock->shownHour : 0;
    }
    if (contains("RAIN_AMOUNT")) {
        return world_.weather != nullptr ? TruncateVolume(world_.weather->publishedVolume.load())
                                         : 0;
    }
    if (contains("GLOBAL")) {
        const int32_t* slot = GlobalSlot(BracketIndex(copy));
        return slot != nullptr ? *slot : 0;
    }
    if (contains("NPC")) {
        return QueryNpc(copy);
    }
    return LeadingNumber(copy);
}
