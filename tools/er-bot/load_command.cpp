// er-bot load: many players on one thread. Each player has its own UDP socket (the host tells
// players apart by their address and port) and its own client session; one epoll set watches
// every socket, and a heap of wake-up times says which player's timers are due, so a loop
// turn touches only the players that have something to do. Received datagrams are read in
// batches with recvmmsg, carrying the kernel's arrival time for the round-trip figures, and a
// player's datagrams leave in one sendmmsg when it has several.

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <queue>
#include <random>
#include <vector>

#include "client_messages.h"
#include "commands.h"
#include "dplay8/udp_host.h"
#include "game_session.h"
#include "load_stats.h"
#include "udp_socket.h"
#include "visible_text.h"
#include "walk_pattern.h"

namespace er_bot {

namespace {

using dplay8::Millis;
using Micros = int64_t;
constexpr Micros kNeverUs = INT64_MAX;

// Reports a player may have waiting for a NearbyPlayers reply; an older one counts as unanswered.
constexpr size_t kPendingReports = 8;
// Datagrams read from one socket in one call, and the largest datagram expected.
constexpr unsigned kReceiveBatch = 16;
constexpr size_t kDatagramRoom = 2048;
// Datagrams one player hands to the kernel in one call.
constexpr unsigned kSendBatch = 8;
// Ready sockets taken from epoll in one call.
constexpr int kEpollBatch = 1024;
// How long the last reports may wait for their replies before the players leave.
constexpr Micros kDrainTimeoutUs = 1'000'000;
// How long the leave at the end may take before the run reports what it has.
constexpr Micros kLeaveTimeoutUs = 5'000'000;
// Descriptors beside the players' sockets: the standard three, epoll, and a margin.
constexpr rlim_t kSpareFiles = 16;

Micros MonotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Micros(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

// The kernel stamps arrivals with the real-time clock, so send times are taken on it too.
int64_t RealtimeNanos() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// er-bot's own processor time so far, user and system, in seconds.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Micros ToMicros(Millis ms) {
    return ms >= kNeverUs / 1000 ? kNeverUs : ms * 1000;
}

enum class BotState : uint8_t { kWaiting, kJoining, kJoined, kLeaving, kDone };

struct Bot {
    int fd = -1;
    BotState state = BotState::kWaiting;
    bool leftCleanly = false;
    std::unique_ptr<dplay8::ClientSession> session;
    Micros joinStarted = 0;
    Micros joinDeadline = kNeverUs;
    Micros walkStarted = 0;
    Micros nextReport = kNeverUs;
    Micros scheduled = kNeverUs;  // the heap entry that counts; others are stale
    uint32_t guaranteedSent = 0;
    uint8_t pendingCount = 0;
    bool reportQueued = false;  // a report waits to be stamped when it leaves
    std::array<int64_t, kPendingReports> pendingSentNs{};
};

struct Counters {
    uint64_t messagesSent = 0, messagesReceived = 0;
    uint64_t datagramsSent = 0, datagramsReceived = 0;
    uint64_t nearbyReplies = 0, npcUpdates = 0, skyMessages = 0;
};

class LoadRun {
public:
    LoadRun(const LoadOptions& options, const sockaddr_in& server)
        : options_(options),
          server_(server),
          bots_(size_t(options.players)),
          reportPeriodUs_(Micros(std::llround(1e6 / options.rateHz))),
          random_(std::random_device{}()) {
        std::vector<std::pair<Micros, uint32_t>> storage;
        storage.reserve(bots_.size() * 4);
        heap_ = Heap(std::greater<>(), std::move(storage));
        for (unsigned i = 0; i < kReceiveBatch; ++i) {
            receiveIov_[i] = {receiveBuffers_[i].data(), kDatagramRoom};
            receiveHeaders_[i].msg_hdr.msg_iov = &receiveIov_[i];
            receiveHeaders_[i].msg_hdr.msg_iovlen = 1;
            receiveHeaders_[i].msg_hdr.msg_control = receiveControl_[i].data();
        }
        for (dplay8::Bytes& out : sendBuffers_)
            out.reserve(kDatagramRoom);
    }

    int Run() {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0) {
            std::fprintf(stderr, "er-bot: epoll: %s\n", std::strerror(errno));
            return 1;
        }
        const Micros started = MonotonicMicros();
        const double joinIntervalUs = 1e6 / options_.joinRate;
        size_t nextJoin = 0;
        Micros windowStart = 0, drainDeadline = 0, leaveDeadline = 0;
        enum class Phase { kJoining, kMeasuring, kDraining, kLeaving } phase = Phase::kJoining;
        std::array<epoll_event, kEpollBatch> ready;
        for (;;) {
            Micros now = MonotonicMicros();
            for (; nextJoin < bots_.size() &&
                   now >= started + Micros(double(nextJoin) * joinIntervalUs);
                 ++nextJoin)
                StartJoin(uint32_t(nextJoin), now);
            if (phase == Phase::kJoining && nextJoin == bots_.size() && joining_ == 0) {
                phase = Phase::kMeasuring;
                windowStart = now;
                windowCpu_ = CpuSeconds();
                measuring_ = true;
                std::fprintf(stderr,
                             "er-bot: %d of %d players joined in %.2f s; measuring for %g s\n",
                             joined_, options_.players, double(now - started) / 1e6,
                             options_.durationSeconds);
            }
            if (phase == Phase::kMeasuring &&
                (joined_ == 0 || now >= windowStart + Micros(options_.durationSeconds * 1e6))) {
                // No more reports; the last ones still get their round trip counted.
                phase = Phase::kDraining;
                measuring_ = false;
                summary_.measuredSeconds = double(now - windowStart) / 1e6;
                summary_.windowCpuSeconds = CpuSeconds() - windowCpu_;
                drainDeadline = now + kDrainTimeoutUs;
                for (Bot& bot : bots_)
                    bot.nextReport = kNeverUs;
            }
            if (phase == Phase::kDraining && (pending_ == 0 || now >= drainDeadline)) {
                phase = Phase::kLeaving;
                leaveDeadline = now + kLeaveTimeoutUs;
                for (uint32_t i = 0; i < bots_.size(); ++i)
                    if (bots_[i].state == BotState::kJoined)
                        Leave(i, now);
            }
            if (phase == Phase::kLeaving && (active_ == 0 || now >= leaveDeadline))
                break;

            Micros wake = heap_.empty() ? now + 1'000'000 : heap_.top().first;
            if (nextJoin < bots_.size())
                wake = std::min(wake, started + Micros(double(nextJoin) * joinIntervalUs));
            if (phase == Phase::kMeasuring)
                wake = std::min(wake, windowStart + Micros(options_.durationSeconds * 1e6));
            if (phase == Phase::kDraining)
                wake = std::min(wake, drainDeadline);
            if (phase == Phase::kLeaving)
                wake = std::min(wake, leaveDeadline);
            // Rounded up: waking early would only turn the loop once more for nothing.
            const int timeoutMs = int(std::clamp<Micros>((wake - now + 999) / 1000, 0, 1000));
            const int n = epoll_wait(epoll_, ready.data(), kEpollBatch, timeoutMs);
            now = MonotonicMicros();
            for (int i = 0; i < n; ++i) {
                const uint32_t index = ready[size_t(i)].data.u32;
                if (bots_[index].state == BotState::kDone)
                    continue;
                Receive(index, now);
                Service(index, now);
            }
            while (!heap_.empty() && heap_.top().first <= now) {
                const auto [at, index] = heap_.top();
                heap_.pop();
                if (bots_[index].scheduled != at)
                    continue;  // stale: the player was rescheduled since
                bots_[index].scheduled = kNeverUs;
                Service(index, now);
            }
        }
        // Whoever is still here did not finish leaving in time.
        for (uint32_t i = 0; i < bots_.size(); ++i)
            if (bots_[i].state != BotState::kDone) {
                Finish(i);
            }
        close(epoll_);
        return Report(double(MonotonicMicros() - started) / 1e6);
    }

private:
    using Heap = std::priority_queue<std::pair<Micros, uint32_t>,
                                     std::vector<std::pair<Micros, uint32_t>>, std::greater<>>;

    void StartJoin(uint32_t index, Micros now) {
        Bot& bot = bots_[index];
        std::string error;
        // Against a server on this machine's loopback network each player sends from an
        // address of its own, as players on the Internet do: the server's limits per address
        // see what they would in public.
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(0x7F000002u + index % 0xFFFFF0u);
        const bool loopback = (ntohl(server_.sin_addr.s_addr) >> 24) == 127;
        bot.fd = OpenUdpSocket(&server_, error, loopback ? &source : nullptr);
        if (bot.fd < 0) {
            std::fprintf(stderr, "er-bot: player %u: %s\n", index, error.c_str());
            bot.state = BotState::kDone;
            ++failed_;
            return;
        }
        const int on = 1;
        setsockopt(bot.fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = index;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, bot.fd, &ev);
        const std::string name = options_.namePrefix + std::to_string(index);
        bot.session = std::make_unique<dplay8::ClientSession>(
            GameClientConfig(Utf8ToUtf16(name), uint32_t(random_())), now / 1000);
        bot.state = BotState::kJoining;
        bot.joinStarted = now;
        bot.joinDeadline = now + Micros(options_.joinTimeoutMs) * 1000;
        ++joining_;
        ++active_;
        Service(index, now);
    }

    void Receive(uint32_t index, Micros now) {
        Bot& bot = bots_[index];
        for (;;) {
            for (unsigned i = 0; i < kReceiveBatch; ++i) {
                receiveHeaders_[i].msg_hdr.msg_controllen = receiveControl_[i].size();
                receiveHeaders_[i].msg_hdr.msg_flags = 0;
            }
            const int got =
                recvmmsg(bot.fd, receiveHeaders_.data(), kReceiveBatch, MSG_DONTWAIT, nullptr);
            if (got <= 0)
                return;  // nothing more, or an ICMP error the retries will deal with
            if (measuring_)
                counters_.datagramsReceived += unsigned(got);
            for (int i = 0; i < got && bot.session; ++i) {
                const mmsghdr& h = receiveHeaders_[size_t(i)];
                if (h.msg_hdr.msg_flags & MSG_TRUNC)
                    continue;
                bot.session->HandleDatagram(
                    dplay8::ByteSpan(receiveBuffers_[size_t(i)].data(), h.msg_len), now / 1000);
                HandleEvents(index, ArrivalNanos(h.msg_hdr), now);
            }
            if (unsigned(got) < kReceiveBatch)
                return;
        }
    }

    static int64_t ArrivalNanos(const msghdr& header) {
        for (const cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr;
             c = CMSG_NXTHDR(const_cast<msghdr*>(&header), const_cast<cmsghdr*>(c))) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
            }
        }
        return RealtimeNanos();
    }

    // Timers, the position report when due, events, datagrams out, and the next wake-up.
    void Service(uint32_t index, Micros now) {
        Bot& bot = bots_[index];
        if (!bot.session)
            return;
        const Millis nowMs = now / 1000;
        if (nowMs >= bot.session->NextTimeout())
            bot.session->HandleTimeout(nowMs);
        HandleEvents(index, 0, now);
        if (bot.state == BotState::kJoining && now >= bot.joinDeadline) {
            --joining_;
            ++failed_;
            Finish(index);
            return;
        }
        if (bot.state == BotState::kJoined && now >= bot.nextReport)
            SendReport(index, now);
        // Sending can end the session (the last acknowledgment of a leave), and an event can
        // queue more to send (the tag after the join).
        do
            Transmit(index, now);
        while (HandleEvents(index, 0, now));
        if (bot.state == BotState::kDone)
            return;
        Micros wake = ToMicros(bot.session->NextTimeout());
        if (bot.state == BotState::kJoining)
            wake = std::min(wake, bot.joinDeadline);
        if (bot.state == BotState::kJoined)
            wake = std::min(wake, bot.nextReport);
        if (wake != bot.scheduled) {
            bot.scheduled = wake;
            if (wake != kNeverUs)
                heap_.emplace(wake, index);
        }
    }

    void SendReport(uint32_t index, Micros now) {
        Bot& bot = bots_[index];
        const WalkPoint p = WalkAt(options_.pattern, index, double(now - bot.walkStarted) / 1e6);
        const auto report = BuildPositionReport(true, p.x, p.y, p.facing, index);
        if (bot.session->Send(report, {}, now / 1000)) {
            if (measuring_) {
                ++counters_.messagesSent;
                bot.reportQueued = true;
            }
        }
        bot.nextReport += reportPeriodUs_;
        if (bot.nextReport <= now)  // fallen behind: carry on from now rather than burst
            bot.nextReport = now + reportPeriodUs_;
    }

    void Transmit(uint32_t index, Micros now) {
        Bot& bot = bots_[index];
        for (;;) {
            unsigned count = 0;
            while (count < kSendBatch && bot.session &&
                   bot.session->PollTransmit(now / 1000, sendBuffers_[count]))
                ++count;
            if (count == 0)
                break;
            if (bot.reportQueued) {
                bot.reportQueued = false;
                if (bot.pendingCount == kPendingReports) {
                    std::rotate(bot.pendingSentNs.begin(), bot.pendingSentNs.begin() + 1,
                                bot.pendingSentNs.end());
                    --bot.pendingCount;
                    --pending_;
                    ++summary_.reportsUnanswered;
                }
                bot.pendingSentNs[bot.pendingCount++] = RealtimeNanos();
                ++pending_;
            }
            int sent;
            if (count == 1) {
                sent = send(bot.fd, sendBuffers_[0].data(), sendBuffers_[0].size(), 0) >= 0 ? 1 : 0;
            } else {
                for (unsigned i = 0; i < count; ++i) {
                    sendIov_[i] = {sendBuffers_[i].data(), sendBuffers_[i].size()};
                    sendHeaders_[i] = {};
                    sendHeaders_[i].msg_hdr.msg_iov = &sendIov_[i];
                    sendHeaders_[i].msg_hdr.msg_iovlen = 1;
                }
                sent = std::max(0, sendmmsg(bot.fd, sendHeaders_.data(), count, 0));
            }
            // A datagram the kernel would not take is lost, as on a network; the transport
            // repeats what must arrive.
            if (measuring_)
                counters_.datagramsSent += unsigned(sent);
            if (count < kSendBatch)
                break;
        }
    }

    // True when there was an event.
    bool HandleEvents(uint32_t index, int64_t arrivalNs, Micros now) {
        Bot& bot = bots_[index];
        bool any = false;
        while (bot.session) {
            auto e = bot.session->PollEvent();
            if (!e)
                return any;
            any = true;
            switch (e->type) {
                case dplay8::ClientEventType::kJoined:
                    if (bot.state == BotState::kJoining) {
                        --joining_;
                        ++joined_;
                        joinTimes_.push_back(now - bot.joinStarted);
                        bot.state = BotState::kJoined;
                        bot.walkStarted = now;
                        bot.nextReport = now;
                        // Players set their tag once; the one guaranteed message of a run.
                        if (bot.session->Send(BuildTagRequest(index), {.guaranteed = true},
                                              now / 1000)) {
                            ++bot.guaranteedSent;
                            ++summary_.guaranteedSent;
                        }
                    }
                    break;
                case dplay8::ClientEventType::kConnectFailed:
                    if (bot.state == BotState::kJoining) {
                        --joining_;
                        ++failed_;
                    }
                    Finish(index);
                    return true;
                case dplay8::ClientEventType::kMessage:
                    OnMessage(bot, e->data, arrivalNs);
                    break;
                case dplay8::ClientEventType::kTerminated:
                    if (bot.state == BotState::kJoined)
                        ++summary_.dropped;
                    bot.leftCleanly = bot.state == BotState::kLeaving &&
                                      e->reason == dplay8::DisconnectReason::kClosedLocally;
                    Finish(index);
                    return true;
                case dplay8::ClientEventType::kInfoUpdated:
                    break;
            }
        }
        return any;
    }

    void OnMessage(Bot& bot, const dplay8::Bytes& data, int64_t arrivalNs) {
        if (measuring_)
            ++counters_.messagesReceived;
        if (data.size() < 4)
            return;
        const uint32_t type = GetU32(data.data());
        if (type == kMsgNearbyPlayers) {
            if (measuring_)
                ++counters_.nearbyReplies;
            const int64_t at = arrivalNs != 0 ? arrivalNs : RealtimeNanos();
            for (uint8_t i = 0; i < bot.pendingCount; ++i)
                nearby_.Add(uint64_t(std::max<int64_t>(0, at - bot.pendingSentNs[i])) / 1000);
            pending_ -= bot.pendingCount;
            bot.pendingCount = 0;
        } else if (type == kMsgNpcUpdate && measuring_) {
            ++counters_.npcUpdates;
        } else if (type == kMsgSkyWeather && measuring_) {
            ++counters_.skyMessages;
        }
    }

    void Leave(uint32_t index, Micros now) {
        Bot& bot = bots_[index];
        bot.state = BotState::kLeaving;
        bot.session->Close(now / 1000);
        Service(index, now);
    }

    // The player is gone: its socket closes (and leaves the epoll set with it).
    void Finish(uint32_t index) {
        Bot& bot = bots_[index];
        if (bot.state == BotState::kDone)
            return;
        summary_.reportsUnanswered += bot.pendingCount;
        pending_ -= bot.pendingCount;
        bot.pendingCount = 0;
        if (!bot.leftCleanly)
            summary_.guaranteedLost += bot.guaranteedSent;
        bot.state = BotState::kDone;
        bot.session.reset();
        close(bot.fd);
        bot.fd = -1;
        --active_;
    }

    int Report(double elapsedSeconds) {
        LoadSummary& s = summary_;
        s.players = options_.players;
        s.joined = joined_;
        s.failed = failed_;
        auto ms = [](std::optional<int64_t> us) {
            return us ? std::optional(double(*us) / 1000) : std::nullopt;
        };
        s.joinP50Ms = ms(Percentile(joinTimes_, 50));
        s.joinP99Ms = ms(Percentile(joinTimes_, 99));
        s.joinMaxMs = ms(Percentile(joinTimes_, 100));
        s.messagesSent = counters_.messagesSent;
        s.messagesReceived = counters_.messagesReceived;
        s.datagramsSent = counters_.datagramsSent;
        s.datagramsReceived = counters_.datagramsReceived;
        s.nearbyReplies = counters_.nearbyReplies;
        auto hist = [&](double p) {
            const auto us = nearby_.Percentile(p);
            return us ? std::optional(double(*us) / 1000) : std::nullopt;
        };
        s.nearbyP50Ms = hist(50);
        s.nearbyP99Ms = hist(99);
        s.nearbyMaxMs = hist(100);
        s.npcUpdates = counters_.npcUpdates;
        s.skyMessages = counters_.skyMessages;
        s.cpuSeconds = CpuSeconds();
        s.elapsedSeconds = elapsedSeconds;
        std::printf("%s%s\n", FormatSummary(s).c_str(), FormatResultLine(s).c_str());
        return s.joined == s.players && s.dropped == 0 ? 0 : 1;
    }

    const LoadOptions& options_;
    sockaddr_in server_;
    std::vector<Bot> bots_;
    const Micros reportPeriodUs_;
    std::mt19937 random_;
    int epoll_ = -1;
    Heap heap_;
    bool measuring_ = false;
    double windowCpu_ = 0;  // er-bot's processor time when the window opened
    int joining_ = 0, joined_ = 0, failed_ = 0, active_ = 0;
    int64_t pending_ = 0;  // reports waiting for their reply, over all players
    std::vector<int64_t> joinTimes_;
    Counters counters_;
    LatencyHistogram nearby_;
    LoadSummary summary_;

    std::array<std::array<uint8_t, kDatagramRoom>, kReceiveBatch> receiveBuffers_{};
    std::array<std::array<uint8_t, CMSG_SPACE(sizeof(timespec))>, kReceiveBatch> receiveControl_{};
    std::array<iovec, kReceiveBatch> receiveIov_{};
    std::array<mmsghdr, kReceiveBatch> receiveHeaders_{};
    std::array<dplay8::Bytes, kSendBatch> sendBuffers_;
    std::array<iovec, kSendBatch> sendIov_{};
    std::array<mmsghdr, kSendBatch> sendHeaders_{};
};

// Every player needs a descriptor: raise the soft limit as far as the hard one allows.
bool EnsureFiles(int players) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t needed = rlim_t(players) + kSpareFiles;
    if (limit.rlim_cur >= needed)
        return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) {
        std::fprintf(stderr,
                     "er-bot: %d players need %llu open files, but the hard limit is %llu "
                     "(ulimit -Hn)\n",
                     players, static_cast<unsigned long long>(needed),
                     static_cast<unsigned long long>(limit.rlim_max));
        return false;
    }
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        std::fprintf(stderr, "er-bot: cannot raise the open-file limit: %s\n",
                     std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

int RunLoad(const LoadOptions& options) {
    std::string error;
    const auto server =
        Resolve(options.target.host, options.target.port.value_or(kDefaultGamePort), error);
    if (!server) {
        std::fprintf(stderr, "er-bot: %s\n", error.c_str());
        return 1;
    }
    if (!EnsureFiles(options.players))
        return 1;
    // The run object holds every player and the batch buffers: too large for the stack.
    auto run = std::make_unique<LoadRun>(options, *server);
    return run->Run();
}

}  // namespace er_bot
