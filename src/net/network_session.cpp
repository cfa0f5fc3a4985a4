#include "net/network_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "net/game_messages.h"
#include "base/code_page.h"
#include "base/debug_log.h"
#include "base/field_number.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"

namespace {

// The Session Name field is read up to its buffer, the Port Number field up to 49 characters.
constexpr std::size_t kSessionNameChars = SessionSettings::kSessionNameSize - 1;
constexpr std::size_t kPortChars = 49;
// A session that keeps growing while we enumerate gets this many tries.
constexpr int kEnumerationAttempts = 64;

}  // namespace

NetworkSession::NetworkSession(SessionSettings& settings, const ServerRates& rates,
                               CRandom& random, SessionWorld world, SessionConsole& console,
                               SessionFactory factory)
    : settings_(settings),
      rates_(rates),
      random_(random),
      world_(world),
      console_(console),
      factory_(std::move(factory)) {}

NetworkSession::~NetworkSession() { StopServer(false); }

HRESULT NetworkSession::StartServer() {
    console_.SetServerStatus("Starting Server...");
    console_.SetWaitCursor(true);

    const std::string name = console_.SessionNameField().substr(0, kSessionNameChars);
    std::memset(settings_.sessionName, 0, sizeof settings_.sessionName);
    std::memcpy(settings_.sessionName, name.data(), name.size());
    settings_.serverPort = static_cast<uint32_t>(ReadFieldNumber(console_.PortNumberField(), kPortChars));

    std::unique_ptr<SessionService> server = factory_ ? factory_() : nullptr;
    if (server == nullptr) {
        return E_FAIL;
    }
    HRESULT result = server->Initialize(
        [this](uint32_t messageId, void* message) { return OnNetworkMessage(messageId, message); });
    if (Failed(result)) {
        return result;
    }

    ApplicationDesc desc;
    desc.flags = DPNSESSION_CLIENT_SERVER;
    desc.application = kApplicationGuid;
    desc.maxPlayers = 0;
    desc.sessionName = Cp1252ToUtf16(name);

    // Notifications may arrive while Host runs (the server's own player), and the handler
    // reaches the session through server().
    ownedServer_ = std::move(server);
    server_ = ownedServer_.get();
    result = ownedServer_->Host(desc, settings_.serverPort);
    if (Failed(result)) {
        ownedServer_->Close(0);
        server_ = nullptr;
        ownedServer_.reset();
        return result;
    }
    console_.SetWaitCursor(false);
    hostingActive_ = 1;
    console_.SetServerStatus("Server started.");
    return S_OK;
}

void NetworkSession::StopServer(bool showOnConsole) {
    if (showOnConsole) {
        console_.SetServerStatus("Stopping Server...");
        console_.SetWaitCursor(true);
    }
    if (ownedServer_ != nullptr) {
        // Close delivers the leave of every remaining player, whose handlers still send.
        ownedServer_->Close(0);
        server_ = nullptr;
        ownedServer_.reset();
    }
    hostingActive_ = 0;
    if (showOnConsole) {
        console_.SetWaitCursor(false);
        console_.SetServerStatus("Server stopped.");
    }
}

void NetworkSession::ToggleServer() {
    if (!hosting()) {
        if (Failed(StartServer())) {
            LogLine("Error Starting Server!");
            char reason[96] = {};
            std::snprintf(reason, sizeof reason,
                          "Error Starting Server! (UDP port %u could not be hosted)",
                          static_cast<unsigned>(settings_.serverPort));
            console_.Close(reason);
            return;
        }
    } else {
        StopServer(true);
    }
    console_.ShowHosting(hosting());
}

HRESULT NetworkSession::OnNetworkMessage(uint32_t messageId, void* message) {
    if (message == nullptr) {
        return S_OK;
    }
    switch (messageId) {
        case DPN_MSGID_CREATE_PLAYER:
            return JoinPlayer(*static_cast<CreatePlayerMessage*>(message));
        case DPN_MSGID_DESTROY_PLAYER:
            LeavePlayer(*static_cast<DestroyPlayerMessage*>(message));
            return S_OK;
        case DPN_MSGID_RECEIVE: {
            const auto& receive = *static_cast<ReceiveMessage*>(message);
            if (receive.playerContext != nullptr && receive.data != nullptr) {
                HandleGameMessage(*static_cast<PlayerRecord*>(receive.playerContext),
                                  {receive.data, receive.size});
            }
            return S_OK;
        }
        default:
            // Every connection is accepted and every enumeration answered.
            return S_OK;
    }
}

HRESULT NetworkSession::JoinPlayer(CreatePlayerMessage& message) {
    SessionService* server = this->server();
    if (server == nullptr) {
        return DPNERR_UNINITIALIZED;
    }
    PlayerInfo info;
    const HRESULT result = server->GetClientInfo(message.player, info);
    // The server's own player has no client information; it gets no record and no count.
    if (result == DPNERR_INVALIDPLAYER) {
        return S_OK;
    }
    if (Failed(result)) {
        return result;  // the player stays without a record: never counted, listed or sent to
    }
    auto* record = new PlayerRecord;
    record->dpnid = message.player;
    const std::string name = Utf16ToCp1252(info.name);
    std::memcpy(record->name, name.data(), std::min<std::size_t>(name.size(), kPlayerNameLength));
    char announcedName[sizeof record->name];
    std::memcpy(announcedName, record->name, sizeof announcedName);
    message.playerContext = record;

    SendPlain(kAllPlayers, BuildPlayerJoined(message.player, announcedName));
    WelcomeNewPlayer(message.player);
    {
        std::lock_guard lock(playerLock_);
        std::vector<DPNID> order;
        EnumeratePlayers(order);
        roster_.Add(*record, order);
    }
    playerCount_.fetch_add(1);
    console_.PostPlayerCountChanged();
    console_.PostPlayerJoined(message.player, announcedName);
    return S_OK;
}

void NetworkSession::LeavePlayer(DestroyPlayerMessage& message) {
    auto* record = static_cast<PlayerRecord*>(message.playerContext);
    if (record == nullptr) {
        return;
    }
    {
        std::lock_guard lock(playerLock_);
        roster_.Remove(*record);
    }
    SendPlain(kAllPlayers, BuildPlayerLeft(message.player));
    console_.PostPlayerLeft(message.player);
    {
        std::lock_guard lock(playerLock_);
        record->refCount -= 1;
        if (record->refCount < 1) {
            delete record;
        }
    }
    message.playerContext = nullptr;
    playerCount_.fetch_sub(1);
    console_.PostPlayerCountChanged();
}

HRESULT NetworkSession::EnumeratePlayers(std::vector<DPNID>& ids) {
    ids.clear();
    SessionService* server = this->server();
    if (server == nullptr) {
        return DPNERR_UNINITIALIZED;
    }
    uint32_t count = 0;
    HRESULT result = server->EnumPlayersAndGroups(nullptr, &count, DPNENUM_PLAYERS);
    for (int attempt = 0; result == DPNERR_BUFFERTOOSMALL && attempt < kEnumerationAttempts;
         ++attempt) {
        ids.assign(count, 0);
        result = server->EnumPlayersAndGroups(ids.data(), &count, DPNENUM_PLAYERS);
    }
    if (Failed(result)) {
        ids.clear();
        return result == DPNERR_BUFFERTOOSMALL ? E_FAIL : result;
    }
    ids.resize(std::min<std::size_t>(count, ids.size()));
    return S_OK;
}

PlayerRecord* NetworkSession::RecordOf(DPNID player) {
    SessionService* server = this->server();
    void* context = nullptr;
    if (server == nullptr || Failed(server->GetPlayerContext(player, &context, 0))) {
        return nullptr;
    }
    return static_cast<PlayerRecord*>(context);
}

uint32_t NetworkSession::MessageTimeoutMs() const {
    const float timeout = rates_.messageTimeout.load();
    if (!(timeout > 0.0f)) {
        return 0;
    }
    return timeout >= 4294967295.0f ? UINT32_MAX : static_cast<uint32_t>(timeout);
}

void NetworkSession::SendPlain(DPNID target, std::span<const uint8_t> message) {
    if (SessionService* server = this->server()) {
        server->SendTo(target, message.data(), static_cast<uint32_t>(message.size()), 0,
                       DPNSEND_NOLOOPBACK);
    }
}

void NetworkSession::SendWithReliableRate(DPNID target, std::span<const uint8_t> message,
                                          bool guaranteed, uint32_t timeoutMs) {
    // One draw per send, whoever sends. The comparison is unsigned, as the draw is.
    const uint32_t draw = random_.Next();
    if (draw % 100 < static_cast<uint32_t>(rates_.reliableRate.load())) {
        guaranteed = true;
    }
    if (SessionService* server = this->server()) {
        server->SendTo(target, message.data(), static_cast<uint32_t>(message.size()), timeoutMs,
                       guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE);
    }
}

void NetworkSession::SendRateSettings() {
    SendPlain(kAllPlayers, BuildRateSettings(rates_.updateRate, rates_.messageTimeout));
}

void NetworkSession::SendSkyWeather(uint32_t skyColour, float rainVolume, uint32_t lightning) {
    SendPlain(kAllPlayers, BuildSkyWeather(skyColour, rainVolume, lightning));
}

std::optional<SessionTraffic> NetworkSession::Traffic() {
    SessionTraffic traffic;
    if (ownedServer_ == nullptr || !ownedServer_->GetTraffic(traffic))
        return std::nullopt;
    return traffic;
}

bool NetworkSession::WithPlayerStatistics(DPNID player,
                                          const std::function<void(const PlayerRecord&)>& show) {
    std::lock_guard lock(playerLock_);
    PlayerRecord* record = RecordOf(player);
    if (record == nullptr) {
        return false;
    }
    ConnectionInfo info;
    if (Succeeded(server()->GetConnectionInfo(player, info))) {
        record->latency = info.roundTripLatencyMs;
        record->throughput = info.throughputBps;
        record->msgsSent = info.messagesTransmittedNormalPriority;
        record->msgsReceived = info.messagesReceived;
        record->msgsTimedOut = info.messagesTimedOutNormalPriority;
    }
    if (show) {
        show(*record);
    }
    return true;
}
