#include "agent/message_sending.h"

#include <arpa/inet.h>

#include <cstring>
#include <new>

#include "agent/endpoints.h"
#include "base/decimal_text.h"
#include "base/text.h"
#include "mibinfo/descriptor_mapper.h"
#include "snmp/message.h"

namespace korvimo {

namespace {

// A hexadecimal digit's value; what is none counts as 0.
uint8_t hexDigitOrZero(char c) {
    const int value = hexDigit(c);
    return static_cast<uint8_t>(value < 0 ? 0 : value);
}

bool parseOid(const std::string& text, snmp::ObjectId& oid) {
    oid.ids.clear();
    return snmp::SnmpStrToOid(text.c_str(), &oid) != 0;
}

}  // namespace

bool variableNameToOid(const mibinfo::MibInfo* mibInfo, std::string_view name,
                       snmp::ObjectId& oid) {
    if (mibinfo::isNumericName(name)) {
        return parseOid(std::string(name), oid);
    }
    const std::size_t dot = name.find('.');
    const std::string_view descriptor = name.substr(0, dot);
    const mibinfo::Record* object = descriptor.empty() || mibInfo == nullptr
                                        ? nullptr
                                        : mibInfo->firstObjectWithDescriptor(descriptor);
    if (object == nullptr) {
        return false;
    }
    std::string numeric(object->identifier);
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
            const uint8_t low = hexDigitOrZero(digits[end - 1]);
            const uint8_t high = end >= 2 ? hexDigitOrZero(digits[end - 2]) : 0;
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

Result makeVarBindFromText(const mibinfo::MibInfo* mibInfo, std::string_view name,
                           std::string_view typeName, std::string_view valueText,
                           snmp::VarBindList* list) {
    snmp::ObjectId oid;
    if (!variableNameToOid(mibInfo, name, oid)) {
        return Result::failure(kAttributeNameUnknownText);
    }
    snmp::SyntaxValue value;
    if (!valueFromText(typeName, valueText, value)) {
        return Result::failure(kAttributeTypeUnknownText);
    }
    if (!snmp::SnmpAddVb(list, &oid, &value)) {
        return Result::failure(kAddVbFailedText);
    }
    return {};
}

Result sendResponse(const snmp::Pdu& request, const AgentEndpoint& endpoint, int32_t errorStatus,
                    int32_t errorIndex, snmp::VarBindList& list, const SocketAddress& requester,
                    DebugLog* log, std::span<uint8_t> buffer, bool* tooBig,
                    const MessageWrapper* wrapper) {
    if (tooBig != nullptr) {
        *tooBig = false;
    }
    // The Response lives on the stack and borrows the bindings: answering a request costs
    // the copy of its community and nothing else of the heap.
    snmp::Pdu response;
    try {
        response.community = request.community;
    } catch (const std::bad_alloc&) {
        return Result::failure(kCreateBPduFailedText);
    }
    response.version = request.version;
    response.type = snmp::kPduResponse;
    response.requestId = request.requestId;
    response.errorStatus = errorStatus;
    response.errorIndex = errorIndex;
    response.varBinds.items.swap(list.items);
    struct GiveBack {
        snmp::VarBindList& from;
        snmp::VarBindList& to;
        ~GiveBack() { to.items.swap(from.items); }
    } giveBack{response.varBinds, list};

    uint8_t ownBuffer[snmp::kMaxMessageSize];
    if (buffer.empty()) {
        buffer = ownBuffer;
    }
    uint32_t size = static_cast<uint32_t>(buffer.size());
    if (wrapper != nullptr) {
        if (Result wrapped = wrapper->wrap(response, buffer.data(), &size, tooBig); !wrapped) {
            return wrapped;
        }
    } else if (Result encoded = snmp::SnmpEncodeMsg(&response, buffer.data(), &size); !encoded) {
        // Only a failed encoding tells the size: whether the room was short is asked then.
        if (tooBig != nullptr) {
            *tooBig = snmp::encodedMessageSize(response.version, response.community,
                                               response.requestId, errorStatus, errorIndex,
                                               response.varBinds) > buffer.size();
        }
        return encoded;
    }
    if (!endpoint.send(buffer.data(), size, requester)) {
        return Result::failure(kSendErrorText);
    }
    if (log != nullptr) {
        log->dumpPdu(response);
    }
    return {};
}

Result sendRequest(std::unique_ptr<snmp::VarBindList> list, uint32_t type, RequestClient& client,
                   const char* readCommunity, const char* writeCommunity) {
    const char* community = type == snmp::kPduSetRequest ? writeCommunity : readCommunity;
    if (community == nullptr) {
        community = "";
    }
    std::unique_ptr<snmp::Octets> octets = snmp::SnmpCreateOctets(
        static_cast<uint32_t>(std::strlen(community)), reinterpret_cast<const uint8_t*>(community));
    if (octets == nullptr) {
        return Result::failure(kRequestCommunityFailedText);
    }
    const uint32_t version =
        client.settings().versionMode == VersionMode::SNMPv1 ? snmp::kVersion1 : snmp::kVersion2c;
    std::unique_ptr<snmp::Pdu> request = snmp::SnmpCreateBPdu(
        version, octets.get(), type, static_cast<int32_t>(client.requestIds().take()), 0, 0,
        std::move(list));
    if (request == nullptr) {
        return Result::failure(kCreateBPduFailedText);
    }
    if (!client.send_new_request(std::move(request))) {
        return Result::failure(kSendNewRequestFailedText);
    }
    return {};
}

Result sendSingleRequest(RequestClient& client, const mibinfo::MibInfo* mibInfo, uint32_t type,
                         std::string_view name, std::string_view typeName,
                         std::string_view valueText) {
    std::unique_ptr<snmp::VarBindList> list = snmp::SnmpCreateVbl();
    if (list == nullptr) {
        return Result::failure(kCreateVblFailedText);
    }
    snmp::ObjectId oid;
    if (!variableNameToOid(mibInfo, name, oid)) {
        return Result::failure(kAttributeNameUnknownText);
    }
    snmp::SyntaxValue value;  // NULL unless a SetRequest carries a value
    if (type == snmp::kPduSetRequest && !valueFromText(typeName, valueText, value)) {
        return Result::failure(kAttributeTypeUnknownText);
    }
    if (!snmp::SnmpAddVb(list.get(), &oid, &value)) {
        return Result::failure(kAddVbFailedText);
    }
    return sendRequest(std::move(list), type, client, client.settings().readCommunity.c_str(),
                       client.settings().writeCommunity.c_str());
}

Result makeTrapPdu(std::unique_ptr<snmp::VarBindList> list, std::string_view community,
                   uint32_t type, const snmp::ObjectId& enterprise, const uint8_t agentAddr[4],
                   uint32_t timeStamp, int32_t genericTrap, int32_t specificTrap, int32_t requestId,
                   std::unique_ptr<snmp::Pdu>& pdu) {
    std::unique_ptr<snmp::Octets> octets =
        snmp::SnmpCreateOctets(static_cast<uint32_t>(community.size()),
                               reinterpret_cast<const uint8_t*>(community.data()));
    if (octets == nullptr) {
        return Result::failure(kTrapCommunityFailedText);
    }
    if (type == snmp::kPduTrap) {
        const uint8_t noAddress[4] = {0, 0, 0, 0};
        pdu = snmp::SnmpCreateTPdu(snmp::kVersion1, octets.get(), &enterprise,
                                   agentAddr != nullptr ? agentAddr : noAddress,
                                   genericTrap == 7 ? 6 : genericTrap, specificTrap, timeStamp,
                                   std::move(list));
    } else {
        pdu = snmp::SnmpCreateBPdu(snmp::kVersion2c, octets.get(), type, requestId, 0, 0,
                                   std::move(list));
    }
    if (pdu == nullptr) {
        return Result::failure(kCreateTPduFailedText);
    }
    return {};
}

Result sendTrap(std::unique_ptr<snmp::VarBindList> list, const char* community,
                const char* enterprise, const uint8_t agentAddr[4], uint16_t port,
                uint32_t timeStamp, int32_t genericTrap, int32_t specificTrap, int trapVersion,
                const RequestClient& client) {
    const std::string_view communityText = community != nullptr ? community : "";
    snmp::ObjectId enterpriseOid;
    if (trapVersion == 0 &&
        (enterprise == nullptr || snmp::SnmpStrToOid(enterprise, &enterpriseOid) == 0)) {
        return Result::failure(kTrapEnterpriseFailedText);
    }
    std::unique_ptr<snmp::Pdu> trap;
    if (Result made =
            makeTrapPdu(std::move(list), communityText,
                        trapVersion == 0 ? snmp::kPduTrap : snmp::kPduSnmpV2Trap, enterpriseOid,
                        agentAddr, timeStamp, genericTrap, specificTrap, 1, trap);
        !made) {
        return made;
    }
    uint8_t message[snmp::kMaxMessageSize];
    uint32_t size = sizeof message;
    if (!snmp::SnmpEncodeMsg(trap.get(), message, &size)) {
        return Result::failure(kEncodeMsgFailedText);
    }
    if (!client.sendToPeer(message, size, port)) {
        return Result::failure(kSendUdpTrapFailedText);
    }
    return {};
}

}  // namespace korvimo
