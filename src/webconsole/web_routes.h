#pragma once
// What the web console answers, request by request, with no socket in sight: the page's files
// and /healthz to anyone; the world's state, its metrics and the console's commands only to a
// request that carries the access token. Every failed token counts against its address
// (FailedAttempts), and an address in back-off is refused before anything else is looked at.

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "webconsole/web_access.h"

struct WebRequest {
    std::string method;  // "GET", "POST", ...
    std::string path;    // without the query
    std::string authorization;
    std::string body;
    std::string remote;  // the peer's address
};

struct WebResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool operator==(const WebResponse&) const = default;
};

struct WebActions {
    // Runs one console command line and gives its answer, as the terminal console would.
    std::function<std::string(std::string_view)> runCommand;
    std::function<std::string()> stateJson;
    std::function<std::string()> metricsText;
};

struct StaticFile {
    std::string contentType;
    std::string bytes;
};

class WebRoutes {
public:
    static constexpr size_t kMaxCommandBytes = 1024;

    WebRoutes(std::string token, WebActions actions, std::map<std::string, StaticFile> files,
              FailedAttempts::Limits limits = {});

    WebResponse Handle(const WebRequest& request, double nowMs);

    // For connections that are not plain requests (the WebSocket's first message): true when
    // the token is right; a wrong one counts against the address like a request's.
    bool CheckToken(std::string_view token, const std::string& remote, double nowMs);
    bool Blocked(const std::string& remote, double nowMs) const {
        return attempts_.Blocked(remote, nowMs);
    }
    const FailedAttempts& attempts() const { return attempts_; }

private:
    WebResponse Authorized(const WebRequest& request);

    std::string token_;
    WebActions actions_;
    std::map<std::string, StaticFile> files_;
    FailedAttempts attempts_;
};
