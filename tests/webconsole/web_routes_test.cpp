#include "webconsole/web_routes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Routes {
    std::vector<std::string> commands;
    WebRoutes routes{
        "secret",
        WebActions{[this](std::string_view line) {
                       commands.emplace_back(line);
                       return "ran " + std::string(line) + "\n";
                   },
                   [] { return std::string("{\"state\":1}"); },
                   [] { return std::string("metric 1\n"); }},
        {{"/index.html", {"text/html", "<html>"}}, {"/app.js", {"text/javascript", "js"}}},
        {.freeFailures = 2, .firstBackoffMs = 1000}};

    WebResponse Ask(std::string method, std::string path, std::string token = "secret",
                    std::string body = {}, std::string remote = "10.0.0.1", double now = 0) {
        return routes.Handle(
            {std::move(method), std::move(path), token.empty() ? "" : "Bearer " + token,
             std::move(body), std::move(remote)},
            now);
    }
};

}  // namespace

TEST(WebRoutes, EachRequestGetsItsStatusAndOnlyAPostWithTheTokenRunsACommand) {
    struct Case {
        const char* method;
        const char* path;
        const char* token;
        const char* body;
        int status;
        const char* answer;
    };
    const std::string overlong(WebRoutes::kMaxCommandBytes + 1, 'x');
    const Case cases[] = {
        {"GET", "/", "", "", 200, "<html>"},
        {"GET", "/app.js", "", "", 200, "js"},
        {"POST", "/app.js", "secret", "", 405, "method not allowed\n"},
        {"GET", "/healthz", "", "", 200, "ok\n"},
        {"GET", "/api/state", "secret", "", 200, "{\"state\":1}"},
        {"GET", "/metrics", "secret", "", 200, "metric 1\n"},
        {"POST", "/metrics", "secret", "", 405, "method not allowed\n"},
        {"GET", "/api/command", "secret", "rain 30", 405, "method not allowed\n"},
        {"POST", "/api/command", "secret", "rain 30\r\n", 200, "ran rain 30\n"},
        {"POST", "/api/command", "secret", "rain 30\nexit", 400, "one command a request\n"},
        {"POST", "/api/command", "secret", overlong.c_str(), 413,
         "a command holds at most 1024 bytes\n"},
        {"GET", "/nothing", "secret", "", 404, "not found\n"},
    };
    for (const Case& c : cases) {
        Routes r;
        const WebResponse response = r.Ask(c.method, c.path, c.token, c.body);
        EXPECT_EQ(response.status, c.status) << c.method << " " << c.path;
        EXPECT_EQ(response.body, c.answer) << c.method << " " << c.path;
        EXPECT_EQ(r.commands.size(),
                  c.status == 200 && std::string(c.path) == "/api/command" ? 1u : 0u);
    }
}

TEST(WebRoutes, MissingAndWrongTokensAreRefusedAndCountTowardsTheAddresssBackOff) {
    Routes r;
    EXPECT_EQ(r.Ask("GET", "/metrics", "").status, 401);
    EXPECT_EQ(r.Ask("POST", "/api/command", "wrong", "exit").status, 401);
    EXPECT_TRUE(r.commands.empty());
    // The third failure starts a back-off: everything but the page and /healthz is refused
    // from that address, the right token too, until it has passed.
    EXPECT_EQ(r.Ask("GET", "/api/state", "wrong").status, 401);
    const WebResponse refused = r.Ask("GET", "/api/state", "secret", "", "10.0.0.1", 500);
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.headers,
              (std::vector<std::pair<std::string, std::string>>{{"Retry-After", "1"}}));
    EXPECT_EQ(r.Ask("GET", "/healthz", "", "", "10.0.0.1", 500).status, 200);
    EXPECT_EQ(r.Ask("GET", "/", "", "", "10.0.0.1", 500).status, 200);
    EXPECT_EQ(r.Ask("GET", "/api/state", "secret", "", "10.0.0.2", 500).status, 200);
    EXPECT_EQ(r.Ask("GET", "/api/state", "secret", "", "10.0.0.1", 1000).status, 200);
    // The WebSocket's token counts the same way.
    EXPECT_FALSE(r.routes.CheckToken("x", "10.0.0.3", 0));
    EXPECT_FALSE(r.routes.CheckToken("x", "10.0.0.3", 0));
    EXPECT_FALSE(r.routes.CheckToken("x", "10.0.0.3", 0));
    EXPECT_TRUE(r.routes.Blocked("10.0.0.3", 0));
}
