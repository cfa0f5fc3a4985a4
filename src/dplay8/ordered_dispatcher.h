#pragma once
// A small pool of threads that runs a handler for queued work items keyed by player: items
// of one key run in the order posted and one at a time; items of different keys may run at
// once. So one slow handler holds up only its own player, never the network thread.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dplay8/host_session.h"

namespace dplay8 {

class OrderedDispatcher {
public:
    using Handler = std::function<void(HostEvent&)>;

    OrderedDispatcher(size_t workers, Handler handler);
    // Runs what is queued, then stops the threads.
    ~OrderedDispatcher();
    OrderedDispatcher(const OrderedDispatcher&) = delete;
    OrderedDispatcher& operator=(const OrderedDispatcher&) = delete;

    // Never waits for a handler.
    void Post(HostEvent event);
    // Posts every event, in order, taking the lock and waking the workers once for all of
    // them; leaves `events` empty.
    void PostAll(std::vector<HostEvent>& events);
    // Returns once everything posted so far has run and no handler is running. Must not be
    // called from a handler.
    void Drain();

private:
    struct Strand {
        std::deque<HostEvent> queue;
    };

    void Work();

    Handler handler_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable idle_;
    std::unordered_map<uint32_t, Strand> strands_;  // keys with work queued or running
    std::deque<uint32_t> ready_;                    // keys whose next item may run
    size_t running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace dplay8
