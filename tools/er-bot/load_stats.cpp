#include "load_stats.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

namespace er_bot {

namespace {

size_t RankOf(double percent, uint64_t count) {
    const double rank = std::ceil(std::clamp(percent, 0.0, 100.0) / 100.0 * double(count));
    return size_t(std::clamp<double>(rank, 1, double(count)));
}

std::string Number(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string Ms(const std::optional<double>& value) {
    return value ? Number("%.2f", *value) + " ms" : "-";
}

std::string Raw(const std::optional<double>& value) {
    return value ? Number("%.3f", *value) : "nan";
}

double PerSecond(uint64_t count, double seconds) {
    return seconds > 0 ? double(count) / seconds : 0;
}

}  // namespace

std::optional<int64_t> Percentile(std::vector<int64_t>& values, double percent) {
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    return values[RankOf(percent, values.size()) - 1];
}

int LatencyHistogram::BucketOf(uint64_t micros) {
    if (micros < kExact)
        return int(micros);
    const int log = std::bit_width(micros) - 1;  // 6 and above
    const int sub = int((micros >> (log - 5)) & (kSubBuckets - 1));
    return kExact + (log - 6) * kSubBuckets + sub;
}

uint64_t LatencyHistogram::HighestIn(int bucket) {
    if (bucket < kExact)
        return uint64_t(bucket);
    const int log = (bucket - kExact) / kSubBuckets + 6;
    const uint64_t sub = uint64_t((bucket - kExact) % kSubBuckets);
    const uint64_t lowest = (kSubBuckets + sub) << (log - 5);
    return lowest + ((uint64_t(1) << (log - 5)) - 1);
}

void LatencyHistogram::Add(uint64_t micros) {
    ++buckets_[size_t(BucketOf(micros))];
    ++count_;
    max_ = std::max(max_, micros);
}

void LatencyHistogram::Merge(const LatencyHistogram& other) {
    for (size_t i = 0; i < buckets_.size(); ++i)
        buckets_[i] += other.buckets_[i];
    count_ += other.count_;
    max_ = std::max(max_, other.max_);
}

std::optional<uint64_t> LatencyHistogram::Percentile(double percent) const {
    if (count_ == 0)
        return std::nullopt;
    const uint64_t rank = RankOf(percent, count_);
    uint64_t seen = 0;
    for (int b = 0; b < kBuckets; ++b) {
        seen += buckets_[size_t(b)];
        if (seen >= rank)
            return std::min(HighestIn(b), max_);
    }
    return max_;
}

std::string FormatSummary(const LoadSummary& s) {
    const double t = s.measuredSeconds;
    std::string out;
    out += "players        " + std::to_string(s.joined) + " of " + std::to_string(s.players) +
           " joined, " + std::to_string(s.failed) + " failed\n";
    out += "join time      p50 " + Ms(s.joinP50Ms) + ", p99 " + Ms(s.joinP99Ms) + ", max " +
           Ms(s.joinMaxMs) + "\n";
    out += "measured over  " + Number("%.2f", t) + " s with every join done (run " +
           Number("%.2f", s.elapsedSeconds) + " s)\n";
    out += "messages       sent " + std::to_string(s.messagesSent) + " (" +
           Number("%.1f", PerSecond(s.messagesSent, t)) + "/s), received " +
           std::to_string(s.messagesReceived) + " (" +
           Number("%.1f", PerSecond(s.messagesReceived, t)) + "/s)\n";
    out += "datagrams      sent " + std::to_string(s.datagramsSent) + " (" +
           Number("%.1f", PerSecond(s.datagramsSent, t)) + "/s), received " +
           std::to_string(s.datagramsReceived) + " (" +
           Number("%.1f", PerSecond(s.datagramsReceived, t)) + "/s)\n";
    out += "NearbyPlayers  " + std::to_string(s.nearbyReplies) + " replies, round trip p50 " +
           Ms(s.nearbyP50Ms) + ", p99 " + Ms(s.nearbyP99Ms) + ", max " + Ms(s.nearbyMaxMs) + "; " +
           std::to_string(s.reportsUnanswered) + " reports unanswered\n";
    out += "NPC updates    " + std::to_string(s.npcUpdates) + " received\n";
    out += "sky messages   " + std::to_string(s.skyMessages) + " received\n";
    out += "dropped        " + std::to_string(s.dropped) + " players dropped by the server\n";
    out += "guaranteed     " + std::to_string(s.guaranteedSent) + " sent, " +
           std::to_string(s.guaranteedLost) + " lost or unconfirmed\n";
    out += "er-bot CPU     " + Number("%.2f", s.cpuSeconds) + " s over the run (" +
           Number("%.1f", s.elapsedSeconds > 0 ? 100 * s.cpuSeconds / s.elapsedSeconds : 0) +
           " % of one core), " + Number("%.2f", s.windowCpuSeconds) + " s measured (" +
           Number("%.1f", t > 0 ? 100 * s.windowCpuSeconds / t : 0) + " %)\n";
    return out;
}

std::string FormatResultLine(const LoadSummary& s) {
    const double t = s.measuredSeconds;
    return "RESULT players=" + std::to_string(s.players) + " joined=" + std::to_string(s.joined) +
           " failed=" + std::to_string(s.failed) + " join_p50_ms=" + Raw(s.joinP50Ms) +
           " join_p99_ms=" + Raw(s.joinP99Ms) + " join_max_ms=" + Raw(s.joinMaxMs) +
           " measured_s=" + Number("%.3f", t) +
           " msgs_sent_per_s=" + Number("%.1f", PerSecond(s.messagesSent, t)) +
           " msgs_recv_per_s=" + Number("%.1f", PerSecond(s.messagesReceived, t)) +
           " dgrams_sent_per_s=" + Number("%.1f", PerSecond(s.datagramsSent, t)) +
           " dgrams_recv_per_s=" + Number("%.1f", PerSecond(s.datagramsReceived, t)) +
           " nearby_replies=" + std::to_string(s.nearbyReplies) +
           " nearby_p50_ms=" + Raw(s.nearbyP50Ms) + " nearby_p99_ms=" + Raw(s.nearbyP99Ms) +
           " nearby_max_ms=" + Raw(s.nearbyMaxMs) +
           " reports_unanswered=" + std::to_string(s.reportsUnanswered) +
           " npc_updates=" + std::to_string(s.npcUpdates) +
           " sky_messages=" + std::to_string(s.skyMessages) +
           " dropped=" + std::to_string(s.dropped) +
           " guaranteed_sent=" + std::to_string(s.guaranteedSent) +
           " guaranteed_lost=" + std::to_string(s.guaranteedLost) +
           " cpu_s=" + Number("%.3f", s.cpuSeconds) +
           " cpu_measured_s=" + Number("%.3f", s.windowCpuSeconds) +
           " elapsed_s=" + Number("%.3f", s.elapsedSeconds);
}

}  // namespace er_bot
