#include "snmp/v3_message.h"

#include <cstring>

#include "snmp/ber.h"

namespace korvimo::snmp {

namespace {

uint32_t integerSize(int32_t value) {
    return tlvSize(integerContentSize(value));
}

// An INTEGER at the cursor that must be one and lie in [least, most].
Result readInteger(const uint8_t*& p, int32_t* window, int32_t least, int32_t most,
                   const char* field, int32_t& value) {
    uint8_t tag = 0;
    if (Result r = decodeInteger(p, window, &tag, &value, 4); !r) {
        return Result::failuref("%s: %s", field, r.c_str());
    }
    if (tag != kTagInteger) {
        return Result::failuref("%s is no INTEGER (tag 0x%02X)", field, tag);
    }
    if (value < least || value > most) {
        return Result::failuref("%s [%d] is out of range", field, value);
    }
    return {};
}

// An OCTET STRING at the cursor of at most capacity octets, copied into value.
Result readOctets(const uint8_t*& p, int32_t* window, uint32_t capacity, const char* field,
                  Octets& value, uint32_t* contentOffset = nullptr, const uint8_t* base = nullptr) {
    const uint8_t* start = p;
    uint8_t tag = 0;
    int32_t content = *window;
    const uint8_t* c = p;
    if (Result r = decodeHeader(c, &content, &tag); !r) {
        return Result::failuref("%s: %s", field, r.c_str());
    }
    if (tag != kTagOctetString) {
        return Result::failuref("%s is no OCTET STRING (tag 0x%02X)", field, tag);
    }
    if (static_cast<uint32_t>(content) > capacity) {
        return Result::failuref("%s is longer than %u octets", field, capacity);
    }
    value.bytes.assign(c, c + content);
    if (contentOffset != nullptr) {
        *contentOffset = static_cast<uint32_t>(c - base);
    }
    p = c + content;
    *window -= static_cast<int32_t>(p - start);
    return {};
}

// Enters a SEQUENCE at the cursor: p moves to its content, content is its length, and the
// enclosing window loses the whole element.
Result enterSequence(const uint8_t*& p, int32_t* window, const char* field, int32_t& content) {
    const uint8_t* start = p;
    uint8_t tag = 0;
    content = *window;
    if (Result r = decodeHeader(p, &content, &tag); !r) {
        return Result::failuref("%s: %s", field, r.c_str());
    }
    if (tag != kTagSequence) {
        p = start;
        return Result::failuref("%s is no SEQUENCE (tag 0x%02X)", field, tag);
    }
    *window -= static_cast<int32_t>(p - start) + content;
    return {};
}

uint32_t usmContentSize(const UsmParameters& usm) {
    return tlvSize(usm.engineId.length()) + integerSize(usm.boots) + integerSize(usm.time) +
           tlvSize(usm.userName.length()) + tlvSize(usm.authParams.length()) +
           tlvSize(usm.privParams.length());
}

uint32_t headerContentSize(const V3Header& header) {
    return integerSize(header.msgId) + integerSize(header.maxSize) + tlvSize(1) +
           integerSize(header.securityModel);
}

// Octets of the message's content (all but its own tag and length).
uint32_t messageContentSize(const V3Header& header, const UsmParameters& usm, uint32_t scopedLength,
                            bool encrypted) {
    return integerSize(static_cast<int32_t>(kVersion3)) + tlvSize(headerContentSize(header)) +
           tlvSize(tlvSize(usmContentSize(usm))) +
           (encrypted ? tlvSize(scopedLength) : scopedLength);
}

}  // namespace

Result decodeV3Message(const uint8_t* bytes, uint32_t length, V3Message& message) {
    message = V3Message{};
    const int32_t window = static_cast<int32_t>(length < 0x7FFFFFFFu ? length : 0x7FFFFFFFu);
    const uint8_t* p = bytes;
    int32_t outer = window;
    int32_t body = 0;
    if (Result r = enterSequence(p, &outer, "message", body); !r) {
        return r;
    }
    int32_t version = 0;
    if (Result r = readInteger(p, &body, 3, 3, "msgVersion", version); !r) {
        return r;
    }

    int32_t headerData = 0;
    if (Result r = enterSequence(p, &body, "msgGlobalData", headerData); !r) {
        return r;
    }
    V3Header& header = message.header;
    if (Result r = readInteger(p, &headerData, 0, 2147483647, "msgID", header.msgId); !r) {
        return r;
    }
    if (Result r = readInteger(p, &headerData, 484, 2147483647, "msgMaxSize", header.maxSize); !r) {
        return r;
    }
    Octets flags;
    if (Result r = readOctets(p, &headerData, 1, "msgFlags", flags); !r) {
        return r;
    }
    if (flags.length() != 1) {
        return Result::failure("msgFlags is not one octet");
    }
    header.flags = flags.bytes[0];
    if (Result r =
            readInteger(p, &headerData, 1, 2147483647, "msgSecurityModel", header.securityModel);
        !r) {
        return r;
    }
    p += headerData;  // what the header holds beyond its four fields is passed over

    // msgSecurityParameters: an OCTET STRING whose content is the model's own encoding.
    uint8_t tag = 0;
    int32_t parameters = body;
    const uint8_t* parametersStart = p;
    if (Result r = decodeHeader(p, &parameters, &tag); !r) {
        return Result::failuref("msgSecurityParameters: %s", r.c_str());
    }
    if (tag != kTagOctetString) {
        return Result::failuref("msgSecurityParameters is no OCTET STRING (tag 0x%02X)", tag);
    }
    body -= static_cast<int32_t>(p - parametersStart) + parameters;
    const uint8_t* afterParameters = p + parameters;
    if (header.securityModel == kSecurityModelUsm) {
        int32_t usmWindow = parameters;
        int32_t usmContent = 0;
        if (Result r = enterSequence(p, &usmWindow, "UsmSecurityParameters", usmContent); !r) {
            return r;
        }
        UsmParameters& usm = message.usm;
        if (Result r =
                readOctets(p, &usmContent, kMaxEngineId, "msgAuthoritativeEngineID", usm.engineId);
            !r) {
            return r;
        }
        if (Result r = readInteger(p, &usmContent, 0, 2147483647, "msgAuthoritativeEngineBoots",
                                   usm.boots);
            !r) {
            return r;
        }
        if (Result r =
                readInteger(p, &usmContent, 0, 2147483647, "msgAuthoritativeEngineTime", usm.time);
            !r) {
            return r;
        }
        if (Result r = readOctets(p, &usmContent, kMaxAdminString, "msgUserName", usm.userName);
            !r) {
            return r;
        }
        if (Result r = readOctets(p, &usmContent, kMaxUsmParameter, "msgAuthenticationParameters",
                                  usm.authParams, &message.authOffset, bytes);
            !r) {
            return r;
        }
        message.authLength = usm.authParams.length();
        if (message.authLength == 0) {
            message.authOffset = 0;
        }
        if (Result r = readOctets(p, &usmContent, kMaxUsmParameter, "msgPrivacyParameters",
                                  usm.privParams);
            !r) {
            return r;
        }
    }
    p = afterParameters;

    // msgData: a plaintext ScopedPDU or an encryptedPDU.
    if (body <= 0) {
        return Result::failure("msgData is missing");
    }
    int32_t data = body;
    const uint8_t* dataStart = p;
    if (Result r = decodeHeader(p, &data, &tag); !r) {
        return Result::failuref("msgData: %s", r.c_str());
    }
    if (tag == kTagSequence) {
        message.encrypted = false;
        message.scopedOffset = static_cast<uint32_t>(dataStart - bytes);
        message.scopedLength = static_cast<uint32_t>(p - dataStart) + static_cast<uint32_t>(data);
    } else if (tag == kTagOctetString) {
        message.encrypted = true;
        message.scopedOffset = static_cast<uint32_t>(p - bytes);
        message.scopedLength = static_cast<uint32_t>(data);
    } else {
        return Result::failuref("msgData is neither ScopedPDU nor encryptedPDU (tag 0x%02X)", tag);
    }
    return {};
}

Result decodeScopedPdu(const uint8_t* bytes, uint32_t length, Octets& contextEngineId,
                       Octets& contextName, Pdu* pdu) {
    clearPdu(pdu);
    const int32_t window = static_cast<int32_t>(length < 0x7FFFFFFFu ? length : 0x7FFFFFFFu);
    const uint8_t* p = bytes;
    int32_t outer = window;
    int32_t content = 0;
    if (Result r = enterSequence(p, &outer, "ScopedPDU", content); !r) {
        return r;
    }
    if (Result r = readOctets(p, &content, kMaxEngineId, "contextEngineID", contextEngineId); !r) {
        return r;
    }
    if (Result r = readOctets(p, &content, kMaxAdminString, "contextName", contextName); !r) {
        return r;
    }
    if (content <= 0) {
        return Result::failure("ScopedPDU holds no PDU");
    }
    if (Result r = decodePdu(p, content, pdu); !r) {
        clearPdu(pdu);
        return r;
    }
    pdu->version = kVersion3;
    return {};
}

uint32_t encodedScopedPduSize(const Octets& contextEngineId, const Octets& contextName,
                              int32_t requestId, int32_t errorStatus, int32_t errorIndex,
                              const VarBindList& list) {
    // encodedMessageSize counts an SNMPv2c message: a four-octet SEQUENCE header, the version
    // (three octets) and the community (two when empty) before the PDU.
    static const Octets none;
    const uint32_t message =
        encodedMessageSize(kVersion2c, none, requestId, errorStatus, errorIndex, list);
    if (message == 0 || message == UINT32_MAX) {
        return message;
    }
    return 4 + tlvSize(contextEngineId.length()) + tlvSize(contextName.length()) + message - 9;
}

Result encodeScopedPdu(const Octets& contextEngineId, const Octets& contextName, const Pdu& pdu,
                       uint8_t* out, uint32_t* size) {
    int32_t remaining = static_cast<int32_t>(*size < kMaxEncodedLength ? *size : kMaxEncodedLength);
    uint8_t* p = out;
    if (Result r = encodeSequenceHeader(p, &remaining, kTagSequence, 0); !r) {
        return r;
    }
    if (Result r = encodeOctetString(p, &remaining, kTagOctetString, contextEngineId.bytes.data(),
                                     contextEngineId.length());
        !r) {
        return r;
    }
    if (Result r = encodeOctetString(p, &remaining, kTagOctetString, contextName.bytes.data(),
                                     contextName.length());
        !r) {
        return r;
    }
    if (Result r = encodePdu(p, &remaining, pdu); !r) {
        return r;
    }
    uint8_t* header = out;
    int32_t room = 4;
    static_cast<void>(
        encodeSequenceHeader(header, &room, kTagSequence, static_cast<uint32_t>(p - out - 4)));
    *size = static_cast<uint32_t>(p - out);
    return {};
}

uint32_t encodedV3MessageSize(const V3Header& header, const UsmParameters& usm,
                              uint32_t scopedLength, bool encrypted) {
    return tlvSize(messageContentSize(header, usm, scopedLength, encrypted));
}

Result encodeV3Message(const V3Header& header, const UsmParameters& usm,
                       std::span<const uint8_t> scoped, bool encrypted, uint8_t* out,
                       uint32_t* size, uint32_t* authOffset) {
    const uint32_t scopedLength = static_cast<uint32_t>(scoped.size());
    const uint32_t content = messageContentSize(header, usm, scopedLength, encrypted);
    if (tlvSize(content) > *size || content > kMaxEncodedLength) {
        return Result::failuref("The message of %u octets does not fit in %u.", tlvSize(content),
                                *size);
    }
    int32_t remaining = static_cast<int32_t>(*size);
    uint8_t* p = out;
    // Every length is known beforehand, so nothing below can run out of room.
    Result r = encodeTagLength(p, &remaining, kTagSequence, content);
    const int32_t version = static_cast<int32_t>(kVersion3);
    if (r) {
        r = encodeInteger(p, &remaining, kTagInteger, &version, 4);
    }
    if (r) {
        r = encodeTagLength(p, &remaining, kTagSequence, headerContentSize(header));
    }
    if (r) {
        r = encodeInteger(p, &remaining, kTagInteger, &header.msgId, 4);
    }
    if (r) {
        r = encodeInteger(p, &remaining, kTagInteger, &header.maxSize, 4);
    }
    if (r) {
        r = encodeOctetString(p, &remaining, kTagOctetString, &header.flags, 1);
    }
    if (r) {
        r = encodeInteger(p, &remaining, kTagInteger, &header.securityModel, 4);
    }
    const uint32_t usmContent = usmContentSize(usm);
    if (r) {
        r = encodeTagLength(p, &remaining, kTagOctetString, tlvSize(usmContent));
    }
    if (r) {
        r = encodeTagLength(p, &remaining, kTagSequence, usmContent);
    }
    if (r) {
        r = encodeOctetString(p, &remaining, kTagOctetString, usm.engineId.bytes.data(),
                              usm.engineId.length());
    }
    if (r) {
        r = encodeInteger(p, &remaining, kTagInteger, &usm.boots, 4);
    }
    if (r) {
        r = encodeInteger(p, &remaining, kTagInteger, &usm.time, 4);
    }
    if (r) {
        r = encodeOctetString(p, &remaining, kTagOctetString, usm.userName.bytes.data(),
                              usm.userName.length());
    }
    if (r) {
        r = encodeOctetString(p, &remaining, kTagOctetString, usm.authParams.bytes.data(),
                              usm.authParams.length());
    }
    const uint8_t* authEnd = p;
    if (r) {
        r = encodeOctetString(p, &remaining, kTagOctetString, usm.privParams.bytes.data(),
                              usm.privParams.length());
    }
    if (r && encrypted) {
        r = encodeTagLength(p, &remaining, kTagOctetString, scopedLength);
    }
    if (!r) {
        return r;
    }
    if (static_cast<uint32_t>(remaining) < scopedLength) {
        return Result::failure("The scoped PDU does not fit.");
    }
    if (scopedLength > 0) {
        std::memcpy(p, scoped.data(), scopedLength);
    }
    p += scopedLength;
    *authOffset = static_cast<uint32_t>(authEnd - out) - usm.authParams.length();
    *size = static_cast<uint32_t>(p - out);
    return {};
}

}  // namespace korvimo::snmp
