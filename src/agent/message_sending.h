// Whole messages built and sent for the rest of the system: the agent's Response, the
// GetNext requests of learning, traps and notifications, and the binding builder that
// reads a variable as the system's text files write it (name, type word, value text).
//
//   std::string failure;
//   auto list = snmp::SnmpCreateVbl();
//   if (!makeVarBindFromText(ctx, "sysDescr.0", "OctetString", "lab router", list.get(),
//                            failure)) report(failure);
//   sendTrap(std::move(list), "public", "1.3.6.1.4.1.9", agentAddr, 162, uptime, 6, 1,
//            failure, 0, ctx);
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/core/agent_context.h"
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
// (looked up in the context's mibInfoFile; unknown while it is closed) followed by the
// rest of the name from its first ".". False when it cannot be made.
bool variableNameToOid(const AgentContext& ctx, std::string_view name, snmp::ObjectId& oid);

// Octet text: "0x" followed by hexadecimal digits (taken in pairs from the end, an odd
// first digit making a byte of its own), or else the text's own bytes.
snmp::Octets octetTextToBytes(std::string_view text);

// The value of a type word ("Integer", "OctetString", ...) and a value text. False for an
// unknown type word.
bool valueFromText(std::string_view typeName, std::string_view valueText, snmp::SyntaxValue& value);

// Appends one binding made from the text form of a variable.
bool makeVarBindFromText(const AgentContext& ctx, std::string_view name, std::string_view typeName,
                         std::string_view valueText, snmp::VarBindList* list, std::string& failure);

// The Response to request (its version, community and request-id) with the given status,
// index and bindings, sent from agentSocket to the requester. With debugMode on it is also
// written to the debug log open in outputFile (dumpPdu). The codec's or the sender's text is left
// in lastErrorText on failure.
bool sendResponse(const snmp::Pdu& request, AgentContext& ctx, int32_t errorStatus,
                  int32_t errorIndex, std::unique_ptr<snmp::VarBindList> list,
                  const SocketAddress& requester);

// A request of the given type with the next request-id and the version of versionMode,
// carrying the write community for a SetRequest and the read community otherwise, sent to
// the peer and kept pending.
bool sendRequest(std::unique_ptr<snmp::VarBindList> list, uint32_t type, AgentContext& ctx,
                 std::string& failure, const char* readCommunity, const char* writeCommunity);

// A request with one binding: a value from the type word for a SetRequest, NULL for any
// other type. On success text reads "Request sent."; otherwise it holds the reason.
bool sendSingleRequest(AgentContext& ctx, uint32_t type, std::string_view name,
                       std::string_view typeName, std::string_view valueText, std::string& text);

// An SNMPv1 Trap (trapVersion 0; a generic-trap of 7 goes out as 6) or an SNMPv2-Trap
// (otherwise; request-id 1) with the given bindings, sent from clientSocket to peerAddress
// at port.
bool sendTrap(std::unique_ptr<snmp::VarBindList> list, const char* community,
              const char* enterprise, const uint8_t agentAddr[4], uint16_t port, uint32_t timeStamp,
              int32_t genericTrap, int32_t specificTrap, std::string& failure, int trapVersion,
              AgentContext& ctx);

}  // namespace korvimo
