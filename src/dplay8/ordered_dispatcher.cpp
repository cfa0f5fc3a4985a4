#include "dplay8/ordered_dispatcher.h"

namespace dplay8 {

OrderedDispatcher::OrderedDispatcher(size_t workers, Handler handler)
    : handler_(std::move(handler)) {
    if (workers == 0)
        workers = 1;
    threads_.reserve(workers);
    for (size_t i = 0; i < workers; ++i)
        threads_.emplace_back([this] { Work(); });
}

OrderedDispatcher::~OrderedDispatcher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

void OrderedDispatcher::Post(HostEvent event) {
    std::vector<HostEvent> one;
    one.push_back(std::move(event));
    PostAll(one);
}

void OrderedDispatcher::PostAll(std::vector<HostEvent>& events) {
    if (events.empty())
        return;
    size_t scheduled = 0;
    {
        std::lock_guard lock(mutex_);
        for (HostEvent& event : events) {
            const uint32_t key = event.dpnid;
            auto [it, inserted] = strands_.try_emplace(key);
            it->second.queue.push_back(std::move(event));
            // A key already present is queued in ready_ or has an item running; either way
            // its next item is picked up when that one is done.
            if (inserted) {
                ready_.push_back(key);
                ++scheduled;
            }
        }
    }
    events.clear();
    if (scheduled >= threads_.size()) {
        work_.notify_all();
    } else {
        for (size_t i = 0; i < scheduled; ++i)
            work_.notify_one();
    }
}

void OrderedDispatcher::Drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return strands_.empty() && running_ == 0; });
}

void OrderedDispatcher::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
        if (ready_.empty())
            return;  // stopping, and nothing left to run
        const uint32_t key = ready_.front();
        ready_.pop_front();
        Strand& strand = strands_[key];
        HostEvent event = std::move(strand.queue.front());
        strand.queue.pop_front();
        ++running_;
        lock.unlock();
        handler_(event);
        lock.lock();
        --running_;
        auto it = strands_.find(key);
        if (it->second.queue.empty()) {
            strands_.erase(it);
        } else {
            // One item per turn, so a busy player does not starve the others.
            ready_.push_back(key);
            work_.notify_one();
        }
        if (strands_.empty() && running_ == 0)
            idle_.notify_all();
    }
}

}  // namespace dplay8
