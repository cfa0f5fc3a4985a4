#pragma once
// A connection to a server's control socket: one command out, its answer block back.

#include <optional>
#include <string>
#include <string_view>

class ControlClient {
public:
    ControlClient() = default;
    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    // False, with `error`, when nothing answers at `path`.
    bool Connect(const std::string& path, std::string& error);
    // Sends one command line and returns its answer, without the block's end and with the
    // dot-stuffing taken off; nothing when the server went away.
    std::optional<std::string> Ask(std::string_view command);

private:
    int fd_ = -1;
    std::string received_;  // bytes read past the last answer
};

// Takes the block framing off what the socket sent: the answer, and how many bytes of `framed`
// it used; nothing while the block is incomplete.
std::optional<std::pair<std::string, std::size_t>> UnframeAnswer(std::string_view framed);
