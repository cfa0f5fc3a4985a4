// The web console's bounds on what a remote client can make it hold, on real loopback sockets
// with the clock in the test's hand: connections from one address, unfinished requests, idle
// connections, WebSocket pages that never give a token, and how many pages may be open.

#include <QCoreApplication>
#include <QTcpSocket>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "webconsole/web_console.h"

namespace {

template <typename Condition>
bool RunUntil(Condition done) {
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         !done() && std::chrono::steady_clock::now() < deadline;)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10),
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return done();
}

struct App {
    int argc = 1;
    char name[8] = "test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
};

// A console on a port the system chooses, with `now` as its clock; null if it cannot listen.
std::unique_ptr<WebConsole> Listening(const double& now, WebConsoleLimits limits) {
    auto console = std::make_unique<WebConsole>(
        "token",
        WebActions{[](std::string_view) { return std::string(); }, [] { return std::string(); },
                   [] { return std::string(); }},
        [] { return QByteArray("{}"); }, [&now] { return now; }, limits);
    std::string error;
    return console->Listen("127.0.0.1", 0, error) ? std::move(console) : nullptr;
}

std::unique_ptr<QTcpSocket> Connect(uint16_t port) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket;
}

}  // namespace

TEST(WebConsoleBounds, ConnectionsPerAddressUnfinishedRequestsAndIdleConnectionsAreCut) {
    App app;
    double now = 0;
    GuardedTcpServer server(
        {.connectionsPerAddress = 3, .requestTimeoutMs = 10000, .idleTimeoutMs = 60000},
        [](const std::string&) { return false; }, [&] { return now; }, nullptr);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    std::vector<QTcpSocket*> accepted;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = server.nextPendingConnection())
            accepted.push_back(s);
    });
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(Connect(server.serverPort()));
    // The fourth from the same address is answered 503 and closed.
    ASSERT_TRUE(RunUntil([&] { return accepted.size() == 3 && clients[3]->bytesAvailable() > 0; }));
    EXPECT_TRUE(clients[3]->readAll().startsWith("HTTP/1.1 503"));
    EXPECT_EQ(server.connectionCount(), 3);
    EXPECT_EQ(server.refusedCount(), 1);

    // One client sends half a request, one nothing; a third finishes its request in time.
    clients[0]->write("GET /api/state HTTP/1.1\r\nHost: x\r\n");
    clients[2]->write("GET / HTTP/1.1\r\n");
    ASSERT_TRUE(RunUntil(
        [&] { return accepted[0]->bytesAvailable() > 0 && accepted[2]->bytesAvailable() > 0; }));
    server.RequestDone(accepted[2]);
    now = 10001;  // past the request deadline, not past the idle one
    server.Sweep();
    ASSERT_TRUE(RunUntil([&] { return clients[0]->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(clients[1]->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(clients[2]->state(), QAbstractSocket::ConnectedState);
    now = 60002;  // every connection idle past the limit
    server.Sweep();
    ASSERT_TRUE(RunUntil([&] {
        return clients[1]->state() == QAbstractSocket::UnconnectedState &&
               clients[2]->state() == QAbstractSocket::UnconnectedState &&
               server.connectionCount() == 0;
    }));
    EXPECT_EQ(server.addressCount(), 0u);  // no address is remembered once its connections are gone
}

TEST(WebConsoleBounds, AConnectionMayCarryManyRequestsButNotHalfOneForLong) {
    App app;
    double now = 0;
    auto console = Listening(now, {});
    ASSERT_NE(console, nullptr);
    // Three requests of 7 KiB each on one connection: each is counted on its own.
    auto kept = Connect(console->port());
    QByteArray answers;
    QObject::connect(kept.get(), &QTcpSocket::readyRead, [&] { answers += kept->readAll(); });
    const QByteArray request =
        "GET /healthz HTTP/1.1\r\nHost: x\r\nX-Padding: " + QByteArray(7000, 'x') + "\r\n\r\n";
    for (int i = 1; i <= 3; ++i) {
        kept->write(request);
        ASSERT_TRUE(RunUntil([&] { return answers.count("HTTP/1.1 200") == i; }))
            << answers.left(200).toStdString();
    }
    // Half a request is cut once it is 10 s old, by the console's own sweep.
    auto half = Connect(console->port());
    half->write("GET / HTTP/1.1\r\n");
    ASSERT_TRUE(RunUntil([&] { return half->bytesToWrite() == 0; }));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    now = 10001;
    ASSERT_TRUE(RunUntil([&] { return half->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(kept->state(), QAbstractSocket::ConnectedState);
}

TEST(WebConsoleBounds, PagesWithoutATokenAreClosedAndNoMoreThanTheLimitStayOpen) {
    App app;
    double now = 0;
    auto console = Listening(now, {.webSockets = 3});
    ASSERT_NE(console, nullptr);
    const QString origin = QString("http://127.0.0.1:%1").arg(console->port());
    std::vector<std::unique_ptr<QWebSocket>> pages;
    for (int i = 0; i < 4; ++i) {
        pages.push_back(std::make_unique<QWebSocket>(origin));
        pages.back()->open(QUrl(QString("ws://127.0.0.1:%1/ws").arg(console->port())));
        // One after the other, so that the fourth is the one over the limit.
        ASSERT_TRUE(
            RunUntil([&] { return pages.back()->state() != QAbstractSocket::ConnectingState; }));
    }
    // The fourth is closed at once; the others wait for their token.
    ASSERT_TRUE(RunUntil([&] {
        return console->webSocketCount() == 3 && pages[3]->closeCode() == 4503;
    })) << console->webSocketCount()
        << " " << pages[3]->closeCode();
    pages[0]->sendTextMessage(R"({"token":"token"})");
    int received = 0;
    QObject::connect(pages[0].get(), &QWebSocket::textMessageReceived, [&] { ++received; });
    ASSERT_TRUE(RunUntil([&] { return received > 0; }));
    now = WebConsole::kTokenDeadlineMs + 1;  // the next push closes the pages still without one
    ASSERT_TRUE(RunUntil([&] {
        return console->webSocketCount() == 1 && pages[1]->closeCode() == 4401 &&
               pages[2]->closeCode() == 4401;
    })) << console->webSocketCount();
    EXPECT_EQ(pages[0]->state(), QAbstractSocket::ConnectedState);
}
