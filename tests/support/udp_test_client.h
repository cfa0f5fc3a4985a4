#pragma once
// A DirectPlay 8 client on a loopback UDP socket for tests, pumped by the test's own thread.

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
    explicit UdpTestClient(uint16_t port);  // a client of the host at 127.0.0.1:port
    ~UdpTestClient();
    UdpTestClient(const UdpTestClient&) = delete;
    UdpTestClient& operator=(const UdpTestClient&) = delete;

    std::optional<dplay8::EnumResponse> Enumerate(std::optional<dplay8::Guid> application,
                                                  dplay8::Millis timeout = 2000);
    // True once the host's SEND_CONNECT_INFO has been acknowledged.
    bool Join(const std::u16string& name, const dplay8::Guid& application,
              dplay8::Millis timeout = 3000);
    bool Send(const std::vector<uint8_t>& message) { return Queue(message) && (PumpFor(0), true); }
    bool Queue(const std::vector<uint8_t>& message, bool guaranteed = true);
    bool PumpUntil(const std::function<bool()>& done, dplay8::Millis timeout = 3000);
    void PumpFor(dplay8::Millis duration);
    bool SetName(const std::u16string& name, dplay8::Millis timeout = 3000);  // and confirmed
    bool Leave(dplay8::Millis timeout = 3000);                                // and closed
    void Drop() { session_.reset(); }  // vanishes without a word

    bool joined() const { return session_ && session_->joined() && !ended_; }
    bool ended() const { return ended_; }
    uint32_t dpnid() const { return session_ ? session_->dpnid() : 0; }
    const std::optional<dplay8::SendConnectInfo>& connect_info() const { return connect_info_; }

    std::vector<std::vector<uint8_t>> messages;                             // received, in order
    std::vector<std::vector<uint8_t>> MessagesOfType(uint32_t type) const;  // first 32 bits

private:
    void Step(dplay8::Millis deadline);
    void SendRaw(const dplay8::Bytes& bytes);

    int fd_ = -1;
    uint16_t port_;
    std::unique_ptr<dplay8::ClientSession> session_;
    std::vector<dplay8::EnumResponse> enum_responses_;
    std::optional<dplay8::SendConnectInfo> connect_info_;
    bool failed_ = false, ended_ = false;
    int info_updates_ = 0;
    dplay8::Bytes buffer_;
};

}  // namespace er_test
