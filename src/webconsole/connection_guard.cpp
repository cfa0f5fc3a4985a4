#include "webconsole/connection_guard.h"

#include <QHostAddress>
#include <QMetaMethod>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

GuardedSocket::GuardedSocket(GuardedTcpServer* guard) : QTcpSocket(guard), guard_(guard) {}

GuardedSocket::~GuardedSocket() {
    if (guard_ != nullptr) {
        guard_->Forget(this);
    }
}

void GuardedSocket::disconnectNotify(const QMetaMethod& signal) {
    // The HTTP server lets go of the socket's reads only when it hands it to a WebSocket (or
    // gives up on a request it cannot parse, which the sweep then closes as unfinished).
    if (signal == QMetaMethod::fromSignal(&QTcpSocket::readyRead) &&
        !isSignalConnected(QMetaMethod::fromSignal(&QTcpSocket::readyRead)) &&
        state() == QAbstractSocket::ConnectedState) {
        upgraded = true;
    }
    QTcpSocket::disconnectNotify(signal);
}

GuardedTcpServer::GuardedTcpServer(Limits limits, std::function<bool(const std::string&)> refused,
                                   std::function<double()> nowMs, QObject* parent)
    : QTcpServer(parent),
      limits_(limits),
      refusedAddress_(std::move(refused)),
      nowMs_(std::move(nowMs)) {}

GuardedTcpServer::~GuardedTcpServer() {
    // The sockets are children and go with the server; they must not call back into it.
    for (auto& [socket, unused] : sockets_) {
        socket->guard_ = nullptr;
    }
}

void GuardedTcpServer::Refuse(QTcpSocket* socket, const char* status) {
    const QByteArray answer =
        QByteArray("HTTP/1.1 ") + status + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    socket->write(answer);
    socket->disconnectFromHost();
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
    }
}

std::string PeerAddress(qintptr descriptor) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(static_cast<int>(descriptor), reinterpret_cast<sockaddr*>(&peer), &length) !=
        0) {
        return {};
    }
    return QHostAddress(reinterpret_cast<const sockaddr*>(&peer)).toString().toStdString();
}

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    const std::string address = PeerAddress(descriptor);
    const char* refusal = nullptr;
    if (refusedAddress_(address)) {
        refusal =
            "HTTP/1.1 429 Too Many Requests\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    } else if (connectionCount() >= limits_.connections ||
               perAddress_[address] >= limits_.connectionsPerAddress) {
        refusal =
            "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    }
    if (refusal != nullptr) {
        // Answered and closed on the spot, without a socket object: a flood from a refused
        // address costs an accept, a short write and a close.
        ++refused_;
        [[maybe_unused]] const ssize_t sent =
            ::send(static_cast<int>(descriptor), refusal, std::strlen(refusal),
                   MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(static_cast<int>(descriptor), SHUT_WR);
        ::close(static_cast<int>(descriptor));
        return;
    }
    auto* socket = new GuardedSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        socket->guard_ = nullptr;
        delete socket;
        return;
    }
    socket->address = address;
    socket->lastActivityMs = nowMs_();
    sockets_.emplace(socket, true);
    ++perAddress_[socket->address];
    socket->setReadBufferSize(limits_.readBuffer);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { CountBytes(socket); });
    addPendingConnection(socket);
}

void GuardedTcpServer::CountBytes(GuardedSocket* socket) {
    const double now = nowMs_();
    socket->lastActivityMs = now;
    if (socket->requestStartMs < 0) {
        socket->requestStartMs = now;
    }
    // The parser has taken every byte before this signal, so what is available is new.
    socket->requestBytes += socket->bytesAvailable();
    if (socket->requestBytes > limits_.requestBytes) {
        socket->disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
        socket->upgraded = false;
        Refuse(socket, "413 Content Too Large");
    }
}

void GuardedTcpServer::RequestDone(QTcpSocket* socket) {
    if (auto* guarded = dynamic_cast<GuardedSocket*>(socket); guarded != nullptr) {
        guarded->requestBytes = 0;
        guarded->requestStartMs = -1;
        guarded->lastActivityMs = nowMs_();
    }
}

void GuardedTcpServer::Sweep() {
    const double now = nowMs_();
    std::vector<GuardedSocket*> late;
    for (auto& [socket, unused] : sockets_) {
        if (socket->upgraded) {
            continue;
        }
        const bool unfinished =
            socket->requestStartMs >= 0 && now - socket->requestStartMs > limits_.requestTimeoutMs;
        const bool idle = now - socket->lastActivityMs > limits_.idleTimeoutMs;
        if (unfinished || idle) {
            late.push_back(socket);
        }
    }
    for (GuardedSocket* socket : late) {
        socket->abort();
        socket->deleteLater();
    }
}

void GuardedTcpServer::Forget(GuardedSocket* socket) {
    if (sockets_.erase(socket) == 0) {
        return;
    }
    if (auto it = perAddress_.find(socket->address); it != perAddress_.end() && --it->second <= 0) {
        perAddress_.erase(it);
    }
}
