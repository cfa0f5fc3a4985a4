#include "console/control_socket.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "console/terminal_console.h"

std::string FrameAnswer(std::string_view answer) {
    std::string out;
    out.reserve(answer.size() + 4);
    std::size_t start = 0;
    while (start < answer.size()) {
        std::size_t end = answer.find('\n', start);
        if (end == std::string_view::npos) {
            end = answer.size();
        }
        if (answer[start] == '.') {
            out += '.';
        }
        out.append(answer.substr(start, end - start));
        out += '\n';
        start = end + 1;
    }
    return out + ".\n";
}

ControlSocket::ControlSocket(ConsoleCommands& commands)
    : commands_(commands), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->setMaxPendingConnections(kMaxClients);
    connect(server_, &QLocalServer::newConnection, this, [this] { Accept(); });
}

ControlSocket::~ControlSocket() {
    for (auto& [socket, client] : clients_) {
        socket->disconnect(this);
    }
    server_->close();  // removes the socket file
}

bool ControlSocket::Listen(const std::string& path, std::string& error) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder)) {
        // Only the owner may enter a folder we make; an existing one is left as it is.
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + folder.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    const QString name = QString::fromStdString(path);
    {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(200)) {
            error = "another server answers on " + path;
            return false;
        }
    }
    QLocalServer::removeServer(name);  // a file left by a server that is gone
    if (!server_->listen(name)) {
        error = "cannot listen on " + path + ": " + server_->errorString().toStdString();
        return false;
    }
    path_ = path;
    return true;
}

void ControlSocket::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (clients_.size() >= kMaxClients) {
            socket->write(FrameAnswer("error: too many operators connected\n").c_str());
            socket->flush();
            socket->disconnectFromServer();
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        clients_.emplace(socket, Client{});
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            clients_.erase(socket);
            socket->deleteLater();
        });
    }
}

void ControlSocket::Read(QLocalSocket* socket) {
    auto it = clients_.find(socket);
    if (it == clients_.end()) {
        return;
    }
    const QByteArray bytes = socket->readAll();
    for (const char byte : bytes) {
        it = clients_.find(socket);  // a command may have closed the server and its clients
        if (it == clients_.end()) {
            return;
        }
        Client& client = it->second;
        if (byte != '\n') {
            if (client.pending.size() < kMaxLine) {
                client.pending += byte;
            } else {
                client.overlong = true;
            }
            continue;
        }
        std::string line = std::move(client.pending);
        client.pending.clear();
        if (std::exchange(client.overlong, false)) {
            Send(socket, FrameAnswer("error: a command line is at most " +
                                     std::to_string(kMaxLine) + " bytes\n"));
            continue;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string answer = commands_.Execute(TerminalLineToText(line));
        Send(socket, FrameAnswer(TextToTerminal(answer)));
    }
}

void ControlSocket::Send(QLocalSocket* socket, const std::string& text) {
    socket->write(text.data(), static_cast<qint64>(text.size()));
    socket->flush();
    if (socket->bytesToWrite() > kMaxUnsent) {
        socket->abort();  // it asks and does not read: it holds no more of our memory
    }
}
