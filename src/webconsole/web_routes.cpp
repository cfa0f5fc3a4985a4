#include "webconsole/web_routes.h"

#include <cmath>

namespace {

WebResponse Text(int status, std::string body) {
    WebResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

WebResponse MethodNotAllowed(const char* allowed) {
    WebResponse response = Text(405, "method not allowed\n");
    response.headers.emplace_back("Allow", allowed);
    return response;
}

// One line of text: a trailing line end is dropped, anything after an inner one refuses it.
bool SingleLine(std::string& line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

WebRoutes::WebRoutes(std::string token, WebActions actions, std::map<std::string, StaticFile> files,
                     FailedAttempts::Limits limits)
    : token_(std::move(token)),
      actions_(std::move(actions)),
      files_(std::move(files)),
      attempts_(limits) {}

bool WebRoutes::CheckToken(std::string_view token, const std::string& remote, double nowMs) {
    if (TokensEqual(token, token_)) {
        attempts_.Succeed(remote);
        return true;
    }
    attempts_.Fail(remote, nowMs);
    return false;
}

WebResponse WebRoutes::Handle(const WebRequest& request, double nowMs) {
    const bool read = request.method == "GET" || request.method == "HEAD";
    if (request.path == "/healthz") {
        return read ? Text(200, "ok\n") : MethodNotAllowed("GET");
    }
    // The page's own files hold no data; a browser cannot send a token to load them.
    const std::string page = request.path == "/" ? "/index.html" : request.path;
    if (const auto file = files_.find(page); file != files_.end()) {
        if (!read) {
            return MethodNotAllowed("GET");
        }
        WebResponse response{200, file->second.contentType, file->second.bytes, {}};
        response.headers.emplace_back(
            "Content-Security-Policy",
            "default-src 'self'; img-src 'self' data:; connect-src 'self'; "
            "frame-ancestors 'none'; base-uri 'none'; form-action 'self'");
        return response;
    }
    if (attempts_.Blocked(request.remote, nowMs)) {
        WebResponse response = Text(429, "too many failed attempts from this address\n");
        const double seconds = std::ceil(attempts_.RetryAfterMs(request.remote, nowMs) / 1000.0);
        response.headers.emplace_back("Retry-After", std::to_string(static_cast<long>(seconds)));
        return response;
    }
    if (!CheckToken(BearerToken(request.authorization), request.remote, nowMs)) {
        WebResponse response = Text(401, "the web console's access token is needed\n");
        response.headers.emplace_back("WWW-Authenticate", "Bearer");
        return response;
    }
    WebResponse response = Authorized(request);
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
}

WebResponse WebRoutes::Authorized(const WebRequest& request) {
    const bool read = request.method == "GET" || request.method == "HEAD";
    if (request.path == "/api/state") {
        return read ? WebResponse{200, "application/json", actions_.stateJson(), {}}
                    : MethodNotAllowed("GET");
    }
    if (request.path == "/metrics") {
        return read ? WebResponse{200,
                                  "text/plain; version=0.0.4; charset=utf-8",
                                  actions_.metricsText(),
                                  {}}
                    : MethodNotAllowed("GET");
    }
    if (request.path == "/api/command") {
        // Commands change the world: never from a GET, which a link or a page can make.
        if (request.method != "POST") {
            return MethodNotAllowed("POST");
        }
        if (request.body.size() > kMaxCommandBytes) {
            return Text(413, "a command holds at most 1024 bytes\n");
        }
        std::string line = request.body;
        if (!SingleLine(line)) {
            return Text(400, "one command a request\n");
        }
        return Text(200, actions_.runCommand(line));
    }
    return Text(404, "not found\n");
}
