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
        case EndpointEvent::Agent:
            if (!readRequestBatch(ctx_, *batch_)) {
                handled = false;
                break;
            }
            for (int i = 0; i < batch_->count; ++i) {
                // A handler may have closed the endpoint (the agent stopped).
                if (ctx_.agentSocket != fd) {
                    break;
                }
                if (!serveRequest(ctx_, batch_->datagrams[i], batch_->lengths[i],
                                  batch_->sources[i])) {
                    reportFailure();
                }
            }
            break;
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
