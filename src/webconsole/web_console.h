#pragma once
// The web console: the operator's view of the running world in a browser. An HTTP server on
// the event loop's thread serves the page (compiled into the program), the world's state, its
// metrics and the console's commands (WebRoutes), and a WebSocket at /ws pushes the state to
// every signed-in page about four times a second. Off unless the settings or the command line
// give it a port.

#include <QAbstractHttpServer>

#include <QByteArray>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "webconsole/connection_guard.h"
#include "webconsole/web_routes.h"

class QWebSocket;

struct WebConsoleLimits {
    int webSockets = 16;  // pages open at once
    GuardedTcpServer::Limits connections = {};
};

class WebConsole final : public QAbstractHttpServer {
public:
    static constexpr int kPushIntervalMs = 250;
    static constexpr double kTokenDeadlineMs = 5000;      // for a WebSocket's first message
    static constexpr qint64 kMaxWebSocketMessage = 4096;  // what a page may send
    static constexpr qint64 kMaxUnsentBytes = 1 << 20;    // a page this far behind is skipped
    static constexpr double kSlowPageTimeoutMs = 10000;   // ... and closed after this long

    // `snapshot` gives the world's state as JSON; `nowMs` is a monotonic clock.
    WebConsole(std::string token, WebActions actions, std::function<QByteArray()> snapshot,
               std::function<double()> nowMs, WebConsoleLimits limits = {});
    ~WebConsole() override;

    // Listens on `address` (an IPv4 or IPv6 address text) and `port` (0: the system chooses).
    bool Listen(const std::string& address, uint16_t port, std::string& error);
    uint16_t port() const;
    // Shutting down: no more pushes, pages closed, new connections refused, and a request
    // still arriving on an open connection answered 503.
    void Stop();
    int webSocketCount() const { return static_cast<int>(pages_.size()); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Page {
        std::string remote;
        bool signedIn = false;
        double openedMs = 0;
        double behindSinceMs = -1;  // since when its unsent bytes are over the bound
    };
    void AcceptWebSockets();
    void OnPageMessage(QWebSocket* socket, const QString& message);
    void Push();

    WebConsoleLimits limits_;
    WebRoutes routes_;
    std::function<QByteArray()> snapshot_;
    std::function<double()> nowMs_;
    GuardedTcpServer* listener_ = nullptr;
    std::unordered_map<QWebSocket*, Page> pages_;
    QTimer pushTimer_;
    QTimer sweepTimer_;
    bool stopped_ = false;
};
