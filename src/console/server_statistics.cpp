#include "console/server_statistics.h"

#include <cstdio>

namespace {

std::string Line(const char* format, auto... values) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, values...);
    return buffer;
}

}  // namespace

void TrafficMeter::Sample(double nowMs, const SessionTraffic& totals) {
    if (last_ && nowMs > lastMs_) {
        const double seconds = (nowMs - lastMs_) / 1000.0;
        // Totals only grow while one session is hosted; a new session starts them again.
        const auto rate = [&](uint64_t now, uint64_t before) {
            return now >= before ? double(now - before) / seconds : 0.0;
        };
        rates_ = {rate(totals.messagesIn, last_->messagesIn),
                  rate(totals.messagesOut, last_->messagesOut),
                  rate(totals.datagramsIn, last_->datagramsIn),
                  rate(totals.datagramsOut, last_->datagramsOut),
                  rate(totals.bytesIn, last_->bytesIn),
                  rate(totals.bytesOut, last_->bytesOut)};
    }
    last_ = totals;
    lastMs_ = nowMs;
}

std::string FormatServerStatistics(const ServerStatistics& s) {
    std::string out = Line("Players: %d\n", int(s.players));
    out += Line("Tick lateness (ms, last %zu ticks): p50 %.1f p99 %.1f max %.1f\n", s.tick.ticks,
                s.tick.lateP50Ms, s.tick.lateP99Ms, s.tick.lateMaxMs);
    out += Line("Tick CPU time (ms): mean %.2f max %.2f\n", s.tick.cpuMeanMs, s.tick.cpuMaxMs);
    if (!s.traffic)
        return out + "Network: not hosting\n";
    const TrafficRates& r = s.rates;
    out += Line("Messages per second: in %.0f out %.0f\n", r.messagesIn, r.messagesOut);
    out += Line("Datagrams per second: in %.0f out %.0f\n", r.datagramsIn, r.datagramsOut);
    out += Line("Bytes per second: in %.0f out %.0f\n", r.bytesIn, r.bytesOut);
    const SessionTraffic& t = *s.traffic;
    out += Line("Send queues: %llu messages, %llu bytes (longest %llu messages)\n",
                static_cast<unsigned long long>(t.queuedMessages),
                static_cast<unsigned long long>(t.queuedBytes),
                static_cast<unsigned long long>(t.mostQueuedMessages));
    out += Line("Totals: messages in %llu out %llu, datagrams in %llu out %llu\n",
                static_cast<unsigned long long>(t.messagesIn),
                static_cast<unsigned long long>(t.messagesOut),
                static_cast<unsigned long long>(t.datagramsIn),
                static_cast<unsigned long long>(t.datagramsOut));
    out += Line(
        "Players lost %llu, cut off %llu; messages over the rate %llu; connections "
        "refused %llu; enumeration replies refused %llu\n",
        static_cast<unsigned long long>(t.playersLost),
        static_cast<unsigned long long>(t.playersCutOff),
        static_cast<unsigned long long>(t.messagesDropped),
        static_cast<unsigned long long>(t.connectsRefused),
        static_cast<unsigned long long>(t.enumRepliesRefused));
    return out;
}
