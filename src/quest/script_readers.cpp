// The readers of the server script: keywords, words, arguments and quoted texts, read from
// the current line at the current position into the token buffer.

#include <cstring>

#include "quest/find_text.h"
#include "quest/leading_number.h"
#include "quest/server_script.h"

namespace {

// Length of a stored line; a line always keeps its terminating zero within the slot.
int32_t StoredLength(const char* text) {
    return static_cast<int32_t>(strnlen(text, kScriptLineSize - 1));
}

bool IsArgumentSeparator(char c) {
    return c == ' ' || c == '(' || c == ',' || c == ')';
}

}  // namespace

int32_t BracketIndex(const char* text) {
    if (text == nullptr) {
        return -1;
    }
    const char* bracket = std::strchr(text, '[');
    if (bracket == nullptr) {
        return -1;
    }
    char digits[3] = {};
    for (int i = 0; i < 2 && bracket[1 + i] != '\0'; ++i) {
        digits[i] = bracket[1 + i];
    }
    return LeadingNumber(digits) - 1;
}

void CServerScript::ClearToken() {
    std::memset(tokenBuffer, 0, tokenUsed_);
    tokenUsed_ = 0;
}

bool CServerScript::FindKeyword(const char* keyword) {
    const char* text = CurrentLineText();
    const char* found = FindText(text, keyword);
    if (found == nullptr) {
        return false;
    }
    currentPosition = static_cast<int32_t>(found - text + std::strlen(keyword));
    return true;
}

void CServerScript::NextWord() {
    ClearToken();
    tokenUsed_ = kScriptReadLimit;
    const char* text = CurrentLineText();
    const int32_t length = StoredLength(text);
    int32_t i = currentPosition < 0 ? 0 : (currentPosition > length ? length : currentPosition);

    int32_t skipped = 0;
    while (i < length && text[i] == ' ' && skipped < kScriptReadLimit - 1) {
        ++i;
        ++skipped;
    }
    currentPosition = i;
    if (i < length && text[i] == ' ') {
        return;  // a run of blanks too long to hold a word
    }

    char stop = ' ';
    int32_t start = i;
    if (i < length && text[i] == '(') {
        stop = ')';
        start = i + 1;
    }
    int32_t taken = 0;
    int32_t j = start;
    while (j < length && text[j] != stop && taken < kScriptReadLimit) {
        tokenBuffer[taken++] = text[j++];
    }
    if (taken == kScriptReadLimit && j < length && text[j] != stop) {
        currentPosition = start;  // too long: the cursor stays on the word's first character
        return;
    }
    currentPosition = j;
}

void CServerScript::NextArgument() {
    ClearToken();
    tokenUsed_ = kScriptReadLimit;
    const char* text = CurrentLineText();
    const int32_t length = StoredLength(text);
    int32_t i = currentPosition < 0 ? 0 : (currentPosition > length ? length : currentPosition);

    int32_t skipped = 0;
    while (i < length && IsArgumentSeparator(text[i]) && skipped < kScriptReadLimit - 1) {
        ++i;
        ++skipped;
    }
    currentPosition = i;
    if (i < length && IsArgumentSeparator(text[i])) {
        return;  // a run of separators too long to hold an argument
    }

    const int32_t start = i;
    int32_t taken = 0;
    while (i < length && text[i] != ',' && text[i] != ')' && text[i] != '(' &&
           taken < kScriptReadLimit) {
        tokenBuffer[taken++] = text[i++];
    }
    if (taken == kScriptReadLimit && i < length && text[i] != ',' && text[i] != ')' &&
        text[i] != '(') {
        currentPosition = start;
        return;
    }
    currentPosition = i;
}

void CServerScript::QuotedText(const char* text) {
    // The text may be the token buffer itself, so it is read before the buffer is cleared.
    char result[kScriptTokenSize] = {};
    if (text != nullptr) {
        const int32_t length = static_cast<int32_t>(strnlen(text, kScriptTokenSize));
        const char* dollar = static_cast<const char*>(std::memchr(text, '$', length));
        if (dollar != nullptr) {
            int32_t taken = 0;
            for (int32_t i = static_cast<int32_t>(dollar - text) + 1;
                 i < length && text[i] != '$' && taken < kScriptTokenSize - 1; ++i) {
                result[taken++] = text[i];
            }
        }
    }
    std::memcpy(tokenBuffer, result, sizeof tokenBuffer);
    tokenUsed_ = kScriptTokenSize;
}
