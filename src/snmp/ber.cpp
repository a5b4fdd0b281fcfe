#include "snmp/ber.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace korvimo::snmp {

namespace {

constexpr char kLengthOfLengthZero[] = "Length of Length is zero.";
constexpr char kLengthOfLengthTooLarge[] = "Length of Length is too large [%d].";
constexpr char kLengthPastEnd[] = "Length Encoding goes past end of packet.";
constexpr char kHeaderEncodingPastEnd[] = "Header Encoding goes past end of packet.";
constexpr char kSequencePastEnd[] = "Sequence Encoding goes past end of packet.";
constexpr char kHeaderTagUnsupported[] = "Header Tag cannot be handled[%02x].";
constexpr char kHeaderPastEnd[] = "Length of Header[%d] goes past end of packet.";
constexpr char kIntegerPastEnd[] = "Length of Integer[%d] goes past end of packet.";
constexpr char kIntegerTooLarge[] = "Value of Integer larger than 4 bytes.";
constexpr char kIntegerEncodingPastEnd[] = "Integer Encoding goes past end of packet.";
constexpr char kOctetStringPastEnd[] = "Length of Octet String[%d] goes past end of packet.";
constexpr char kOctetStringTooLarge[] = "Length of Octet String[%d] larger than buffer.";
constexpr char kOctetStringEncodingPastEnd[] = "Octet String Encoding goes past end of packet.";
constexpr char kObjIdPastEnd[] = "Length of ObjId[%d] goes past end of packet.";
constexpr char kSubidentifierTooLarge[] = "Value of Subidentifier too large.[%d]";
constexpr char kSubidentifierIncomplete[] = "Last Subidentifier of ObjId is incomplete.";
constexpr char kObjIdTooManySubidentifiers[] = "ObjId has more than %u Subidentifiers.";
constexpr char kObjIdEncodingPastEnd[] = "Object Id Encoding goes past end of packet.";
constexpr char kObjIdArcsUnencodable[] = "Object Id starting %u.%u cannot be encoded.";
constexpr char kObjIdTooLong[] = "Object Id Encoding larger than %u bytes.";
constexpr char kCounter64PastEnd[] = "Length of 64 bit number[%d] goes past end of packet.";
constexpr char kCounter64TooLarge[] = "Length of 64 bit number[%d] too large.";
constexpr char kCounter64EncodingPastEnd[] = "64 bit number encoding goes past end of packet.";

// Object identifier content is limited to what one scratch area of this size would hold.
constexpr uint32_t kMaxObjIdContent = 1024;

using detail::Reason;

// Gives a failing operation its reason, printf-style, cut to the capacity of the text.
[[gnu::cold]] void setReason(Reason* reason, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

void setReason(Reason* reason, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason->text, sizeof reason->text, format, args);
    va_end(args);
}

// Outcome of reading a tag and a length inside a window.
enum class HeaderRead {
    kOk,
    kPastEnd,         // tag or length octets lie outside the window, or the content does
    kLengthZero,      // 0x80: the indefinite form
    kLengthTooLarge,  // more than four length octets
};

struct Header {
    uint8_t tag = 0;
    uint32_t length = 0;
    uint32_t lengthOctets = 0;  // number of length octets after the tag (0 when unread)
    const uint8_t* content = nullptr;
};

// Reads the tag and length at pos, never looking past pos + remaining, and checks that the
// content lies inside the window too. The tag is handed out as soon as it could be read.
HeaderRead readHeader(const uint8_t* pos, int32_t remaining, Header* header) {
    if (remaining < 2) {
        if (remaining == 1) {
            header->tag = pos[0];
        }
        return HeaderRead::kPastEnd;
    }
    header->tag = pos[0];
    const uint8_t first = pos[1];
    uint32_t headerSize = 2;
    if (first < 0x80) {
        header->length = first;
        header->lengthOctets = 1;
    } else {
        const uint32_t n = first & 0x7Fu;
        header->lengthOctets = 1 + n;
        if (n == 0) {
            return HeaderRead::kLengthZero;
        }
        if (n > 4) {
            return HeaderRead::kLengthTooLarge;
        }
        headerSize += n;
        if (headerSize > static_cast<uint32_t>(remaining)) {
            return HeaderRead::kPastEnd;
        }
        uint32_t length = 0;
        for (uint32_t i = 0; i < n; ++i) {
            length = (length << 8) | pos[2 + i];
        }
        header->length = length;
    }
    header->content = pos + headerSize;
    if (static_cast<uint64_t>(headerSize) + header->length > static_cast<uint64_t>(remaining)) {
        return HeaderRead::kPastEnd;
    }
    return HeaderRead::kOk;
}

// Reads a primitive element's header and reports a failure with the decoder's own text for
// a window overrun. Returns the content position or nullptr.
const uint8_t* enterPrimitive(const uint8_t* pos, int32_t remaining, uint8_t* tag, Header* header,
                              const char* pastEndText, Reason* reason) {
    const HeaderRead result = readHeader(pos, remaining, header);
    if (tag != nullptr && remaining > 0) {
        *tag = header->tag;
    }
    switch (result) {
        case HeaderRead::kOk:
            return header->content;
        case HeaderRead::kLengthZero:
            setReason(reason, "%s", kLengthOfLengthZero);
            return nullptr;
        case HeaderRead::kLengthTooLarge:
            setReason(reason, kLengthOfLengthTooLarge, static_cast<int>(header->lengthOctets - 1));
            return nullptr;
        case HeaderRead::kPastEnd:
            break;
    }
    setReason(reason, pastEndText, static_cast<int>(header->length));
    return nullptr;
}

// Reads content octets as a big-endian two's complement number: the value starts as all ones
// when the first octet has its top bit set and each octet is shifted in from the right, so a
// short encoding comes out sign-extended to the width of T. Empty content reads as 0.
template <typename T>
T readTwosComplement(const uint8_t* content, uint32_t length) {
    T bits = (length > 0 && (content[0] & 0x80)) ? static_cast<T>(~T{0}) : T{0};
    for (uint32_t i = 0; i < length; ++i) {
        bits = static_cast<T>(bits << 8) | content[i];
    }
    return bits;
}

// Moves the cursor past a decoded element and lowers the count by what it occupied.
const uint8_t* leave(const uint8_t* pos, int32_t* remaining, const Header& header) {
    const uint8_t* end = header.content + header.length;
    *remaining -= static_cast<int32_t>(end - pos);
    return end;
}

template <typename T>
uint8_t* putBigEndian(uint8_t* pos, T value, int octets) {
    for (int i = octets - 1; i >= 0; --i) {
        *pos++ = static_cast<uint8_t>(value >> (8 * i));
    }
    return pos;
}

// Writes a number's header and its contentLength low octets (from integerContentSize and
// the like). One octet more than T holds is a 0x00 in front, so that a value with its top bit
// set reads back as unsigned.
template <typename T>
uint8_t* encodeNumber(uint8_t* pos, int32_t* remaining, uint8_t tag, T value,
                      uint32_t contentLength, const char* pastEndText, Reason* reason) {
    uint8_t* p = detail::encodeTagLength(pos, remaining, tag, contentLength, reason);
    if (p == nullptr) {
        return nullptr;
    }
    if (*remaining < static_cast<int32_t>(contentLength)) {
        setReason(reason, "%s", pastEndText);
        return nullptr;
    }
    int octets = static_cast<int>(contentLength);
    if (contentLength > sizeof(T)) {
        *p++ = 0x00;
        --octets;
    }
    p = putBigEndian(p, value, octets);
    *remaining -= static_cast<int32_t>(contentLength);
    return p;
}

// Base-128 octets of one sub-identifier value.
int base128Octets(uint32_t value) {
    int n = 1;
    while (value >= 0x80u) {
        value >>= 7;
        ++n;
    }
    return n;
}

uint8_t* putBase128(uint8_t* pos, uint32_t value) {
    const int n = base128Octets(value);
    for (int i = n - 1; i > 0; --i) {
        *pos++ = static_cast<uint8_t>(0x80u | ((value >> (7 * i)) & 0x7Fu));
    }
    *pos++ = static_cast<uint8_t>(value & 0x7Fu);
    return pos;
}

// The value the first two arcs share in the first encoded sub-identifier, or false when no
// encoding exists: the first arc must be 0, 1 or 2, and under 0 and 1 the second below 40.
bool firstArcsValue(uint32_t first, uint32_t second, uint32_t* value) {
    if (first > 2 || (first < 2 && second >= 40) || (first == 2 && second > 0xFFFFFFFFu - 80u)) {
        return false;
    }
    *value = first * 40u + second;
    return true;
}

enum class ObjIdMeasure { kOk, kArcsUnencodable, kTooLong };

// Content octets of an encoded object identifier and the value of its first two arcs. With
// fewer than two sub-identifiers the content is the single octet 0x00.
ObjIdMeasure measureObjectId(const uint32_t* ids, uint32_t count, uint32_t* contentLength,
                             uint32_t* firstValue) {
    *contentLength = 1;
    *firstValue = 0;
    if (count < 2) {
        return ObjIdMeasure::kOk;
    }
    if (!firstArcsValue(ids[0], ids[1], firstValue)) {
        return ObjIdMeasure::kArcsUnencodable;
    }
    uint32_t length = static_cast<uint32_t>(base128Octets(*firstValue));
    for (uint32_t i = 2; i < count; ++i) {
        length += static_cast<uint32_t>(base128Octets(ids[i]));
        if (length > kMaxObjIdContent) {
            return ObjIdMeasure::kTooLong;
        }
    }
    *contentLength = length;
    return ObjIdMeasure::kOk;
}

// Writes a length of at most kMaxEncodedLength in its shortest form; the caller has made sure
// of the room.
uint8_t* putLength(uint8_t* pos, uint32_t length) {
    if (length >= 256) {
        *pos++ = 0x82;
        *pos++ = static_cast<uint8_t>(length >> 8);
    } else if (length >= 128) {
        *pos++ = 0x81;
    }
    *pos++ = static_cast<uint8_t>(length);
    return pos;
}

// Writes tag and length without raising a text; for the operations whose failures are silent.
uint8_t* putTagLengthSilently(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t length) {
    const int32_t need = 1 + static_cast<int32_t>(lengthFieldSize(length));
    if (length > kMaxEncodedLength || *remaining < need) {
        return nullptr;
    }
    *pos++ = tag;
    *remaining -= need;
    return putLength(pos, length);
}

}  // namespace

namespace detail {

Result Reason::failure() const {
    return Result::failure(text);
}

const uint8_t* decodeLength(const uint8_t* pos, uint32_t* length, Reason* reason) {
    const uint8_t first = pos[0];
    if (first < 0x80) {
        *length = first;
        return pos + 1;
    }
    const int n = first & 0x7F;
    if (n == 0) {
        setReason(reason, "%s", kLengthOfLengthZero);
        return nullptr;
    }
    if (n > 4) {
        setReason(reason, kLengthOfLengthTooLarge, n);
        return nullptr;
    }
    uint32_t value = 0;
    for (int i = 1; i <= n; ++i) {
        value = (value << 8) | pos[i];
    }
    *length = value;
    return pos + 1 + n;
}

uint8_t* encodeLength(uint8_t* pos, int32_t* remaining, uint32_t length, Reason* reason) {
    if (length > kMaxEncodedLength) {
        setReason(reason, kLengthNotEncodableText, length);
        return nullptr;
    }
    const int32_t need = static_cast<int32_t>(lengthFieldSize(length));
    if (*remaining < need) {
        setReason(reason, "%s", kLengthPastEnd);
        return nullptr;
    }
    *remaining -= need;
    return putLength(pos, length);
}

uint8_t* encodeTagLength(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t length,
                         Reason* reason) {
    if (*remaining < 1) {
        setReason(reason, "%s", kHeaderEncodingPastEnd);
        return nullptr;
    }
    *pos++ = tag;
    *remaining -= 1;
    return encodeLength(pos, remaining, length, reason);
}

uint8_t* encodeSequenceHeader(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t length,
                              Reason* reason) {
    if (length > kMaxEncodedLength) {
        setReason(reason, kLengthNotEncodableText, length);
        return nullptr;
    }
    if (*remaining < 4) {
        setReason(reason, "%s", kSequencePastEnd);
        return nullptr;
    }
    pos[0] = tag;
    pos[1] = 0x82;
    pos[2] = static_cast<uint8_t>(length >> 8);
    pos[3] = static_cast<uint8_t>(length);
    *remaining -= 4;
    return pos + 4;
}

const uint8_t* decodeHeader(const uint8_t* pos, int32_t* remaining, uint8_t* tag, Reason* reason) {
    if (*remaining >= 1 && (pos[0] & 0x1F) == 0x1F) {
        *tag = pos[0];
        setReason(reason, kHeaderTagUnsupported, pos[0]);
        return nullptr;
    }
    Header header;
    const uint8_t* content = enterPrimitive(pos, *remaining, tag, &header, kHeaderPastEnd, reason);
    if (content == nullptr) {
        return nullptr;
    }
    *remaining = static_cast<int32_t>(header.length);
    return content;
}

const uint8_t* decodeInteger(const uint8_t* pos, int32_t* remaining, uint8_t* tag, int32_t* value,
                             int size, Reason* reason) {
    if (size != 4) {
        return nullptr;
    }
    Header header;
    const uint8_t* content = enterPrimitive(pos, *remaining, tag, &header, kIntegerPastEnd, reason);
    if (content == nullptr) {
        return nullptr;
    }
    if (header.length > 4) {
        setReason(reason, "%s", kIntegerTooLarge);
        return nullptr;
    }
    *value = static_cast<int32_t>(readTwosComplement<uint32_t>(content, header.length));
    return leave(pos, remaining, header);
}

const uint8_t* decodeUnsigned(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint32_t* value,
                              int size, Reason* reason) {
    if (size != 4) {
        return nullptr;
    }
    Header header;
    const uint8_t* content = enterPrimitive(pos, *remaining, tag, &header, kIntegerPastEnd, reason);
    if (content == nullptr) {
        return nullptr;
    }
    if (header.length > 5 || (header.length == 5 && content[0] != 0x00)) {
        setReason(reason, "%s", kIntegerTooLarge);
        return nullptr;
    }
    // Short encodings with the top bit set come out sign-extended, as a signed reading would.
    *value = readTwosComplement<uint32_t>(content, header.length);
    return leave(pos, remaining, header);
}

uint8_t* encodeInteger(uint8_t* pos, int32_t* remaining, uint8_t tag, const int32_t* value,
                       int size, Reason* reason) {
    if (size != 4) {
        return nullptr;
    }
    return encodeNumber(pos, remaining, tag, static_cast<uint32_t>(*value),
                        integerContentSize(*value), kIntegerEncodingPastEnd, reason);
}

uint8_t* encodeUnsigned(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint32_t* value,
                        int size, Reason* reason) {
    if (size != 4) {
        return nullptr;
    }
    return encodeNumber(pos, remaining, tag, *value, unsignedContentSize(*value),
                        kIntegerEncodingPastEnd, reason);
}

const uint8_t* decodeOctetString(const uint8_t* pos, int32_t* remaining, uint8_t* tag,
                                 uint8_t* dest, uint32_t* size, Reason* reason) {
    Header header;
    const uint8_t* content =
        enterPrimitive(pos, *remaining, tag, &header, kOctetStringPastEnd, reason);
    if (content == nullptr) {
        return nullptr;
    }
    if (header.length > *size) {
        setReason(reason, kOctetStringTooLarge, static_cast<int>(header.length));
        return nullptr;
    }
    if (header.length > 0) {
        std::memcpy(dest, content, header.length);
    }
    *size = header.length;
    return leave(pos, remaining, header);
}

uint8_t* encodeOctetString(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint8_t* bytes,
                           uint32_t length, Reason* reason) {
    uint8_t* p = encodeTagLength(pos, remaining, tag, length, reason);
    if (p == nullptr) {
        return nullptr;
    }
    if (static_cast<uint32_t>(*remaining) < length) {
        setReason(reason, "%s", kOctetStringEncodingPastEnd);
        return nullptr;
    }
    if (length > 0) {
        std::memcpy(p, bytes, length);
    }
    *remaining -= static_cast<int32_t>(length);
    return p + length;
}

const uint8_t* decodeObjectId(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint32_t* dest,
                              uint32_t* count, Reason* reason) {
    Header header;
    const uint8_t* content = enterPrimitive(pos, *remaining, tag, &header, kObjIdPastEnd, reason);
    if (content == nullptr) {
        return nullptr;
    }
    const uint32_t capacity = *count;
    if (header.length == 0) {
        if (capacity < 1) {
            setReason(reason, kObjIdTooManySubidentifiers, capacity);
            return nullptr;
        }
        dest[0] = 0;
        *count = 1;
        return leave(pos, remaining, header);
    }
    const uint8_t* c = content;
    const uint8_t* end = content + header.length;
    uint32_t filled = 0;
    while (c < end) {
        uint32_t value = 0;
        uint8_t octet = 0;
        do {
            if (c == end) {
                setReason(reason, "%s", kSubidentifierIncomplete);
                return nullptr;
            }
            if (value > (0xFFFFFFFFu >> 7)) {
                setReason(reason, kSubidentifierTooLarge, static_cast<int>(value));
                return nullptr;
            }
            octet = *c++;
            value = (value << 7) | (octet & 0x7Fu);
        } while (octet & 0x80);

        if (filled == 0) {
            // The first value carries two arcs: 0 and 1 take second arcs below 40, and 2
            // takes every value from 80 up.
            if (capacity < 2) {
                setReason(reason, kObjIdTooManySubidentifiers, capacity);
                return nullptr;
            }
            dest[0] = value < 80 ? value / 40 : 2;
            dest[1] = value < 80 ? value % 40 : value - 80;
            filled = 2;
        } else {
            if (filled >= capacity) {
                setReason(reason, kObjIdTooManySubidentifiers, capacity);
                return nullptr;
            }
            dest[filled++] = value;
        }
    }
    *count = filled;
    return leave(pos, remaining, header);
}

uint8_t* encodeObjectId(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint32_t* ids,
                        uint32_t count, Reason* reason) {
    // The content size comes first so that the content can go straight to its place.
    uint32_t contentLength = 0;
    uint32_t firstValue = 0;
    switch (measureObjectId(ids, count, &contentLength, &firstValue)) {
        case ObjIdMeasure::kOk:
            break;
        case ObjIdMeasure::kArcsUnencodable:
            setReason(reason, kObjIdArcsUnencodable, ids[0], ids[1]);
            return nullptr;
        case ObjIdMeasure::kTooLong:
            setReason(reason, kObjIdTooLong, kMaxObjIdContent);
            return nullptr;
    }
    uint8_t* p = encodeTagLength(pos, remaining, tag, contentLength, reason);
    if (p == nullptr) {
        return nullptr;
    }
    if (static_cast<uint32_t>(*remaining) < contentLength) {
        setReason(reason, "%s", kObjIdEncodingPastEnd);
        return nullptr;
    }
    if (count < 2) {
        *p++ = 0x00;
    } else {
        p = putBase128(p, firstValue);
        for (uint32_t i = 2; i < count; ++i) {
            p = putBase128(p, ids[i]);
        }
    }
    *remaining -= static_cast<int32_t>(contentLength);
    return p;
}

uint8_t* encodeNull(uint8_t* pos, int32_t* remaining, uint8_t tag, Reason* reason) {
    return encodeTagLength(pos, remaining, tag, 0, reason);
}

// The bit string operations give no reason for a failure.
const uint8_t* decodeBitString(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint8_t* dest,
                               uint32_t* size, Reason* /*reason*/) {
    Header header;
    if (readHeader(pos, *remaining, &header) != HeaderRead::kOk) {
        if (*remaining > 0) {
            *tag = header.tag;
        }
        return nullptr;
    }
    *tag = header.tag;
    if (header.length < 1 || header.length > *size || header.content[0] > 7) {
        return nullptr;
    }
    std::memcpy(dest, header.content, header.length);
    *size = header.length;
    return leave(pos, remaining, header);
}

uint8_t* encodeBitString(uint8_t* pos, int32_t* remaining, uint8_t tag, const uint8_t* bytes,
                         uint32_t length, Reason* /*reason*/) {
    if (length < 1 || bytes[0] > 7) {
        return nullptr;
    }
    int32_t left = *remaining;
    uint8_t* p = putTagLengthSilently(pos, &left, tag, length);
    if (p == nullptr || static_cast<uint32_t>(left) < length) {
        return nullptr;
    }
    std::memcpy(p, bytes, length);
    *remaining = left - static_cast<int32_t>(length);
    return p + length;
}

const uint8_t* decodeCounter64(const uint8_t* pos, int32_t* remaining, uint8_t* tag, uint32_t* high,
                               uint32_t* low, int size, Reason* reason) {
    if (size != 8) {
        return nullptr;
    }
    Header header;
    const uint8_t* content =
        enterPrimitive(pos, *remaining, tag, &header, kCounter64PastEnd, reason);
    if (content == nullptr) {
        return nullptr;
    }
    if (header.length > 9 || (header.length == 9 && content[0] != 0x00)) {
        setReason(reason, kCounter64TooLarge, static_cast<int>(header.length));
        return nullptr;
    }
    const uint64_t bits = readTwosComplement<uint64_t>(content, header.length);
    *high = static_cast<uint32_t>(bits >> 32);
    *low = static_cast<uint32_t>(bits);
    return leave(pos, remaining, header);
}

uint8_t* encodeCounter64(uint8_t* pos, int32_t* remaining, uint8_t tag, uint32_t high, uint32_t low,
                         int size, Reason* reason) {
    if (size != 8) {
        return nullptr;
    }
    const uint64_t value = (static_cast<uint64_t>(high) << 32) | low;
    return encodeNumber(pos, remaining, tag, value, counter64ContentSize(high, low),
                        kCounter64EncodingPastEnd, reason);
}

}  // namespace detail

uint32_t objectIdContentSize(const uint32_t* ids, uint32_t count) {
    uint32_t contentLength = 0;
    uint32_t firstValue = 0;
    return measureObjectId(ids, count, &contentLength, &firstValue) == ObjIdMeasure::kOk
               ? contentLength
               : 0;
}

}  // namespace korvimo::snmp
