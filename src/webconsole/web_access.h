#pragma once
// Who may use the web console: one access token, compared in constant time, and a back-off
// for each address that keeps presenting a wrong one. No sockets, no clock: the caller gives
// the time, so the rules are tested on their own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

// Whether the two tokens are equal, in time that depends only on their lengths.
bool TokensEqual(std::string_view presented, std::string_view expected);

// The token of an "Authorization: Bearer TOKEN" header value; empty for anything else.
std::string_view BearerToken(std::string_view authorization);

// A new token: 32 random bytes from the system's source, as 64 lower-case hex digits.
std::string MakeAccessToken();

// Failed attempts per source address. The first few failures are free (a mistyped token);
// from then on the address is refused for a back-off that doubles with each further failure,
// up to a ceiling. A success forgets the address. The table is bounded: when it is full the
// entry whose last failure is oldest gives way.
class FailedAttempts {
public:
    struct Limits {
        int32_t freeFailures = 5;
        double firstBackoffMs = 1000;
        double maxBackoffMs = 5 * 60 * 1000;
        size_t maxAddresses = 4096;
    };

    FailedAttempts() = default;
    explicit FailedAttempts(Limits limits) : limits_(limits) {}

    // Whether requests from the address are refused at `nowMs`.
    bool Blocked(const std::string& address, double nowMs) const;
    // Milliseconds until the address may try again (0 when it may now).
    double RetryAfterMs(const std::string& address, double nowMs) const;
    void Fail(const std::string& address, double nowMs);
    void Succeed(const std::string& address) { entries_.erase(address); }
    size_t size() const { return entries_.size(); }

private:
    struct Entry {
        int32_t failures = 0;
        double lastFailureMs = 0;
        double blockedUntilMs = 0;
    };
    void MakeRoom();

    Limits limits_;
    std::unordered_map<std::string, Entry> entries_;
};
