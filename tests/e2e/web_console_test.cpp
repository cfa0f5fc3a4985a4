// The real server's web console: the page and /healthz for anyone, the state, the metrics and
// the console's commands only with the access token, the WebSocket's Origin and token checks,
// request bounds and the back-off of an address that keeps failing.

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "server_process.h"

namespace {

using er_test::Server;

// One request on its own connection; the whole response (headers and the Content-Length of
// body), or what came before the server closed the connection.
std::string Http(uint16_t port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (size_t sent = 0; sent < request.size();) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += size_t(n);
    }
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string response;
    char buffer[65536];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        response.append(buffer, size_t(n));
        const size_t end = response.find("\r\n\r\n");
        std::smatch length;
        if (end != std::string::npos &&
            std::regex_search(response.cbegin(), response.cbegin() + std::ptrdiff_t(end), length,
                              std::regex("Content-Length: ([0-9]+)", std::regex::icase)) &&
            response.size() >= end + 4 + std::stoul(length[1]))
            break;
    }
    close(fd);
    return response;
}

std::string Request(const std::string& method, const std::string& path, const std::string& token,
                    const std::string& body = "", const std::string& extra = "") {
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
           (token.empty() ? "" : "Authorization: Bearer " + token + "\r\n") + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

int Status(const std::string& response) {
    return response.size() > 12 ? std::atoi(response.c_str() + 9) : 0;
}

std::string Body(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? "" : response.substr(end + 4);
}

template <typename Condition>
bool RunUntil(Condition done) {
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         !done() && std::chrono::steady_clock::now() < deadline;)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

struct WebConsoleServer {
    WebConsoleServer() {
        std::filesystem::copy(GAMEDATA_DIR, dir.path(), std::filesystem::copy_options::recursive);
        const std::string errors = server.ErrorsUntil("access token");
        std::smatch match;
        EXPECT_TRUE(std::regex_search(
            errors, match, std::regex("web console at http://127\\.0\\.0\\.1:([0-9]+)/")))
            << errors;
        port = uint16_t(std::stoi(match[1]));
        EXPECT_TRUE(
            std::regex_search(errors, match, std::regex("access token .*: ([0-9a-f]{64})\n")))
            << errors;
        token = match[1];
    }
    er_test::TempDir dir;
    Server server{dir, {"--web-console", "127.0.0.1:0"}};
    uint16_t port = 0;
    std::string token;
};

}  // namespace

TEST(WebConsoleEndToEnd, TheTokenOpensTheStateMetricsAndCommandsAndNothingRunsWithoutIt) {
    WebConsoleServer web;
    struct stat info {};
    ASSERT_EQ(stat((web.dir.path() / "webtoken.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(web.dir.Read("webtoken.txt"), web.token + "\n");

    const std::string& t = web.token;
    const std::string wrong = (t[0] == '0' ? "1" : "0") + t.substr(1);  // one digit off
    const std::string big(20000, 'x');
    struct Case {
        std::string request;
        int status;
        std::string body;  // the answer's start
    };
    const Case cases[] = {
        {Request("GET", "/healthz", ""), 200, "ok\n"},
        {Request("GET", "/", ""), 200, "<!"},
        {Request("GET", "/metrics", ""), 401, "the web console's access token is needed"},
        {Request("GET", "/api/state", wrong), 401, "the web console's"},
        {Request("GET", "/api/command?rain=30", t), 405, "method not allowed"},
        {Request("POST", "/api/command", "", "rain 30"), 401, "the web console's"},
        {Request("POST", "/api/command", t, "frobnicate"), 200,
         "unknown command 'frobnicate'; type help for the list\n"},
        {Request("POST", "/api/command", t, "set port x"), 200, "set: port takes digits only\n"},
        {Request("GET", "/api/state", t, "", "X-Padding: " + big + "\r\n"), 413, ""},
    };
    for (const Case& c : cases) {
        const std::string response = Http(web.port, c.request);
        EXPECT_EQ(Status(response), c.status) << c.request.substr(0, 60) << "\n" << response;
        EXPECT_EQ(Body(response).substr(0, c.body.size()), c.body) << c.request.substr(0, 60);
    }
    // None of them asked for rain (the command sets the field at once); this one does, and it
    // rains from the next clock tick.
    EXPECT_NE(web.server.Ask("").find("New Rain Volume (0-60): 0\n"), std::string::npos);
    EXPECT_EQ(Status(Http(web.port, Request("POST", "/api/command", t, "rain 30"))), 200);
    std::string status;
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         status.find("Is it Raining?: Yes") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline;)
        status = web.server.Ask("");
    EXPECT_NE(status.find("Is it Raining?: Yes"), std::string::npos) << status;

    // The metrics in the text format, as a Prometheus parser reads them.
    const std::string metrics = Body(Http(web.port, Request("GET", "/metrics", t)));
    web.dir.Write("metrics.txt", metrics);
    const std::string parse =
        "/usr/bin/python3 -c 'import sys; from prometheus_client.parser import "
        "text_string_to_metric_families "
        "as p; f = {m.name: m for m in p(open(sys.argv[1]).read())}; "
        "assert f[\"emberrealms_npcs\"].samples[0].value == 23; "
        "assert f[\"emberrealms_raining\"].samples[0].value == 1; print(len(f))' " +
        (web.dir.path() / "metrics.txt").string() + " >/dev/null";
    EXPECT_EQ(std::system(parse.c_str()), 0) << metrics;

    // An address that keeps failing is refused for a while, the right token too.
    for (int i = 0; i < 6; ++i)
        Http(web.port, Request("GET", "/api/state", "wrong"));
    const std::string refused = Http(web.port, Request("GET", "/api/state", t));
    EXPECT_EQ(Status(refused), 429) << refused;
    EXPECT_EQ(Status(Http(web.port, Request("GET", "/healthz", ""))), 429);  // refused on arrival
}

TEST(WebConsoleEndToEnd, TheWebSocketWantsThisOriginAndTheTokenThenPushesTheWorld) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    WebConsoleServer web;
    const QString url = QString("ws://127.0.0.1:%1/ws").arg(web.port);
    const QString origin = QString("http://127.0.0.1:%1").arg(web.port);

    struct Page {
        QWebSocket socket;
        std::vector<QJsonObject> snapshots;
        explicit Page(const QString& origin) : socket(origin) {
            QObject::connect(
                &socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
                    snapshots.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
                });
        }
    };
    // Another origin, then a wrong token: both closed with their codes.
    Page elsewhere("http://attacker.example"), wrong(origin), right(origin);
    for (Page* page : {&elsewhere, &wrong, &right})
        page->socket.open(QUrl(url));
    ASSERT_TRUE(RunUntil([&] {
        return wrong.socket.state() == QAbstractSocket::ConnectedState &&
               right.socket.state() == QAbstractSocket::ConnectedState;
    }));
    wrong.socket.sendTextMessage(R"({"token":"wrong"})");
    right.socket.sendTextMessage(
        QString(R"({"token":"%1"})").arg(QString::fromStdString(web.token)));
    ASSERT_TRUE(RunUntil([&] {
        return elsewhere.socket.closeCode() == 4403 && wrong.socket.closeCode() == 4401 &&
               right.snapshots.size() >= 3;
    })) << elsewhere.socket.closeCode()
        << " " << wrong.socket.closeCode() << " " << right.snapshots.size();
    EXPECT_TRUE(elsewhere.snapshots.empty() && wrong.snapshots.empty());

    const QJsonObject state = right.snapshots.back();
    EXPECT_EQ(state["fields"].toArray().size(), 17);
    EXPECT_EQ(state["fields"].toArray()[0].toArray()[0].toString(), "Session Name:");
    EXPECT_EQ(state["npcs"].toArray().size(), 23);
    EXPECT_EQ(state["npcs"].toArray()[0].toObject()["name"].toString(), "Gate Guard");
    const QJsonObject world = state["world"].toObject();
    EXPECT_EQ(world["width"].toInt(), 960);
    EXPECT_EQ(world["height"].toInt(), 720);
    EXPECT_EQ(world["screens"].toArray().size(), 9);
    EXPECT_TRUE(state["sky"].toObject()["colour"].toString().startsWith("#"));
    EXPECT_FALSE(state["log"].toArray().isEmpty());
}
