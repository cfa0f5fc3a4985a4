#pragma once
// Substring search for the short texts of script lines and terms. Every pass searches every
// line for its keywords again; for texts of a few dozen characters a first-character scan is
// several times faster than the general-purpose strstr.

#include <cstring>
#include <string_view>

// The first occurrence of word in the zero-terminated text, or nullptr. An empty word is found
// at the start.
inline const char* FindText(const char* text, std::string_view word) {
    if (word.empty()) {
        return text;
    }
    const char first = word.front();
    const char* rest = word.data() + 1;
    const size_t restLength = word.size() - 1;
    for (const char* p = std::strchr(text, first); p != nullptr; p = std::strchr(p + 1, first)) {
        if (std::strncmp(p + 1, rest, restLength) == 0) {
            return p;
        }
    }
    return nullptr;
}

inline bool ContainsText(const char* text, std::string_view word) {
    return FindText(text, word) != nullptr;
}
