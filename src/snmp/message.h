// SNMP messages in memory and on the wire: records, the building API, the message codec and
// the utilities on object identifiers.
//
// Building a Response and encoding it:
//
//   auto list = SnmpCreateVbl();
//   SnmpAddVb(list.get(), &name, &value);
//   auto pdu = SnmpCreateBPdu(0, &community, kPduResponse, requestId, 0, 0, std::move(list));
//   uint8_t out[kMaxMessageSize]; uint32_t size = sizeof out;
//   if (Result r = SnmpEncodeMsg(pdu.get(), out, &size); !r) report(r.text());
//
// Records own what they hold; copying a record is a deep copy. The coding operations return
// a Result whose failure always says why in one line; the building API answers with a null
// record or false. Nothing throws.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "snmp/ber.h"

namespace korvimo::snmp {

// PDU tags.
inline constexpr uint32_t kPduGetRequest = 0xA0;
inline constexpr uint32_t kPduGetNextRequest = 0xA1;
inline constexpr uint32_t kPduResponse = 0xA2;
inline constexpr uint32_t kPduSetRequest = 0xA3;
inline constexpr uint32_t kPduTrap = 0xA4;
inline constexpr uint32_t kPduGetBulkRequest = 0xA5;
inline constexpr uint32_t kPduInformRequest = 0xA6;
inline constexpr uint32_t kPduSnmpV2Trap = 0xA7;

inline constexpr uint32_t kVersion1 = 0;
inline constexpr uint32_t kVersion2c = 1;

// The system's message buffers: requests, traps and (unless MAXMSGSIZE says otherwise) the
// agent's Responses fit in this many bytes.
inline constexpr uint32_t kMaxMessageSize = 1500;
// The largest UDP payload over IPv4: the largest request the agent reads, and the largest
// Response MAXMSGSIZE may allow.
inline constexpr uint32_t kMaxDatagramSize = 65507;
// Sub-identifiers an object identifier may have where one is decoded.
inline constexpr uint32_t kMaxOidLength = 128;
// Largest OCTET STRING-family value a decoded binding may carry.
inline constexpr uint32_t kMaxOctetValue = 1024;
// Largest community a decoded message may carry.
inline constexpr uint32_t kMaxCommunity = 128;

struct Octets {
    std::vector<uint8_t> bytes;

    uint32_t length() const { return static_cast<uint32_t>(bytes.size()); }
    bool operator==(const Octets&) const = default;
};

struct ObjectId {
    std::vector<uint32_t> ids;

    uint32_t count() const { return static_cast<uint32_t>(ids.size()); }
    bool operator==(const ObjectId&) const = default;
};

// A BER tag and the value it selects:
//   0x02, 0x41, 0x42, 0x43, 0x47       number (INTEGER keeps its two's complement bits)
//   0x03, 0x04, 0x40, 0x44, 0x45       octets (for 0x03 the first byte counts unused bits)
//   0x06                               oid
//   0x46                               counter64
//   0x05, 0x80, 0x81, 0x82, 0 (unknown) no value
struct SyntaxValue {
    uint16_t syntax = kTagNull;
    uint32_t number = 0;
    uint64_t counter64 = 0;
    Octets octets;
    ObjectId oid;

    int32_t integer() const { return static_cast<int32_t>(number); }
    uint32_t high() const { return static_cast<uint32_t>(counter64 >> 32); }
    uint32_t low() const { return static_cast<uint32_t>(counter64); }
};

struct VarBind {
    ObjectId name;
    SyntaxValue value;
    // Set by decodeMessage when the value's encoding was refused (see there): the value is
    // empty, and a Set must not apply it.
    bool valueUndecoded = false;
};

// Bindings in the order they were appended.
struct VarBindList {
    std::vector<VarBind> items;

    uint32_t count() const { return static_cast<uint32_t>(items.size()); }
};

// One SNMP message. Request-shaped PDUs use requestId, errorStatus and errorIndex (GetBulk
// carries non-repeaters and max-repetitions in the latter two); the SNMPv1 Trap uses the
// enterprise ... timeStamp fields instead.
struct Pdu {
    uint32_t version = kVersion1;
    Octets community;
    uint32_t type = 0;
    int32_t requestId = 0;
    int32_t errorStatus = 0;
    int32_t errorIndex = 0;
    ObjectId enterprise;
    uint8_t agentAddr[4] = {0, 0, 0, 0};
    int32_t genericTrap = 0;
    int32_t specificTrap = 0;
    uint32_t timeStamp = 0;
    VarBindList varBinds;
};

// Building and releasing.
std::unique_ptr<Octets> SnmpCreateOctets(uint32_t length, const uint8_t* bytes);
std::unique_ptr<VarBindList> SnmpCreateVbl();
// Appends copies of name (absent: empty name) and value (absent: NULL).
bool SnmpAddVb(VarBindList* list, const ObjectId* name, const SyntaxValue* value);
// Both take the list over and copy the community.
std::unique_ptr<Pdu> SnmpCreateBPdu(uint32_t version, const Octets* community, uint32_t type,
                                    int32_t requestId, int32_t errorStatus, int32_t errorIndex,
                                    std::unique_ptr<VarBindList> list);
std::unique_ptr<Pdu> SnmpCreateTPdu(uint32_t version, const Octets* community,
                                    const ObjectId* enterprise, const uint8_t agentAddr[4],
                                    int32_t genericTrap, int32_t specificTrap, uint32_t timeStamp,
                                    std::unique_ptr<VarBindList> list);
void freePdu(std::unique_ptr<Pdu> pdu);
// Releases what the record owns and leaves it as a fresh record.
void clearPdu(Pdu* pdu);
VarBind* lastVarBind(VarBindList* list);

// Coding. *size is the output capacity in and the encoded length out (left alone on failure).
// SEQUENCE headers take the fixed four-octet form, the PDU header the shortest one.
Result SnmpEncodeMsg(const Pdu* pdu, uint8_t* out, uint32_t* size);
// Takes any bytes: nothing is read outside them and what is allocated grows with their
// length only. The record is reset first and left fresh on failure. A binding whose value
// its decoder refuses is kept with the tag as syntax and an empty value, and marked
// valueUndecoded (Get and GetNext ignore values; a Set refuses it). Refused are the values
// the primitive decoders refuse (an INTEGER of more than four octets, an OBJECT IDENTIFIER of
// more than 128 sub-identifiers, ...) and encodings that are no valid BER of a value the type
// holds: a number of no content octets or with a redundant leading octet (X.690 8.3), a
// negative Counter, Gauge, TimeTicks, UInteger32 or Counter64, an OBJECT IDENTIFIER of no
// content or with a sub-identifier padded by 0x80. An unknown value tag gives syntax 0 (not
// marked: a Set refuses it as of the wrong type); an OCTET STRING-family value longer than
// 1,024 bytes fails the message.
Result decodeMessage(const uint8_t* bytes, uint32_t length, Pdu* pdu);
// The version field of a message that begins as every SNMP message does, a SEQUENCE whose
// first element is an INTEGER, whatever follows (an SNMPv3 message, say, that decodeMessage
// refuses); false when the bytes do not begin so.
bool peekMessageVersion(const uint8_t* bytes, uint32_t length, int32_t& version);
// One binding at the cursor, which moves past it; on failure the cursor and the count stay
// as they were.
Result encodeVarBind(uint8_t*& pos, int32_t* remaining, const ObjectId& name,
                     const SyntaxValue& value);
// Bytes the binding takes once encoded, computed without encoding; 0 when encodeVarBind
// would refuse it or it needs more than limit bytes.
uint32_t encodedVarBindSize(const ObjectId& name, const SyntaxValue& value,
                            uint32_t limit = kMaxMessageSize);
// Bytes SnmpEncodeMsg writes for a message of every type but the Trap with these fields and
// bindings, computed without encoding; 0 when it would refuse them whatever the room.
uint32_t encodedMessageSize(uint32_t version, const Octets& community, int32_t requestId,
                            int32_t errorStatus, int32_t errorIndex, const VarBindList& list);

// The PDU alone at the cursor: its tag and length, its fields and its bindings, as both
// message forms carry it (the SNMPv1/v2c message after its community, the SNMPv3 scoped PDU
// after its context). The cursor moves past it; the count lowers by what was written.
Result encodePdu(uint8_t*& pos, int32_t* remaining, const Pdu& pdu);
// The PDU that begins at the cursor within a window of the given bytes, read into pdu as
// decodeMessage reads it (type, fields, bindings); the cursor moves into it.
Result decodePdu(const uint8_t*& pos, int32_t window, Pdu* pdu);

// Utilities.
// Dotted decimal to sub-identifiers; returns the count, 0 on failure (out of memory, or more
// than kMaxOidLength pieces). Each piece reads as an optional sign and digits, wrapping
// modulo 2^32; an empty or non-numeric piece is 0, so "" gives the single sub-identifier 0.
uint32_t SnmpStrToOid(const char* text, ObjectId* out);
// Dotted decimal text; returns its length including the terminator, 0 when it does not fit
// (room for nine more characters is asked before each sub-identifier, and the text never
// runs past capacity).
uint32_t oidToText(const ObjectId& oid, uint32_t capacity, char* out);
// result is -1, 0 or 1; prefixLength 0 compares the whole identifiers.
bool compareOid(const ObjectId& first, const ObjectId& second, uint32_t prefixLength, int* result);

// Comparison helpers for callers that walk or search ordered identifiers.
//
//   if (compareOid(name, bound) >= 0) break;        // -1, 0 or 1, as above
//   if (isOidPrefix(tableEntry, name)) ...           // name lies under tableEntry
//   std::sort(v.begin(), v.end(), OidLess{});
//
// With prefixLength 0 the order is lexicographic on the sub-identifiers, a proper prefix
// coming first. With prefixLength n > 0 only the first n sub-identifiers count, and two
// identifiers that agree on all n are equal even when their counts differ.
inline int compareOid(const ObjectId& first, const ObjectId& second, uint32_t prefixLength = 0) {
    const uint32_t count1 = first.count();
    const uint32_t count2 = second.count();
    uint32_t compared = count1 < count2 ? count1 : count2;
    if (prefixLength > 0 && prefixLength < compared) {
        compared = prefixLength;
    }
    const uint32_t* a = first.ids.data();
    const uint32_t* b = second.ids.data();
    for (uint32_t i = 0; i < compared; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    if (count1 == count2 || (prefixLength > 0 && compared == prefixLength)) {
        return 0;
    }
    return count1 < count2 ? -1 : 1;
}

// True when every sub-identifier of prefix starts oid (an identifier is its own prefix).
inline bool isOidPrefix(const ObjectId& prefix, const ObjectId& oid) {
    return prefix.count() <= oid.count() &&
           (prefix.count() == 0 || compareOid(prefix, oid, prefix.count()) == 0);
}

// Strict weak order for sorted containers and algorithms.
struct OidLess {
    bool operator()(const ObjectId& first, const ObjectId& second) const {
        return compareOid(first, second) < 0;
    }
};

}  // namespace korvimo::snmp
