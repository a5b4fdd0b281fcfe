// RequestHandler: the simulated agent itself. It takes each decoded Get, GetNext, GetBulk
// and Set request from the agent endpoint, checks its version and community against the
// running agent's settings, answers every binding from the variable store (ctx.store) and
// sends the Response back to the requester, keeping the agent's statistics and, with debug
// mode on, writing request and Response to the debug log.
//
// It is the Agent slot of the operation table: its handlers answer requests while the agent
// runs (`busy` is kBusyRunning) and only report timer ticks, Responses and traps.
//
//   RequestHandler agent(ctx);
//   ctx.slots[OperationSlot::Agent] = &agent.handlers();
//   ... the agent start loads ctx.store and sets busy ...
//   // every request on agentSocket now reaches agent.onRequest through the message flow
//
// Choices where the rules leave room:
//   - Communities are compared as whole texts: a received community that is only a leading
//     part of the configured one (the empty community included) is refused.
//   - A GetBulk whose bindings or repetitions would pass the 1,500-byte estimate stops short
//     of it; a binding the encoder could not take counts as too big, so it ends the answer
//     instead of failing it.
//   - An SNMPv2-Trap reaching the agent slot is reported with its snmpTrapOID value, and a
//     generic-trap value outside 0 to 6 with its number.
#pragma once

#include <cstdint>

#include "agent/statistics_refresh.h"
#include "app/core/agent_context.h"
#include "snmp/message.h"

namespace korvimo {

// Status-list and debug-log texts of request handling.
inline constexpr const char* kCreateVblFailedReport = "SnmpCreateVbl() failed.";
inline constexpr const char* kSendResponseFailedReport = "sendResponse() failed.";
inline constexpr const char* kInvalidVersionLogText = "Invalid SNMP Version:%d.  Request ignored.";
inline constexpr const char* kInvalidCommunityLogText =
    "Invalid Community Name:%s.  Request ignored.";
inline constexpr const char* kTimerIgnoredReport = "Got timer message. Ignored.";
inline constexpr const char* kResponseIgnoredReport = "Got response message. Ignored.";
inline constexpr const char* kTrapIgnoredReport = "Got Trap(generic = %s, specific = %d). Ignored.";
inline constexpr const char* kV2TrapIgnoredReport = "Got SNMPv2 Trap(%s). Ignored.";

// SNMP error statuses of the answers.
inline constexpr int32_t kNoError = 0;
inline constexpr int32_t kNoSuchName = 2;
inline constexpr int32_t kBadValue = 3;
inline constexpr int32_t kGenErr = 5;
inline constexpr int32_t kNoAccess = 6;
inline constexpr int32_t kWrongType = 7;
inline constexpr int32_t kNotWritable = 17;

// The estimate of a GetBulk answer never reaches this many bytes.
inline constexpr uint32_t kBulkSizeLimit = 1500;
// The estimate starts at the community's length plus this (message, PDU and list headers).
inline constexpr uint32_t kBulkHeaderEstimate = 32;

// The name of a generic-trap value: "coldStart" ... "enterpriseSpecific"; null outside 0..6.
const char* genericTrapName(int32_t genericTrap);

class RequestHandler {
  public:
    explicit RequestHandler(AgentContext& ctx);
    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

    // The Agent slot's handlers.
    OperationHandlers& handlers() { return handlers_; }

    // Hands the request to handleRequest while the agent runs; false when it was ignored.
    bool onRequest(const snmp::Pdu& request, AgentContext& ctx, const SocketAddress& from);
    // Admission, serving by PDU type and the Response; true when a Response was sent.
    bool handleRequest(const snmp::Pdu& request, AgentContext& ctx, const SocketAddress& from);

    // The statistics display the handler asks to refresh after each request.
    StatisticsRefresh& statistics() { return refresh_; }

  private:
    struct Failure {
        int32_t status = kNoError;
        int32_t index = 0;
    };

    bool admitted(const snmp::Pdu& request, AgentContext& ctx);
    Failure serveGet(const snmp::Pdu& request, AgentContext& ctx, snmp::VarBindList& list);
    Failure serveGetNext(const snmp::Pdu& request, AgentContext& ctx, snmp::VarBindList& list);
    Failure serveSet(const snmp::Pdu& request, AgentContext& ctx, snmp::VarBindList& list);
    Failure serveGetBulk(const snmp::Pdu& request, AgentContext& ctx, snmp::VarBindList& list);

    OperationHandlers handlers_;
    StatisticsRefresh refresh_;
    snmp::ObjectId from_;  // scratch name of GetBulk repetitions, reused between requests
};

}  // namespace korvimo
