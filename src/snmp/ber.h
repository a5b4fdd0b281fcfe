// BER primitives: tags, lengths and the primitive value types of SNMPv1/v2c messages.
//
// Every operation works on a cursor into a byte window and a signed count of the bytes that
// remain in that window. On success it returns the position just after what it read or
// wrote and lowers the count by the same number of bytes (decodeHeader instead narrows the
// count to the content length of the element it entered). On failure it returns nullptr,
// leaves the count as it stood and, for most failures, writes the reason to lastErrorText.
//
//   uint8_t buf[16]; int32_t room = sizeof buf;
//   uint8_t* p = encodeInteger(buf, &room, kTagInteger, &value, 4);
//   if (!p) report(lastErrorText);
#pragma once

#include <cstdint>

namespace korvimo::snmp {

// Tags the system gives meaning to. They double as syntax codes in the variable store.
inline constexpr uint8_t kTagInteger = 0x02;
inline constexpr uint8_t kTagBitString = 0x03;
inline constexpr uint8_t kTagOctetString = 0x04;
inline constexpr uint8_t kTagNull = 0x05;
inline constexpr uint8_t kTagObjectId = 0x06;
inline constexpr uint8_t kTagSequence = 0x30;
inline constexpr uint8_t kTagIpAddress = 0x40;
inline constexpr uint8_t kTagCounter = 0x41;
inline constexpr uint8_t kTagGauge = 0x42;
inline constexpr uint8_t kTagTimeTicks = 0x43;
inline constexpr uint8_t kTagOpaque = 0x44;
inline constexpr uint8_t kTagNsapAddress = 0x45;
inline constexpr uint8_t kTagCounter64 = 0x46;
inline constexpr uint8_t kTagUInteger32 = 0x47;
inline constexpr uint8_t kTagNoSuchObject = 0x80;
inline constexpr uint8_t kTagNoSuchInstance = 0x81;
inline constexpr uint8_t kTagEndOfMibView = 0x82;

// Encoded lengths take at most two length octets.
inline constexpr uint32_t kMaxEncodedLength = 0xFFFF;

// Lengths and headers. decodeLength takes no window: the caller guarantees that five octets
// are readable. The decoders below never look past their window.
const uint8_t* decodeLength(const uint8_t* pos, uint32_t* length);
uint8_t* encodeLength(uint8_t* pos, int32_t* remaining, uint32_t length);
uint8_t* encodeTagLength(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t length);
// Always the four-octet form: tag, 0x82, high octet, low octet. Encoded lengths go up to
// kMaxEncodedLength; both length encoders refuse anything longer.
uint8_t* encodeSequenceHeader(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t length);
// Enters a constructed element: on success *remaining becomes its content length.
const uint8_t* decodeHeader(const uint8_t* pos, int32_t* remaining, uint8_t* tag);

// 32-bit numbers. size must be 4; any other size fails without a text.
const uint8_t* decodeInteger(const uint8_t* pos, int32_t* remaining, uint8_t* tag, int32_t* value,
                             int size);
const uint8_t* decodeUnsigned(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint32_t* value,
                              int size);
uint8_t* encodeInteger(uint8_t* pos, int32_t* remaining, uint8_t tag, const int32_t* value,
                       int size);
uint8_t* encodeUnsigned(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint32_t* value,
                        int size);

// Octet strings. *size is the destination capacity in and the length out.
const uint8_t* decodeOctetString(const uint8_t* pos, int32_t* remaining, uint8_t* tag,
                                 uint8_t* dest, uint32_t* size);
uint8_t* encodeOctetString(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint8_t* bytes,
                           uint32_t length);

// Object identifiers. *count is the destination capacity in and the sub-identifier count out.
// The first two arcs share the first encoded value as X.690 has it (first arc 2 takes every
// value from 80 up); empty content decodes as the single sub-identifier 0, and fewer than two
// sub-identifiers encode as the single octet 0x00. The decoder refuses more sub-identifiers
// than the capacity, a sub-identifier beyond 32 bits and an unfinished last one; the encoder
// refuses first arcs above 2, a second arc of 40 or more under 0 and 1, and content beyond
// 1,024 octets.
const uint8_t* decodeObjectId(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint32_t* dest,
                              uint32_t* count);
uint8_t* encodeObjectId(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint32_t* ids,
                        uint32_t count);

// Empty content: NULL and the exception values noSuchObject, noSuchInstance, endOfMibView.
uint8_t* encodeNull(uint8_t* pos, int32_t* remaining, uint8_t tag);

// Bit strings keep their unused-bits octet as the first byte. Failures set no text.
const uint8_t* decodeBitString(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint8_t* dest,
                               uint32_t* size);
uint8_t* encodeBitString(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint8_t* bytes,
                         uint32_t length);

// 64-bit numbers as two words, high first. size must be 8.
const uint8_t* decodeCounter64(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint32_t* high,
                               uint32_t* low, int size);
uint8_t* encodeCounter64(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t high, uint32_t low,
                         int size);

// What the encoders above write, computed without writing, for callers that size a message
// before building it (encodedVarBindSize). Each agrees with its encoder octet for octet.
//
//   uint32_t tlv = 1 + lengthFieldSize(n) + n;
//
// They are inline because the agent sizes every binding of a response with them.
//
// Octets of the length field encodeLength writes (1, 2 or 3).
inline uint32_t lengthFieldSize(uint32_t length) {
    return length < 128 ? 1 : (length < 256 ? 2 : 3);
}
// Content octets of a two's complement number once the redundant top octets are dropped: an
// octet goes while the top nine bits of what is left are all zeros or all ones.
template <typename T>
uint32_t minimalContentSize(T value) {
    uint32_t n = sizeof(T);
    while (n > 1) {
        const uint32_t top9 = static_cast<uint32_t>(value >> (8 * n - 9)) & 0x1FFu;
        if (top9 != 0 && top9 != 0x1FFu) {
            break;
        }
        --n;
    }
    return n;
}
// Content octets of encodeInteger, encodeUnsigned and encodeCounter64; a value with its top
// bit set takes a 0x00 octet in front of all its octets in the last two.
inline uint32_t integerContentSize(int32_t value) {
    return minimalContentSize(static_cast<uint32_t>(value));
}
inline uint32_t unsignedContentSize(uint32_t value) {
    return (value & 0x80000000u) != 0 ? 5 : minimalContentSize(value);
}
inline uint32_t counter64ContentSize(uint32_t high, uint32_t low) {
    return (high & 0x80000000u) != 0
               ? 9
               : minimalContentSize((static_cast<uint64_t>(high) << 32) | low);
}
// Content octets of encodeObjectId, or 0 when it refuses the identifier.
uint32_t objectIdContentSize(const uint32_t* ids, uint32_t count);

}  // namespace korvimo::snmp
