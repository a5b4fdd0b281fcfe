#include "agent/message_sending.h"

#include <arpa/inet.h>

#include <cstring>

#include "agent/debug_log.h"
#include "agent/endpoints.h"
#include "agent/message_flow.h"
#include "app/core/decimal_text.h"
#include "mibinfo/mib_info_library.h"

namespace korvimo {

namespace {

uint8_t hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint8_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint8_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint8_t>(c - 'A' + 10);
    }
    return 0;  // not a hexadecimal digit: counts as 0
}

bool parseOid(const std::string& text, snmp::ObjectId& oid) {
    oid.ids.clear();
    return snmp::SnmpStrToOid(text.c_str(), &oid) != 0;
}

}  // namespace

bool variableNameToOid(const AgentContext& ctx, std::string_view name, snmp::ObjectId& oid) {
    if (!name.empty() && name.front() >= '0' && name.front() <= '9') {
        return parseOid(std::string(name), oid);
    }
    const std::size_t dot = name.find('.');
    const std::string_view descriptor = name.substr(0, dot);
    std::string numeric;
    if (descriptor.empty() || !mibinfo::lookupDescriptor(ctx.mibInfoFile, descriptor, numeric)) {
        return false;
    }
    if (dot != std::string_view::npos) {
        numeric.append(name.substr(dot));
    }
    return parseOid(numeric, oid);
}

snmp::Octets octetTextToBytes(std::string_view text) {
    snmp::Octets octets;
    if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') {
        const std::string_view digits = text.substr(2);
        const std::size_t count = (digits.size() + 1) / 2;
        if (count > kOctetTextCapacity) {
            return octets;
        }
        octets.bytes.assign(count, 0);
        // Pairs from the end; with an odd number of digits the first byte holds one digit.
        std::size_t end = digits.size();
        for (std::size_t byte = count; byte-- > 0;) {
            const uint8_t low = hexDigit(digits[end - 1]);
            const uint8_t high = end >= 2 ? hexDigit(digits[end - 2]) : 0;
            octets.bytes[byte] = static_cast<uint8_t>(high << 4 | low);
            end = end >= 2 ? end - 2 : 0;
        }
        return octets;
    }
    if (text.size() > kOctetTextCapacity) {
        return octets;
    }
    octets.bytes.assign(text.begin(), text.end());
    return octets;
}

bool valueFromText(std::string_view typeName, std::string_view valueText,
                   snmp::SyntaxValue& value) {
    value = snmp::SyntaxValue{};
    if (typeName == "Integer") {
        value.syntax = snmp::kTagInteger;
        value.number = readDecimal(valueText);
    } else if (typeName == "OctetString" || typeName == "Bits") {
        value.syntax = snmp::kTagOctetString;
        value.octets = octetTextToBytes(valueText);
    } else if (typeName == "Opaque") {
        value.syntax = snmp::kTagOpaque;
        value.octets = octetTextToBytes(valueText);
    } else if (typeName == "ObjectID") {
        value.syntax = snmp::kTagObjectId;
        parseOid(std::string(valueText), value.oid);
    } else if (typeName == "IpAddress" || typeName == "NetworkAddress") {
        value.syntax = snmp::kTagIpAddress;
        const in_addr_t address = ::inet_addr(std::string(valueText).c_str());
        value.octets.bytes.resize(4);
        std::memcpy(value.octets.bytes.data(), &address, 4);
    } else if (typeName == "Counter") {
        value.syntax = snmp::kTagCounter;
        value.number = readDecimal(valueText);
    } else if (typeName == "Counter64") {
        value.syntax = snmp::kTagCounter64;
        uint64_t number = 0;
        for (char c : valueText) {
            number = number * 10u + static_cast<uint64_t>(static_cast<int64_t>(c - '0'));
        }
        value.counter64 = number;
    } else if (typeName == "Gauge") {
        value.syntax = snmp::kTagGauge;
        value.number = readDecimal(valueText);
    } else if (typeName == "TimeTicks") {
        value.syntax = snmp::kTagTimeTicks;
        value.number = readDecimal(valueText);
    } else if (typeName == "NULL") {
        value.syntax = snmp::kTagNull;
    } else {
        return false;
    }
    return true;
}

bool makeVarBindFromText(const AgentContext& ctx, std::string_view name, std::string_view typeName,
                         std::string_view valueText, snmp::VarBindList* list,
                         std::string& failure) {
    snmp::ObjectId oid;
    if (!variableNameToOid(ctx, name, oid)) {
        failure = kAttributeNameUnknownText;
        return false;
    }
    snmp::SyntaxValue value;
    if (!valueFromText(typeName, valueText, value)) {
        failure = kAttributeTypeUnknownText;
        return false;
    }
    if (!snmp::SnmpAddVb(list, &oid, &value)) {
        failure = kAddVbFailedText;
        return false;
    }
    return true;
}

bool sendResponse(const snmp::Pdu& request, AgentContext& ctx, int32_t errorStatus,
                  int32_t errorIndex, std::unique_ptr<snmp::VarBindList> list,
                  const SocketAddress& requester) {
    std::unique_ptr<snmp::Pdu> response =
        snmp::SnmpCreateBPdu(request.version, &request.community, snmp::kPduResponse,
                             request.requestId, errorStatus, errorIndex, std::move(list));
    if (response == nullptr) {
        return false;
    }
    uint8_t message[snmp::kMaxMessageSize];
    uint32_t size = sizeof message;
    if (!snmp::SnmpEncodeMsg(response.get(), message, &size)) {
        return false;
    }
    if (!sendResponseDatagram(ctx.ipVersion, ctx.agentSocket, message, size, requester)) {
        snmp::setLastError("%s", kSendErrorText);
        return false;
    }
    if (ctx.debugMode) {
        dumpPdu(*response, ctx.outputFile, ctx);
    }
    return true;
}

bool sendRequest(std::unique_ptr<snmp::VarBindList> list, uint32_t type, AgentContext& ctx,
                 std::string& failure, const char* readCommunity, const char* writeCommunity) {
    const char* community = type == snmp::kPduSetRequest ? writeCommunity : readCommunity;
    if (community == nullptr) {
        community = "";
    }
    std::unique_ptr<snmp::Octets> octets = snmp::SnmpCreateOctets(
        static_cast<uint32_t>(std::strlen(community)), reinterpret_cast<const uint8_t*>(community));
    if (octets == nullptr) {
        failure = kRequestCommunityFailedText;
        return false;
    }
    std::unique_ptr<snmp::Pdu> request =
        snmp::SnmpCreateBPdu(static_cast<uint32_t>(ctx.versionMode), octets.get(), type,
                             static_cast<int32_t>(ctx.nextRequestId), 0, 0, std::move(list));
    ++ctx.nextRequestId;
    if (request == nullptr) {
        failure = kCreateBPduFailedText;
        return false;
    }
    if (!send_new_request(ctx, std::move(request))) {
        failure = kSendNewRequestFailedText;
        return false;
    }
    return true;
}

bool sendSingleRequest(AgentContext& ctx, uint32_t type, std::string_view name,
                       std::string_view typeName, std::string_view valueText, std::string& text) {
    std::unique_ptr<snmp::VarBindList> list = snmp::SnmpCreateVbl();
    if (list == nullptr) {
        text = kCreateVblFailedText;
        return false;
    }
    snmp::ObjectId oid;
    if (!variableNameToOid(ctx, name, oid)) {
        text = kAttributeNameUnknownText;
        return false;
    }
    snmp::SyntaxValue value;  // NULL unless a SetRequest carries a value
    if (type == snmp::kPduSetRequest && !valueFromText(typeName, valueText, value)) {
        text = kAttributeTypeUnknownText;
        return false;
    }
    if (!snmp::SnmpAddVb(list.get(), &oid, &value)) {
        text = kAddVbFailedText;
        return false;
    }
    if (!sendRequest(std::move(list), type, ctx, text, ctx.readCommunity.c_str(),
                     ctx.writeCommunity.c_str())) {
        return false;
    }
    text = kRequestSentText;
    return true;
}

bool sendTrap(std::unique_ptr<snmp::VarBindList> list, const char* community,
              const char* enterprise, const uint8_t agentAddr[4], uint16_t port, uint32_t timeStamp,
              int32_t genericTrap, int32_t specificTrap, std::string& failure, int trapVersion,
              AgentContext& ctx) {
    if (community == nullptr) {
        community = "";
    }
    std::unique_ptr<snmp::Octets> octets = snmp::SnmpCreateOctets(
        static_cast<uint32_t>(std::strlen(community)), reinterpret_cast<const uint8_t*>(community));
    if (octets == nullptr) {
        failure = kTrapCommunityFailedText;
        return false;
    }
    std::unique_ptr<snmp::Pdu> trap;
    if (trapVersion == 0) {
        snmp::ObjectId enterpriseOid;
        if (enterprise == nullptr || snmp::SnmpStrToOid(enterprise, &enterpriseOid) == 0) {
            failure = kTrapEnterpriseFailedText;
            return false;
        }
        const uint8_t noAddress[4] = {0, 0, 0, 0};
        trap = snmp::SnmpCreateTPdu(snmp::kVersion1, octets.get(), &enterpriseOid,
                                    agentAddr != nullptr ? agentAddr : noAddress,
                                    genericTrap == 7 ? 6 : genericTrap, specificTrap, timeStamp,
                                    std::move(list));
    } else {
        trap = snmp::SnmpCreateBPdu(snmp::kVersion2c, octets.get(), snmp::kPduSnmpV2Trap, 1, 0, 0,
                                    std::move(list));
    }
    if (trap == nullptr) {
        failure = kCreateTPduFailedText;
        return false;
    }
    uint8_t message[snmp::kMaxMessageSize];
    uint32_t size = sizeof message;
    if (!snmp::SnmpEncodeMsg(trap.get(), message, &size)) {
        failure = kEncodeMsgFailedText;
        return false;
    }
    if (!sendUDPTrap(ctx.clientSocket, message, size, ctx.peerAddress, port)) {
        failure = kSendUdpTrapFailedText;
        return false;
    }
    return true;
}

}  // namespace korvimo
