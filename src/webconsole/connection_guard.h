#pragma once
// The web console's TCP listener, with the bounds the HTTP layer does not keep: how many
// connections there are (in all and from one address), how many bytes one request may hold
// before its end, and how long a connection may sit with half a request or none. Addresses in
// back-off for failed tokens are answered 429 and closed before any byte is read.
//
// The HTTP server reads each connection through the socket's readyRead; the guard's own slot
// is connected first, so it sees every new byte before the parser does. A WebSocket upgrade
// takes the socket away from the parser (its readyRead slots are disconnected); from then on
// the WebSocket's own limits apply and the guard only counts the connection.

#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

class GuardedTcpServer;

// The peer's address of a connected socket, as QHostAddress writes it; empty when unknown.
std::string PeerAddress(qintptr descriptor);

class GuardedSocket final : public QTcpSocket {
public:
    explicit GuardedSocket(GuardedTcpServer* guard);
    ~GuardedSocket() override;

    std::string address;
    int64_t requestBytes = 0;    // of the request being received
    double requestStartMs = -1;  // when its first byte came; negative: between requests
    double lastActivityMs = 0;
    bool upgraded = false;

protected:
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    friend class GuardedTcpServer;

    // The peer's address of a connected socket, as QHostAddress writes it; empty when unknown.
    std::string PeerAddress(qintptr descriptor);
    GuardedTcpServer* guard_;
};

class GuardedTcpServer final : public QTcpServer {
public:
    struct Limits {
        int32_t connections = 64;
        int32_t connectionsPerAddress = 8;
        int64_t requestBytes = 16 * 1024;  // request line, headers and body
        int64_t readBuffer = 64 * 1024;
        double requestTimeoutMs = 10000;  // from a request's first byte to its end
        double idleTimeoutMs = 60000;     // between requests
    };

    // `refused(address, nowMs)` answers whether an address is in back-off; `nowMs` is the
    // clock of every deadline.
    GuardedTcpServer(Limits limits, std::function<bool(const std::string&)> refused,
                     std::function<double()> nowMs, QObject* parent);
    ~GuardedTcpServer() override;

    // A request ended: the connection's count starts again for the next one.
    void RequestDone(QTcpSocket* socket);
    // Closes connections past their deadlines; the owner calls it about once a second.
    void Sweep();

    int32_t connectionCount() const { return static_cast<int32_t>(sockets_.size()); }
    size_t addressCount() const { return perAddress_.size(); }
    int64_t refusedCount() const { return refused_; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class GuardedSocket;
    void Forget(GuardedSocket* socket);
    void CountBytes(GuardedSocket* socket);
    static void Refuse(QTcpSocket* socket, const char* status);

    Limits limits_;
    std::function<bool(const std::string&)> refusedAddress_;
    std::function<double()> nowMs_;
    std::unordered_map<GuardedSocket*, bool> sockets_;
    std::unordered_map<std::string, int32_t> perAddress_;
    int64_t refused_ = 0;
};
