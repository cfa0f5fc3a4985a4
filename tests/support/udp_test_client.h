#pragma once
// A DirectPlay 8 client on a real loopback UDP socket for tests: it enumerates a host, joins
// with a name, sends and receives game messages and leaves. Single-threaded: the test pumps
// it, so nothing runs behind the test's back.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dplay8/client_session.h"
#include "dplay8/enum_messages.h"

namespace er_test {

class UdpTestClient {
public:
    // A client of the host at 127.0.0.1:port.
    explicit UdpTestClient(uint16_t port);
    ~UdpTestClient();
    UdpTestClient(const UdpTestClient&) = delete;
    UdpTestClient& operator=(const UdpTestClient&) = delete;

    // Sends an EnumQuery (for `application`, or for any) and waits for the answer.
    std::optional<dplay8::EnumResponse> Enumerate(std::optional<dplay8::Guid> application,
                                                  dplay8::Millis timeout = 2000);
    // Connects and joins; true once the host's SEND_CONNECT_INFO has been acknowledged.
    bool Join(const std::u16string& name, const dplay8::Guid& application,
              dplay8::Millis timeout = 3000);
    // Queues a game message and pumps once; Queue alone is for bursts.
    bool Send(const std::vector<uint8_t>& message, bool guaranteed = true) {
        const bool queued = Queue(message, guaranteed);
        PumpFor(0);
        return queued;
    }
    bool Queue(const std::vector<uint8_t>& message, bool guaranteed = true);
    // Pumps until `done` holds or the time is up; returns `done()`.
    bool PumpUntil(const std::function<bool()>& done, dplay8::Millis timeout = 3000);
    void PumpFor(dplay8::Millis duration);
    // Changes the player's name and waits for the host's confirmation.
    bool SetName(const std::u16string& name, dplay8::Millis timeout = 3000);
    // Leaves gracefully and waits for the close to complete.
    bool Leave(dplay8::Millis timeout = 3000);
    // Vanishes without a word (the process died).
    void Drop() { session_.reset(); }

    bool joined() const { return session_ && session_->joined() && !ended_; }
    bool ended() const { return ended_; }
    uint32_t dpnid() const { return session_ ? session_->dpnid() : 0; }
    const std::optional<dplay8::SendConnectInfo>& connect_info() const { return connect_info_; }

    // Game messages received, in order.
    std::vector<std::vector<uint8_t>> messages;
    // Messages whose first 32 bits are `type`.
    std::vector<std::vector<uint8_t>> MessagesOfType(uint32_t type) const;

private:
    void Step(dplay8::Millis deadline);
    void SendRaw(const dplay8::Bytes& bytes);

    int fd_ = -1;
    uint16_t port_;
    std::unique_ptr<dplay8::ClientSession> session_;
    std::vector<dplay8::EnumResponse> enum_responses_;
    std::optional<dplay8::SendConnectInfo> connect_info_;
    bool failed_ = false;
    bool ended_ = false;
    int info_updates_ = 0;
    dplay8::Bytes buffer_;
};

}  // namespace er_test
