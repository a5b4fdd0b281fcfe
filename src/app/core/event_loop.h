// The single-threaded event model: readable endpoints and repeating timers, delivered one at
// a time to an EventSink (the "window" that owns them), on one thread, each handler running
// to completion.
//
// Two backends implement EventLoop: PollEventLoop (poll(2); headless programs and tests) and
// the Qt backend of the desktop program (socket notifiers and QTimers).
//
//   PollEventLoop loop(SystemClock::instance());
//   loop.watchEndpoint(fd, EndpointEvent::Agent, &router);     // router.endpointReadable(...)
//   loop.startTimer(&router, ctx.nextTimerId++, 2000);          // router.timerTick(id) every 2 s
//   while (running) loop.runOnce(100);
//
// Lifecycle: an endpoint is watched from watchEndpoint until unwatchEndpoint (closeSocket
// unwatches before it closes the descriptor); a timer ticks every period from startTimer
// until killTimer. Starting a timer with an identifier that already runs restarts it.
#pragma once

#include <cstdint>

#include "app/core/clock.h"

namespace korvimo {

// The three endpoint events keep the identities of the window messages they replace.
enum class EndpointEvent : uint32_t {
    Client = 1625,  // clientSocket readable: responses to our requests
    Agent = 1626,   // agentSocket readable: requests to the simulated agent
    Trap = 1627,    // trapSocket readable: traps received while learning
};

// Receives the events of the endpoints and timers it owns.
class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void endpointReadable(EndpointEvent event, int fd) = 0;
    virtual void timerTick(uint32_t timerId) = 0;
};

class EventLoop {
  public:
    virtual ~EventLoop() = default;

    // Calls sink->endpointReadable(event, fd) whenever fd has a datagram waiting.
    virtual bool watchEndpoint(int fd, EndpointEvent event, EventSink* sink) = 0;
    virtual void unwatchEndpoint(int fd) = 0;

    // Calls sink->timerTick(timerId) every periodMs until killTimer(timerId).
    virtual bool startTimer(EventSink* sink, uint32_t timerId, uint32_t periodMs) = 0;
    virtual void killTimer(uint32_t timerId) = 0;

    virtual const Clock& clock() const = 0;
};

}  // namespace korvimo
