#pragma once
// A DirectPlay 8 client on a loopback UDP socket for tests, pumped by the test's own thread.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dplay8/client_session.h"
#include "dplay8/enum_messages.h"
#include "dplay8/udp_host.h"

namespace er_test {

class UdpTestClient {
public:
    using Millis = dplay8::Millis;
    explicit UdpTestClient(uint16_t port) : port_(port) {  // a client of the host at 127.0.0.1:port
        sockaddr_in sa{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    }
    ~UdpTestClient() { close(fd_); }
    UdpTestClient(const UdpTestClient&) = delete;
    UdpTestClient& operator=(const UdpTestClient&) = delete;

    std::optional<dplay8::EnumResponse> Enumerate(std::optional<dplay8::Guid> application,
                                                  Millis timeout = 2000) {
        enum_response_.reset();
        SendRaw(dplay8::Encode(dplay8::EnumQuery{0x4D2A, application, {}}));
        PumpUntil([this] { return enum_response_.has_value(); }, timeout);
        return enum_response_;
    }
    // True once the host's SEND_CONNECT_INFO has been acknowledged.
    bool Join(const std::u16string& name, const dplay8::Guid& application, Millis timeout = 3000) {
        dplay8::ClientConfig config;
        config.application = application, config.name = name;
        config.session_id = std::random_device{}();
        session_ = std::make_unique<dplay8::ClientSession>(config, dplay8::MonotonicMillis());
        return PumpUntil([this] { return joined() || ended_ || failed_; }, timeout) && joined();
    }
    bool Queue(const std::vector<uint8_t>& message) {  // guaranteed
        return session_ && session_->Send(message, {.guaranteed = true}, dplay8::MonotonicMillis());
    }
    bool PumpUntil(const std::function<bool()>& done, Millis timeout = 3000) {
        for (const Millis deadline = dplay8::MonotonicMillis() + timeout; !done(); Step(deadline))
            if (dplay8::MonotonicMillis() >= deadline)
                return false;
        return true;
    }
    void PumpFor(Millis duration) {
        const Millis deadline = dplay8::MonotonicMillis() + duration;
        do
            Step(deadline);
        while (dplay8::MonotonicMillis() < deadline);
    }
    bool Leave(Millis timeout = 3000) {  // and closed
        return session_ && (session_->Close(dplay8::MonotonicMillis()),
                            PumpUntil([this] { return ended_; }, timeout));
    }
    void Drop() { session_.reset(); }  // vanishes without a word

    bool joined() const { return session_ && session_->joined() && !ended_; }
    bool ended() const { return ended_; }
    uint32_t dpnid() const { return session_ ? session_->dpnid() : 0; }
    dplay8::ClientSession& session() { return *session_; }

    std::vector<std::vector<uint8_t>> messages;  // received, in order

    // A datagram of the test's own making, from this client's socket.
    void SendRaw(const dplay8::Bytes& bytes) {
        sockaddr_in to{AF_INET, htons(port_), {htonl(INADDR_LOOPBACK)}, {}};
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }

private:
    void Step(Millis deadline) {
        Millis now = dplay8::MonotonicMillis();
        dplay8::Bytes out;
        while (session_ && session_->PollTransmit(now, out))
            SendRaw(out);
        const Millis wake = session_ ? std::min(deadline, session_->NextTimeout()) : deadline;
        pollfd p{fd_, POLLIN, 0};
        // Short waits: what the test awaits may happen on the host's threads, not this socket.
        poll(&p, 1, int(std::clamp<Millis>(wake - now, 0, 2)));
        now = dplay8::MonotonicMillis();
        for (ssize_t got; (got = recv(fd_, buffer_.data(), buffer_.size(), 0)) >= 0;) {
            const dplay8::ByteSpan datagram(buffer_.data(), size_t(got));
            if (got > 0 && datagram[0] == 0)
                enum_response_ =
                    enum_response_ ? enum_response_ : dplay8::DecodeEnumResponse(datagram);
            else if (session_)
                session_->HandleDatagram(datagram, now);
        }
        if (!session_)
            return;
        if (now >= session_->NextTimeout())
            session_->HandleTimeout(now);
        while (auto e = session_->PollEvent()) {
            using enum dplay8::ClientEventType;
            failed_ |= e->type == kConnectFailed;
            ended_ |= e->type == kTerminated;
            if (e->type == kMessage)
                messages.push_back(std::move(e->data));
        }
        while (session_->PollTransmit(now, out))
            SendRaw(out);
    }

    int fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    uint16_t port_;
    std::unique_ptr<dplay8::ClientSession> session_;
    std::optional<dplay8::EnumResponse> enum_response_;
    bool failed_ = false, ended_ = false;
    dplay8::Bytes buffer_ = dplay8::Bytes(65536);
};

}  // namespace er_test
