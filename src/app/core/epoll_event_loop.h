// EpollEventLoop: the event loop of the headless programs and the tests, on epoll(7).
//
// One turn (runOnce) waits until a watched descriptor is readable or the next timer is due,
// or the given time has passed, then calls every readable descriptor's callback once and
// every due timer's callback once. A turn costs the same whether ten descriptors are watched
// or ten thousand: the kernel reports only the ready ones.
//
// Timers are due by the injected Clock, so a test with a ManualClock advances the time and
// sees exactly the ticks that became due, without sleeping. Timers due at the same time tick
// in the order they were started. A timer that falls behind ticks once and then keeps its
// period from now on: missed ticks are not made up in a burst, and a slow callback never
// turns the loop into a busy loop.
//
// Callbacks may watch, unwatch, start and stop anything, and may run nested turns
// themselves (as a modal box does): a nested turn reads the kernel's report into a buffer of
// its own, leaves the outer turn's report intact, and a timer that ticked in the nested turn
// does not tick again in the outer one.
//
//   EpollEventLoop loop(SystemClock::instance());
//   Timer step = loop.startTimer(5, [&] { ... });   // every 5 ms
//   while (!done) loop.runOnce(100);
#pragma once

#include <sys/epoll.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "app/core/event_loop.h"
#include "base/unique_fd.h"

namespace korvimo {

class EpollEventLoop final : public EventLoop {
  public:
    explicit EpollEventLoop(const Clock& clock);
    ~EpollEventLoop() override;
    EpollEventLoop(const EpollEventLoop&) = delete;
    EpollEventLoop& operator=(const EpollEventLoop&) = delete;

    const Clock& clock() const override { return clock_; }

    // One turn. timeoutMs < 0 waits without limit for a descriptor or a timer (and returns
    // at once when nothing is watched and no timer runs). Returns the number of callbacks
    // called.
    int runOnce(int timeoutMs);

    // Turns until a callback calls quit(), or until nothing is watched and no timer runs.
    void run();
    void quit() { quitting_ = true; }
    bool quitting() const { return quitting_; }

    std::size_t watchCount() const { return watchCount_; }
    std::size_t timerCount() const { return schedule_.size(); }

  protected:
    uint64_t addWatch(int fd, Callback onReadable) override;
    void removeWatch(uint64_t id) override;
    uint64_t addTimer(uint32_t periodMs, Callback onTick) override;
    void removeTimer(uint64_t id) override;

  private:
    // Slots are reused; the generation in an identifier tells a slot's owner from a later
    // one, so an event the kernel reported for an ended watch reaches nobody.
    struct WatchSlot {
        int fd = -1;  // -1 once the descriptor was found closed under the watch
        uint32_t generation = 1;
        std::shared_ptr<Callback> onReadable;  // null while the slot is free
    };
    struct TimerSlot {
        uint32_t generation = 1;
        uint64_t periodMs = 0;
        uint64_t dueMs = 0;
        uint64_t order = 0;  // start order, which breaks ties of due time
        std::shared_ptr<Callback> onTick;
    };
    // Running timers by due time, then start order.
    using Due = std::tuple<uint64_t, uint64_t, uint32_t>;  // due, order, slot

    static uint64_t makeId(uint32_t slot, uint32_t generation) {
        return static_cast<uint64_t>(generation) << 32 | slot;
    }

    int turn(int timeoutMs, epoll_event* events, int capacity);
    int deliverTimers();

    const Clock& clock_;
    UniqueFd epoll_;
    std::vector<WatchSlot> watches_;
    std::vector<uint32_t> freeWatches_;
    std::unordered_map<int, uint32_t> slotOfFd_;
    std::size_t watchCount_ = 0;
    std::vector<TimerSlot> timers_;
    std::vector<uint32_t> freeTimers_;
    std::set<Due> schedule_;
    uint64_t nextOrder_ = 1;
    bool quitting_ = false;
    std::vector<epoll_event> events_;  // the outermost turn's
    bool turning_ = false;             // an outermost turn is delivering
};

}  // namespace korvimo
