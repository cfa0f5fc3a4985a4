#pragma once
// What the web console shows of the running world, read on the event loop's thread: the
// console's fields, the players with their statistics, the map (screens, NPCs, players, sky
// and rain), the tick and network figures and the debug log's last lines, as one JSON
// snapshot; and the same figures for /metrics.

#include <QByteArray>

#include <array>
#include <functional>
#include <string>

#include "console/server_statistics.h"
#include "npc/main_object_set.h"
#include "webconsole/metrics_text.h"

class ConsoleModel;
class PlayerList;
class NetworkSession;
class CServerQuestLoader;
class NightDay;
class GameWeather;

// Stands between the NPC set and the session: passes everything on, and notes when each NPC
// last spoke, so the map can show its words for a few seconds.
class SpeechRecorder final : public NpcAudience {
public:
    SpeechRecorder(NpcAudience& inner, std::function<double()> nowMs)
        : inner_(inner), nowMs_(std::move(nowMs)) {}
    void Broadcast(const CMainObjectSet& set) override { inner_.Broadcast(set); }
    void SayToNearbyPlayers(const CMainObjectSet& set, int32_t slot, int32_t x, int32_t y) override;
    // Milliseconds of the NPC's last speech, negative when it has not spoken.
    double lastSpokeMs(int32_t slot) const;

private:
    NpcAudience& inner_;
    std::function<double()> nowMs_;
    std::array<double, CMainObjectSet::kSlotCount> lastSpokeMs_ = [] {
        std::array<double, CMainObjectSet::kSlotCount> times{};
        times.fill(-1);
        return times;
    }();
};

struct WorldSources {
    const ConsoleModel& model;
    const PlayerList& playerList;
    NetworkSession& session;
    const CMainObjectSet& npcs;
    const std::array<std::string, CMainObjectSet::kSlotCount>& npcNames;  // Windows-1252
    const CServerQuestLoader& quest;
    const NightDay& clock;
    const GameWeather& weather;
    std::function<ServerStatistics()> statistics;
    const SpeechRecorder& speech;
    std::function<double()> nowMs;
    double startMs = 0;
};

class WorldView {
public:
    static constexpr int kMaxPlayersListed = 200;

    explicit WorldView(WorldSources sources) : s_(std::move(sources)) {}
    QByteArray SnapshotJson() const;
    ServerMetrics Metrics() const;

private:
    WorldSources s_;
};

// "#RRGGBB" of the clock's packed 0x00BBGGRR sky colour.
std::string SkyColourCss(uint32_t packed);
