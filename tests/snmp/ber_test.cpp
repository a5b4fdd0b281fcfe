#include "snmp/ber.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "snmp/codec_bytes.h"

namespace korvimo::snmp {
namespace {

using testing::hexBytes;
using testing::hexText;

// The text of a failure, and "succeeded" for a success.
std::string failureText(const Result& result) {
    return result ? "succeeded" : std::string(result.text());
}

// Runs an encoder into a fresh buffer of the given capacity and returns what it wrote, or
// its failure text. A failing encoder must leave the cursor where it was.
template <typename Encode>
std::string encoded(Encode encode, int32_t capacity = 64) {
    std::vector<uint8_t> buffer(static_cast<std::size_t>(capacity));
    int32_t remaining = capacity;
    uint8_t* cursor = buffer.data();
    const Result result = encode(cursor, &remaining);
    if (!result) {
        EXPECT_EQ(cursor, buffer.data());
        return "failed: " + std::string(result.text());
    }
    const auto used = static_cast<std::size_t>(cursor - buffer.data());
    EXPECT_EQ(remaining, capacity - static_cast<int32_t>(used));
    return hexText(buffer.data(), used);
}

std::string encodedInteger(int32_t value) {
    return encoded([&](uint8_t*& p, int32_t* r) { return encodeInteger(p, r, 0x02, &value, 4); });
}

std::string encodedUnsigned(uint32_t value, uint8_t tag = kTagCounter) {
    return encoded([&](uint8_t*& p, int32_t* r) { return encodeUnsigned(p, r, tag, &value, 4); });
}

std::string encodedOid(const std::vector<uint32_t>& ids) {
    return encoded(
        [&](uint8_t*& p, int32_t* r) {
            return encodeObjectId(p, r, kTagObjectId, ids.data(),
                                  static_cast<uint32_t>(ids.size()));
        },
        1100);
}

// Decodes an OBJECT IDENTIFIER element; the bytes sit in an allocation of exactly their size
// so that AddressSanitizer sees any read past them.
struct OidResult {
    bool ok = false;
    std::string text;  // of a failure
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
    const uint8_t* cursor = exact.get();
    const Result decoded = decodeObjectId(cursor, &result.remaining, &tag, dest.data(), &count);
    result.ok = decoded.ok();
    result.text = decoded.text();
    EXPECT_EQ(dest[capacity], 0xDEADBEEF) << "wrote past the capacity";
    if (result.ok) {
        result.ids.assign(dest.begin(), dest.begin() + count);
        EXPECT_EQ(cursor, exact.get() + bytes.size() - result.remaining);
    } else {
        EXPECT_EQ(cursor, exact.get());
    }
    return result;
}

TEST(BerLength, RefusesIndefiniteAndOverlongForms) {
    uint32_t length = 0;
    const uint8_t indefinite[] = {0x80, 0x00};
    const uint8_t* p = indefinite;
    EXPECT_EQ(failureText(decodeLength(p, &length)), "Length of Length is zero.");
    EXPECT_EQ(p, indefinite);

    const uint8_t tooLong[] = {0x85, 1, 2, 3, 4, 5};
    p = tooLong;
    EXPECT_EQ(failureText(decodeLength(p, &length)), "Length of Length is too large [5].");
    EXPECT_EQ(p, tooLong);
}

TEST(BerLength, ReadsShortAndLongForms) {
    uint32_t length = 0;
    const uint8_t shortForm[] = {0x7F};
    const uint8_t* p = shortForm;
    EXPECT_TRUE(decodeLength(p, &length).ok());
    EXPECT_EQ(p, shortForm + 1);
    EXPECT_EQ(length, 127u);
    const uint8_t fourOctets[] = {0x84, 0x01, 0x02, 0x03, 0x04};
    p = fourOctets;
    EXPECT_TRUE(decodeLength(p, &length).ok());
    EXPECT_EQ(p, fourOctets + 5);
    EXPECT_EQ(length, 0x01020304u);
}

TEST(BerLength, EncodesTheShortestForm) {
    auto length = [](uint32_t n) {
        return encoded([&](uint8_t*& p, int32_t* r) { return encodeLength(p, r, n); });
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
    uint8_t* p = buffer;
    EXPECT_EQ(failureText(encodeLength(p, &remaining, 256)),
              "Length Encoding goes past end of packet.");
    EXPECT_EQ(p, buffer);
    EXPECT_EQ(remaining, 2);
    EXPECT_EQ(hexText(buffer, 3), "EE EE EE");

    remaining = 0;
    EXPECT_EQ(failureText(encodeTagLength(p, &remaining, 0x04, 3)),
              "Header Encoding goes past end of packet.");
    EXPECT_EQ(p, buffer);

    // The tag stays written and counted when only the length does not fit; the cursor stays.
    remaining = 2;
    EXPECT_EQ(failureText(encodeTagLength(p, &remaining, 0x04, 200)),
              "Length Encoding goes past end of packet.");
    EXPECT_EQ(p, buffer);
    EXPECT_EQ(remaining, 1);
    EXPECT_EQ(buffer[0], 0x04);
}

TEST(BerLength, RefusesLengthsBeyondTwoOctets) {
    uint8_t buffer[8];
    int32_t remaining = 8;
    uint8_t* p = buffer;
    EXPECT_FALSE(encodeLength(p, &remaining, 65536));
    EXPECT_FALSE(encodeSequenceHeader(p, &remaining, 0x30, 70000));
    EXPECT_EQ(p, buffer);
    EXPECT_EQ(remaining, 8);
}

TEST(BerSequence, AlwaysWritesTheFourOctetHeader) {
    auto sequence = [](uint32_t n) {
        return encoded(
            [&](uint8_t*& p, int32_t* r) { return encodeSequenceHeader(p, r, 0x30, n); });
    };
    EXPECT_EQ(sequence(5), "30 82 00 05");
    EXPECT_EQ(sequence(0), "30 82 00 00");
    EXPECT_EQ(sequence(0x1234), "30 82 12 34");

    uint8_t buffer[4] = {};
    int32_t remaining = 3;
    uint8_t* p = buffer;
    EXPECT_EQ(failureText(encodeSequenceHeader(p, &remaining, 0x30, 1)),
              "Sequence Encoding goes past end of packet.");
    EXPECT_EQ(p, buffer);
    EXPECT_EQ(remaining, 3);
    EXPECT_EQ(hexText(buffer, 4), "00 00 00 00");
}

TEST(BerHeader, NarrowsTheWindowToTheContents) {
    const auto bytes = hexBytes("30 03 02 01 05 FF");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    const uint8_t* content = bytes.data();
    ASSERT_TRUE(decodeHeader(content, &remaining, &tag).ok());
    ASSERT_EQ(content, bytes.data() + 2);
    EXPECT_EQ(tag, 0x30);
    EXPECT_EQ(remaining, 3);
}

TEST(BerHeader, RefusesHighTagNumbers) {
    for (uint8_t tagOctet : {uint8_t{0x1F}, uint8_t{0x3F}}) {
        const uint8_t bytes[] = {tagOctet, 0x00};
        int32_t remaining = 2;
        uint8_t tag = 0;
        const uint8_t* p = bytes;
        char expected[64];
        std::snprintf(expected, sizeof expected, "Header Tag cannot be handled[%02x].", tagOctet);
        EXPECT_EQ(failureText(decodeHeader(p, &remaining, &tag)), expected);
        EXPECT_EQ(p, bytes);
    }
}

TEST(BerHeader, RefusesContentsRunningPastTheWindow) {
    const auto bytes = hexBytes("30 05 02 01 05");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    const uint8_t* p = bytes.data();
    EXPECT_EQ(failureText(decodeHeader(p, &remaining, &tag)),
              "Length of Header[5] goes past end of packet.");
    EXPECT_EQ(p, bytes.data());
    EXPECT_EQ(remaining, 5);

    // A four-octet length near 2^32 must not wrap around the window check.
    const auto huge = hexBytes("30 84 FF FF FF FF 00");
    remaining = static_cast<int32_t>(huge.size());
    p = huge.data();
    EXPECT_FALSE(decodeHeader(p, &remaining, &tag));
    EXPECT_EQ(p, huge.data());
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
        uint8_t* end = buffer;
        ASSERT_TRUE(encodeInteger(end, &room, 0x02, &value, 4).ok());
        int32_t remaining = static_cast<int32_t>(end - buffer);
        uint8_t tag = 0;
        int32_t decoded = 12345;
        const uint8_t* p = buffer;
        EXPECT_TRUE(decodeInteger(p, &remaining, &tag, &decoded, 4).ok());
        EXPECT_EQ(p, end);
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
    const uint8_t* p = five.data();
    EXPECT_EQ(failureText(decodeInteger(p, &remaining, &tag, &value, 4)),
              "Value of Integer larger than 4 bytes.");
    EXPECT_EQ(p, five.data());
    EXPECT_EQ(remaining, 7);

    const auto cut = hexBytes("02 03 01 02");
    remaining = static_cast<int32_t>(cut.size());
    p = cut.data();
    EXPECT_EQ(failureText(decodeInteger(p, &remaining, &tag, &value, 4)),
              "Length of Integer[3] goes past end of packet.");
    EXPECT_EQ(p, cut.data());
}

TEST(BerInteger, ZeroLengthContentReadsAsZero) {
    const auto bytes = hexBytes("02 00 41 00 46 00");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    int32_t value = 99;
    const uint8_t* p = bytes.data();
    ASSERT_TRUE(decodeInteger(p, &remaining, &tag, &value, 4).ok());
    ASSERT_EQ(p, bytes.data() + 2);
    EXPECT_EQ(value, 0);
    uint32_t number = 99;
    ASSERT_TRUE(decodeUnsigned(p, &remaining, &tag, &number, 4).ok());
    EXPECT_EQ(number, 0u);
    uint32_t high = 9;
    uint32_t low = 9;
    ASSERT_TRUE(decodeCounter64(p, &remaining, &tag, &high, &low, 8).ok());
    EXPECT_EQ(p, bytes.data() + 6);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(remaining, 0);
}

TEST(BerInteger, WrongSizeFailsWithoutText) {
    uint8_t buffer[8];
    int32_t remaining = sizeof buffer;
    uint8_t* out = buffer;
    const int32_t value = 1;
    EXPECT_EQ(failureText(encodeInteger(out, &remaining, 0x02, &value, 2)), "");
    const uint32_t number = 1;
    EXPECT_EQ(failureText(encodeUnsigned(out, &remaining, 0x41, &number, 8)), "");
    EXPECT_EQ(failureText(encodeCounter64(out, &remaining, 0x46, 0, 1, 4)), "");
    EXPECT_EQ(out, buffer);
    const auto bytes = hexBytes("02 01 05");
    remaining = 3;
    uint8_t tag = 0;
    int32_t decoded = 0;
    const uint8_t* in = bytes.data();
    EXPECT_EQ(failureText(decodeInteger(in, &remaining, &tag, &decoded, 8)), "");
    uint32_t high = 0;
    uint32_t low = 0;
    EXPECT_EQ(failureText(decodeCounter64(in, &remaining, &tag, &high, &low, 4)), "");
    EXPECT_EQ(in, bytes.data());
    EXPECT_EQ(remaining, 3);
}

TEST(BerInteger, EncoderReportsMissingRoom) {
    uint8_t buffer[3];
    int32_t remaining = 3;
    uint8_t* p = buffer;
    const int32_t value = 128;
    EXPECT_EQ(failureText(encodeInteger(p, &remaining, 0x02, &value, 4)),
              "Integer Encoding goes past end of packet.");
    EXPECT_EQ(p, buffer);
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
    const uint8_t* p = bytes.data();
    ASSERT_TRUE(decodeUnsigned(p, &remaining, &tag, &value, 4).ok());
    EXPECT_EQ(value, 0x80000000u);
    EXPECT_EQ(tag, 0x41);
}

TEST(BerUnsigned, RefusesOverlongContents) {
    for (const char* hex : {"41 06 00 00 00 00 00 01", "41 05 01 00 00 00 00"}) {
        const auto bytes = hexBytes(hex);
        int32_t remaining = static_cast<int32_t>(bytes.size());
        uint8_t tag = 0;
        uint32_t value = 0;
        const uint8_t* p = bytes.data();
        EXPECT_EQ(failureText(decodeUnsigned(p, &remaining, &tag, &value, 4)),
                  "Value of Integer larger than 4 bytes.")
            << hex;
        EXPECT_EQ(p, bytes.data());
    }
}

TEST(BerUnsigned, ShortTopBitEncodingsComeOutSignExtended) {
    const auto bytes = hexBytes("41 01 80");
    int32_t remaining = 3;
    uint8_t tag = 0;
    uint32_t value = 0;
    const uint8_t* p = bytes.data();
    ASSERT_TRUE(decodeUnsigned(p, &remaining, &tag, &value, 4).ok());
    EXPECT_EQ(value, 0xFFFFFF80u);
}

TEST(BerCounter64, EncodesMinimallyWithALeadingZeroForTheTopBit) {
    auto counter = [](uint32_t high, uint32_t low) {
        return encoded([&](uint8_t*& p, int32_t* r) {
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
        uint8_t* end = buffer;
        ASSERT_TRUE(encodeCounter64(end, &room, kTagCounter64, static_cast<uint32_t>(value >> 32),
                                    static_cast<uint32_t>(value), 8)
                        .ok());
        int32_t remaining = static_cast<int32_t>(end - buffer);
        uint8_t tag = 0;
        uint32_t high = 0;
        uint32_t low = 0;
        const uint8_t* p = buffer;
        ASSERT_TRUE(decodeCounter64(p, &remaining, &tag, &high, &low, 8).ok());
        ASSERT_EQ(p, end);
        EXPECT_EQ((static_cast<uint64_t>(high) << 32) | low, value);
    }
}

TEST(BerCounter64, RefusesTenOctetsAndNineWithoutLeadingZero) {
    const auto ten = hexBytes("46 0A 00 00 00 00 00 00 00 00 00 01");
    int32_t remaining = static_cast<int32_t>(ten.size());
    uint8_t tag = 0;
    uint32_t high = 0;
    uint32_t low = 0;
    const uint8_t* p = ten.data();
    EXPECT_EQ(failureText(decodeCounter64(p, &remaining, &tag, &high, &low, 8)),
              "Length of 64 bit number[10] too large.");
    EXPECT_EQ(p, ten.data());

    const auto nine = hexBytes("46 09 01 00 00 00 00 00 00 00 00");
    remaining = static_cast<int32_t>(nine.size());
    p = nine.data();
    EXPECT_EQ(failureText(decodeCounter64(p, &remaining, &tag, &high, &low, 8)),
              "Length of 64 bit number[9] too large.");
    EXPECT_EQ(p, nine.data());

    const auto cut = hexBytes("46 04 00 01");
    remaining = static_cast<int32_t>(cut.size());
    p = cut.data();
    EXPECT_EQ(failureText(decodeCounter64(p, &remaining, &tag, &high, &low, 8)),
              "Length of 64 bit number[4] goes past end of packet.");
    EXPECT_EQ(p, cut.data());

    uint8_t small[4];
    remaining = 4;
    uint8_t* out = small;
    EXPECT_EQ(failureText(encodeCounter64(out, &remaining, kTagCounter64, 1, 0, 8)),
              "64 bit number encoding goes past end of packet.");
    EXPECT_EQ(out, small);
}

TEST(BerOctetString, CopiesIntoTheDestinationWithoutTerminator) {
    const auto bytes = hexBytes("04 03 61 62 63");
    int32_t remaining = 5;
    uint8_t tag = 0;
    uint8_t dest[8];
    std::memset(dest, 0xEE, sizeof dest);
    uint32_t size = sizeof dest;
    const uint8_t* p = bytes.data();
    ASSERT_TRUE(decodeOctetString(p, &remaining, &tag, dest, &size).ok());
    EXPECT_EQ(p, bytes.data() + 5);
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
    const uint8_t* p = bytes.data();
    EXPECT_EQ(failureText(decodeOctetString(p, &remaining, &tag, dest.data(), &size)),
              "Length of Octet String[1025] larger than buffer.");
    EXPECT_EQ(p, bytes.data());
    EXPECT_EQ(size, 1024u);

    bytes.pop_back();
    remaining = static_cast<int32_t>(bytes.size());
    p = bytes.data();
    EXPECT_EQ(failureText(decodeOctetString(p, &remaining, &tag, dest.data(), &size)),
              "Length of Octet String[1025] goes past end of packet.");
    EXPECT_EQ(p, bytes.data());
}

TEST(BerOctetString, EncoderReportsMissingRoom) {
    const uint8_t text[] = {'a', 'b', 'c'};
    EXPECT_EQ(
        encoded([&](uint8_t*& p, int32_t* r) { return encodeOctetString(p, r, 0x44, text, 3); }),
        "44 03 61 62 63");
    EXPECT_EQ(
        encoded([&](uint8_t*& p, int32_t* r) { return encodeOctetString(p, r, 0x04, text, 3); }, 4),
        "failed: Octet String Encoding goes past end of packet.");
    EXPECT_EQ(
        encoded([&](uint8_t*& p, int32_t* r) { return encodeOctetString(p, r, 0x04, nullptr, 0); }),
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
        encoded([&](uint8_t*& p, int32_t* r) { return encodeObjectId(p, r, 0x06, ids, 4); }, 4),
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
    EXPECT_EQ(tooMany.text, "ObjId has more than 128 Subidentifiers.");
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
    const uint8_t* p = bytes.data();
    EXPECT_EQ(failureText(decodeObjectId(p, &remaining, &tag, dest, &count)),
              "Last Subidentifier of ObjId is incomplete.");
    EXPECT_EQ(p, bytes.data());
    EXPECT_FALSE(decodedOid("06 01 81").ok);
}

TEST(BerObjectId, RefusesSubidentifiersBeyondThirtyTwoBits) {
    const OidResult sixOctets = decodedOid("06 07 2B 90 80 80 80 80 00");
    EXPECT_FALSE(sixOctets.ok);
    EXPECT_EQ(sixOctets.text, "Value of Subidentifier too large.[33554432]");
    const OidResult fiveOctets = decodedOid("06 06 2B 90 80 80 80 00");
    EXPECT_FALSE(fiveOctets.ok);
    EXPECT_EQ(fiveOctets.text, "Value of Subidentifier too large.[33554432]");
}

TEST(BerObjectId, ReportsWindowOverruns) {
    const auto bytes = hexBytes("06 08 2B 06 01");
    int32_t remaining = static_cast<int32_t>(bytes.size());
    uint8_t tag = 0;
    uint32_t dest[8];
    uint32_t count = 8;
    const uint8_t* p = bytes.data();
    EXPECT_EQ(failureText(decodeObjectId(p, &remaining, &tag, dest, &count)),
              "Length of ObjId[8] goes past end of packet.");
    EXPECT_EQ(p, bytes.data());
}

TEST(BerNull, WritesEmptyContentForNullAndExceptions) {
    for (uint8_t tag : {kTagNull, kTagNoSuchObject, kTagNoSuchInstance, kTagEndOfMibView}) {
        char expected[8];
        std::snprintf(expected, sizeof expected, "%02X 00", tag);
        EXPECT_EQ(encoded([&](uint8_t*& p, int32_t* r) { return encodeNull(p, r, tag); }),
                  expected);
    }
}

TEST(BerBitString, KeepsTheUnusedBitsOctet) {
    const uint8_t bits[] = {0x03, 0xA8};
    EXPECT_EQ(
        encoded([&](uint8_t*& p, int32_t* r) { return encodeBitString(p, r, 0x03, bits, 2); }),
        "03 02 03 A8");
    const auto bytes = hexBytes("03 02 03 A8");
    int32_t remaining = 4;
    uint8_t tag = 0;
    uint8_t dest[4];
    uint32_t size = sizeof dest;
    const uint8_t* p = bytes.data();
    ASSERT_TRUE(decodeBitString(p, &remaining, &tag, dest, &size).ok());
    EXPECT_EQ(p, bytes.data() + 4);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(hexText(dest, 2), "03 A8");
}

TEST(BerBitString, FailuresLeaveNoText) {
    for (const char* hex : {"03 02 08 00", "03 00", "03 05 00 01 02 03 04", "03 04 00 01"}) {
        const auto bytes = hexBytes(hex);
        int32_t remaining = static_cast<int32_t>(bytes.size());
        uint8_t tag = 0;
        uint8_t dest[4];
        uint32_t size = sizeof dest;
        const uint8_t* p = bytes.data();
        EXPECT_EQ(failureText(decodeBitString(p, &remaining, &tag, dest, &size)), "") << hex;
        EXPECT_EQ(p, bytes.data());
    }
    uint8_t buffer[8];
    int32_t remaining = sizeof buffer;
    uint8_t* p = buffer;
    const uint8_t badUnused[] = {0x08, 0x00};
    EXPECT_EQ(failureText(encodeBitString(p, &remaining, 0x03, badUnused, 2)), "");
    EXPECT_EQ(failureText(encodeBitString(p, &remaining, 0x03, badUnused, 0)), "");
    const uint8_t good[] = {0x00, 0x01, 0x02};
    remaining = 4;
    EXPECT_EQ(failureText(encodeBitString(p, &remaining, 0x03, good, 3)), "");
    EXPECT_EQ(p, buffer);
    EXPECT_EQ(remaining, 4);
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
            const uint8_t* c[7] = {bytes, bytes, bytes, bytes, bytes, bytes, bytes};
            const bool complete = n == whole.size();
            const bool results[] = {
                decodeInteger(c[0], &r[0], &tag, &number, 4).ok(),
                decodeUnsigned(c[1], &r[1], &tag, &unsignedNumber, 4).ok(),
                decodeCounter64(c[2], &r[2], &tag, &high, &low, 8).ok(),
                decodeOctetString(c[3], &r[3], &tag, buffer, &size).ok(),
                decodeObjectId(c[4], &r[4], &tag, dest, &count).ok(),
                decodeBitString(c[5], &r[5], &tag, buffer, &(size = sizeof buffer)).ok(),
                decodeHeader(c[6], &r[6], &tag).ok(),
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
