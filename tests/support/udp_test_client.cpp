#include "support/udp_test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "dplay8/udp_host.h"

namespace er_test {

using dplay8::Millis;
using dplay8::MonotonicMillis;

UdpTestClient::UdpTestClient(uint16_t port) : port_(port), buffer_(65536) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sa{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

UdpTestClient::~UdpTestClient() {
    if (fd_ >= 0)
        close(fd_);
}

void UdpTestClient::SendRaw(const dplay8::Bytes& bytes) {
    sockaddr_in to{AF_INET, htons(port_), {htonl(INADDR_LOOPBACK)}, {}};
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::optional<dplay8::EnumResponse> UdpTestClient::Enumerate(
    std::optional<dplay8::Guid> application, Millis timeout) {
    enum_responses_.clear();
    SendRaw(dplay8::Encode(dplay8::EnumQuery{0x4D2A, application, {}}));
    if (!PumpUntil([this] { return !enum_responses_.empty(); }, timeout))
        return std::nullopt;
    return enum_responses_.front();
}

bool UdpTestClient::Join(const std::u16string& name, const dplay8::Guid& application,
                         Millis timeout) {
    dplay8::ClientConfig config;
    config.application = application, config.name = name;
    config.session_id = std::random_device{}();
    session_ = std::make_unique<dplay8::ClientSession>(config, MonotonicMillis());
    return PumpUntil([this] { return joined() || ended_ || failed_; }, timeout) && joined();
}

bool UdpTestClient::Queue(const std::vector<uint8_t>& message, bool guaranteed) {
    return session_ && session_->Send(message, {.guaranteed = guaranteed}, MonotonicMillis());
}

void UdpTestClient::Step(Millis deadline) {
    Millis now = MonotonicMillis();
    dplay8::Bytes out;
    while (session_ && session_->PollTransmit(now, out))
        SendRaw(out);
    const Millis wake = session_ ? std::min(deadline, session_->NextTimeout()) : deadline;
    pollfd p{fd_, POLLIN, 0};
    // Short waits: what the test waits for may happen on the host's threads, not on this socket.
    poll(&p, 1, int(std::clamp<Millis>(wake - now, 0, 2)));
    now = MonotonicMillis();
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = recvfrom(fd_, buffer_.data(), buffer_.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0)
            break;
        const dplay8::ByteSpan datagram(buffer_.data(), size_t(got));
        if (got > 0 && datagram[0] == 0) {
            if (auto r = dplay8::DecodeEnumResponse(datagram))
                enum_responses_.push_back(*r);
        } else if (session_) {
            session_->HandleDatagram(datagram, now);
        }
    }
    if (!session_)
        return;
    if (now >= session_->NextTimeout())
        session_->HandleTimeout(now);
    while (auto e = session_->PollEvent()) {
        using enum dplay8::ClientEventType;
        if (e->type == kJoined)
            connect_info_ = e->joined;
        failed_ |= e->type == kConnectFailed;
        ended_ |= e->type == kTerminated;
        info_updates_ += e->type == kInfoUpdated;
        if (e->type == kMessage)
            messages.push_back(std::move(e->data));
    }
    while (session_->PollTransmit(now, out))
        SendRaw(out);
}

bool UdpTestClient::PumpUntil(const std::function<bool()>& done, Millis timeout) {
    const Millis deadline = MonotonicMillis() + timeout;
    while (!done()) {
        if (MonotonicMillis() >= deadline)
            return false;
        Step(deadline);
    }
    return true;
}

void UdpTestClient::PumpFor(Millis duration) {
    const Millis deadline = MonotonicMillis() + duration;
    do {
        Step(deadline);
    } while (MonotonicMillis() < deadline);
}

bool UdpTestClient::Leave(Millis timeout) {
    return session_ &&
           (session_->Close(MonotonicMillis()), PumpUntil([this] { return ended_; }, timeout));
}

bool UdpTestClient::SetName(const std::u16string& name, Millis timeout) {
    const int before = info_updates_;
    return session_ && session_->SetName(name, uint32_t(before + 1), MonotonicMillis()) &&
           PumpUntil([&] { return info_updates_ > before; }, timeout);
}

std::vector<std::vector<uint8_t>> UdpTestClient::MessagesOfType(uint32_t type) const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& m : messages) {
        if (m.size() >= 4 && dplay8::LoadU32(m.data()) == type)
            out.push_back(m);
    }
    return out;
}

}  // namespace er_test
