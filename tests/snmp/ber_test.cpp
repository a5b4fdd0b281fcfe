#include "snmp/ber.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "snmp/codec_bytes.h"
#include "snmp/last_error.h"

namespace korvimo::snmp {
namespace {

using testing::hexBytes;
using testing::hexText;

// Marks lastErrorText so that a test can tell whether an operation wrote it.
void markLastError() {
    setLastError("untouched");
}
std::string lastError() {
    return lastErrorText;
}

// Runs an encoder into a fresh buffer of the given capacity and returns what it wrote.
template <typename Encode>
std::string encoded(Encode encode, int32_t capacity = 64) {
    std::vector<uint8_t> buffer(static_cast<std::size_t>(capacity));
    int32_t remaining = capacity;
    uint8_t* end = encode(buffer.data(), &remaining);
    if (end == nullptr) {
        return "failed: " + lastError();
    }
    const auto used = static_cast<std::size_t>(end - buffer.data());
    EXPECT_EQ(remaining, capacity - static_cast<int32_t>(used));
    return hexText(buffer.data(), used);
}

std::string encodedInteger(int32_t value) {
    return encoded([&](uint8_t* p, int32_t* r) { return encodeInteger(p, r, 0x02, &value, 4); });
}

std::string encodedUnsigned(uint32_t value, uint8_t tag = kTagCounter) {
    return encoded([&](uint8_t* p, int32_t* r) { return encodeUnsigned(p, r, tag, &value, 4); });
}

std::string encodedOid(const std::vector<uint32_t>& ids) {
    return encoded(
        [&](uint8_t* p, int32_t* r) {
            return encodeObjectId(p, r, kTagObjectId, ids.data(),
                                  static_cast<uint32_t>(ids.size()));
        },
        1100);
}

// Decodes an OBJECT IDENTIFIER element; the bytes sit in an allocation of exactly their size
// so that AddressSanitizer sees any read past them.
struct OidResult {
    bool ok = false;
    std::vector<uint32_t> ids;
    int32_t remaining = 0;
};

OidResult decodedOid(const std::string& hex, uint32_t capacity = 128) {
    const std::vector<uint8_t> bytes = hexBytes(hex);
    auto exact = std::make_unique<uint8_t[]>(bytes.size());
    std::memcpy(exact.get(), bytes.data(), bytes.size());
    std::vector<uint32_t> dest(capacity + 1, 0xDEADBEEF);
    OidResult result;
    result.remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    uint32_t count = capacity;
    result.ok =
        decodeObjectId(exact.get(), &result.remaining, &tag, dest.data(), &count) != nullptr;
    EXPECT_EQ(dest[capacity], 0xDEADBEEF) << "wrote past the capacity";
    if (result.ok) {
        result.ids.assign(dest.begin(), dest.begin() + count);
    }
    return result;
}

TEST(BerLength, RefusesIndefiniteAndOverlongForms) {
    uint32_t length = 0;
    const uint8_t indefinite[] = {0x80, 0x00};
    EXPECT_EQ(decodeLength(indefinite, &length), nullptr);
    EXPECT_EQ(lastError(), "Length of Length is zero.");

    const uint8_t tooLong[] = {0x85, 1, 2, 3, 4, 5};
    EXPECT_EQ(decodeLength(tooLong, &length), nullptr);
    EXPECT_EQ(lastError(), "Length of Length is too large [5].");
}

TEST(BerLength, ReadsShortAndLongForms) {
    uint32_t length = 0;
    const uint8_t shortForm[] = {0x7F};
    EXPECT_EQ(decodeLength(shortForm, &length), shortForm + 1);
    EXPECT_EQ(length, 127u);
    const uint8_t fourOctets[] = {0x84, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(decodeLength(fourOctets, &length), fourOctets + 5);
    EXPECT_EQ(length, 0x01020304u);
}

TEST(BerLength, EncodesTheShortestForm) {
    auto length = [](uint32_t n) {
        return encoded([&](uint8_t* p, int32_t* r) { return encodeLength(p, r, n); });
    };
    EXPECT_EQ(length(0), "00");
    EXPECT_EQ(length(127), "7F");
    EXPECT_EQ(length(128), "81 80");
    EXPECT_EQ(length(255), "81 FF");
    EXPECT_EQ(length(256), "82 01 00");
    EXPECT_EQ(length(65535), "82 FF FF");
}

TEST(BerLength, FailsWithoutWritingWhenTheRoomIsShort) {
    uint8_t buffer[3] = {0xEE, 0xEE, 0xEE};
    int32_t remaining = 2;
    EXPECT_EQ(encodeLength(buffer, &remaining, 256), nullptr);
    EXPECT_EQ(lastError(), "Length Encoding goes past end of packet.");
    EXPECT_EQ(remaining, 2);
    EXPECT_EQ(hexText(buffer, 3), "EE EE EE");

    remaining = 0;
    EXPECT_EQ(encodeTagLength(buffer, &remaining, 0x04, 3), nullptr);
    EXPECT_EQ(lastError(), "Header Encoding goes past end of packet.");

    // The tag stays written and counted when only the length does not fit.
    remaining = 2;
    EXPECT_EQ(encodeTagLength(buffer, &remaining, 0x04, 200), nullptr);
    EXPECT_EQ(lastError(), "Length Encoding goes past end of packet.");
    EXPECT_EQ(remaining, 1);
    EXPECT_EQ(buffer[0], 0x04);
}

TEST(BerLength, RefusesLengthsBeyondTwoOctets) {
    uint8_t buffer[8];
    int32_t remaining = 8;
    EXPECT_EQ(encodeLength(buffer, &remaining, 65536), nullptr);
    EXPECT_EQ(encodeSequenceHeader(buffer, &remaining, 0x30, 70000), nullptr);
    EXPECT_EQ(remaining, 8);
}

TEST(BerSequence, AlwaysWritesTheFourOctetHeader) {
    auto sequence = [](uint32_t n) {
        return encoded([&](uint8_t* p, int32_t* r) { return encodeSequenceHeader(p, r, 0x30, n); });
    };
    EXPECT_EQ(sequence(5), "30 82 00 05");
    EXPECT_EQ(sequence(0), "30 82 00 00");
    EXPECT_EQ(sequence(0x1234), "30 82 12 34");

    uint8_t buffer[4] = {};
    int32_t remaining = 3;
    EXPECT_EQ(encodeSequenceHeader(buffer, &remaining, 0x30, 1), nullptr);
    EXPECT_EQ(lastError(), "Sequence Encoding goes past end of packet.");
    EXPECT_EQ(remaining, 3);
    EXPECT_EQ(hexText(buffer, 4), "00 00 00 00");
}

TEST(BerHeader, NarrowsTheWindowToTheContents) {
    const auto bytes = hexBytes("30 03 02 01 05 FF");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    const uint8_t* content = decodeHeader(bytes.data(), &remaining, &tag);
    ASSERT_EQ(content, bytes.data() + 2);
    EXPECT_EQ(tag, 0x30);
    EXPECT_EQ(remaining, 3);
}

TEST(BerHeader, RefusesHighTagNumbers) {
    for (uint8_t tagOctet : {uint8_t{0x1F}, uint8_t{0x3F}}) {
        const uint8_t bytes[] = {tagOctet, 0x00};
        int32_t remaining = 2;
        uint8_t tag = 0;
        EXPECT_EQ(decodeHeader(bytes, &remaining, &tag), nullptr);
        char expected[64];
        std::snprintf(expected, sizeof expected, "Header Tag cannot be handled[%02x].", tagOctet);
        EXPECT_EQ(lastError(), expected);
    }
}

TEST(BerHeader, RefusesContentsRunningPastTheWindow) {
    const auto bytes = hexBytes("30 05 02 01 05");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    EXPECT_EQ(decodeHeader(bytes.data(), &remaining, &tag), nullptr);
    EXPECT_EQ(lastError(), "Length of Header[5] goes past end of packet.");
    EXPECT_EQ(remaining, 5);

    // A four-octet length near 2^32 must not wrap around the window check.
    const auto huge = hexBytes("30 84 FF FF FF FF 00");
    remaining = static_cast<int32_t>(huge.size());
    EXPECT_EQ(decodeHeader(huge.data(), &remaining, &tag), nullptr);
}

TEST(BerInteger, EncodesMinimalTwosComplement) {
    EXPECT_EQ(encodedInteger(0), "02 01 00");
    EXPECT_EQ(encodedInteger(127), "02 01 7F");
    EXPECT_EQ(encodedInteger(128), "02 02 00 80");
    EXPECT_EQ(encodedInteger(-1), "02 01 FF");
    EXPECT_EQ(encodedInteger(-128), "02 01 80");
    EXPECT_EQ(encodedInteger(-129), "02 02 FF 7F");
    EXPECT_EQ(encodedInteger(0x7FFFFFFF), "02 04 7F FF FF FF");
    EXPECT_EQ(encodedInteger(INT32_MIN), "02 04 80 00 00 00");
    EXPECT_EQ(encodedInteger(-8388609), "02 04 FF 7F FF FF");
}

TEST(BerInteger, DecodesWhatItEncodes) {
    for (int32_t value : {0, 1, -1, 127, 128, -128, -129, 255, 256, 32767, -32768, 8388607,
                          -8388608, INT32_MAX, INT32_MIN}) {
        uint8_t buffer[8];
        int32_t room = sizeof buffer;
        uint8_t* end = encodeInteger(buffer, &room, 0x02, &value, 4);
        ASSERT_NE(end, nullptr);
        int32_t remaining = static_cast<int32_t>(end - buffer);
        uint8_t tag = 0;
        int32_t decoded = 12345;
        EXPECT_EQ(decodeInteger(buffer, &remaining, &tag, &decoded, 4), end);
        EXPECT_EQ(decoded, value);
        EXPECT_EQ(remaining, 0);
        EXPECT_EQ(tag, 0x02);
    }
}

TEST(BerInteger, RefusesMoreThanFourOctetsAndWindowOverruns) {
    const auto five = hexBytes("02 05 00 00 00 00 01");
    int32_t remaining = static_cast<int32_t>(five.size());
    uint8_t tag = 0;
    int32_t value = 0;
    EXPECT_EQ(decodeInteger(five.data(), &remaining, &tag, &value, 4), nullptr);
    EXPECT_EQ(lastError(), "Value of Integer larger than 4 bytes.");
    EXPECT_EQ(remaining, 7);

    const auto cut = hexBytes("02 03 01 02");
    remaining = static_cast<int32_t>(cut.size());
    EXPECT_EQ(decodeInteger(cut.data(), &remaining, &tag, &value, 4), nullptr);
    EXPECT_EQ(lastError(), "Length of Integer[3] goes past end of packet.");
}

TEST(BerInteger, ZeroLengthContentReadsAsZero) {
    const auto bytes = hexBytes("02 00 41 00 46 00");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    int32_t value = 99;
    const uint8_t* p = decodeInteger(bytes.data(), &remaining, &tag, &value, 4);
    ASSERT_EQ(p, bytes.data() + 2);
    EXPECT_EQ(value, 0);
    uint32_t number = 99;
    p = decodeUnsigned(p, &remaining, &tag, &number, 4);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(number, 0u);
    uint32_t high = 9;
    uint32_t low = 9;
    p = decodeCounter64(p, &remaining, &tag, &high, &low, 8);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(remaining, 0);
}

TEST(BerInteger, WrongSizeFailsWithoutText) {
    markLastError();
    uint8_t buffer[8];
    int32_t remaining = sizeof buffer;
    const int32_t value = 1;
    EXPECT_EQ(encodeInteger(buffer, &remaining, 0x02, &value, 2), nullptr);
    const uint32_t number = 1;
    EXPECT_EQ(encodeUnsigned(buffer, &remaining, 0x41, &number, 8), nullptr);
    EXPECT_EQ(encodeCounter64(buffer, &remaining, 0x46, 0, 1, 4), nullptr);
    const auto bytes = hexBytes("02 01 05");
    remaining = 3;
    uint8_t tag = 0;
    int32_t out = 0;
    EXPECT_EQ(decodeInteger(bytes.data(), &remaining, &tag, &out, 8), nullptr);
    uint32_t high = 0;
    uint32_t low = 0;
    EXPECT_EQ(decodeCounter64(bytes.data(), &remaining, &tag, &high, &low, 4), nullptr);
    EXPECT_EQ(lastError(), "untouched");
    EXPECT_EQ(remaining, 3);
}

TEST(BerInteger, EncoderReportsMissingRoom) {
    uint8_t buffer[3];
    int32_t remaining = 3;
    const int32_t value = 128;
    EXPECT_EQ(encodeInteger(buffer, &remaining, 0x02, &value, 4), nullptr);
    EXPECT_EQ(lastError(), "Integer Encoding goes past end of packet.");
}

TEST(BerUnsigned, TopBitValuesTakeALeadingZero) {
    EXPECT_EQ(encodedUnsigned(0x80000000u), "41 05 00 80 00 00 00");
    EXPECT_EQ(encodedUnsigned(0xFFFFFFFFu, kTagGauge), "42 05 00 FF FF FF FF");
    EXPECT_EQ(encodedUnsigned(0, kTagTimeTicks), "43 01 00");
    EXPECT_EQ(encodedUnsigned(200, kTagUInteger32), "47 02 00 C8");
    EXPECT_EQ(encodedUnsigned(0x7FFFFFFFu), "41 04 7F FF FF FF");

    const auto bytes = hexBytes("41 05 00 80 00 00 00");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    uint32_t value = 0;
    ASSERT_NE(decodeUnsigned(bytes.data(), &remaining, &tag, &value, 4), nullptr);
    EXPECT_EQ(value, 0x80000000u);
    EXPECT_EQ(tag, 0x41);
}

TEST(BerUnsigned, RefusesOverlongContents) {
    for (const char* hex : {"41 06 00 00 00 00 00 01", "41 05 01 00 00 00 00"}) {
        const auto bytes = hexBytes(hex);
        int32_t remaining = static_cast<int32_t>(bytes.size());
        uint8_t tag = 0;
        uint32_t value = 0;
        EXPECT_EQ(decodeUnsigned(bytes.data(), &remaining, &tag, &value, 4), nullptr) << hex;
        EXPECT_EQ(lastError(), "Value of Integer larger than 4 bytes.");
    }
}

TEST(BerUnsigned, ShortTopBitEncodingsComeOutSignExtended) {
    const auto bytes = hexBytes("41 01 80");
    int32_t remaining = 3;
    uint8_t tag = 0;
    uint32_t value = 0;
    ASSERT_NE(decodeUnsigned(bytes.data(), &remaining, &tag, &value, 4), nullptr);
    EXPECT_EQ(value, 0xFFFFFF80u);
}

TEST(BerCounter64, EncodesMinimallyWithALeadingZeroForTheTopBit) {
    auto counter = [](uint32_t high, uint32_t low) {
        return encoded([&](uint8_t* p, int32_t* r) {
            return encodeCounter64(p, r, kTagCounter64, high, low, 8);
        });
    };
    EXPECT_EQ(counter(0x80000000u, 0), "46 09 00 80 00 00 00 00 00 00 00");
    EXPECT_EQ(counter(0, 0), "46 01 00");
    EXPECT_EQ(counter(0, 0x80), "46 02 00 80");
    EXPECT_EQ(counter(1, 0), "46 05 01 00 00 00 00");
    EXPECT_EQ(counter(0x7FFFFFFFu, 0xFFFFFFFFu), "46 08 7F FF FF FF FF FF FF FF");
}

TEST(BerCounter64, DecodesWhatItEncodes) {
    const uint64_t values[] = {0,
                               1,
                               0x7F,
                               0x80,
                               0xFFFFFFFFull,
                               0x100000000ull,
                               0x8000000000000000ull,
                               ~0ull,
                               0x0123456789ABCDEFull};
    for (uint64_t value : values) {
        uint8_t buffer[16];
        int32_t room = sizeof buffer;
        uint8_t* end =
            encodeCounter64(buffer, &room, kTagCounter64, static_cast<uint32_t>(value >> 32),
                            static_cast<uint32_t>(value), 8);
        ASSERT_NE(end, nullptr);
        int32_t remaining = static_cast<int32_t>(end - buffer);
        uint8_t tag = 0;
        uint32_t high = 0;
        uint32_t low = 0;
        ASSERT_EQ(decodeCounter64(buffer, &remaining, &tag, &high, &low, 8), end);
        EXPECT_EQ((static_cast<uint64_t>(high) << 32) | low, value);
    }
}

TEST(BerCounter64, RefusesTenOctetsAndNineWithoutLeadingZero) {
    const auto ten = hexBytes("46 0A 00 00 00 00 00 00 00 00 00 01");
    int32_t remaining = static_cast<int32_t>(ten.size());
    uint8_t tag = 0;
    uint32_t high = 0;
    uint32_t low = 0;
    EXPECT_EQ(decodeCounter64(ten.data(), &remaining, &tag, &high, &low, 8), nullptr);
    EXPECT_EQ(lastError(), "Length of 64 bit number[10] too large.");

    const auto nine = hexBytes("46 09 01 00 00 00 00 00 00 00 00");
    remaining = static_cast<int32_t>(nine.size());
    EXPECT_EQ(decodeCounter64(nine.data(), &remaining, &tag, &high, &low, 8), nullptr);
    EXPECT_EQ(lastError(), "Length of 64 bit number[9] too large.");

    const auto cut = hexBytes("46 04 00 01");
    remaining = static_cast<int32_t>(cut.size());
    EXPECT_EQ(decodeCounter64(cut.data(), &remaining, &tag, &high, &low, 8), nullptr);
    EXPECT_EQ(lastError(), "Length of 64 bit number[4] goes past end of packet.");

    uint8_t small[4];
    remaining = 4;
    EXPECT_EQ(encodeCounter64(small, &remaining, kTagCounter64, 1, 0, 8), nullptr);
    EXPECT_EQ(lastError(), "64 bit number encoding goes past end of packet.");
}

TEST(BerOctetString, CopiesIntoTheDestinationWithoutTerminator) {
    const auto bytes = hexBytes("04 03 61 62 63");
    int32_t remaining = 5;
    uint8_t tag = 0;
    uint8_t dest[8];
    std::memset(dest, 0xEE, sizeof dest);
    uint32_t size = sizeof dest;
    ASSERT_NE(decodeOctetString(bytes.data(), &remaining, &tag, dest, &size), nullptr);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(hexText(dest, 4), "61 62 63 EE");
    EXPECT_EQ(remaining, 0);
}

TEST(BerOctetString, RefusesContentLargerThanTheDestination) {
    std::vector<uint8_t> bytes = hexBytes("04 82 04 01");
    bytes.resize(bytes.size() + 1025, 'x');
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    std::vector<uint8_t> dest(1024);
    uint32_t size = 1024;
    EXPECT_EQ(decodeOctetString(bytes.data(), &remaining, &tag, dest.data(), &size), nullptr);
    EXPECT_EQ(lastError(), "Length of Octet String[1025] larger than buffer.");
    EXPECT_EQ(size, 1024u);

    bytes.pop_back();
    remaining = static_cast<int32_t>(bytes.size());
    EXPECT_EQ(decodeOctetString(bytes.data(), &remaining, &tag, dest.data(), &size), nullptr);
    EXPECT_EQ(lastError(), "Length of Octet String[1025] goes past end of packet.");
}

TEST(BerOctetString, EncoderReportsMissingRoom) {
    const uint8_t text[] = {'a', 'b', 'c'};
    EXPECT_EQ(
        encoded([&](uint8_t* p, int32_t* r) { return encodeOctetString(p, r, 0x44, text, 3); }),
        "44 03 61 62 63");
    EXPECT_EQ(
        encoded([&](uint8_t* p, int32_t* r) { return encodeOctetString(p, r, 0x04, text, 3); }, 4),
        "failed: Octet String Encoding goes past end of packet.");
    EXPECT_EQ(
        encoded([&](uint8_t* p, int32_t* r) { return encodeOctetString(p, r, 0x04, nullptr, 0); }),
        "04 00");
}

TEST(BerObjectId, EncodesAndDecodesTheSystemDescription) {
    EXPECT_EQ(encodedOid({1, 3, 6, 1, 2, 1, 1, 1, 0}), "06 08 2B 06 01 02 01 01 01 00");
    const OidResult result = decodedOid("06 08 2B 06 01 02 01 01 01 00");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.ids, (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 1, 1, 0}));
    EXPECT_EQ(result.remaining, 0);
}

TEST(BerObjectId, UsesBase128ForLargeSubidentifiers) {
    EXPECT_EQ(encodedOid({1, 3, 127}), "06 02 2B 7F");
    EXPECT_EQ(encodedOid({1, 3, 128}), "06 03 2B 81 00");
    EXPECT_EQ(encodedOid({1, 3, 0xFFFFFFFFu}), "06 06 2B 8F FF FF FF 7F");
    const OidResult result = decodedOid("06 06 2B 8F FF FF FF 7F");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.ids, (std::vector<uint32_t>{1, 3, 0xFFFFFFFFu}));
}

TEST(BerObjectId, KeepsTheShortForms) {
    EXPECT_EQ(encodedOid({7}), "06 01 00");
    EXPECT_EQ(encodedOid({}), "06 01 00");
    const OidResult empty = decodedOid("06 00");
    ASSERT_TRUE(empty.ok);
    EXPECT_EQ(empty.ids, (std::vector<uint32_t>{0}));
    const OidResult internet = decodedOid("06 01 2B");
    ASSERT_TRUE(internet.ok);
    EXPECT_EQ(internet.ids, (std::vector<uint32_t>{1, 3}));
}

TEST(BerObjectId, FirstArcTwoTakesEveryValueFromEighty) {
    EXPECT_EQ(encodedOid({2, 999}), "06 02 88 37");
    EXPECT_EQ(encodedOid({2, 47, 1}), "06 02 7F 01");
    EXPECT_EQ(encodedOid({2, 48}), "06 02 81 00");
    EXPECT_EQ(encodedOid({0, 39}), "06 01 27");
    EXPECT_EQ(encodedOid({1, 39}), "06 01 4F");

    const OidResult twoNineNineNine = decodedOid("06 02 88 37");
    ASSERT_TRUE(twoNineNineNine.ok);
    EXPECT_EQ(twoNineNineNine.ids, (std::vector<uint32_t>{2, 999}));
    const OidResult hundredTwenty = decodedOid("06 01 78");
    ASSERT_TRUE(hundredTwenty.ok);
    EXPECT_EQ(hundredTwenty.ids, (std::vector<uint32_t>{2, 40}));
    const OidResult eighty = decodedOid("06 01 50");
    ASSERT_TRUE(eighty.ok);
    EXPECT_EQ(eighty.ids, (std::vector<uint32_t>{2, 0}));
}

TEST(BerObjectId, RefusesArcsWithoutAnEncoding) {
    EXPECT_EQ(encodedOid({3, 1}), "failed: Object Id starting 3.1 cannot be encoded.");
    EXPECT_EQ(encodedOid({1, 40}), "failed: Object Id starting 1.40 cannot be encoded.");
    EXPECT_EQ(encodedOid({0, 40, 5}), "failed: Object Id starting 0.40 cannot be encoded.");
    EXPECT_EQ(encodedOid({2, 0xFFFFFFFFu}),
              "failed: Object Id starting 2.4294967295 cannot be encoded.");
}

TEST(BerObjectId, RefusesContentBeyondTheScratchArea) {
    // 1 octet for 1.3, then 205 sub-identifiers of 5 octets: 1,026 octets.
    std::vector<uint32_t> ids = {1, 3};
    ids.resize(2 + 205, 0xFFFFFFFFu);
    EXPECT_EQ(encodedOid(ids), "failed: Object Id Encoding larger than 1024 bytes.");
    ids.resize(2 + 204);
    ids.resize(2 + 204 + 3, 1);  // 1 + 1020 + 3 = 1,024 octets still fit
    const std::string hex = encodedOid(ids);
    EXPECT_EQ(hex.substr(0, 9), "06 82 04 ") << hex;
}

TEST(BerObjectId, EncoderReportsMissingRoom) {
    const uint32_t ids[] = {1, 3, 6, 1};
    EXPECT_EQ(
        encoded([&](uint8_t* p, int32_t* r) { return encodeObjectId(p, r, 0x06, ids, 4); }, 4),
        "failed: Object Id Encoding goes past end of packet.");
}

TEST(BerObjectId, RefusesMoreSubidentifiersThanTheCapacity) {
    // 2B followed by 127 single-octet sub-identifiers: 129 in all.
    std::string hex = "06 81 80 2B";
    for (int i = 0; i < 127; ++i) {
        hex += " 01";
    }
    const OidResult tooMany = decodedOid(hex, 128);
    EXPECT_FALSE(tooMany.ok);
    EXPECT_EQ(lastError(), "ObjId has more than 128 Subidentifiers.");
    EXPECT_EQ(tooMany.remaining, 131);
    EXPECT_TRUE(decodedOid(hex, 129).ok);

    EXPECT_FALSE(decodedOid("06 01 2B", 1).ok);
    EXPECT_FALSE(decodedOid("06 00", 0).ok);
}

TEST(BerObjectId, RefusesAnIncompleteLastSubidentifier) {
    // The octet after the element would complete the sub-identifier; it must stay unread.
    const auto bytes = hexBytes("06 02 2B 81 01");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    uint32_t dest[8];
    uint32_t count = 8;
    EXPECT_EQ(decodeObjectId(bytes.data(), &remaining, &tag, dest, &count), nullptr);
    EXPECT_EQ(lastError(), "Last Subidentifier of ObjId is incomplete.");
    EXPECT_FALSE(decodedOid("06 01 81").ok);
}

TEST(BerObjectId, RefusesSubidentifiersBeyondThirtyTwoBits) {
    EXPECT_FALSE(decodedOid("06 07 2B 90 80 80 80 80 00").ok);
    EXPECT_EQ(lastError(), "Value of Subidentifier too large.[33554432]");
    EXPECT_FALSE(decodedOid("06 06 2B 90 80 80 80 00").ok);
    EXPECT_EQ(lastError(), "Value of Subidentifier too large.[33554432]");
}

TEST(BerObjectId, ReportsWindowOverruns) {
    const auto bytes = hexBytes("06 08 2B 06 01");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    uint32_t dest[8];
    uint32_t count = 8;
    EXPECT_EQ(decodeObjectId(bytes.data(), &remaining, &tag, dest, &count), nullptr);
    EXPECT_EQ(lastError(), "Length of ObjId[8] goes past end of packet.");
}

TEST(BerNull, WritesEmptyContentForNullAndExceptions) {
    for (uint8_t tag : {kTagNull, kTagNoSuchObject, kTagNoSuchInstance, kTagEndOfMibView}) {
        char expected[8];
        std::snprintf(expected, sizeof expected, "%02X 00", tag);
        EXPECT_EQ(encoded([&](uint8_t* p, int32_t* r) { return encodeNull(p, r, tag); }), expected);
    }
}

TEST(BerBitString, KeepsTheUnusedBitsOctet) {
    const uint8_t bits[] = {0x03, 0xA8};
    EXPECT_EQ(encoded([&](uint8_t* p, int32_t* r) { return encodeBitString(p, r, 0x03, bits, 2); }),
              "03 02 03 A8");
    const auto bytes = hexBytes("03 02 03 A8");
    int32_t remaining = 4;
    uint8_t tag = 0;
    uint8_t dest[4];
    uint32_t size = sizeof dest;
    ASSERT_NE(decodeBitString(bytes.data(), &remaining, &tag, dest, &size), nullptr);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(hexText(dest, 2), "03 A8");
}

TEST(BerBitString, FailuresLeaveNoText) {
    markLastError();
    for (const char* hex : {"03 02 08 00", "03 00", "03 05 00 01 02 03 04", "03 04 00 01"}) {
        const auto bytes = hexBytes(hex);
        int32_t remaining = static_cast<int32_t>(bytes.size());
        uint8_t tag = 0;
        uint8_t dest[4];
        uint32_t size = sizeof dest;
        EXPECT_EQ(decodeBitString(bytes.data(), &remaining, &tag, dest, &size), nullptr) << hex;
    }
    uint8_t buffer[8];
    int32_t remaining = sizeof buffer;
    const uint8_t badUnused[] = {0x08, 0x00};
    EXPECT_EQ(encodeBitString(buffer, &remaining, 0x03, badUnused, 2), nullptr);
    EXPECT_EQ(encodeBitString(buffer, &remaining, 0x03, badUnused, 0), nullptr);
    const uint8_t good[] = {0x00, 0x01, 0x02};
    remaining = 4;
    EXPECT_EQ(encodeBitString(buffer, &remaining, 0x03, good, 3), nullptr);
    EXPECT_EQ(remaining, 4);
    EXPECT_EQ(lastError(), "untouched");
}

// Every decoder given every prefix of a valid element, in an allocation of exactly that
// size: nothing may be read beyond it (AddressSanitizer watches), and only the whole element
// decodes.
TEST(BerDecoders, NeverReadPastATruncatedWindow) {
    const std::vector<std::string> elements = {
        "02 04 80 00 00 01", "41 05 00 FF FF FF FF",    "46 09 00 FF FF FF FF FF FF FF FF",
        "04 03 61 62 63",    "06 06 2B 8F FF FF FF 7F", "03 02 03 A8",
        "30 82 00 02 05 00", "04 84 00 00 00 02 41 42", "06 81 02 2B 06"};
    for (const std::string& hex : elements) {
        const std::vector<uint8_t> whole = hexBytes(hex);
        for (std::size_t n = 0; n <= whole.size(); ++n) {
            auto exact = std::make_unique<uint8_t[]>(n == 0 ? 1 : n);
            std::memcpy(exact.get(), whole.data(), n);
            const uint8_t* bytes = exact.get();
            uint8_t tag = 0;
            uint8_t buffer[16];
            uint32_t dest[16];
            uint32_t size = sizeof buffer;
            uint32_t count = 16;
            int32_t number = 0;
            uint32_t unsignedNumber = 0;
            uint32_t high = 0;
            uint32_t low = 0;
            const int32_t window = static_cast<int32_t>(n);
            int32_t r[7] = {window, window, window, window, window, window, window};
            const bool complete = n == whole.size();
            const bool results[] = {
                decodeInteger(bytes, &r[0], &tag, &number, 4) != nullptr,
                decodeUnsigned(bytes, &r[1], &tag, &unsignedNumber, 4) != nullptr,
                decodeCounter64(bytes, &r[2], &tag, &high, &low, 8) != nullptr,
                decodeOctetString(bytes, &r[3], &tag, buffer, &size) != nullptr,
                decodeObjectId(bytes, &r[4], &tag, dest, &count) != nullptr,
                decodeBitString(bytes, &r[5], &tag, buffer, &(size = sizeof buffer)) != nullptr,
                decodeHeader(bytes, &r[6], &tag) != nullptr,
            };
            for (bool decoded : results) {
                if (!complete) {
                    EXPECT_FALSE(decoded) << hex << " cut to " << n;
                }
            }
        }
    }
}

}  // namespace
}  // namespace korvimo::snmp
