// The single-threaded event model: descriptors watched for readability and repeating timers,
// each delivered to the callback of whoever started it, one at a time, on one thread, each
// callback running to completion.
//
// Two backends implement EventLoop: EpollEventLoop (epoll(7); headless programs and tests)
// and the Qt backend of the desktop program (socket notifiers and QTimers). Whatever a
// component watches or times, it holds as a handle: the watch or timer lasts as long as the
// handle, so a component that goes takes its events with it and nothing can reach it
// afterwards.
//
//   EpollEventLoop loop(SystemClock::instance());
//   Watch requests = loop.watch(fd, [this] { readRequests(); });   // while fd is readable
//   Timer refresh = loop.startTimer(100, [this] { redraw(); });      // every 100 ms
//   while (running) loop.runOnce(100);
//   refresh.stop();                                                  // or let it go
//
// Lifecycle, the same for both kinds of handle:
//   - watch() and startTimer() give an active handle, or an inactive one when the backend
//     refused (a descriptor that cannot be watched).
//   - The handle ends its watch or timer when it is reset/stopped, assigned another, or
//     destroyed. That is safe at any time, also from inside its own callback: a callback
//     whose watch or timer ended is not called again, not even for an event the same turn
//     had already seen.
//   - A handle never outlives its loop. An owner declares its UniqueFd before the Watch of
//     that descriptor, so that the watch ends before the descriptor closes.
//   - Timers repeat until stopped; one that should fire once stops itself in its callback.
//     A period below 1 ms runs at 1 ms.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "app/core/clock.h"

namespace korvimo {

class EventLoop;

// A descriptor watched for readability; see EventLoop::watch.
class Watch {
  public:
    Watch() = default;
    ~Watch() { reset(); }
    Watch(Watch&& other) noexcept
        : loop_(std::exchange(other.loop_, nullptr)), id_(std::exchange(other.id_, 0)) {}
    Watch& operator=(Watch&& other) noexcept;
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    bool active() const { return loop_ != nullptr; }
    // Ends the watch; nothing when it is not active.
    void reset();

  private:
    friend class EventLoop;
    Watch(EventLoop* loop, uint64_t id) : loop_(loop), id_(id) {}

    EventLoop* loop_ = nullptr;
    uint64_t id_ = 0;
};

// A repeating timer; see EventLoop::startTimer.
class Timer {
  public:
    Timer() = default;
    ~Timer() { stop(); }
    Timer(Timer&& other) noexcept
        : loop_(std::exchange(other.loop_, nullptr)), id_(std::exchange(other.id_, 0)) {}
    Timer& operator=(Timer&& other) noexcept;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    bool running() const { return loop_ != nullptr; }
    // Ends the timer; nothing when it is not running.
    void stop();

  private:
    friend class EventLoop;
    Timer(EventLoop* loop, uint64_t id) : loop_(loop), id_(id) {}

    EventLoop* loop_ = nullptr;
    uint64_t id_ = 0;
};

class EventLoop {
  public:
    using Callback = std::function<void()>;

    virtual ~EventLoop() = default;

    // Calls onReadable whenever fd has something to read (level-triggered: what is left
    // unread is announced again at the next turn), until the Watch ends.
    [[nodiscard]] Watch watch(int fd, Callback onReadable);

    // Calls onTick every periodMs until the Timer stops. A timer that falls behind (a
    // callback took longer than the period) ticks once and keeps its period from then on.
    [[nodiscard]] Timer startTimer(uint32_t periodMs, Callback onTick);

    // The clock that times the timers.
    virtual const Clock& clock() const = 0;

  protected:
    // The backend's side. An identifier is never 0 and never given twice by one loop.
    // addWatch and addTimer give 0 when they refuse.
    virtual uint64_t addWatch(int fd, Callback onReadable) = 0;
    virtual void removeWatch(uint64_t id) = 0;
    virtual uint64_t addTimer(uint32_t periodMs, Callback onTick) = 0;
    virtual void removeTimer(uint64_t id) = 0;

  private:
    friend class Watch;
    friend class Timer;
};

}  // namespace korvimo
