#include "webconsole/web_access.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>

bool TokensEqual(std::string_view presented, std::string_view expected) {
    // Every byte of the longer text is looked at whatever the earlier ones held.
    const size_t length = std::max(presented.size(), expected.size());
    unsigned difference = presented.size() == expected.size() ? 0u : 1u;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char a = i < presented.size() ? static_cast<unsigned char>(presented[i]) : 0;
        const unsigned char b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0;
        difference |= static_cast<unsigned>(a ^ b);
    }
    return difference == 0 && !expected.empty();
}

std::string_view BearerToken(std::string_view authorization) {
    constexpr std::string_view kScheme = "Bearer ";
    if (authorization.size() <= kScheme.size() ||
        !std::equal(kScheme.begin(), kScheme.end(), authorization.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
        })) {
        return {};
    }
    std::string_view token = authorization.substr(kScheme.size());
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t')) {
        token.remove_suffix(1);
    }
    return token;
}

std::string MakeAccessToken() {
    std::random_device source;  // the system's random source on Linux
    std::string token;
    constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        const unsigned byte = source() & 0xFFu;
        token += kHex[byte >> 4];
        token += kHex[byte & 0xFu];
    }
    return token;
}

bool FailedAttempts::Blocked(const std::string& address, double nowMs) const {
    return RetryAfterMs(address, nowMs) > 0;
}

double FailedAttempts::RetryAfterMs(const std::string& address, double nowMs) const {
    const auto it = entries_.find(address);
    return it == entries_.end() ? 0.0 : std::max(0.0, it->second.blockedUntilMs - nowMs);
}

void FailedAttempts::Fail(const std::string& address, double nowMs) {
    if (!entries_.contains(address) && entries_.size() >= limits_.maxAddresses) {
        MakeRoom();
    }
    Entry& entry = entries_[address];
    entry.failures = std::min(entry.failures + 1, 1000);
    entry.lastFailureMs = nowMs;
    const int32_t over = entry.failures - limits_.freeFailures;
    if (over > 0) {
        const double backoff = std::min(limits_.maxBackoffMs,
                                        limits_.firstBackoffMs * std::exp2(std::min(over - 1, 30)));
        entry.blockedUntilMs = nowMs + backoff;
    }
}

void FailedAttempts::MakeRoom() {
    const auto oldest =
        std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a.second.lastFailureMs < b.second.lastFailureMs;
        });
    if (oldest != entries_.end()) {
        entries_.erase(oldest);
    }
}
