// RequestHandler: the simulated agent itself. It takes each decoded Get, GetNext, GetBulk
// and Set request from the agent's endpoint, checks its version and community against the
// agent's settings, answers every binding from the agent's variable store and sends the
// Response back to the requester, keeping the agent's statistics and, with debug mode on,
// writing request and Response to the agent's debug log.
//
// It belongs to an Agent, which hands it the parts it works on; it serves only while the
// agent runs (setServing), so a request that arrives during a failed start is ignored.
//
//   RequestHandler handler({settings, store, statistics, refresh, log, endpoint, status});
//   handler.setServing(true);
//   // every request on the endpoint now reaches handler.onRequest
//
// Sizes. The largest Response is the settings' maxMessageSize (MAXMSGSIZE, 1,500 bytes by
// default). A GetBulk whose bindings or repetitions would pass it stops short of it; a binding
// the encoder could not take counts as too big, so it ends the answer instead of failing it.
// Any other answer that does not fit goes out as tooBig with error-index 0: an SNMPv2c one
// with no bindings (RFC 3416), an SNMPv1 one with the request's bindings (RFC 1157), or
// with none when even those do not fit. A Set whose answer would not fit is refused so
// before anything is set.
//
// SNMPv1 cannot carry Counter64 values (RFC 3584): an SNMPv1 Get of a Counter64 attribute
// fails with noSuchName, and an SNMPv1 GetNext or GetBulk passes over Counter64 attributes
// to the next one.
//
// A Set binding whose value did not decode (see decodeMessage: an INTEGER beyond 32 bits or
// not minimally encoded, an OBJECT IDENTIFIER of more than 128 sub-identifiers, ...) is
// refused before anything is set: wrongEncoding in SNMPv2c, badValue in SNMPv1, with its
// index. Get and GetNext ignore the values of their bindings.
//
// Refused requests are counted: a wrong version in InBadVersions, a wrong community in
// InBadCommunityNames.
//
// Communities are compared as whole texts: a received community that is only a leading part
// of the configured one (the empty community included) is refused.
#pragma once

#include <cstdint>
#include <vector>

#include "agent/agent_endpoint.h"
#include "agent/agent_settings.h"
#include "agent/debug_log.h"
#include "agent/statistics_refresh.h"
#include "agent/v3_security.h"
#include "app/core/main_status.h"
#include "base/result.h"
#include "snmp/error_status.h"
#include "snmp/message.h"

namespace korvimo {

// Status-list and debug-log texts of request handling.
inline constexpr const char* kSendResponseFailedReport = "sendResponse() failed.";
inline constexpr const char* kInvalidVersionLogText = "Invalid SNMP Version:%d.  Request ignored.";
inline constexpr const char* kInvalidCommunityLogText =
    "Invalid Community Name:%s.  Request ignored.";
// An SNMPv3 message that carried no request to serve: why, and what became of it.
inline constexpr const char* kV3RefusedLogText = "SNMPv3 message refused: %s.  %s.\r\n";
// Before an SNMPv3 request: its user, level and context.
inline constexpr const char* kV3RequestLogText = "SNMPv3 user [%s], %s, context [%s]\r\n";
inline constexpr std::size_t kV3RequestLogSize = 400;

// The estimate of a GetBulk answer, which never reaches maxMessageSize, starts at the
// community's length plus this (message, PDU and list headers).
inline constexpr uint32_t kBulkHeaderEstimate = 32;

class StatusList;
namespace store {
class VariableStore;
struct AttributeInfo;
}  // namespace store

class RequestHandler {
  public:
    // What the handler works on; all of it belongs to its agent and outlives the handler.
    struct Parts {
        const AgentSettings& settings;
        store::VariableStore& store;
        AgentStatistics& statistics;
        StatisticsRefresh& refresh;
        DebugLog& log;
        const AgentEndpoint& endpoint;
        StatusList& status;
    };

    explicit RequestHandler(Parts parts) : parts_(parts) {}
    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

    // Whether the agent runs: requests are answered only then.
    void setServing(bool serving) { serving_ = serving; }
    bool serving() const { return serving_; }

    // Hands the request to handleRequest while the agent runs; false when it was ignored.
    bool onRequest(const snmp::Pdu& request, const SocketAddress& from);
    // Admission, serving by PDU type and the Response; true when a Response was sent.
    bool handleRequest(const snmp::Pdu& request, const SocketAddress& from);
    // A message of a version the agent does not speak at all, which does not decode as a
    // request: counted and logged as a refused version while the agent runs.
    void onOtherVersion(int32_t version);
    // An SNMPv3 message: through the security model to the request it carries, answered at
    // its level, or to a Report. Without an engine, or when the agent's version mode leaves
    // SNMPv3 out, it is a refused version.
    bool onV3Message(const uint8_t* bytes, std::size_t length, const SocketAddress& from);
    // The agent's SNMPv3 engine; none: SNMPv3 is refused.
    void setSecurity(V3Security* security) { security_ = security; }

  private:
    struct Failure {
        int32_t status = snmp::kNoError;
        int32_t index = 0;
    };

    bool admitted(const snmp::Pdu& request);
    // Serves an admitted request (an SNMPv3 one while reply_ is set).
    bool serve(const snmp::Pdu& request, const SocketAddress& from);
    // The largest answer to the request being served.
    uint32_t answerLimit() const;
    void refuseVersion(int32_t version);
    // The successor of from that the request's version can carry.
    bool nextServable(const snmp::Pdu& request, const snmp::ObjectId& from, snmp::ObjectId& name,
                      store::AttributeInfo& found);
    // The answer as sent, falling back to tooBig when it does not fit.
    Result send(const snmp::Pdu& request, Failure failure, const SocketAddress& from,
                DebugLog* log);
    // The engine's own objects (SNMPv3 statistics) beside the store's.
    enum class Found { None, Store, Engine };
    Found next(const snmp::Pdu& request, const snmp::ObjectId& from, snmp::ObjectId& name,
               store::AttributeInfo& found, snmp::SyntaxValue& engineValue);
    Failure serveGet(const snmp::Pdu& request, snmp::VarBindList& list);
    Failure serveGetNext(const snmp::Pdu& request, snmp::VarBindList& list);
    Failure serveSet(const snmp::Pdu& request, snmp::VarBindList& list);
    Failure serveGetBulk(const snmp::Pdu& request, snmp::VarBindList& list);

    Parts parts_;
    bool serving_ = false;
    snmp::VarBindList answer_;      // the bindings of the answer, reused between requests
    snmp::ObjectId from_;           // scratch name of GetBulk repetitions, reused between requests
    snmp::ObjectId skipped_;        // scratch name of the Counter64 attributes SNMPv1 passes over
    std::vector<uint8_t> message_;  // the encoded answer, as large as maxMessageSize
    V3Security* security_ = nullptr;
    // The SNMPv3 request being served, and its answer's form while it is (else none).
    V3Security::Request v3_;
    const V3Security::Reply* reply_ = nullptr;
    snmp::ObjectId engineName_;  // scratch name and value of the engine's objects, reused
    snmp::SyntaxValue engineValue_;
};

}  // namespace korvimo
