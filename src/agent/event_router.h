// EventRouter: the window procedure of the headless simulator. It receives the readiness
// events of the three endpoints and the timer ticks, hands each to the message flow (which
// routes by PDU type to the active operation's handlers) and shows every failure's
// lastErrorText in the main status list.
//
//   EventRouter router(ctx);
//   ctx.mainWindow = ctx.ownerWindow = &router;
//   openAgentSocket(ctx.ipVersion, ctx.loop, ctx.ownerWindow, ctx.agentSocket, failure,
//                   nullptr, port);
//   loop.run();                     // requests reach ctx.active()->onRequest
#pragma once

#include "app/core/agent_context.h"
#include "app/core/event_loop.h"

namespace korvimo {

// Requests the agent endpoint serves in one readiness event at most. Under load this saves
// the wait for readiness before each request; one at a time they are served all the same.
inline constexpr int kRequestsPerTurn = 32;

class EventRouter final : public EventSink {
  public:
    explicit EventRouter(AgentContext& ctx) : ctx_(ctx) {}

    // 1625 client endpoint: receiveResponse; 1626 agent endpoint: receiveRequest, for every
    // request already waiting (at most kRequestsPerTurn, so that timers keep their turn);
    // 1627 trap endpoint: receiveTrap.
    void endpointReadable(EndpointEvent event, int fd) override;
    // handleRequestTimer.
    void timerTick(uint32_t timerId) override;

  private:
    void reportFailure();

    AgentContext& ctx_;
};

}  // namespace korvimo
