#include "webconsole/web_access.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(WebAccess, TokensCompareWholeAndBearerHeadersAreRead) {
    EXPECT_TRUE(TokensEqual("abc123", "abc123"));
    for (const char* wrong : {"abc12", "abc1234", "abc124", "", "ABC123"}) {
        EXPECT_FALSE(TokensEqual(wrong, "abc123")) << wrong;
    }
    EXPECT_FALSE(TokensEqual("", ""));  // no token set opens nothing

    const std::pair<const char*, const char*> headers[] = {{"Bearer abc", "abc"},
                                                           {"bearer abc", "abc"},
                                                           {"BEARER abc  ", "abc"},
                                                           {"Bearer ", ""},
                                                           {"Basic abc", ""},
                                                           {"Bearerabc", ""},
                                                           {"", ""}};
    for (const auto& [header, token] : headers) {
        EXPECT_EQ(BearerToken(header), token) << header;
    }
    const std::string made = MakeAccessToken();
    EXPECT_EQ(made.size(), 64u);
    EXPECT_EQ(made.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(made, MakeAccessToken());
}

TEST(WebAccess, AnAddressIsBlockedAfterItsFreeFailuresForADoublingBackOffUntilItSucceeds) {
    FailedAttempts attempts(
        {.freeFailures = 3, .firstBackoffMs = 1000, .maxBackoffMs = 8000, .maxAddresses = 4});
    double now = 0;
    for (int i = 0; i < 3; ++i) {
        attempts.Fail("a", now);
        EXPECT_FALSE(attempts.Blocked("a", now)) << i;
    }
    // Each failure past the free ones blocks for twice as long as the one before, up to 8 s.
    for (double backoff : {1000.0, 2000.0, 4000.0, 8000.0, 8000.0}) {
        attempts.Fail("a", now);
        EXPECT_EQ(attempts.RetryAfterMs("a", now), backoff);
        EXPECT_TRUE(attempts.Blocked("a", now + backoff - 1));
        EXPECT_FALSE(attempts.Blocked("a", now + backoff));
        now += backoff;
    }
    EXPECT_FALSE(attempts.Blocked("b", now));  // others are not touched
    attempts.Succeed("a");
    attempts.Fail("a", now);
    EXPECT_FALSE(attempts.Blocked("a", now));

    // The table keeps at most four addresses; the one whose last failure is oldest goes.
    for (const char* address : {"b", "c", "d", "e"}) {
        attempts.Fail(address, now += 1);
    }
    EXPECT_EQ(attempts.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        attempts.Fail("e", now);
    }
    EXPECT_TRUE(attempts.Blocked("e", now));  // "a" gave way, "e" kept its count
}
