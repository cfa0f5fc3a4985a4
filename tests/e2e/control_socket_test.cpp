// The real server's control socket, driven as emberrealms-ctl drives it: the console's
// commands and answers, a player joining over loopback UDP, several operators at once, and
// bad input that gets a one-line error or nothing.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console/control_socket.h"
#include "control_client.h"
#include "server_process.h"

namespace {

using er_test::FreeUdpPort;
using er_test::kApp;
using er_test::Server;
using er_test::UdpTestClient;

// Connects once the server has made its socket.
std::unique_ptr<ControlClient> Operator(const std::string& path) {
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        auto client = std::make_unique<ControlClient>();
        std::string error;
        if (client->Connect(path, error))
            return client;
    }
    ADD_FAILURE() << "no control socket at " << path;
    return nullptr;
}

// A Unix-domain socket of `type` bound or connected to `path`.
int UnixSocket(int type, const std::string& path, int (*attach)(int, const sockaddr*, socklen_t)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, type, 0);
    EXPECT_EQ(attach(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    return fd;
}

// emberrealms-ctl with `arguments`, reading `input` (plain words and newlines); its output
// and exit code.
std::string RunCtl(const std::string& arguments, const std::string& input = "") {
    std::string out;
    const std::string command = "printf '" + input + "' | " + CTL_PATH + " " + arguments + " 2>&1";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        out += "rc=" + std::to_string(WEXITSTATUS(pclose(pipe)));
    }
    return out;
}

// What the server tells a service manager, in order, as `NOTIFY_SOCKET` receives it.
struct ServiceManager {
    explicit ServiceManager(const std::string& path) : fd(UnixSocket(SOCK_DGRAM, path, bind)) {
        timeval wait{20, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~ServiceManager() { close(fd); }
    std::string Next() {
        char buffer[512];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, size_t(n)) : "(nothing)";
    }
    int fd;
};

TEST(ControlSocketEndToEnd, OperatorsRunTheConsoleCommandsAndBadInputHarmsNothing) {
    er_test::TempDir dir;
    ServiceManager manager((dir.path() / "notify").string());
    setenv("NOTIFY_SOCKET", (dir.path() / "notify").c_str(), 1);
    Server server(dir);
    unsetenv("NOTIFY_SOCKET");
    const std::string path = (dir.path() / "emberrealms" / "control.sock").string();
    auto op = Operator(path);
    ASSERT_TRUE(op);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::owner_exec);
    // The same words and answers as the terminal console.
    EXPECT_EQ(op->Ask("status"), server.Ask(""));
    EXPECT_EQ(op->Ask("frobnicate"), "unknown command 'frobnicate'; type help for the list\n");
    const uint16_t port = FreeUdpPort();
    EXPECT_EQ(op->Ask("set port " + std::to_string(port)), "");
    EXPECT_EQ(op->Ask("start"), "");
    EXPECT_EQ(manager.Next(), "READY=1\nSTATUS=Server started.");
    UdpTestClient ann(port);
    ASSERT_TRUE(ann.Join(u"Ann", kApp));
    std::string players;
    for (int i = 0; i < 500 && (players = *op->Ask("players")) != "0 Ann\n"; ++i)
        ann.PumpFor(10);
    EXPECT_EQ(players, "0 Ann\n");
    EXPECT_EQ(RunCtl("--socket " + path + " players"), "0 Ann\nrc=0");
    EXPECT_EQ(RunCtl("--socket=" + path), "rc=0");  // commands from a pipe: none
    EXPECT_EQ(RunCtl("--socket " + path, "players\\nkick\\nplayers\\n"), "0 Ann\n0 Ann\nrc=0");
    const std::string usage = RunCtl("--bogus");
    EXPECT_TRUE(usage.starts_with("usage: emberrealms-ctl") && usage.ends_with("rc=2")) << usage;
    EXPECT_EQ(op->Ask("rain 30"), "");
    EXPECT_NE(op->Ask("status")->find("New Rain Volume (0-60): 30\n"), std::string::npos);

    // An overlong line, a line cut off by a client that goes away, and more operators than
    // the socket serves: one-line errors or nothing, and the first operator still served. A
    // raw connection sends what emberrealms-ctl never would.
    const int raw = UnixSocket(SOCK_STREAM, path, connect);
    const std::string overlong(5000, 'x');
    ASSERT_EQ(write(raw, (overlong + "\nstatus").data(), overlong.size() + 7),
              ssize_t(overlong.size() + 7));
    const std::string refusal = "error: a command line is at most 4096 bytes\n.\n";
    std::string reply(refusal.size(), '\0');
    for (size_t got = 0; got < reply.size();) {
        const ssize_t n = read(raw, reply.data() + got, reply.size() - got);
        ASSERT_GT(n, 0);
        got += size_t(n);
    }
    EXPECT_EQ(reply, refusal);
    close(raw);  // mid-command
    std::vector<std::unique_ptr<ControlClient>> crowd;
    for (int i = 0; i < 20; ++i)
        crowd.push_back(Operator(path));
    int refused = 0;
    for (auto& other : crowd) {
        const auto answer = other->Ask("players");
        refused += answer == "error: too many operators connected\n";
        EXPECT_TRUE(answer == "0 Ann\n" || answer == "error: too many operators connected\n");
    }
    // Sixteen at once: the first operator and fifteen more, or fourteen while the server has
    // yet to see the cut-off connection go.
    EXPECT_TRUE(refused == 5 || refused == 6) << refused;
    crowd.clear();
    EXPECT_EQ(op->Ask("players"), "0 Ann\n");

    {
        // A second server cannot host on the same port: the service manager hears why.
        er_test::TempDir second;
        ServiceManager secondManager((second.path() / "notify").string());
        setenv("NOTIFY_SOCKET", (second.path() / "notify").c_str(), 1);
        Server late(second);
        unsetenv("NOTIFY_SOCKET");
        EXPECT_EQ(late.Wait("set port " + std::to_string(port) + "\nstart\n"), 0);
        EXPECT_EQ(secondManager.Next(), "STATUS=Error Starting Server! (UDP port " +
                                            std::to_string(port) + " could not be hosted)");
        EXPECT_EQ(secondManager.Next(), "STOPPING=1");
    }
    EXPECT_EQ(RunCtl("--socket " + path + " exit"), "rc=0");
    EXPECT_EQ(manager.Next(), "STOPPING=1");
    int status = -1;
    EXPECT_EQ(waitpid(server.pid, &status, 0), server.pid);
    server.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(RunCtl("--socket " + path + " status").substr(0, 44),
              "emberrealms-ctl: cannot reach a server at " + path.substr(0, 2));
}

TEST(ControlSocketFraming, AnswersComeBackWholeWhateverTheirLinesHold) {
    for (const std::string answer : {"", "a\n", ".\n", "..x\nb\n", ".\n.\n", "no end", "\n\n"}) {
        const std::string framed = FrameAnswer(answer), twice = framed + FrameAnswer("next\n");
        const std::string whole = answer.empty() || answer.back() == '\n' ? answer : answer + "\n";
        EXPECT_EQ(UnframeAnswer(twice), std::pair(whole, framed.size())) << answer;
        EXPECT_EQ(UnframeAnswer(framed.substr(0, framed.size() - 1)), std::nullopt) << answer;
        EXPECT_EQ(framed.find("\n.\n"), framed.size() - 3) << answer;  // no early end
    }
}

}  // namespace
