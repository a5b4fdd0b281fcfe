// AgentFlowTest: an AgentContext wired as the simulator wires it (poll loop on a manual
// clock, EventRouter as main and owner window, a main status list) with recording handlers
// in all five slots, so that tests see which slot received which event.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "agent/endpoints.h"
#include "agent/event_router.h"
#include "agent/message_flow.h"
#include "agent/udp_peer.h"
#include "app/core/poll_event_loop.h"
#include "app/core/status_list.h"

namespace korvimo::testing {

struct Recorded {
    int slot;
    std::string kind;  // "request", "response", "trap", "timer"
    uint32_t type = 0;
    int32_t requestId = 0;
    SocketAddress from;
    int32_t pendingRequestId = -1;  // the request handed along, -1 when none
    uint32_t timerId = 0;
    snmp::Pdu pdu;
};

class AgentFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ctx.loop = &loop;
        ctx.mainWindow = &router;
        ctx.ownerWindow = &router;
        ctx.mainStatus = &status;
        ctx.clock = &clock;
        for (int slot = 0; slot < kOperationSlots; ++slot) {
            OperationHandlers& h = handlers[slot];
            h.onRequest = [this, slot](const snmp::Pdu& pdu, AgentContext&,
                                       const SocketAddress& from) {
                record(slot, "request", &pdu, from, nullptr, 0);
                if (onRequestHook) {
                    onRequestHook(pdu, from);
                }
                return true;
            };
            h.onResponse = [this, slot](const snmp::Pdu& pdu, AgentContext&,
                                        const SocketAddress& from, const snmp::Pdu* request) {
                record(slot, "response", &pdu, from, request, 0);
                return true;
            };
            h.onTrap = [this, slot](const snmp::Pdu& pdu, AgentContext&,
                                    const SocketAddress& from) {
                record(slot, "trap", &pdu, from, nullptr, 0);
                return true;
            };
            h.onTimer = [this, slot](uint32_t timerId, AgentContext&, const snmp::Pdu* request) {
                record(slot, "timer", nullptr, SocketAddress{}, request, timerId);
                return true;
            };
            ctx.slots[slot] = &h;
        }
    }

    void TearDown() override {
        closeSocket(ctx.loop, ctx.agentSocket);
        closeSocket(ctx.loop, ctx.clientSocket);
        closeSocket(ctx.loop, ctx.trapSocket);
        clearPending(ctx.pendingRequests);
    }

    void record(int slot, const char* kind, const snmp::Pdu* pdu, const SocketAddress& from,
                const snmp::Pdu* request, uint32_t timerId) {
        Recorded r;
        r.slot = slot;
        r.kind = kind;
        if (pdu != nullptr) {
            r.type = pdu->type;
            r.requestId = pdu->requestId;
            r.pdu = *pdu;
        }
        r.from = from;
        r.pendingRequestId = request ? request->requestId : -1;
        r.timerId = timerId;
        events.push_back(r);
    }

    // Turns the loop until done() or waitMs of real time has passed.
    bool pumpUntil(const std::function<bool()>& done, int waitMs = 3000) {
        const uint64_t start = SystemClock::instance().monotonicMs();
        while (!done()) {
            if (SystemClock::instance().monotonicMs() - start > static_cast<uint64_t>(waitMs)) {
                return false;
            }
            loop.runOnce(20);
        }
        return true;
    }

    // Turns the loop for a short while, to show that nothing (more) arrives.
    void pumpFor(int ms) {
        const uint64_t start = SystemClock::instance().monotonicMs();
        while (SystemClock::instance().monotonicMs() - start < static_cast<uint64_t>(ms)) {
            loop.runOnce(10);
        }
    }

    // Opens the agent endpoint on a port that is free (port 0 would mean 161).
    uint16_t openAgent(int ipVersion, const uint8_t* localAddress = nullptr) {
        std::string failure;
        for (int attempt = 0; attempt < 20; ++attempt) {
            uint16_t port = freeUdpPort(ipVersion == 1 ? AF_INET6 : AF_INET);
            if (openAgentSocket(ipVersion, ctx.loop, ctx.ownerWindow, ctx.agentSocket, failure,
                                localAddress, port)) {
                return port;
            }
        }
        ADD_FAILURE() << "agent endpoint not opened: " << failure;
        return 0;
    }

    uint16_t openTrapReceiver() {
        std::string failure;
        for (int attempt = 0; attempt < 20; ++attempt) {
            uint16_t port = freeUdpPort(AF_INET);
            if (openTrapSocket(ctx.loop, ctx.ownerWindow, ctx.trapSocket, failure, port)) {
                return port;
            }
        }
        ADD_FAILURE() << "trap endpoint not opened: " << failure;
        return 0;
    }

    std::size_t count(const std::string& kind) const {
        std::size_t n = 0;
        for (const Recorded& r : events) {
            n += r.kind == kind ? 1 : 0;
        }
        return n;
    }

    ManualClock clock;
    PollEventLoop loop{clock};
    AgentContext ctx;
    StatusList status;
    EventRouter router{ctx};
    std::array<OperationHandlers, kOperationSlots> handlers;
    std::vector<Recorded> events;
    std::function<void(const snmp::Pdu&, const SocketAddress&)> onRequestHook;
};

}  // namespace korvimo::testing
