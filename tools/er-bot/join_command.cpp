// er-bot join: one player, driven by the lines of standard input, printing what it receives.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>
#include <string>

#include "bot_command.h"
#include "client_messages.h"
#include "commands.h"
#include "dplay8/udp_host.h"
#include "game_session.h"
#include "game_text.h"
#include "roster.h"
#include "udp_socket.h"
#include "visible_text.h"

namespace er_bot {

namespace {

using dplay8::Millis;

// How long a leave may wait for the host to acknowledge it.
constexpr Millis kLeaveTimeout = 3000;
// Commands wait for the Welcome, the server's first game message, as the server is ready for
// them only then; should it be lost on the way, this long after the join.
constexpr Millis kWelcomeWait = 1000;
// A line longer than this is no command; it is refused rather than held.
constexpr size_t kMaxLine = 4096;

class JoinClient {
public:
    JoinClient(const JoinOptions& options, const sockaddr_in& server, int fd)
        : options_(options), server_(server), fd_(fd), roster_(Utf8ToCp1252(options.name)) {}

    int Run() {
        const Millis started = dplay8::MonotonicMillis();
        dplay8::ClientConfig config =
            GameClientConfig(Utf8ToUtf16(options_.name), uint32_t(std::random_device{}()));
        if (options_.application)
            config.application = *options_.application;
        session_.emplace(std::move(config), started);
        const Millis joinDeadline = started + options_.timeoutMs;
        for (;;) {
            Millis now = dplay8::MonotonicMillis();
            Flush(now);
            Millis wake = session_->NextTimeout();
            if (!joined_)
                wake = std::min(wake, joinDeadline);
            if (leaving_)
                wake = std::min(wake, leaveDeadline_);
            if (joined_ && !welcomed_)
                wake = std::min(wake, joinedAt_ + kWelcomeWait);
            pollfd fds[2] = {{fd_, POLLIN, 0}, {0, POLLIN, 0}};
            const nfds_t count = inputOpen_ ? 2 : 1;
            poll(fds, count, int(std::clamp<Millis>(wake - now, 0, 1000)));
            now = dplay8::MonotonicMillis();
            if (!Receive(now))
                return Fail("no game server at " + AddressText(server_) + " (port closed)");
            if (now >= session_->NextTimeout())
                session_->HandleTimeout(now);
            if (const int code = HandleEvents(); code >= 0)
                return code;
            if (!joined_ && now >= joinDeadline)
                return Fail("the join timed out after " + std::to_string(options_.timeoutMs) +
                            " ms");
            if (leaving_ && now >= leaveDeadline_)
                return Fail("the host did not acknowledge the leave");
            if (inputOpen_ && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
                ReadInput();
            if (joined_ && !leaving_ && (welcomed_ || now >= joinedAt_ + kWelcomeWait))
                RunCommands(now);
        }
    }

private:
    int Fail(const std::string& message) {
        std::fflush(stdout);
        std::fprintf(stderr, "er-bot: %s\n", message.c_str());
        return 1;
    }

    void Flush(Millis now) {
        while (session_->PollTransmit(now, out_))
            send(fd_, out_.data(), out_.size(), 0);
    }

    // False when the kernel says nothing listens at the server's port.
    bool Receive(Millis now) {
        for (;;) {
            const ssize_t got = recv(fd_, buffer_, sizeof buffer_, 0);
            if (got < 0)
                return errno != ECONNREFUSED || joined_;
            session_->HandleDatagram(dplay8::ByteSpan(buffer_, size_t(got)), now);
        }
    }

    // The exit code once the session is over, else -1.
    int HandleEvents() {
        while (auto e = session_->PollEvent()) {
            switch (e->type) {
                case dplay8::ClientEventType::kJoined:
                    joined_ = true;
                    joinedAt_ = dplay8::MonotonicMillis();
                    std::printf("Joined you=0x%08X host=%s\n", e->joined.dpnid,
                                AddressText(server_).c_str());
                    break;
                case dplay8::ClientEventType::kConnectFailed:
                    if (e->result != dplay8::kErrGeneric)
                        return Fail("the host refused the join: CONNECT_FAILED " +
                                    HResultText(e->result));
                    return Fail("no answer from " + AddressText(server_));
                case dplay8::ClientEventType::kMessage: {
                    roster_.Apply(e->data);
                    const auto type = ReadMessageType(e->data);
                    welcomed_ |= type == kMsgWelcome;
                    if (!type || !options_.hidden.contains(*type))
                        std::printf("%s\n", FormatGameMessage(e->data).c_str());
                    break;
                }
                case dplay8::ClientEventType::kTerminated:
                    std::printf("Left reason=\"%s\"\n", e->terminated_by_host
                                                            ? "removed by the host"
                                                            : ReasonText(e->reason));
                    if (leaving_ && e->reason == dplay8::DisconnectReason::kClosedLocally)
                        return 0;
                    return Fail("the session ended");
                case dplay8::ClientEventType::kInfoUpdated:
                    break;
            }
        }
        return -1;
    }

    void ReadInput() {
        char chunk[4096];
        const ssize_t got = read(0, chunk, sizeof chunk);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                return;
            inputOpen_ = false;
            if (!partial_.empty())
                lines_.push_back(std::move(partial_));
            return;
        }
        partial_.append(chunk, size_t(got));
        for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
        if (partial_.size() > kMaxLine) {
            std::fprintf(stderr, "er-bot: a line of more than %zu bytes ignored\n", kMaxLine);
            partial_.clear();
        }
    }

    void Send(std::span<const uint8_t> message, Millis now) {
        // Guaranteed, so that a scripted line is never lost on the way.
        if (session_->Send(message, {.guaranteed = true}, now))
            std::printf("Sent %s\n", FormatClientMessage(message).c_str());
    }

    void RunCommands(Millis now) {
        using Kind = BotCommand::Kind;
        while (!lines_.empty() && !leaving_) {
            const std::string line = std::move(lines_.front());
            lines_.pop_front();
            BotCommand c;
            std::string error;
            if (!ParseBotCommand(line, c, error)) {
                std::fprintf(stderr, "er-bot: %s\n", error.c_str());
                continue;
            }
            switch (c.kind) {
                case Kind::kNone:
                    break;
                case Kind::kMove:
                    x_ = c.x, y_ = c.y, direction_ = c.direction;
                    Send(BuildPositionReport(true, x_, y_, direction_, 0), now);
                    break;
                case Kind::kStop:
                    Send(BuildPositionReport(false, x_, y_, direction_, 0), now);
                    break;
                case Kind::kTag:
                    Send(BuildTagRequest(c.tag), now);
                    break;
                case Kind::kChat:
                    Send(BuildChatRequest(Utf8ToCp1252(c.text)), now);
                    break;
                case Kind::kNpcText:
                    Send(BuildNpcTextRequest(c.entry, c.npc), now);
                    break;
                case Kind::kWho:
                    for (const std::string& l : roster_.Lines())
                        std::printf("%s\n", l.c_str());
                    break;
                case Kind::kHelp:
                    std::printf("%s", BotCommandHelp());
                    break;
                case Kind::kQuit:
                    Leave(now);
                    break;
            }
        }
        if (!inputOpen_ && lines_.empty())
            Leave(now);
    }

    void Leave(Millis now) {
        if (leaving_)
            return;
        leaving_ = true;
        leaveDeadline_ = now + kLeaveTimeout;
        session_->Close(now);
    }

    const JoinOptions& options_;
    sockaddr_in server_;
    int fd_;
    std::optional<dplay8::ClientSession> session_;
    bool joined_ = false;
    Millis joinedAt_ = 0;
    bool welcomed_ = false;
    bool leaving_ = false;
    Millis leaveDeadline_ = 0;
    bool inputOpen_ = true;
    std::string partial_;
    std::deque<std::string> lines_;
    Roster roster_;
    float x_ = 0, y_ = 0;
    uint8_t direction_ = 0;
    dplay8::Bytes out_;
    uint8_t buffer_[65536];
};

}  // namespace

int RunJoin(const JoinOptions& options) {
    std::string error;
    const auto server =
        Resolve(options.target.host, options.target.port.value_or(kDefaultGamePort), error);
    const int fd = server ? OpenUdpSocket(&*server, error) : -1;
    if (fd < 0) {
        std::fprintf(stderr, "er-bot: %s\n", error.c_str());
        return 1;
    }
    const int code = JoinClient(options, *server, fd).Run();
    close(fd);
    return code;
}

}  // namespace er_bot
