// PollEventLoop: the event loop of the headless programs and the tests, on poll(2).
//
// One turn (runOnce) waits until an endpoint is readable or the next timer is due, or the
// given time has passed, then delivers every readable endpoint once and every due timer
// once. Timers are due by the injected Clock, so a test with a ManualClock advances the time
// and sees exactly the ticks that became due, without sleeping. A timer that falls behind
// (a handler took longer than its period) ticks once and then keeps its period from now on:
// missed ticks are not made up in a burst, and a slow handler never turns the loop into a
// busy loop.
//
// A turn that is not nested in another gathers what it polls and what is due in buffers the
// loop keeps, so that the turns of a busy agent allocate nothing; a turn a handler runs
// inside another gets buffers of its own, and leaves those of the turn around it intact.
//
//   PollEventLoop loop(SystemClock::instance());
//   loop.startTimer(&sink, 1, 5);          // sink.timerTick(1) every 5 ms
//   while (!done) loop.runOnce(100);
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "app/core/event_loop.h"

namespace korvimo {

class PollEventLoop final : public EventLoop {
  public:
    explicit PollEventLoop(const Clock& clock) : clock_(clock) {}

    bool watchEndpoint(int fd, EndpointEvent event, EventSink* sink) override;
    void unwatchEndpoint(int fd) override;
    // A period below 1 ms runs at 1 ms.
    bool startTimer(EventSink* sink, uint32_t timerId, uint32_t periodMs) override;
    void killTimer(uint32_t timerId) override;
    const Clock& clock() const override { return clock_; }

    // One turn. timeoutMs < 0 waits without limit for an endpoint or a timer (and returns at
    // once when nothing is watched and no timer runs). Returns the number of events
    // delivered. Handlers may watch, unwatch, start and kill anything, and may run nested
    // turns themselves.
    int runOnce(int timeoutMs);

    // Turns until a handler calls quit(), or until nothing is watched and no timer runs.
    void run();
    void quit() { quitting_ = true; }
    bool quitting() const { return quitting_; }

    bool isWatched(int fd) const { return watches_.count(fd) != 0; }
    bool timerRunning(uint32_t timerId) const { return timers_.count(timerId) != 0; }
    std::size_t timerCount() const { return timers_.size(); }

  private:
    struct Watch {
        EndpointEvent event;
        EventSink* sink;
        uint64_t serial;  // tells a watch from a later one on a reused descriptor
    };
    struct Timer {
        EventSink* sink;
        uint64_t periodMs;
        uint64_t nextDueMs;
        uint64_t serial;
    };
    struct DueTimer {
        uint64_t dueMs;
        uint32_t id;
        uint64_t serial;
    };
    // What one turn gathers before it delivers anything.
    struct TurnBuffers {
        std::vector<pollfd> fds;
        std::vector<uint64_t> serials;  // of the watches polled, in the order of fds
        std::vector<DueTimer> due;      // earliest first
    };

    int turn(int timeoutMs, TurnBuffers& buffers);
    int deliverTimers(std::vector<DueTimer>& due);

    const Clock& clock_;
    std::map<int, Watch> watches_;
    std::map<uint32_t, Timer> timers_;
    uint64_t nextSerial_ = 1;
    bool quitting_ = false;
    TurnBuffers buffers_;   // the outermost turn's
    bool turning_ = false;  // an outermost turn is delivering
};

}  // namespace korvimo
