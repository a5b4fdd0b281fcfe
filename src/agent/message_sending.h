// Whole messages built and sent for the rest of the system: an agent's Response, the
// GetNext requests of learning, traps and notifications, and the binding builder that
// reads a variable as the system's text files write it (name, type word, value text).
//
// Names written as descriptors are looked up in mibinfo.out (the MibInfo given; none means
// every descriptor is unknown). Every operation returns a Result with the failure text the
// system shows.
//
//   auto list = snmp::SnmpCreateVbl();
//   if (Result r = makeVarBindFromText(mib, "sysDescr.0", "OctetString", "lab router",
//                                      list.get()); !r) report(r.text());
//   sendTrap(std::move(list), "public", "1.3.6.1.4.1.9", agentAddr, 162, uptime, 6, 1, 0,
//            client);
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "agent/agent_endpoint.h"
#include "agent/debug_log.h"
#include "agent/request_client.h"
#include "base/result.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"

namespace korvimo {

inline constexpr const char* kAttributeNameUnknownText = "AttributeName Unknown";
inline constexpr const char* kAttributeTypeUnknownText = "AttributeType Unknown";
inline constexpr const char* kAddVbFailedText = "SnmpAddVb() failed";
inline constexpr const char* kRequestCommunityFailedText = "SnmpCreateOctets() failed. community";
inline constexpr const char* kCreateBPduFailedText = "SnmpCreateBPdu() failed";
inline constexpr const char* kSendNewRequestFailedText = "send_new_request() failed";
inline constexpr const char* kCreateVblFailedText = "SnmpCreateVbl() failed. Test aborted.";
inline constexpr const char* kRequestSentText = "Request sent.";
inline constexpr const char* kTrapCommunityFailedText = "SnmpCreateOctets() community failed.";
inline constexpr const char* kTrapEnterpriseFailedText = "SnmpStrToOid() trap enterprise failed.";
inline constexpr const char* kCreateTPduFailedText = "SnmpCreateTPdu() failed";
inline constexpr const char* kEncodeMsgFailedText = "SnmpEncodeMsg() failed";
inline constexpr const char* kSendUdpTrapFailedText = "sendUDPTrap() failed";

// Largest value an octet text may give; a longer one gives an empty value.
inline constexpr std::size_t kOctetTextCapacity = 1500;

// A variable name as written in the system's files: dotted decimal, or a descriptor
// followed by the rest of the name from its first ".". False when it cannot be made.
bool variableNameToOid(const mibinfo::MibInfo* mibInfo, std::string_view name, snmp::ObjectId& oid);

// Octet text: "0x" followed by hexadecimal digits (taken in pairs from the end, an odd
// first digit making a byte of its own), or else the text's own bytes.
snmp::Octets octetTextToBytes(std::string_view text);

// The value of a type word ("Integer", "OctetString", ...) and a value text. False for an
// unknown type word.
bool valueFromText(std::string_view typeName, std::string_view valueText, snmp::SyntaxValue& value);

// Appends one binding made from the text form of a variable.
Result makeVarBindFromText(const mibinfo::MibInfo* mibInfo, std::string_view name,
                           std::string_view typeName, std::string_view valueText,
                           snmp::VarBindList* list);

// A message form other than SNMPv1/v2c that a Response goes out in (an SNMPv3 message, kept
// from the request it answers).
class MessageWrapper {
  public:
    virtual ~MessageWrapper() = default;
    // Encodes response into out (*size the capacity in, the length out); on failure tooBig
    // tells whether room was what failed.
    virtual Result wrap(const snmp::Pdu& response, uint8_t* out, uint32_t* size,
                        bool* tooBig) const = 0;
    // Octets the form adds around the PDU's bindings, at most.
    virtual uint32_t overhead() const = 0;
    // The largest message the requester accepts.
    virtual uint32_t limit() const = 0;
};

// The Response to request (its version, community and request-id) with the given status,
// index and bindings, sent from the agent's endpoint to the requester, and written to log
// when one is given (debug mode). The bindings are the caller's: they are lent to the
// Response while it is encoded and come back unchanged, so that an agent reuses one list.
// It is encoded into buffer, whose size is the largest Response that may go (none given: a
// buffer of kMaxMessageSize bytes of its own). A Response that is bigger is not sent, and
// tooBig (when given) tells that this was the failure. With a wrapper the Response goes out
// in the wrapper's form instead.
Result sendResponse(const snmp::Pdu& request, const AgentEndpoint& endpoint, int32_t errorStatus,
                    int32_t errorIndex, snmp::VarBindList& list, const SocketAddress& requester,
                    DebugLog* log, std::span<uint8_t> buffer = {}, bool* tooBig = nullptr,
                    const MessageWrapper* wrapper = nullptr);

// A request of the given type with the next request-id and the client's version mode,
// carrying the write community for a SetRequest and the read community otherwise, sent to
// the client's peer and kept pending.
Result sendRequest(std::unique_ptr<snmp::VarBindList> list, uint32_t type, RequestClient& client,
                   const char* readCommunity, const char* writeCommunity);

// A request with one binding: a value from the type word for a SetRequest, NULL for any
// other type, with the client's communities. On success the caller shows kRequestSentText.
Result sendSingleRequest(RequestClient& client, const mibinfo::MibInfo* mibInfo, uint32_t type,
                         std::string_view name, std::string_view typeName,
                         std::string_view valueText);

// The message of a trap, for sendTrap and for whoever sends traps otherwise: for type
// kPduTrap an SNMPv1 Trap-PDU in a message of version SNMPv1 (enterprise, agentAddr (null:
// 0.0.0.0), genericTrap with 7 sent as 6, specificTrap, timeStamp); for any other type
// (kPduSnmpV2Trap, kPduInformRequest) that PDU in a message of version SNMPv2c, with
// requestId and error-status and error-index 0. Either takes list over. Fails with
// kTrapCommunityFailedText or kCreateTPduFailedText.
Result makeTrapPdu(std::unique_ptr<snmp::VarBindList> list, std::string_view community,
                   uint32_t type, const snmp::ObjectId& enterprise, const uint8_t agentAddr[4],
                   uint32_t timeStamp, int32_t genericTrap, int32_t specificTrap, int32_t requestId,
                   std::unique_ptr<snmp::Pdu>& pdu);

// An SNMPv1 Trap (trapVersion 0; a generic-trap of 7 goes out as 6) or an SNMPv2-Trap
// (otherwise; request-id 1) with the given bindings, sent from the client's endpoint to its
// peer address at port.
Result sendTrap(std::unique_ptr<snmp::VarBindList> list, const char* community,
                const char* enterprise, const uint8_t agentAddr[4], uint16_t port,
                uint32_t timeStamp, int32_t genericTrap, int32_t specificTrap, int trapVersion,
                const RequestClient& client);

}  // namespace korvimo
