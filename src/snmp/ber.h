// BER primitives: tags, lengths and the primitive value types of SNMPv1/v2c messages.
//
// Every operation works on a cursor into a byte window and a signed count of the bytes that
// remain in that window, and returns a Result. On success it moves the cursor just past what
// it read or wrote and lowers the count by the same number of bytes (decodeHeader instead
// moves the cursor to the content and narrows the count to its length). On failure the
// cursor stays where it was and the Result carries the reason. The count stays as it stood
// too, except where encodeTagLength, or a value encoder built on it (all but
// encodeBitString), wrote part of a header before running out of room: those octets stay
// written and counted. A few failures, named below, carry an empty text; the message codec
// gives them a text of its own.
//
//   uint8_t buf[16]; int32_t room = sizeof buf;
//   uint8_t* p = buf;
//   if (Result r = encodeInteger(p, &room, kTagInteger, &value, 4); !r) report(r.text());
#pragma once

#include <cstdint>

#include "base/result.h"

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
// The refusal of a longer length.
inline constexpr const char* kLengthNotEncodableText = "Length [%u] too large to encode.";

// The operations are inline; their definitions, at the end of this file, say why.

// Lengths and headers. decodeLength takes no window: the caller guarantees that five octets
// are readable. The decoders below never look past their window.
inline Result decodeLength(const uint8_t*& pos, uint32_t* length);
inline Result encodeLength(uint8_t*& pos, int32_t* remaining, uint32_t length);
inline Result encodeTagLength(uint8_t*& pos, int32_t* remaining, uint8_t tag, uint32_t length);
// Always the four-octet form: tag, 0x82, high octet, low octet. Encoded lengths go up to
// kMaxEncodedLength; both length encoders refuse anything longer.
inline Result encodeSequenceHeader(uint8_t*& pos, int32_t* remaining, uint8_t tag, uint32_t length);
// Enters a constructed element: on success the cursor is at its content and *remaining is
// the content length.
inline Result decodeHeader(const uint8_t*& pos, int32_t* remaining, uint8_t* tag);

// 32-bit numbers. size must be 4; any other size fails with an empty text.
inline Result decodeInteger(const uint8_t*& pos, int32_t* remaining, uint8_t* tag, int32_t* value,
                            int size);
inline Result decodeUnsigned(const uint8_t*& pos, int32_t* remaining, uint8_t* tag, uint32_t* value,
                             int size);
inline Result encodeInteger(uint8_t*& pos, int32_t* remaining, uint8_t tag, const int32_t* value,
                            int size);
inline Result encodeUnsigned(uint8_t*& pos, int32_t* remaining, uint8_t tag, const uint32_t* value,
                             int size);

// Octet strings. *size is the destination capacity in and the length out.
inline Result decodeOctetString(const uint8_t*& pos, int32_t* remaining, uint8_t* tag,
                                uint8_t* dest, uint32_t* size);
inline Result encodeOctetString(uint8_t*& pos, int32_t* remaining, uint8_t tag,
                                const uint8_t* bytes, uint32_t length);

// Object identifiers. *count is the destination capacity in and the sub-identifier count out.
// The first two arcs share the first encoded value as X.690 has it (first arc 2 takes every
// value from 80 up); empty content decodes as the single sub-identifier 0, and fewer than two
// sub-identifiers encode as the single octet 0x00. The decoder refuses more sub-identifiers
// than the capacity, a sub-identifier beyond 32 bits and an unfinished last one; the encoder
// refuses first arcs above 2, a second arc of 40 or more under 0 and 1, and content beyond
// 1,024 octets.
inline Result decodeObjectId(const uint8_t*& pos, int32_t* remaining, uint8_t* tag, uint32_t* dest,
                             uint32_t* count);
inline Result encodeObjectId(uint8_t*& pos, int32_t* remaining, uint8_t tag, const uint32_t* ids,
                             uint32_t count);

// Empty content: NULL and the exception values noSuchObject, noSuchInstance, endOfMibView.
inline Result encodeNull(uint8_t*& pos, int32_t* remaining, uint8_t tag);

// Bit strings keep their unused-bits octet as the first byte. Failures carry an empty text.
inline Result decodeBitString(const uint8_t*& pos, int32_t* remaining, uint8_t* tag, uint8_t* dest,
                              uint32_t* size);
inline Result encodeBitString(uint8_t*& pos, int32_t* remaining, uint8_t tag, const uint8_t* bytes,
                              uint32_t length);

// 64-bit numbers as two words, high first. size must be 8; any other size fails with an
// empty text.
inline Result decodeCounter64(const uint8_t*& pos, int32_t* remaining, uint8_t* tag, uint32_t* high,
                              uint32_t* low, int size);
inline Result encodeCounter64(uint8_t*& pos, int32_t* remaining, uint8_t tag, uint32_t high,
                              uint32_t low, int size);

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
// Octets of a whole element (tag, length field and content) of contentLength content octets.
inline uint32_t tlvSize(uint32_t contentLength) {
    return 1 + lengthFieldSize(contentLength) + contentLength;
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

// --- Definitions of the operations ---------------------------------------------------------
//
// The codec is on the agent's path for every request. The work of each operation is done out
// of line by its namesake in detail, on a cursor passed by value: it returns the position
// after what it read or wrote, or nullptr with the reason written to a Reason. The operation
// around it is inline, so that along a chain of them the caller's cursor stays in a register
// and the Result of a success is known to be empty: a success costs the pointer test it always
// did, and only a failure builds a Result.
namespace detail {

// Where the work leaves the reason it failed, printf-style and cut to 199 characters; it stays
// empty when the work gives none.
struct Reason {
    Reason() { text[0] = '\0'; }
    // The failure the operation returns: the text, or an empty one.
    Result failure() const;

    char text[200];
};

const uint8_t* decodeLength(const uint8_t* pos, uint32_t* length, Reason* reason);
uint8_t* encodeLength(uint8_t* pos, int32_t* remaining, uint32_t length, Reason* reason);
uint8_t* encodeTagLength(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t length,
                         Reason* reason);
uint8_t* encodeSequenceHeader(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t length,
                              Reason* reason);
const uint8_t* decodeHeader(const uint8_t* pos, int32_t* remaining, uint8_t* tag, Reason* reason);
const uint8_t* decodeInteger(const uint8_t* pos, int32_t* remaining, uint8_t* tag, int32_t* value,
                             int size, Reason* reason);
const uint8_t* decodeUnsigned(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint32_t* value,
                              int size, Reason* reason);
uint8_t* encodeInteger(uint8_t* pos, int32_t* remaining, uint8_t tag, const int32_t* value,
                       int size, Reason* reason);
uint8_t* encodeUnsigned(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint32_t* value,
                        int size, Reason* reason);
const uint8_t* decodeOctetString(const uint8_t* pos, int32_t* remaining, uint8_t* tag,
                                 uint8_t* dest, uint32_t* size, Reason* reason);
uint8_t* encodeOctetString(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint8_t* bytes,
                           uint32_t length, Reason* reason);
const uint8_t* decodeObjectId(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint32_t* dest,
                              uint32_t* count, Reason* reason);
uint8_t* encodeObjectId(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint32_t* ids,
                        uint32_t count, Reason* reason);
uint8_t* encodeNull(uint8_t* pos, int32_t* remaining, uint8_t tag, Reason* reason);
const uint8_t* decodeBitString(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint8_t* dest,
                               uint32_t* size, Reason* reason);
uint8_t* encodeBitString(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint8_t* bytes,
                         uint32_t length, Reason* reason);
const uint8_t* decodeCounter64(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint32_t* high,
                               uint32_t* low, int size, Reason* reason);
uint8_t* encodeCounter64(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t high, uint32_t low,
                         int size, Reason* reason);

// What every operation makes of its work's outcome: the cursor moved to end, or the reason.
template <typename Byte>
[[gnu::always_inline]] inline Result settle(Byte*& pos, Byte* end, const Reason& reason) {
    if (end != nullptr) {
        pos = end;
        return {};
    }
    return reason.failure();
}

}  // namespace detail

[[gnu::always_inline]] inline Result decodeLength(const uint8_t*& pos, uint32_t* length) {
    detail::Reason reason;
    return detail::settle(pos, detail::decodeLength(pos, length, &reason), reason);
}

[[gnu::always_inline]] inline Result encodeLength(uint8_t*& pos, int32_t* remaining,
                                                  uint32_t length) {
    detail::Reason reason;
    return detail::settle(pos, detail::encodeLength(pos, remaining, length, &reason), reason);
}

[[gnu::always_inline]] inline Result encodeTagLength(uint8_t*& pos, int32_t* remaining, uint8_t tag,
                                                     uint32_t length) {
    detail::Reason reason;
    return detail::settle(pos, detail::encodeTagLength(pos, remaining, tag, length, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result encodeSequenceHeader(uint8_t*& pos, int32_t* remaining,
                                                          uint8_t tag, uint32_t length) {
    detail::Reason reason;
    return detail::settle(pos, detail::encodeSequenceHeader(pos, remaining, tag, length, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result decodeHeader(const uint8_t*& pos, int32_t* remaining,
                                                  uint8_t* tag) {
    detail::Reason reason;
    return detail::settle(pos, detail::decodeHeader(pos, remaining, tag, &reason), reason);
}

[[gnu::always_inline]] inline Result decodeInteger(const uint8_t*& pos, int32_t* remaining,
                                                   uint8_t* tag, int32_t* value, int size) {
    detail::Reason reason;
    return detail::settle(pos, detail::decodeInteger(pos, remaining, tag, value, size, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result decodeUnsigned(const uint8_t*& pos, int32_t* remaining,
                                                    uint8_t* tag, uint32_t* value, int size) {
    detail::Reason reason;
    return detail::settle(pos, detail::decodeUnsigned(pos, remaining, tag, value, size, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result encodeInteger(uint8_t*& pos, int32_t* remaining, uint8_t tag,
                                                   const int32_t* value, int size) {
    detail::Reason reason;
    return detail::settle(pos, detail::encodeInteger(pos, remaining, tag, value, size, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result encodeUnsigned(uint8_t*& pos, int32_t* remaining, uint8_t tag,
                                                    const uint32_t* value, int size) {
    detail::Reason reason;
    return detail::settle(pos, detail::encodeUnsigned(pos, remaining, tag, value, size, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result decodeOctetString(const uint8_t*& pos, int32_t* remaining,
                                                       uint8_t* tag, uint8_t* dest,
                                                       uint32_t* size) {
    detail::Reason reason;
    return detail::settle(pos, detail::decodeOctetString(pos, remaining, tag, dest, size, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result encodeOctetString(uint8_t*& pos, int32_t* remaining,
                                                       uint8_t tag, const uint8_t* bytes,
                                                       uint32_t length) {
    detail::Reason reason;
    return detail::settle(
        pos, detail::encodeOctetString(pos, remaining, tag, bytes, length, &reason), reason);
}

[[gnu::always_inline]] inline Result decodeObjectId(const uint8_t*& pos, int32_t* remaining,
                                                    uint8_t* tag, uint32_t* dest, uint32_t* count) {
    detail::Reason reason;
    return detail::settle(pos, detail::decodeObjectId(pos, remaining, tag, dest, count, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result encodeObjectId(uint8_t*& pos, int32_t* remaining, uint8_t tag,
                                                    const uint32_t* ids, uint32_t count) {
    detail::Reason reason;
    return detail::settle(pos, detail::encodeObjectId(pos, remaining, tag, ids, count, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result encodeNull(uint8_t*& pos, int32_t* remaining, uint8_t tag) {
    detail::Reason reason;
    return detail::settle(pos, detail::encodeNull(pos, remaining, tag, &reason), reason);
}

[[gnu::always_inline]] inline Result decodeBitString(const uint8_t*& pos, int32_t* remaining,
                                                     uint8_t* tag, uint8_t* dest, uint32_t* size) {
    detail::Reason reason;
    return detail::settle(pos, detail::decodeBitString(pos, remaining, tag, dest, size, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result encodeBitString(uint8_t*& pos, int32_t* remaining, uint8_t tag,
                                                     const uint8_t* bytes, uint32_t length) {
    detail::Reason reason;
    return detail::settle(pos, detail::encodeBitString(pos, remaining, tag, bytes, length, &reason),
                          reason);
}

[[gnu::always_inline]] inline Result decodeCounter64(const uint8_t*& pos, int32_t* remaining,
                                                     uint8_t* tag, uint32_t* high, uint32_t* low,
                                                     int size) {
    detail::Reason reason;
    return detail::settle(
        pos, detail::decodeCounter64(pos, remaining, tag, high, low, size, &reason), reason);
}

[[gnu::always_inline]] inline Result encodeCounter64(uint8_t*& pos, int32_t* remaining, uint8_t tag,
                                                     uint32_t high, uint32_t low, int size) {
    detail::Reason reason;
    return detail::settle(
        pos, detail::encodeCounter64(pos, remaining, tag, high, low, size, &reason), reason);
}

}  // namespace korvimo::snmp
