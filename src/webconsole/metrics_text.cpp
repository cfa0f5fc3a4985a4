#include "webconsole/metrics_text.h"

#include <cstdio>

namespace {

class MetricsWriter {
public:
    // A metric's HELP and TYPE lines; its samples follow.
    void Family(const char* name, const char* type, const char* help) {
        out_ += "# HELP ";
        out_ += name;
        out_ += ' ';
        out_ += help;
        out_ += "\n# TYPE ";
        out_ += name;
        out_ += ' ';
        out_ += type;
        out_ += '\n';
    }
    void Sample(const char* name, const char* labels, double value) {
        char number[64];
        std::snprintf(number, sizeof number, "%.17g", value);
        out_ += name;
        if (labels != nullptr) {
            out_ += '{';
            out_ += labels;
            out_ += '}';
        }
        out_ += ' ';
        out_ += number;
        out_ += '\n';
    }
    void Gauge(const char* name, const char* help, double value) {
        Family(name, "gauge", help);
        Sample(name, nullptr, value);
    }
    void InOut(const char* name, const char* type, const char* help, double in, double out) {
        Family(name, type, help);
        Sample(name, "direction=\"in\"", in);
        Sample(name, "direction=\"out\"", out);
    }
    std::string Take() { return std::move(out_); }

private:
    std::string out_;
};

}  // namespace

std::string FormatMetrics(const ServerMetrics& m) {
    MetricsWriter w;
    w.Gauge("emberrealms_uptime_seconds", "Seconds since the server started.", m.uptimeSeconds);
    w.Gauge("emberrealms_hosting", "1 while the game session is hosted.", m.hosting ? 1 : 0);
    w.Gauge("emberrealms_players", "Players in the game.", m.players);
    w.Gauge("emberrealms_npcs", "NPCs placed in the world.", m.npcs);
    w.Gauge("emberrealms_raining", "1 while it rains.", m.raining ? 1 : 0);
    w.Gauge("emberrealms_rain_volume", "The rain's volume, 0 to 60.", m.rainVolume);

    w.Family("emberrealms_tick_lateness_seconds", "gauge",
             "How much later than its 50 ms a game tick came, over the last minute.");
    w.Sample("emberrealms_tick_lateness_seconds", "stat=\"p50\"", m.tick.lateP50Ms / 1000.0);
    w.Sample("emberrealms_tick_lateness_seconds", "stat=\"p99\"", m.tick.lateP99Ms / 1000.0);
    w.Sample("emberrealms_tick_lateness_seconds", "stat=\"max\"", m.tick.lateMaxMs / 1000.0);
    w.Family("emberrealms_tick_cpu_seconds", "gauge",
             "The game tick's own CPU time, over the last minute.");
    w.Sample("emberrealms_tick_cpu_seconds", "stat=\"mean\"", m.tick.cpuMeanMs / 1000.0);
    w.Sample("emberrealms_tick_cpu_seconds", "stat=\"max\"", m.tick.cpuMaxMs / 1000.0);

    w.InOut("emberrealms_messages_per_second", "gauge", "Game messages a second, each way.",
            m.rates.messagesIn, m.rates.messagesOut);
    w.InOut("emberrealms_datagrams_per_second", "gauge", "UDP datagrams a second, each way.",
            m.rates.datagramsIn, m.rates.datagramsOut);
    w.InOut("emberrealms_bytes_per_second", "gauge", "UDP payload bytes a second, each way.",
            m.rates.bytesIn, m.rates.bytesOut);
    if (m.traffic) {
        const SessionTraffic& t = *m.traffic;
        w.InOut("emberrealms_messages_total", "counter", "Game messages since hosting began.",
                double(t.messagesIn), double(t.messagesOut));
        w.InOut("emberrealms_datagrams_total", "counter", "UDP datagrams since hosting began.",
                double(t.datagramsIn), double(t.datagramsOut));
        w.Gauge("emberrealms_send_queue_messages", "Messages waiting in all send queues.",
                double(t.queuedMessages));
        w.Family("emberrealms_players_lost_total", "counter",
                 "Players whose connection stopped answering, since hosting began.");
        w.Sample("emberrealms_players_lost_total", nullptr, double(t.playersLost));
        w.Family("emberrealms_players_cut_off_total", "counter",
                 "Players cut off for flooding or falling behind, since hosting began.");
        w.Sample("emberrealms_players_cut_off_total", nullptr, double(t.playersCutOff));
    }
    return w.Take();
}
