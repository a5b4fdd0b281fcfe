#include "snmp/message.h"

#include <cstring>
#include <new>

namespace korvimo::snmp {

namespace {

constexpr char kOutputTooSmall[] = "Output Buffer too small.";
constexpr char kInvalidHeaderTag[] = "Invalid Header Tag[%d]";
constexpr char kVarBindNotSequence[] = "Varbind Tag incorrect [%02x].Not Sequence/Constructor";
constexpr char kVarBindNameNotOid[] = "Varbind ObjId Tag incorrect [%02x].";
constexpr char kOutOfMemory[] = "Out of memory while decoding the message.";
constexpr char kVarBindListNotSequence[] =
    "Varbind List Tag incorrect [%02x].Not Sequence/Constructor";
constexpr char kNoRecord[] = "No PDU record to decode the message into.";
constexpr char kNothingToEncode[] = "No PDU or Output Buffer given to encode the message.";
constexpr char kSyntaxNotEncodable[] = "Varbind Syntax cannot be encoded [%02x].";
constexpr char kBitStringUnusedBits[] = "Unused Bits of Bit String missing or larger than 7.";
constexpr char kBitStringEncodingPastEnd[] = "Bit String Encoding goes past end of packet.";

// --- Sizes of encoded elements, computed without encoding -----------------------------------

// Encoded size of a value, or 0 when encodeVarBind would refuse it.
uint32_t valueSize(const SyntaxValue& value) {
    switch (value.syntax) {
        case kTagInteger:
            return tlvSize(integerContentSize(value.integer()));
        case kTagCounter:
        case kTagGauge:
        case kTagTimeTicks:
        case kTagUInteger32:
            return tlvSize(unsignedContentSize(value.number));
        case kTagCounter64:
            return tlvSize(counter64ContentSize(value.high(), value.low()));
        case kTagBitString:
            if (value.octets.bytes.empty() || value.octets.bytes[0] > 7) {
                return 0;
            }
            [[fallthrough]];
        case kTagOctetString:
        case kTagIpAddress:
        case kTagOpaque:
        case kTagNsapAddress:
            if (value.octets.length() > kMaxEncodedLength) {
                return 0;
            }
            return tlvSize(value.octets.length());
        case kTagObjectId: {
            const uint32_t content = objectIdContentSize(value.oid.ids.data(), value.oid.count());
            return content == 0 ? 0 : tlvSize(content);
        }
        case kTagNull:
        case kTagNoSuchObject:
        case kTagNoSuchInstance:
        case kTagEndOfMibView:
            return 2;
        default:
            return 0;
    }
}

// --- Encoding -------------------------------------------------------------------------------

// encodeBitString fails without a text; which of its refusals it was is told here.
Result bitStringFailure(const Octets& bits) {
    if (bits.bytes.empty() || bits.bytes[0] > 7) {
        return Result::failure(kBitStringUnusedBits);
    }
    if (bits.length() > kMaxEncodedLength) {
        return Result::failuref(kLengthNotEncodableText, bits.length());
    }
    return Result::failure(kBitStringEncodingPastEnd);
}

Result encodeValue(uint8_t*& pos, int32_t* remaining, const SyntaxValue& value) {
    const uint8_t tag = static_cast<uint8_t>(value.syntax);
    switch (value.syntax) {
        case kTagInteger: {
            const int32_t number = value.integer();
            return encodeInteger(pos, remaining, tag, &number, 4);
        }
        case kTagCounter:
        case kTagGauge:
        case kTagTimeTicks:
        case kTagUInteger32:
            return encodeUnsigned(pos, remaining, tag, &value.number, 4);
        case kTagCounter64:
            return encodeCounter64(pos, remaining, tag, value.high(), value.low(), 8);
        case kTagBitString: {
            if (Result r = encodeBitString(pos, remaining, tag, value.octets.bytes.data(),
                                           value.octets.length());
                !r) {
                return bitStringFailure(value.octets);
            }
            return {};
        }
        case kTagOctetString:
        case kTagIpAddress:
        case kTagOpaque:
        case kTagNsapAddress:
            return encodeOctetString(pos, remaining, tag, value.octets.bytes.data(),
                                     value.octets.length());
        case kTagObjectId:
            return encodeObjectId(pos, remaining, tag, value.oid.ids.data(), value.oid.count());
        case kTagNull:
        case kTagNoSuchObject:
        case kTagNoSuchInstance:
        case kTagEndOfMibView:
            return encodeNull(pos, remaining, tag);
        default:
            return Result::failuref(kSyntaxNotEncodable, static_cast<unsigned>(value.syntax));
    }
}

// Fills in a SEQUENCE header whose four octets were kept. It cannot fail: the message window
// never exceeds kMaxEncodedLength, and so neither does the length.
void fillSequenceHeader(uint8_t* header, uint32_t length) {
    int32_t room = 4;
    static_cast<void>(encodeSequenceHeader(header, &room, kTagSequence, length));
}

}  // namespace

Result encodePdu(uint8_t*& p, int32_t* remainingOut, const Pdu& pdu) {
    int32_t remaining = *remainingOut;
    // Two octets are kept for the PDU header; its real size is known only at the end.
    uint8_t* pduHeader = p;
    const uint8_t pduTag = static_cast<uint8_t>(pdu.type);
    if (Result r = encodeTagLength(p, &remaining, pduTag, 0); !r) {
        return r;
    }
    uint8_t* pduContent = p;

    if (pdu.type == kPduTrap) {
        if (Result r = encodeObjectId(p, &remaining, kTagObjectId, pdu.enterprise.ids.data(),
                                      pdu.enterprise.count());
            !r) {
            return r;
        }
        if (Result r = encodeOctetString(p, &remaining, kTagIpAddress, pdu.agentAddr, 4); !r) {
            return r;
        }
        if (Result r = encodeInteger(p, &remaining, kTagInteger, &pdu.genericTrap, 4); !r) {
            return r;
        }
        if (Result r = encodeInteger(p, &remaining, kTagInteger, &pdu.specificTrap, 4); !r) {
            return r;
        }
        if (Result r = encodeUnsigned(p, &remaining, kTagTimeTicks, &pdu.timeStamp, 4); !r) {
            return r;
        }
    } else {
        if (Result r = encodeInteger(p, &remaining, kTagInteger, &pdu.requestId, 4); !r) {
            return r;
        }
        if (Result r = encodeInteger(p, &remaining, kTagInteger, &pdu.errorStatus, 4); !r) {
            return r;
        }
        if (Result r = encodeInteger(p, &remaining, kTagInteger, &pdu.errorIndex, 4); !r) {
            return r;
        }
    }

    uint8_t* listHeader = p;
    if (Result r = encodeSequenceHeader(p, &remaining, kTagSequence, 0); !r) {
        return r;
    }
    for (const VarBind& vb : pdu.varBinds.items) {
        if (Result r = encodeVarBind(p, &remaining, vb.name, vb.value); !r) {
            return r;
        }
    }
    fillSequenceHeader(listHeader, static_cast<uint32_t>(p - listHeader - 4));

    // The PDU header takes its shortest form: its length field has the one octet kept for it
    // and whatever the buffer still holds, and the contents move up by what it needs beyond
    // that one octet.
    const uint32_t contentLength = static_cast<uint32_t>(p - pduContent);
    uint8_t lengthField[3];
    uint8_t* lengthEnd = lengthField;
    int32_t lengthRoom = 1 + remaining;
    if (Result r = encodeLength(lengthEnd, &lengthRoom, contentLength); !r) {
        return r;
    }
    const auto lengthSize = static_cast<int32_t>(lengthEnd - lengthField);
    const int32_t growth = lengthSize - 1;
    if (growth > 0) {
        std::memmove(pduContent + growth, pduContent, contentLength);
        remaining -= growth;
        p += growth;
    }
    pduHeader[0] = pduTag;
    std::memcpy(pduHeader + 1, lengthField, static_cast<std::size_t>(lengthSize));

    *remainingOut = remaining;
    return {};
}

namespace {

Result encodeMessage(const Pdu& pdu, uint8_t* out, uint32_t* size) {
    int32_t remaining = static_cast<int32_t>(*size < kMaxEncodedLength ? *size : kMaxEncodedLength);
    uint8_t* p = out;
    if (Result r = encodeSequenceHeader(p, &remaining, kTagSequence, 0); !r) {
        return r;
    }
    const int32_t version = static_cast<int32_t>(pdu.version);
    if (Result r = encodeInteger(p, &remaining, kTagInteger, &version, 4); !r) {
        return r;
    }
    if (Result r = encodeOctetString(p, &remaining, kTagOctetString, pdu.community.bytes.data(),
                                     pdu.community.length());
        !r) {
        return r;
    }

    if (Result r = encodePdu(p, &remaining, pdu); !r) {
        return r;
    }
    fillSequenceHeader(out, static_cast<uint32_t>(p - out - 4));
    *size = static_cast<uint32_t>(p - out);
    return {};
}

// --- Decoding -------------------------------------------------------------------------------

// Whether the content octets of an INTEGER-family value are a valid BER encoding (X.690
// 8.3.1, 8.3.2): at least one octet, and the first nine bits neither all zeros nor all ones.
bool minimalInteger(const uint8_t* content, int32_t length) {
    if (length < 1) {
        return false;
    }
    if (length == 1) {
        return true;
    }
    const bool leadingZeros = content[0] == 0x00 && (content[1] & 0x80) == 0;
    const bool leadingOnes = content[0] == 0xFF && (content[1] & 0x80) != 0;
    return !leadingZeros && !leadingOnes;
}

// Whether an unsigned value (Counter, Gauge, TimeTicks, UInteger32, Counter64) is a valid
// encoding of a number its type can hold: minimal, and not negative.
bool soundUnsigned(const uint8_t* content, int32_t length) {
    return minimalInteger(content, length) && (content[0] & 0x80) == 0;
}

// Whether the content octets of an OBJECT IDENTIFIER value encode one (X.690 8.19): at least
// one octet, and no sub-identifier starting with the padding octet 0x80.
bool soundObjectId(const uint8_t* content, int32_t length) {
    if (length < 1) {
        return false;
    }
    bool startOfSubidentifier = true;
    for (int32_t i = 0; i < length; ++i) {
        if (startOfSubidentifier && content[i] == 0x80) {
            return false;
        }
        startOfSubidentifier = (content[i] & 0x80) == 0;
    }
    return true;
}

// Decodes a binding's value from its header on; the syntax is the tag found, content and
// length are those of the value element. A value its decoder refuses, or whose encoding is
// no valid BER of a value its type can hold, is kept with that syntax and an empty value and
// marked undecoded, except an OCTET STRING-family value too long for the buffer, which fails
// the message.
Result decodeValue(const uint8_t* pos, int32_t remaining, uint8_t tag, const uint8_t* content,
                   int32_t length, VarBind* binding) {
    SyntaxValue* value = &binding->value;
    value->syntax = tag;
    uint8_t found = 0;
    bool decoded = true;
    switch (tag) {
        case kTagInteger: {
            int32_t number = 0;
            decoded = decodeInteger(pos, &remaining, &found, &number, 4) &&
                      minimalInteger(content, length);
            if (decoded) {
                value->number = static_cast<uint32_t>(number);
            }
            break;
        }
        case kTagCounter:
        case kTagGauge:
        case kTagTimeTicks:
        case kTagUInteger32: {
            uint32_t number = 0;
            decoded = decodeUnsigned(pos, &remaining, &found, &number, 4) &&
                      soundUnsigned(content, length);
            if (decoded) {
                value->number = number;
            }
            break;
        }
        case kTagCounter64: {
            uint32_t high = 0;
            uint32_t low = 0;
            decoded = decodeCounter64(pos, &remaining, &found, &high, &low, 8) &&
                      soundUnsigned(content, length);
            if (decoded) {
                value->counter64 = (static_cast<uint64_t>(high) << 32) | low;
            }
            break;
        }
        case kTagOctetString:
        case kTagIpAddress:
        case kTagOpaque:
        case kTagNsapAddress: {
            uint8_t buffer[kMaxOctetValue];
            uint32_t size = sizeof buffer;
            Result r = decodeOctetString(pos, &remaining, &found, buffer, &size);
            if (r) {
                value->octets.bytes.assign(buffer, buffer + size);
            }
            return r;
        }
        case kTagBitString: {
            uint8_t buffer[kMaxOctetValue];
            uint32_t size = sizeof buffer;
            decoded = static_cast<bool>(decodeBitString(pos, &remaining, &found, buffer, &size));
            if (decoded) {
                value->octets.bytes.assign(buffer, buffer + size);
            }
            break;
        }
        case kTagObjectId: {
            uint32_t ids[kMaxOidLength];
            uint32_t count = kMaxOidLength;
            decoded = decodeObjectId(pos, &remaining, &found, ids, &count) &&
                      soundObjectId(content, length);
            if (decoded) {
                value->oid.ids.assign(ids, ids + count);
            }
            break;
        }
        case kTagNull:
        case kTagNoSuchObject:
        case kTagNoSuchInstance:
        case kTagEndOfMibView:
            break;
        default:
            value->syntax = 0;
            break;
    }
    binding->valueUndecoded = !decoded;
    return {};
}

}  // namespace

Result decodePdu(const uint8_t*& p, int32_t window, Pdu* pdu) {
    int32_t body = window;
    uint8_t tag = 0;
    if (Result r = decodeHeader(p, &body, &tag); !r) {
        return r;
    }
    pdu->type = tag;

    if (pdu->type == kPduTrap) {
        uint32_t ids[kMaxOidLength];
        uint32_t count = kMaxOidLength;
        if (Result r = decodeObjectId(p, &body, &tag, ids, &count); !r) {
            return r;
        }
        pdu->enterprise.ids.assign(ids, ids + count);
        uint32_t addressLength = sizeof pdu->agentAddr;
        if (Result r = decodeOctetString(p, &body, &tag, pdu->agentAddr, &addressLength); !r) {
            return r;
        }
        if (Result r = decodeInteger(p, &body, &tag, &pdu->genericTrap, 4); !r) {
            return r;
        }
        if (Result r = decodeInteger(p, &body, &tag, &pdu->specificTrap, 4); !r) {
            return r;
        }
        if (Result r = decodeUnsigned(p, &body, &tag, &pdu->timeStamp, 4); !r) {
            return r;
        }
    } else {
        if (Result r = decodeInteger(p, &body, &tag, &pdu->requestId, 4); !r) {
            return r;
        }
        if (Result r = decodeInteger(p, &body, &tag, &pdu->errorStatus, 4); !r) {
            return r;
        }
        if (Result r = decodeInteger(p, &body, &tag, &pdu->errorIndex, 4); !r) {
            return r;
        }
    }

    int32_t list = body;
    if (Result r = decodeHeader(p, &list, &tag); !r) {
        return r;
    }
    if (tag != kTagSequence) {
        return Result::failuref(kVarBindListNotSequence, tag);
    }
    while (list > 0) {
        int32_t binding = list;
        const uint8_t* content = p;
        if (Result r = decodeHeader(content, &binding, &tag); !r) {
            return r;
        }
        if (tag != kTagSequence) {
            return Result::failuref(kVarBindNotSequence, tag);
        }
        const uint8_t* next = content + binding;
        list -= static_cast<int32_t>(next - p);

        uint32_t ids[kMaxOidLength];
        uint32_t count = kMaxOidLength;
        const uint8_t* v = content;
        if (Result r = decodeObjectId(v, &binding, &tag, ids, &count); !r) {
            return r;
        }
        if (tag != kTagObjectId) {
            return Result::failuref(kVarBindNameNotOid, tag);
        }
        int32_t valueWindow = binding;
        uint8_t valueTag = 0;
        const uint8_t* valueContent = v;
        if (Result r = decodeHeader(valueContent, &valueWindow, &valueTag); !r) {
            return r;
        }

        VarBind& vb = pdu->varBinds.items.emplace_back();
        vb.name.ids.assign(ids, ids + count);
        if (Result r = decodeValue(v, binding, valueTag, valueContent, valueWindow, &vb); !r) {
            return r;
        }
        p = next;
    }
    return {};
}

namespace {

Result decodeInto(const uint8_t* bytes, uint32_t length, Pdu* pdu) {
    // The window never exceeds what a signed count holds; longer input is read up to that.
    const int32_t window = static_cast<int32_t>(length < 0x7FFFFFFFu ? length : 0x7FFFFFFFu);
    uint8_t tag = 0;
    int32_t outer = window;
    const uint8_t* p = bytes;
    if (Result r = decodeHeader(p, &outer, &tag); !r) {
        return r;
    }
    if (tag != kTagSequence) {
        return Result::failuref(kInvalidHeaderTag, tag);
    }
    // The message's fields lie inside that outer SEQUENCE, which is read once.
    int32_t message = outer;

    int32_t version = 0;
    if (Result r = decodeInteger(p, &message, &tag, &version, 4); !r) {
        return r;
    }
    pdu->version = static_cast<uint32_t>(version);
    uint8_t community[kMaxCommunity + 1];
    uint32_t communityLength = kMaxCommunity;
    if (Result r = decodeOctetString(p, &message, &tag, community, &communityLength); !r) {
        return r;
    }
    pdu->community.bytes.assign(community, community + communityLength);

    return decodePdu(p, message, pdu);
}

}  // namespace

std::unique_ptr<Octets> SnmpCreateOctets(uint32_t length, const uint8_t* bytes) {
    try {
        auto octets = std::make_unique<Octets>();
        if (bytes != nullptr) {
            octets->bytes.assign(bytes, bytes + length);
        } else {
            octets->bytes.assign(length, 0);
        }
        return octets;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::unique_ptr<VarBindList> SnmpCreateVbl() {
    try {
        return std::make_unique<VarBindList>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool SnmpAddVb(VarBindList* list, const ObjectId* name, const SyntaxValue* value) {
    if (list == nullptr) {
        return false;
    }
    try {
        VarBind vb;
        if (name != nullptr) {
            vb.name = *name;
        }
        if (value != nullptr) {
            vb.value = *value;
        }
        list->items.push_back(std::move(vb));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::unique_ptr<Pdu> SnmpCreateBPdu(uint32_t version, const Octets* community, uint32_t type,
                                    int32_t requestId, int32_t errorStatus, int32_t errorIndex,
                                    std::unique_ptr<VarBindList> list) {
    try {
        auto pdu = std::make_unique<Pdu>();
        pdu->version = version;
        if (community != nullptr) {
            pdu->community = *community;
        }
        pdu->type = type;
        pdu->requestId = requestId;
        pdu->errorStatus = errorStatus;
        pdu->errorIndex = errorIndex;
        if (list != nullptr) {
            pdu->varBinds = std::move(*list);
        }
        return pdu;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::unique_ptr<Pdu> SnmpCreateTPdu(uint32_t version, const Octets* community,
                                    const ObjectId* enterprise, const uint8_t agentAddr[4],
                                    int32_t genericTrap, int32_t specificTrap, uint32_t timeStamp,
                                    std::unique_ptr<VarBindList> list) {
    try {
        auto pdu = std::make_unique<Pdu>();
        pdu->version = version;
        if (community != nullptr) {
            pdu->community = *community;
        }
        pdu->type = kPduTrap;
        if (enterprise != nullptr) {
            pdu->enterprise = *enterprise;
        }
        if (agentAddr != nullptr) {
            std::memcpy(pdu->agentAddr, agentAddr, sizeof pdu->agentAddr);
        }
        pdu->genericTrap = genericTrap;
        pdu->specificTrap = specificTrap;
        pdu->timeStamp = timeStamp;
        if (list != nullptr) {
            pdu->varBinds = std::move(*list);
        }
        return pdu;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void freePdu(std::unique_ptr<Pdu> pdu) {
    pdu.reset();
}

void clearPdu(Pdu* pdu) {
    if (pdu != nullptr) {
        *pdu = Pdu{};
    }
}

VarBind* lastVarBind(VarBindList* list) {
    if (list == nullptr || list->items.empty()) {
        return nullptr;
    }
    return &list->items.back();
}

Result SnmpEncodeMsg(const Pdu* pdu, uint8_t* out, uint32_t* size) {
    if (pdu == nullptr || out == nullptr || size == nullptr) {
        return Result::failure(kNothingToEncode);
    }
    return encodeMessage(*pdu, out, size);
}

Result decodeMessage(const uint8_t* bytes, uint32_t length, Pdu* pdu) {
    if (pdu == nullptr) {
        return Result::failure(kNoRecord);
    }
    clearPdu(pdu);
    if (bytes == nullptr) {
        length = 0;
    }
    try {
        Result decoded = decodeInto(bytes, length, pdu);
        if (!decoded) {
            clearPdu(pdu);
        }
        return decoded;
    } catch (const std::bad_alloc&) {
        // What was decoded goes first, so that the text finds the memory it needs.
        clearPdu(pdu);
        return Result::failure(kOutOfMemory);
    }
}

bool peekMessageVersion(const uint8_t* bytes, uint32_t length, int32_t& version) {
    if (bytes == nullptr || length > static_cast<uint32_t>(INT32_MAX)) {
        return false;
    }
    const uint8_t* p = bytes;
    int32_t remaining = static_cast<int32_t>(length);
    uint8_t tag = 0;
    if (!decodeHeader(p, &remaining, &tag) || tag != kTagSequence) {
        return false;
    }
    return decodeInteger(p, &remaining, &tag, &version, 4) && tag == kTagInteger;
}

Result encodeVarBind(uint8_t*& pos, int32_t* remaining, const ObjectId& name,
                     const SyntaxValue& value) {
    if (*remaining < 4) {
        return Result::failure(kOutputTooSmall);
    }
    const int32_t before = *remaining;
    *remaining -= 4;
    uint8_t* p = pos + 4;
    if (Result r = encodeObjectId(p, remaining, kTagObjectId, name.ids.data(), name.count()); !r) {
        *remaining = before;
        return r;
    }
    if (Result r = encodeValue(p, remaining, value); !r) {
        *remaining = before;
        return r;
    }
    uint8_t* header = pos;
    int32_t headerRoom = 4;
    if (Result r = encodeSequenceHeader(header, &headerRoom, kTagSequence,
                                        static_cast<uint32_t>(p - pos - 4));
        !r) {
        *remaining = before;
        return r;
    }
    pos = p;
    return {};
}

uint32_t encodedVarBindSize(const ObjectId& name, const SyntaxValue& value, uint32_t limit) {
    const uint32_t nameContent = objectIdContentSize(name.ids.data(), name.count());
    const uint32_t valueBytes = valueSize(value);
    if (nameContent == 0 || valueBytes == 0) {
        return 0;
    }
    const uint32_t total = 4 + tlvSize(nameContent) + valueBytes;
    return total <= limit ? total : 0;
}

uint32_t encodedMessageSize(uint32_t version, const Octets& community, int32_t requestId,
                            int32_t errorStatus, int32_t errorIndex, const VarBindList& list) {
    if (community.length() > kMaxEncodedLength) {
        return 0;
    }
    uint64_t content = 4;  // the list header
    for (const VarBind& vb : list.items) {
        const uint32_t size = encodedVarBindSize(vb.name, vb.value, UINT32_MAX);
        if (size == 0) {
            return 0;
        }
        content += size;
    }
    content += tlvSize(integerContentSize(requestId)) + tlvSize(integerContentSize(errorStatus)) +
               tlvSize(integerContentSize(errorIndex));
    // Beyond what a length field can say the message is too big for any buffer; the PDU
    // header is then counted at its largest.
    const uint64_t pduHeader =
        1 + (content > kMaxEncodedLength ? 3 : lengthFieldSize(static_cast<uint32_t>(content)));
    const uint64_t total = 4 + tlvSize(integerContentSize(static_cast<int32_t>(version))) +
                           tlvSize(community.length()) + pduHeader + content;
    return total < UINT32_MAX ? static_cast<uint32_t>(total) : UINT32_MAX;
}

uint32_t SnmpStrToOid(const char* text, ObjectId* out) {
    if (out == nullptr) {
        return 0;
    }
    out->ids.clear();
    if (text == nullptr) {
        return 0;
    }
    uint32_t count = 1;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '.' && ++count > kMaxOidLength) {
            return 0;
        }
    }
    try {
        out->ids.resize(count);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    const char* c = text;
    for (uint32_t i = 0; i < count; ++i) {
        while (*c == ' ' || (*c >= '\t' && *c <= '\r')) {
            ++c;
        }
        bool negative = false;
        if (*c == '-' || *c == '+') {
            negative = *c == '-';
            ++c;
        }
        uint32_t value = 0;
        while (*c >= '0' && *c <= '9') {
            value = value * 10u + static_cast<uint32_t>(*c - '0');
            ++c;
        }
        out->ids[i] = negative ? 0u - value : value;
        while (*c != '\0' && *c != '.') {
            ++c;
        }
        if (*c == '.') {
            ++c;
        }
    }
    return count;
}

uint32_t oidToText(const ObjectId& oid, uint32_t capacity, char* out) {
    if (out == nullptr || capacity == 0) {
        return 0;
    }
    uint32_t length = 0;
    for (uint32_t i = 0; i < oid.count(); ++i) {
        // Room is kept for the longest sub-identifier; the piece must also really fit.
        if (capacity < 9 || length > capacity - 9) {
            return 0;
        }
        char digits[10];
        uint32_t n = 0;
        uint32_t value = oid.ids[i];
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        const uint32_t piece = n + (i > 0 ? 1 : 0);
        if (length + piece + 1 > capacity) {
            return 0;
        }
        if (i > 0) {
            out[length++] = '.';
        }
        while (n > 0) {
            out[length++] = digits[--n];
        }
    }
    out[length] = '\0';
    return length + 1;
}

bool compareOid(const ObjectId& first, const ObjectId& second, uint32_t prefixLength, int* result) {
    const int order = compareOid(first, second, prefixLength);
    if (result != nullptr) {
        *result = order;
    }
    return true;
}

}  // namespace korvimo::snmp
