// AgentFlowTest: the three kinds of endpoint wired as a program wires them (an epoll loop on
// a manual clock, failures to a status list) with recording handlers, so that tests see which
// event reached whom: requests on an AgentEndpoint, Responses and time-outs of a
// RequestClient, traps on a TrapReceiver.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "agent/agent_endpoint.h"
#include "agent/endpoints.h"
#include "agent/request_client.h"
#include "agent/trap_receiver.h"
#include "agent/udp_peer.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/status_list.h"

namespace korvimo::testing {

struct Recorded {
    std::string kind;  // "request", "response", "trap", "timer"
    uint32_t type = 0;
    int32_t requestId = 0;
    SocketAddress from;
    int32_t pendingRequestId = -1;  // the request handed along, -1 when none
    snmp::Pdu pdu;
};

class AgentFlowTest : public ::testing::Test {
  protected:
    void TearDown() override {
        agent.close();
        client.close();
        traps.close();
    }

    void record(const char* kind, const snmp::Pdu* pdu, const SocketAddress& from,
                const snmp::Pdu* request) {
        Recorded r;
        r.kind = kind;
        if (pdu != nullptr) {
            r.type = pdu->type;
            r.requestId = pdu->requestId;
            r.pdu = *pdu;
        }
        r.from = from;
        r.pendingRequestId = request ? request->requestId : -1;
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
    uint16_t openAgent(IpVersion ipVersion, const uint8_t* localAddress = nullptr) {
        Result opened;
        for (int attempt = 0; attempt < 20; ++attempt) {
            uint16_t port = freeUdpPort(ipVersion == IpVersion::IPv6 ? AF_INET6 : AF_INET);
            opened = agent.open(ipVersion, localAddress, port);
            if (opened) {
                return port;
            }
        }
        ADD_FAILURE() << "agent endpoint not opened: " << opened.text();
        return 0;
    }

    uint16_t openTrapReceiver() {
        Result opened;
        for (int attempt = 0; attempt < 20; ++attempt) {
            uint16_t port = freeUdpPort(AF_INET);
            opened = traps.open(port);
            if (opened) {
                return port;
            }
        }
        ADD_FAILURE() << "trap endpoint not opened: " << opened.text();
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
    EpollEventLoop loop{clock};
    StatusList status;
    std::vector<Recorded> events;
    std::function<void(const snmp::Pdu&, const SocketAddress&)> onRequestHook;
    std::function<void(const snmp::Pdu&)> onTimeoutHook;
    RequestIdSequence requestIds;

    AgentEndpoint agent{loop,
                        {[this](const snmp::Pdu& pdu, const SocketAddress& from) {
                             record("request", &pdu, from, nullptr);
                             if (onRequestHook) {
                                 onRequestHook(pdu, from);
                             }
                         },
                         [this](std::string_view why) { status.append(why); }}};
    RequestClient client{
        loop,
        requestIds,
        {[this](const snmp::Pdu& response, const SocketAddress& from, const snmp::Pdu& request) {
             record("response", &response, from, &request);
         },
         [this](const snmp::Pdu& request) {
             if (onTimeoutHook) {
                 onTimeoutHook(request);
                 return;
             }
             record("timer", nullptr, SocketAddress{}, &request);
         },
         [this](std::string_view why) { status.append(why); },
         [this](const snmp::Pdu& request) {
             record("dropped", nullptr, SocketAddress{}, &request);
         }}};
    TrapReceiver traps{loop,
                       {[this](const snmp::Pdu& trap, const SocketAddress& from) {
                            record("trap", &trap, from, nullptr);
                        },
                        [this](std::string_view why) { status.append(why); }}};
};

}  // namespace korvimo::testing
