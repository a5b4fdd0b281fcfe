#include "app/core/epoll_event_loop.h"

#include <poll.h>
#include <sys/epoll.h>

#include <algorithm>
#include <cassert>
#include <climits>

namespace korvimo {

namespace {

// Readiness reports one turn takes from the kernel; more wait for the next turn, and the
// kernel hands them out in turn, so no descriptor starves.
constexpr int kEventsPerTurn = 256;
constexpr int kNestedEventsPerTurn = 64;

}  // namespace

EpollEventLoop::EpollEventLoop(const Clock& clock)
    : clock_(clock), epoll_(::epoll_create1(EPOLL_CLOEXEC)), events_(kEventsPerTurn) {}

EpollEventLoop::~EpollEventLoop() {
    // A Watch or Timer that outlives its loop would end itself on freed memory.
    assert(watchCount_ == 0 && schedule_.empty() && "a Watch or Timer outlives its loop");
}

uint64_t EpollEventLoop::addWatch(int fd, Callback onReadable) {
    if (!epoll_) {
        return 0;
    }
    uint32_t slot;
    if (!freeWatches_.empty()) {
        slot = freeWatches_.back();
        freeWatches_.pop_back();
    } else {
        slot = static_cast<uint32_t>(watches_.size());
        watches_.emplace_back();
    }
    WatchSlot& watch = watches_[slot];
    const uint64_t id = makeId(slot, watch.generation);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = id;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
        // Not a descriptor, one that cannot be watched, or one watched already.
        freeWatches_.push_back(slot);
        return 0;
    }
    // A descriptor number that an ended-but-not-reset watch still names was closed under
    // it: that watch must not take the new descriptor's registration with it when it ends.
    const auto [previous, inserted] = slotOfFd_.try_emplace(fd, slot);
    if (!inserted) {
        watches_[previous->second].fd = -1;
        previous->second = slot;
    }
    watch.fd = fd;
    watch.onReadable = std::make_shared<Callback>(std::move(onReadable));
    ++watchCount_;
    return id;
}

void EpollEventLoop::removeWatch(uint64_t id) {
    const uint32_t slot = static_cast<uint32_t>(id);
    if (slot >= watches_.size()) {
        return;
    }
    WatchSlot& watch = watches_[slot];
    if (watch.generation != static_cast<uint32_t>(id >> 32) || !watch.onReadable) {
        return;
    }
    if (watch.fd >= 0) {
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, watch.fd, nullptr);  // EBADF when closed first
        slotOfFd_.erase(watch.fd);
    }
    watch.fd = -1;
    watch.onReadable.reset();  // a running callback keeps itself alive (see turn)
    ++watch.generation;
    freeWatches_.push_back(slot);
    --watchCount_;
}

uint64_t EpollEventLoop::addTimer(uint32_t periodMs, Callback onTick) {
    uint32_t slot;
    if (!freeTimers_.empty()) {
        slot = freeTimers_.back();
        freeTimers_.pop_back();
    } else {
        slot = static_cast<uint32_t>(timers_.size());
        timers_.emplace_back();
    }
    TimerSlot& timer = timers_[slot];
    timer.periodMs = std::max<uint64_t>(periodMs, 1);
    timer.dueMs = clock_.monotonicMs() + timer.periodMs;
    timer.order = nextOrder_++;
    timer.onTick = std::make_shared<Callback>(std::move(onTick));
    schedule_.emplace(timer.dueMs, timer.order, slot);
    return makeId(slot, timer.generation);
}

void EpollEventLoop::removeTimer(uint64_t id) {
    const uint32_t slot = static_cast<uint32_t>(id);
    if (slot >= timers_.size()) {
        return;
    }
    TimerSlot& timer = timers_[slot];
    if (timer.generation != static_cast<uint32_t>(id >> 32) || !timer.onTick) {
        return;
    }
    schedule_.erase(Due{timer.dueMs, timer.order, slot});
    timer.onTick.reset();
    ++timer.generation;
    freeTimers_.push_back(slot);
}

int EpollEventLoop::runOnce(int timeoutMs) {
    if (turning_) {
        epoll_event nested[kNestedEventsPerTurn];
        return turn(timeoutMs, nested, kNestedEventsPerTurn);
    }
    // Clears the flag however the turn ends.
    struct Outermost {
        bool& turning;
        explicit Outermost(bool& flag) : turning(flag) { turning = true; }
        ~Outermost() { turning = false; }
    } outermost(turning_);
    return turn(timeoutMs, events_.data(), static_cast<int>(events_.size()));
}

int EpollEventLoop::turn(int timeoutMs, epoll_event* events, int capacity) {
    if (watchCount_ == 0 && schedule_.empty() && timeoutMs < 0) {
        return 0;
    }

    // Wait no longer than until the earliest timer is due.
    int wait = timeoutMs;
    if (!schedule_.empty()) {
        const uint64_t now = clock_.monotonicMs();
        const uint64_t earliest = std::get<0>(*schedule_.begin());
        const uint64_t untilDue = earliest > now ? earliest - now : 0;
        const int dueWait = static_cast<int>(std::min<uint64_t>(untilDue, INT_MAX));
        wait = wait < 0 ? dueWait : std::min(wait, dueWait);
    }

    int delivered = 0;
    // A signal cutting the wait short (EINTR) ends the turn early: the caller turns again.
    // Without an epoll descriptor (the kernel refused one) the timers still keep time.
    const int ready =
        epoll_ ? ::epoll_wait(epoll_.get(), events, capacity, wait) : ::poll(nullptr, 0, wait);
    for (int i = 0; i < ready; ++i) {
        const uint64_t id = events[i].data.u64;
        const uint32_t slot = static_cast<uint32_t>(id);
        // A callback earlier in this turn may have ended this watch, and a new one may
        // have taken its slot.
        if (slot >= watches_.size() ||
            watches_[slot].generation != static_cast<uint32_t>(id >> 32) ||
            !watches_[slot].onReadable) {
            continue;
        }
        // The callback may end its own watch; its copy of the function lives until it
        // returns.
        const std::shared_ptr<Callback> callback = watches_[slot].onReadable;
        (*callback)();
        ++delivered;
    }
    return delivered + deliverTimers();
}

int EpollEventLoop::deliverTimers() {
    const uint64_t now = clock_.monotonicMs();
    int delivered = 0;
    // One at a time from the front: a callback may stop or start timers, or run a nested
    // turn that ticks some of those due now itself.
    while (!schedule_.empty() && std::get<0>(*schedule_.begin()) <= now) {
        const uint32_t slot = std::get<2>(*schedule_.begin());
        schedule_.erase(schedule_.begin());
        TimerSlot& timer = timers_[slot];
        // The schedule keeps its phase; a timer that fell behind resumes from now instead of
        // ticking again and again to catch up.
        timer.dueMs += timer.periodMs;
        if (timer.dueMs <= now) {
            timer.dueMs = now + timer.periodMs;
        }
        schedule_.emplace(timer.dueMs, timer.order, slot);
        const std::shared_ptr<Callback> callback = timer.onTick;
        (*callback)();
        ++delivered;
    }
    return delivered;
}

void EpollEventLoop::run() {
    quitting_ = false;
    while (!quitting_) {
        if (watchCount_ == 0 && schedule_.empty()) {
            break;  // nothing could ever happen
        }
        runOnce(-1);
    }
}

}  // namespace korvimo
