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

#include <memory>

#include "agent/message_flow.h"
#include "app/core/agent_context.h"
#include "app/core/event_loop.h"

namespace korvimo {

class EventRouter final : public EventSink {
  public:
    explicit EventRouter(AgentContext& ctx) : ctx_(ctx), batch_(std::make_unique<RequestBatch>()) {}

    // 1625 client endpoint: receiveResponse; 1626 agent endpoint: every request already
    // waiting, at most a RequestBatch, read with one system call and served one by one (the
    // rest wait for the next turn, so that timers keep theirs); 1627 trap endpoint:
    // receiveTrap.
    void endpointReadable(EndpointEvent event, int fd) override;
    // handleRequestTimer.
    void timerTick(uint32_t timerId) override;

  private:
    void reportFailure();

    AgentContext& ctx_;
    std::unique_ptr<RequestBatch> batch_;  // reused for every agent endpoint event
    bool serving_ = false;                 // batch_ is being served
};

}  // namespace korvimo
