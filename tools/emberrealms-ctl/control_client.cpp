#include "control_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::optional<std::pair<std::string, std::size_t>> UnframeAnswer(std::string_view framed) {
    std::string answer;
    std::size_t start = 0;
    for (std::size_t end; (end = framed.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
        std::string_view line = framed.substr(start, end - start);
        if (line == ".") {
            return std::pair(answer, end + 1);
        }
        if (line.starts_with('.')) {
            line.remove_prefix(1);
        }
        answer.append(line);
        answer += '\n';
    }
    return std::nullopt;
}

ControlClient::~ControlClient() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool ControlClient::Connect(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "the socket path is too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot reach a server at " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<std::string> ControlClient::Ask(std::string_view command) {
    std::string line(command);
    line += '\n';
    // A server that refuses the connection has already answered and closed it: what it
    // said is still read when the command cannot be sent.
    for (std::size_t sent = 0; sent < line.size();) {
        const ssize_t n = send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        sent += std::size_t(n);
    }
    for (;;) {
        if (auto answer = UnframeAnswer(received_)) {
            received_.erase(0, answer->second);
            return std::move(answer->first);
        }
        char buffer[4096];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        received_.append(buffer, std::size_t(n));
    }
}
