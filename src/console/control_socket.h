#pragma once
// The terminal console's commands on a Unix-domain socket, so that a headless server (one
// under a service manager has no standard input) can be run by its operators with
// emberrealms-ctl. Several operators at once, one command a line in UTF-8, and each answer
// in a block that ends with a line holding only "."; an answer line that itself begins with
// "." is sent with one more "." in front, which the client takes off. The socket is the
// owner's alone, in a folder only the owner may enter when the server creates it.

#include <QObject>

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

#include "console/terminal_commands.h"

class QLocalServer;
class QLocalSocket;

// An answer as the socket sends it: dot-stuffed, every line ended, then ".".
std::string FrameAnswer(std::string_view answer);

class ControlSocket final : public QObject {
public:
    static constexpr int kMaxClients = 16;
    static constexpr std::size_t kMaxLine = 4096;     // bytes, without the newline
    static constexpr long long kMaxUnsent = 1 << 20;  // a client that stops reading goes

    explicit ControlSocket(ConsoleCommands& commands);
    ~ControlSocket() override;

    // Listens at `path`. False, with `error`, when another server answers there or the path
    // cannot be bound; a socket file nobody answers on is replaced.
    bool Listen(const std::string& path, std::string& error);
    const std::string& path() const { return path_; }

private:
    struct Client {
        std::string pending;    // bytes of the line being received
        bool overlong = false;  // the line passed kMaxLine: its rest is skipped
    };
    void Accept();
    void Read(QLocalSocket* socket);
    void Send(QLocalSocket* socket, const std::string& text);

    TerminalCommands commands_;
    QLocalServer* server_;
    std::unordered_map<QLocalSocket*, Client> clients_;
    std::string path_;
};
