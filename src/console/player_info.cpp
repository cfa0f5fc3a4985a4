#include "console/player_info.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "console/visible_text.h"
#include "net/network_session.h"
#include "net/player_record.h"

const std::array<const char*, PlayerInfoTexts::kCount> kPlayerInfoLabels = {
    "Name:",
    "Latency (ms) :",
    "Messages Sent (normal priority) :",
    "Messages Recieved (normal priority) :",
    "Messages Timed-Out (normal priority) :",
    "Throughput (Bytes/Sec) :",
};

namespace {

std::string Format(const char* format, uint32_t value) {
    char text[32] = {};
    std::snprintf(text, sizeof text, format, static_cast<int32_t>(value));
    return text;
}

}  // namespace

PlayerInfoTexts FormatPlayerInfo(const PlayerRecord& record) {
    const std::string name =
        VisibleText(std::string_view(record.name, strnlen(record.name, sizeof record.name)));
    return {{name, Format("%d ms", record.latency), Format("%d", record.msgsSent),
             Format("%d", record.msgsReceived), Format("%d", record.msgsTimedOut),
             Format("%d Bytes/Sec", record.throughput)}};
}

std::optional<PlayerInfoTexts> FreshPlayerInfo(NetworkSession& session, DPNID player) {
    std::optional<PlayerInfoTexts> info;
    session.WithPlayerStatistics(
        player, [&](const PlayerRecord& record) { info = FormatPlayerInfo(record); });
    return info;
}
