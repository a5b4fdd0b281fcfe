#include "agent/event_router.h"

#include "agent/message_flow.h"
#include "app/core/main_status.h"
#include "snmp/last_error.h"

namespace korvimo {

void EventRouter::endpointReadable(EndpointEvent event, int fd) {
    bool handled = true;
    switch (event) {
        case EndpointEvent::Client:
            handled = receiveResponse(ctx_);
            break;
        case EndpointEvent::Agent: {
            // A handler that runs a nested loop turn may bring this event back while a batch
            // is still being served; that turn reads into a batch of its own.
            std::unique_ptr<RequestBatch> nested;
            RequestBatch& batch = serving_ ? *(nested = std::make_unique<RequestBatch>()) : *batch_;
            const bool outer = !serving_;
            serving_ = true;
            if (!readRequestBatch(ctx_, batch)) {
                handled = false;
            }
            for (int i = 0; handled && i < batch.count; ++i) {
                // A handler may have closed the endpoint (the agent stopped).
                if (ctx_.agentSocket != fd) {
                    break;
                }
                if (!serveRequest(ctx_, batch.datagrams[i], batch.lengths[i], batch.sources[i])) {
                    reportFailure();
                }
            }
            if (outer) {
                serving_ = false;
            }
            break;
        }
        case EndpointEvent::Trap:
            handled = receiveTrap(ctx_);
            break;
    }
    if (!handled) {
        reportFailure();
    }
}

void EventRouter::timerTick(uint32_t timerId) {
    if (!handleRequestTimer(ctx_, timerId)) {
        reportFailure();
    }
}

void EventRouter::reportFailure() {
    reportToMainStatus(snmp::lastErrorText, ctx_);
}

}  // namespace korvimo
