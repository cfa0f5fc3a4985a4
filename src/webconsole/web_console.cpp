#include "webconsole/web_console.h"

#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>

namespace {

// The page's files, compiled into the program as resources.
std::map<std::string, StaticFile> PageFiles() {
    const std::pair<const char*, const char*> kFiles[] = {
        {"/index.html", "text/html; charset=utf-8"},
        {"/dom.js", "text/javascript; charset=utf-8"},
        {"/map.js", "text/javascript; charset=utf-8"},
        {"/charts.js", "text/javascript; charset=utf-8"},
        {"/app.js", "text/javascript; charset=utf-8"},
        {"/app.css", "text/css; charset=utf-8"},
    };
    std::map<std::string, StaticFile> files;
    for (const auto& [path, type] : kFiles) {
        QFile file(QStringLiteral(":/webconsole") + QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            files[path] = StaticFile{type, file.readAll().toStdString()};
        }
    }
    files["/favicon.ico"] = StaticFile{"image/x-icon", ""};  // browsers ask; it is no failure
    return files;
}

std::string MethodName(QHttpServerRequest::Method method) {
    switch (method) {
        case QHttpServerRequest::Method::Get:
            return "GET";
        case QHttpServerRequest::Method::Head:
            return "HEAD";
        case QHttpServerRequest::Method::Post:
            return "POST";
        case QHttpServerRequest::Method::Put:
            return "PUT";
        case QHttpServerRequest::Method::Delete:
            return "DELETE";
        case QHttpServerRequest::Method::Options:
            return "OPTIONS";
        case QHttpServerRequest::Method::Patch:
            return "PATCH";
        default:
            return "OTHER";
    }
}

void Close(QWebSocket* socket, int code, const char* reason) {
    socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), QString::fromLatin1(reason));
}

}  // namespace

WebConsole::WebConsole(std::string token, WebActions actions, std::function<QByteArray()> snapshot,
                       std::function<double()> nowMs, WebConsoleLimits limits)
    : limits_(limits),
      routes_(std::move(token), std::move(actions), PageFiles()),
      snapshot_(std::move(snapshot)),
      nowMs_(std::move(nowMs)) {
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this,
            &WebConsole::AcceptWebSockets);
    connect(&pushTimer_, &QTimer::timeout, this, &WebConsole::Push);
    connect(&sweepTimer_, &QTimer::timeout, this, [this] {
        if (listener_ != nullptr) {
            listener_->Sweep();
        }
    });
}

WebConsole::~WebConsole() {
    pushTimer_.stop();
    sweepTimer_.stop();
    for (auto& [socket, page] : pages_) {
        socket->disconnect(this);
        delete socket;
    }
}

bool WebConsole::Listen(const std::string& address, uint16_t port, std::string& error) {
    QHostAddress host;
    if (!host.setAddress(QString::fromStdString(address))) {
        error = "'" + address + "' is not an IP address";
        return false;
    }
    auto* listener = new GuardedTcpServer(
        limits_.connections,
        [this](const std::string& remote) { return routes_.Blocked(remote, nowMs_()); }, nowMs_,
        this);
    if (!listener->listen(host, port)) {
        error = listener->errorString().toStdString();
        delete listener;
        return false;
    }
    listener_ = listener;
    bind(listener_);
    pushTimer_.start(kPushIntervalMs);
    sweepTimer_.start(1000);
    return true;
}

uint16_t WebConsole::port() const {
    return listener_ != nullptr ? listener_->serverPort() : 0;
}

void WebConsole::Stop() {
    stopped_ = true;
    pushTimer_.stop();
    sweepTimer_.stop();
    if (listener_ != nullptr) {
        listener_->close();
    }
    std::vector<QWebSocket*> open;
    for (auto& [socket, page] : pages_) {
        open.push_back(socket);
    }
    for (QWebSocket* socket : open) {
        Close(socket, 1001, "the server is shutting down");
    }
}

bool WebConsole::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    listener_->RequestDone(socket);
    // A WebSocket upgrade is taken as handled without an answer; the HTTP server then hands
    // the connection over, and AcceptWebSockets checks its path, Origin and token.
    if (!stopped_ && request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (stopped_) {
        makeResponder(request, socket).write(QHttpServerResponder::StatusCode::ServiceUnavailable);
        return true;
    }
    WebRequest web;
    web.method = MethodName(request.method());
    web.path = request.url().path().toStdString();
    web.authorization = request.value("Authorization").toStdString();
    web.body = request.body().toStdString();
    // The address the listener counted the connection under, so that both agree.
    const auto* guarded = dynamic_cast<const GuardedSocket*>(socket);
    web.remote =
        guarded != nullptr ? guarded->address : request.remoteAddress().toString().toStdString();
    const WebResponse response = routes_.Handle(web, nowMs_());

    QHttpServerResponse answer(
        QByteArray::fromStdString(response.contentType),
        web.method == "HEAD" ? QByteArray() : QByteArray::fromStdString(response.body),
        static_cast<QHttpServerResponder::StatusCode>(response.status));
    answer.addHeader("X-Content-Type-Options", "nosniff");
    answer.addHeader("Referrer-Policy", "no-referrer");
    answer.addHeader("X-Frame-Options", "DENY");
    for (const auto& [name, value] : response.headers) {
        answer.addHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    }
    answer.write(makeResponder(request, socket));
    socket->flush();  // the answer to Exit must leave before the event loop ends
    return true;
}

void WebConsole::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

void WebConsole::AcceptWebSockets() {
    while (hasPendingWebSocketConnections()) {
        QWebSocket* socket = nextPendingWebSocketConnection().release();
        if (socket == nullptr) {
            break;
        }
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        const std::string remote = socket->peerAddress().toString().toStdString();
        // Only this server's own page may open it: a page elsewhere that the operator visits
        // must not reach the console through the operator's browser.
        // Behind a TLS proxy the page's origin is https:// with the same host.
        const QUrl url = socket->requestUrl();
        const QString origin = socket->origin();
        const bool ours = origin == QStringLiteral("http://") + url.authority() ||
                          origin == QStringLiteral("https://") + url.authority();
        if (url.path() != QLatin1String("/ws")) {
            Close(socket, 4404, "no such WebSocket");
        } else if (!ours) {
            Close(socket, 4403, "this page's origin may not connect");
        } else if (routes_.Blocked(remote, nowMs_())) {
            Close(socket, 4429, "too many failed attempts from this address");
        } else if (pages_.size() >= static_cast<size_t>(limits_.webSockets)) {
            Close(socket, 4503, "too many pages open");
        } else {
            socket->setMaxAllowedIncomingMessageSize(kMaxWebSocketMessage);
            socket->setMaxAllowedIncomingFrameSize(kMaxWebSocketMessage);
            pages_[socket] = Page{remote, false, nowMs_()};
            connect(socket, &QWebSocket::textMessageReceived, this,
                    [this, socket](const QString& message) { OnPageMessage(socket, message); });
            connect(socket, &QWebSocket::binaryMessageReceived, this,
                    [socket] { Close(socket, 1003, "text only"); });
            connect(socket, &QWebSocket::disconnected, this,
                    [this, socket] { pages_.erase(socket); });
        }
    }
}

void WebConsole::OnPageMessage(QWebSocket* socket, const QString& message) {
    const auto it = pages_.find(socket);
    if (it == pages_.end() || it->second.signedIn) {
        return;  // a signed-in page has nothing more to say
    }
    const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
    const std::string token = object.value(QStringLiteral("token")).toString().toStdString();
    if (!routes_.CheckToken(token, it->second.remote, nowMs_())) {
        Close(socket, 4401, "the access token is wrong");
        return;
    }
    it->second.signedIn = true;
    socket->sendTextMessage(QString::fromUtf8(snapshot_()));
}

void WebConsole::Push() {
    const double now = nowMs_();
    bool anyone = false;
    std::vector<QWebSocket*> late;
    for (auto& [socket, page] : pages_) {
        if (!page.signedIn && now - page.openedMs > kTokenDeadlineMs) {
            late.push_back(socket);
        }
        anyone = anyone || page.signedIn;
    }
    for (QWebSocket* socket : late) {
        Close(socket, 4401, "no access token given");
    }
    if (!anyone) {
        return;
    }
    const QString text = QString::fromUtf8(snapshot_());
    std::vector<QWebSocket*> slow;
    for (auto& [socket, page] : pages_) {
        if (!page.signedIn) {
            continue;
        }
        if (socket->bytesToWrite() > kMaxUnsentBytes) {
            // A page that does not read is skipped rather than buffered without end.
            page.behindSinceMs = page.behindSinceMs < 0 ? now : page.behindSinceMs;
            if (now - page.behindSinceMs > kSlowPageTimeoutMs) {
                slow.push_back(socket);
            }
            continue;
        }
        page.behindSinceMs = -1;
        socket->sendTextMessage(text);
    }
    for (QWebSocket* socket : slow) {
        socket->abort();
    }
}
