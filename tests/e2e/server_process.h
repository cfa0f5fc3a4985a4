#pragma once
// The real server as a child process on its terminal console, through pipes, for tests that
// drive it with clients over loopback UDP.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/udp_test_client.h"

namespace er_test {

inline const dplay8::Guid kApp = {
    0xEDE9493E, 0x6AC8, 0x4F15, {0x8D, 0x01, 0x8B, 0x16, 0x32, 0x00, 0xB9, 0x66}};

struct Server {
    explicit Server(const er_test::TempDir& dir, std::vector<std::string> extra = {}) {
        int in[2], out[2], err[2];
        EXPECT_EQ(pipe(in) | pipe(out) | pipe(err), 0);
        pid = fork();
        if (pid == 0) {
            dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2);
            setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);  // its own control socket
            unsetenv("RUNTIME_DIRECTORY");
            unsetenv("DISPLAY"), unsetenv("WAYLAND_DISPLAY");
            std::vector<const char*> argv = {SERVER_PATH, "--headless", "--data", dir.path().c_str()};
            for (const std::string& argument : extra)
                argv.push_back(argument.c_str());
            argv.push_back(nullptr);
            execv(SERVER_PATH, const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        close(in[0]), close(out[1]), close(err[1]);
        input = in[1], output = out[0], errors = err[0];
        fcntl(output, F_SETFL, O_NONBLOCK), fcntl(errors, F_SETFL, O_NONBLOCK);
    }
    ~Server() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0)
            kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
        close(input), close(output), close(errors);
    }
    // Runs a command, then status, whose last line ends the answer; pumps the clients meanwhile.
    // Returns the command's answer, or the status listing when the command is empty.
    std::string Ask(const std::string& command, std::vector<UdpTestClient*> pumped = {}) {
        const std::string line = command + "\nstatus\n", last = "New Rain Volume (0-60): ";
        EXPECT_EQ(write(input, line.data(), line.size()), ssize_t(line.size()));
        std::string got;
        for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
             (got.find(last) == std::string::npos || got.back() != '\n') &&
             std::chrono::steady_clock::now() < deadline;) {
            for (UdpTestClient* client : pumped)
                client->PumpFor(1);
            pollfd p{output, POLLIN, 0};
            poll(&p, 1, 5);
            char buffer[4096];
            for (ssize_t n; (n = read(output, buffer, sizeof buffer)) > 0;)
                got.append(buffer, size_t(n));
        }
        return command.empty() ? got : got.substr(0, got.find("Session Name: "));
    }
    // What the server has written to standard error by the time `wanted` is among it (or 20 s).
    std::string ErrorsUntil(const std::string& wanted) {
        for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             errorText.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < deadline;) {
            pollfd p{errors, POLLIN, 0};
            poll(&p, 1, 20);
            char buffer[4096];
            for (ssize_t n; (n = read(errors, buffer, sizeof buffer)) > 0;)
                errorText.append(buffer, size_t(n));
        }
        return errorText;
    }
    std::string Players(long count, std::vector<UdpTestClient*> pumped) {
        // Until the count is listed (a join handled on a busy machine may take a while).
        std::string got;
        for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             std::count(got.begin(), got.end(), '\n') != count &&
             std::chrono::steady_clock::now() < deadline;)
            got = Ask("players", pumped);
        return got;
    }
    int Wait(const std::string& commands) {  // for the end of the program
        int status = -1;
        EXPECT_EQ(write(input, commands.data(), commands.size()), ssize_t(commands.size()));
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        pid = -1;
        return status;
    }
    pid_t pid;
    int input, output, errors;
    std::string errorText;
};

inline uint16_t FreeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof sa;
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
    close(fd);
    return ntohs(sa.sin_port);
}

// The server's resident memory in KiB, from /proc.
inline long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// Starts hosting on a free port and returns it once the server says so.
inline uint16_t StartHosting(Server& server) {
    const uint16_t port = FreeUdpPort();
    const std::string setPort = "set port " + std::to_string(port) + "\nstart\n";
    for (int i = 0;
         i < 100 && server.Ask(i == 0 ? setPort : "").find("Server started.") == std::string::npos;
         ++i) {
    }
    return port;
}

}  // namespace er_test
