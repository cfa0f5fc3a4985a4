#pragma once
// The vocabulary of the network session, with DirectPlay 8's names and values: the server
// talks to its session through these, whichever transport carries the bytes.

#include <cstdint>
#include <string>

#include "base/hresult.h"

using DPNID = uint32_t;

// Send flags.
constexpr uint32_t DPNSEND_NOCOMPLETE = 0x02;
constexpr uint32_t DPNSEND_GUARANTEED = 0x08;
constexpr uint32_t DPNSEND_NOLOOPBACK = 0x20;

// EnumPlayersAndGroups: players only.
constexpr uint32_t DPNENUM_PLAYERS = 0x01;
// Application description flags.
constexpr uint32_t DPNSESSION_CLIENT_SERVER = 0x01;

// Target of a send to every player (without loop-back: every client, not the server).
constexpr DPNID kAllPlayers = 0;

// Notifications.
constexpr uint32_t DPN_MSGID_CREATE_PLAYER = 0xFFFF0007;
constexpr uint32_t DPN_MSGID_DESTROY_PLAYER = 0xFFFF0009;
constexpr uint32_t DPN_MSGID_RECEIVE = 0xFFFF0011;
constexpr uint32_t DPN_MSGID_TERMINATE_SESSION = 0xFFFF0016;

// Results.
constexpr HRESULT DPNERR_BUFFERTOOSMALL = static_cast<HRESULT>(0x80158100u);
constexpr HRESULT DPNERR_INVALIDPLAYER = static_cast<HRESULT>(0x80158420u);
constexpr HRESULT DPNERR_NOTHOST = static_cast<HRESULT>(0x80158410u);
constexpr HRESULT DPNERR_UNINITIALIZED = static_cast<HRESULT>(0x80158430u);

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
    friend bool operator==(const Guid&, const Guid&) = default;
};

// {EDE9493E-6AC8-4F15-8D01-8B163200B966}: the game's clients host-enumerate and connect with it.
constexpr Guid kApplicationGuid = {
    0xEDE9493E, 0x6AC8, 0x4F15, {0x8D, 0x01, 0x8B, 0x16, 0x32, 0x00, 0xB9, 0x66}};

struct ApplicationDesc {
    uint32_t flags = 0;
    Guid instance;
    Guid application;
    uint32_t maxPlayers = 0;  // 0: no limit
    std::u16string sessionName;
    bool operator==(const ApplicationDesc&) const = default;
};

// The player information a client gave when it connected.
struct PlayerInfo {
    std::u16string name;
};

// Connection statistics of one player.
struct ConnectionInfo {
    uint32_t roundTripLatencyMs = 0;
    uint32_t throughputBps = 0;
    uint32_t messagesTransmittedNormalPriority = 0;
    uint32_t messagesReceived = 0;
    uint32_t messagesTimedOutNormalPriority = 0;
};

// What has gone through the hosted session since it began, and what waits to be sent now.
struct SessionTraffic {
    uint64_t messagesIn = 0, messagesOut = 0;      // game messages
    uint64_t datagramsIn = 0, datagramsOut = 0;    // UDP datagrams
    uint64_t bytesIn = 0, bytesOut = 0;            // their payload bytes
    uint64_t queuedMessages = 0, queuedBytes = 0;  // in every player's send queue together
    uint64_t mostQueuedMessages = 0;               // in the longest of them
    // What the limits turned away, and the players who went without leaving.
    uint64_t playersLost = 0;         // their connection stopped answering
    uint64_t playersCutOff = 0;       // flooding, or too far behind on guaranteed data
    uint64_t messagesDropped = 0;     // over a player's message rate
    uint64_t connectsRefused = 0;     // refused, or half-open ones given up for newer ones
    uint64_t enumRepliesRefused = 0;  // over the enumeration rate limits
    bool operator==(const SessionTraffic&) const = default;
};

// DPN_MSGID_CREATE_PLAYER: the handler may attach a context to the player, which every later
// notification for that player carries.
struct CreatePlayerMessage {
    DPNID player = 0;
    void* playerContext = nullptr;
};

// DPN_MSGID_DESTROY_PLAYER.
struct DestroyPlayerMessage {
    DPNID player = 0;
    void* playerContext = nullptr;
};

// DPN_MSGID_RECEIVE: the data is valid only during the call.
struct ReceiveMessage {
    DPNID sender = 0;
    void* playerContext = nullptr;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};
