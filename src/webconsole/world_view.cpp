#include "webconsole/world_view.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "base/code_page.h"
#include "base/debug_log.h"
#include "console/console_layout.h"
#include "console/console_model.h"
#include "console/player_info.h"
#include "console/player_list.h"
#include "net/network_session.h"
#include "net/player_record.h"
#include "quest/server_quest_loader.h"
#include "world/game_weather.h"
#include "world/night_day.h"

namespace {

QString FromCp1252(std::string_view text) {
    const std::u16string utf16 = Cp1252ToUtf16(text);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

QJsonArray Pair(const char* label, const std::string& value) {
    std::string trimmed = label;
    while (!trimmed.empty() && trimmed.back() == ' ') {
        trimmed.pop_back();
    }
    return QJsonArray{QString::fromLatin1(trimmed.c_str()), FromCp1252(value)};
}

}  // namespace

void SpeechRecorder::SayToNearbyPlayers(const CMainObjectSet& set, int32_t slot, int32_t x,
                                        int32_t y) {
    if (CMainObjectSet::ValidSlot(slot)) {
        lastSpokeMs_[static_cast<size_t>(slot)] = nowMs_();
    }
    inner_.SayToNearbyPlayers(set, slot, x, y);
}

double SpeechRecorder::lastSpokeMs(int32_t slot) const {
    return CMainObjectSet::ValidSlot(slot) ? lastSpokeMs_[static_cast<size_t>(slot)] : -1;
}

std::string SkyColourCss(uint32_t packed) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", packed & 0xFFu, (packed >> 8) & 0xFFu,
                  (packed >> 16) & 0xFFu);
    return text;
}

QByteArray WorldView::SnapshotJson() const {
    const double now = s_.nowMs();
    QJsonObject root;
    root["uptime"] = (now - s_.startMs) / 1000.0;

    QJsonArray fields;
    for (size_t i = 0; i < kConsoleFieldCount; ++i) {
        const auto field = static_cast<ConsoleField>(i);
        fields.append(Pair(FieldLabel(field), s_.model.Text(field)));
    }
    root["fields"] = fields;
    root["hosting"] = s_.session.hosting();

    QJsonArray screens;
    for (int32_t i = 0; i < s_.quest.screenCount && i < kQuestScreenSlots; ++i) {
        const QuestScreen& screen = s_.quest.screens[i];
        screens.append(QJsonObject{{"x", screen.column * kScreenWidth},
                                   {"y", screen.row * kScreenHeight},
                                   {"w", kScreenWidth},
                                   {"h", kScreenHeight}});
    }
    int32_t width = 0, height = 0;
    for (const auto& value : screens) {
        const QJsonObject screen = value.toObject();
        width = std::max(width, screen["x"].toInt() + kScreenWidth);
        height = std::max(height, screen["y"].toInt() + kScreenHeight);
    }
    root["world"] = QJsonObject{{"width", width}, {"height", height}, {"screens", screens}};

    root["sky"] =
        QJsonObject{{"colour", QString::fromStdString(SkyColourCss(s_.clock.skyColour.load()))},
                    {"rain", double(s_.weather.publishedVolume.load())},
                    {"raining", s_.weather.raining != 0},
                    {"lightning", s_.weather.lightning.load() != 0}};

    QJsonArray npcs;
    for (int32_t slot = 0; slot < std::min(s_.npcs.npcCount, CMainObjectSet::kSlotCount); ++slot) {
        const CServerNPC& npc = s_.npcs.Npc(slot);
        const double spoke = s_.speech.lastSpokeMs(slot);
        npcs.append(QJsonObject{
            {"slot", slot},
            {"name", FromCp1252(s_.npcNames[static_cast<size_t>(slot)])},
            {"x", double(npc.posX)},
            {"y", double(npc.posY)},
            {"facing", npc.facing},
            {"head", npc.headFacing},
            {"action", npc.action},
            {"visible", npc.visible != 0},
            {"say", FromCp1252(npc.sayText)},
            {"saidAgo", spoke < 0 ? QJsonValue() : QJsonValue((now - spoke) / 1000.0)}});
    }
    root["npcs"] = npcs;

    // The players in the console's order, with the Info dialog's six values.
    QJsonArray players;
    for (int line = 0; line < WorldView::kMaxPlayersListed; ++line) {
        const std::optional<DPNID> id = s_.playerList.PlayerAtLine(line);
        if (!id) {
            break;
        }
        s_.session.WithPlayerStatistics(*id, [&](const PlayerRecord& record) {
            const PlayerInfoTexts info = FormatPlayerInfo(record);
            QJsonArray pairs;
            for (int i = 0; i < PlayerInfoTexts::kCount; ++i) {
                pairs.append(Pair(kPlayerInfoLabels[size_t(i)], info.values[size_t(i)]));
            }
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", *id);
            players.append(QJsonObject{{"line", line},
                                       {"id", QString::fromLatin1(hex)},
                                       {"name", FromCp1252(record.name)},
                                       {"x", double(record.posX)},
                                       {"y", double(record.posY)},
                                       {"info", pairs}});
        });
    }
    root["players"] = players;
    root["playerCount"] = s_.session.playerCount();

    const ServerStatistics stats = s_.statistics();
    if (stats.traffic) {
        root["stats"] = QJsonObject{{"tickP50", stats.tick.lateP50Ms},
                                    {"tickP99", stats.tick.lateP99Ms},
                                    {"tickMax", stats.tick.lateMaxMs},
                                    {"tickCpuMean", stats.tick.cpuMeanMs},
                                    {"tickCpuMax", stats.tick.cpuMaxMs},
                                    {"messagesIn", stats.rates.messagesIn},
                                    {"messagesOut", stats.rates.messagesOut},
                                    {"datagramsIn", stats.rates.datagramsIn},
                                    {"datagramsOut", stats.rates.datagramsOut},
                                    {"bytesIn", stats.rates.bytesIn},
                                    {"bytesOut", stats.rates.bytesOut},
                                    {"sendQueueMessages", double(stats.traffic->queuedMessages)}};
    } else {
        root["stats"] = QJsonValue();
    }

    QJsonArray log;
    for (const std::string& line : LogTail()) {
        log.append(FromCp1252(line));
    }
    root["log"] = log;
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

ServerMetrics WorldView::Metrics() const {
    const ServerStatistics stats = s_.statistics();
    ServerMetrics m;
    m.uptimeSeconds = (s_.nowMs() - s_.startMs) / 1000.0;
    m.hosting = s_.session.hosting();
    m.players = s_.session.playerCount();
    m.npcs = s_.npcs.npcCount;
    m.raining = s_.weather.raining != 0;
    m.rainVolume = s_.weather.publishedVolume.load();
    m.tick = stats.tick;
    m.rates = stats.rates;
    m.traffic = stats.traffic;
    return m;
}
