#include "snmp/message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
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

ObjectId oid(const char* text) {
    ObjectId id;
    SnmpStrToOid(text, &id);
    return id;
}

Octets octets(const std::string& text) {
    return Octets{std::vector<uint8_t>(text.begin(), text.end())};
}

SyntaxValue number(uint16_t syntax, uint32_t value) {
    SyntaxValue v;
    v.syntax = syntax;
    v.number = value;
    return v;
}

SyntaxValue bytesValue(uint16_t syntax, const std::string& text) {
    SyntaxValue v;
    v.syntax = syntax;
    v.octets = octets(text);
    return v;
}

SyntaxValue oidValue(const char* text) {
    SyntaxValue v;
    v.syntax = kTagObjectId;
    v.oid = oid(text);
    return v;
}

SyntaxValue counter64(uint64_t value) {
    SyntaxValue v;
    v.syntax = kTagCounter64;
    v.counter64 = value;
    return v;
}

SyntaxValue empty(uint16_t syntax) {
    SyntaxValue v;
    v.syntax = syntax;
    return v;
}

// Bindings of every syntax the encoder knows.
std::unique_ptr<VarBindList> everySyntax() {
    auto list = SnmpCreateVbl();
    const SyntaxValue values[] = {
        number(kTagInteger, static_cast<uint32_t>(-42)),
        bytesValue(kTagOctetString, "Linux box"),
        oidValue("1.3.6.1.4.1.8072.3.2.10"),
        bytesValue(kTagIpAddress, std::string("\xC0\xA8\x01\x02", 4)),
        number(kTagCounter, 0xFFFFFFF0u),
        number(kTagGauge, 100000),
        number(kTagTimeTicks, 123456),
        bytesValue(kTagOpaque, std::string("\x9f\x78\x04\x3f\x80\x00\x00", 7)),
        counter64(0x8000000000000001ull),
        number(kTagUInteger32, 7),
        bytesValue(kTagBitString, std::string("\x04\xF0", 2)),
        bytesValue(kTagNsapAddress, std::string("\x47\x00\x05", 3)),
        empty(kTagNull),
        empty(kTagNoSuchObject),
        empty(kTagNoSuchInstance),
        empty(kTagEndOfMibView),
    };
    uint32_t leaf = 1;
    for (const SyntaxValue& value : values) {
        const ObjectId name = oid(("1.3.6.1.4.1.99999.1." + std::to_string(leaf++) + ".0").c_str());
        EXPECT_TRUE(SnmpAddVb(list.get(), &name, &value));
    }
    return list;
}

std::vector<uint8_t> encode(const Pdu& pdu) {
    std::vector<uint8_t> out(kMaxMessageSize);
    uint32_t size = kMaxMessageSize;
    const Result encoded = SnmpEncodeMsg(&pdu, out.data(), &size);
    EXPECT_TRUE(encoded.ok()) << encoded.text();
    out.resize(size);
    return out;
}

void expectSameValue(const SyntaxValue& a, const SyntaxValue& b) {
    EXPECT_EQ(a.syntax, b.syntax);
    EXPECT_EQ(a.number, b.number);
    EXPECT_EQ(a.counter64, b.counter64);
    EXPECT_EQ(a.octets, b.octets);
    EXPECT_EQ(a.oid, b.oid);
}

void expectSamePdu(const Pdu& a, const Pdu& b) {
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.community, b.community);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.requestId, b.requestId);
    EXPECT_EQ(a.errorStatus, b.errorStatus);
    EXPECT_EQ(a.errorIndex, b.errorIndex);
    EXPECT_EQ(a.enterprise, b.enterprise);
    EXPECT_EQ(0, std::memcmp(a.agentAddr, b.agentAddr, 4));
    EXPECT_EQ(a.genericTrap, b.genericTrap);
    EXPECT_EQ(a.specificTrap, b.specificTrap);
    EXPECT_EQ(a.timeStamp, b.timeStamp);
    ASSERT_EQ(a.varBinds.count(), b.varBinds.count());
    for (uint32_t i = 0; i < a.varBinds.count(); ++i) {
        EXPECT_EQ(a.varBinds.items[i].name, b.varBinds.items[i].name) << "binding " << i;
        expectSameValue(a.varBinds.items[i].value, b.varBinds.items[i].value);
    }
}

// The GetRequest a manager sends for sysDescr.0 with community "public".
const char kGetSysDescr[] =
    "30 26 02 01 00 04 06 70 75 62 6C 69 63 A0 19 02 01 01 02 01 00 02 01 00"
    " 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00";

TEST(MessageDecoding, ReadsAGetRequest) {
    const auto bytes = hexBytes(kGetSysDescr);
    Pdu pdu;
    ASSERT_EQ(failureText(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu)),
              "succeeded");
    EXPECT_EQ(pdu.version, 0u);
    EXPECT_EQ(pdu.community, octets("public"));
    EXPECT_EQ(pdu.type, kPduGetRequest);
    EXPECT_EQ(pdu.requestId, 1);
    ASSERT_EQ(pdu.varBinds.count(), 1u);
    EXPECT_EQ(pdu.varBinds.items[0].name, oid("1.3.6.1.2.1.1.1.0"));
    EXPECT_EQ(pdu.varBinds.items[0].value.syntax, kTagNull);
}

TEST(MessageDecoding, ReplacesWhatAReusedRecordHeld) {
    Pdu pdu;
    pdu.enterprise = oid("1.3.6");
    pdu.timeStamp = 5;
    const ObjectId name = oid("1.2");
    SnmpAddVb(&pdu.varBinds, &name, nullptr);
    const auto bytes = hexBytes(kGetSysDescr);
    ASSERT_TRUE(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu));
    EXPECT_EQ(pdu.varBinds.count(), 1u);
    EXPECT_EQ(pdu.enterprise.count(), 0u);
    EXPECT_EQ(pdu.timeStamp, 0u);
}

TEST(MessageDecoding, NamesTheFirstBrokenStructure) {
    struct Case {
        const char* hex;
        const char* text;
    };
    const Case cases[] = {
        {"04 03 61 62 63", "Invalid Header Tag[4]"},
        {"30 0A 02 01 00 04 01 61", "Length of Header[10] goes past end of packet."},
        {"30 13 02 01 00 04 01 61 A0 0C 02 01 01 02 01 00 02 01 00 30 00",
         "Length of Header[12] goes past end of packet."},
        {"30 08 02 01 00 04 01 61 A0 00", "Length of Integer[0] goes past end of packet."},
        {"30 15 02 01 00 04 01 61 A0 0D 02 01 01 02 01 00 02 01 00 30 02 31 00",
         "Varbind Tag incorrect [31].Not Sequence/Constructor"},
        {"30 19 02 01 00 04 01 61 A0 11 02 01 01 02 01 00 02 01 00 30 06 30 04 04 00 05 00",
         "Varbind ObjId Tag incorrect [04]."},
        {"30 19 02 01 00 04 01 61 A0 11 02 01 01 02 01 00 02 01 00 30 06 30 04 06 00 1F 00",
         "Header Tag cannot be handled[1f]."},
    };
    for (const Case& c : cases) {
        const auto bytes = hexBytes(c.hex);
        Pdu pdu;
        EXPECT_EQ(
            failureText(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu)),
            c.text)
            << c.hex;
        EXPECT_EQ(pdu.varBinds.count(), 0u);
        EXPECT_EQ(pdu.community.length(), 0u);
    }
}

TEST(MessageDecoding, RefusesAListThatIsNotASequence) {
    const auto bytes = hexBytes("30 13 02 01 00 04 01 61 A0 0B 02 01 01 02 01 00 02 01 00 31 00");
    Pdu pdu;
    EXPECT_EQ(failureText(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu)),
              "Varbind List Tag incorrect [31].Not Sequence/Constructor");
}

TEST(MessageDecoding, KeepsUnknownValueTagsAndGoesOn) {
    // A BOOLEAN value, then an INTEGER binding.
    const auto bytes = hexBytes(
        "30 22 02 01 01 04 01 61 A3 1A 02 01 07 02 01 00 02 01 00 30 0F"
        " 30 06 06 01 2B 01 01 FF 30 05 06 00 02 01 05");
    Pdu pdu;
    ASSERT_EQ(failureText(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu)),
              "succeeded");
    ASSERT_EQ(pdu.varBinds.count(), 2u);
    EXPECT_EQ(pdu.varBinds.items[0].value.syntax, 0);
    EXPECT_EQ(pdu.varBinds.items[1].value.syntax, kTagInteger);
    EXPECT_EQ(pdu.varBinds.items[1].value.integer(), 5);
    EXPECT_EQ(pdu.varBinds.items[1].name, oid("0"));
}

TEST(MessageDecoding, KeepsTheSyntaxOfAValueItsDecoderRefuses) {
    // An INTEGER of five octets and an OID value with an incomplete last sub-identifier.
    const auto bytes = hexBytes(
        "30 27 02 01 01 04 01 61 A3 1F 02 01 07 02 01 00 02 01 00 30 14"
        " 30 0A 06 01 2B 02 05 01 02 03 04 05 30 06 06 01 2B 06 01 81");
    Pdu pdu;
    ASSERT_EQ(failureText(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu)),
              "succeeded");
    ASSERT_EQ(pdu.varBinds.count(), 2u);
    EXPECT_EQ(pdu.varBinds.items[0].value.syntax, kTagInteger);
    EXPECT_EQ(pdu.varBinds.items[0].value.number, 0u);
    EXPECT_EQ(pdu.varBinds.items[1].value.syntax, kTagObjectId);
    EXPECT_EQ(pdu.varBinds.items[1].value.oid.count(), 0u);
    EXPECT_TRUE(pdu.varBinds.items[0].valueUndecoded);
    EXPECT_TRUE(pdu.varBinds.items[1].valueUndecoded);
}

TEST(MessageDecoding, MarksValuesThatAreNoValidEncodingOfTheirType) {
    // One SetRequest binding 1.3 = the value element given.
    auto decodeValueOf = [](const std::string& valueHex, Pdu& pdu) {
        const auto value = hexBytes(valueHex);
        const auto size = static_cast<uint8_t>(value.size());
        std::vector<uint8_t> bytes = {0x30, static_cast<uint8_t>(24 + size), 0x02, 0x01, 0x01,
                                      0x04, 0x01, 0x61, 0xA3, static_cast<uint8_t>(16 + size),
                                      0x02, 0x01, 0x07, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00,
                                      0x30, static_cast<uint8_t>(5 + size),
                                      0x30, static_cast<uint8_t>(3 + size), 0x06, 0x01, 0x2B};
        for (uint8_t octet : value) {
            bytes.push_back(octet);
        }
        return static_cast<bool>(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                               &pdu)) &&
               pdu.varBinds.count() == 1;
    };
    for (const char* sound : {"02 01 80", "02 02 00 80", "02 02 FF 7F", "02 04 7F FF FF FF",
                              "41 05 00 80 00 00 00", "42 01 00", "46 09 00 80 00 00 00 00 00 00 00",
                              "06 03 2B 81 00", "03 01 00", "05 00", "04 00"}) {
        Pdu pdu;
        ASSERT_TRUE(decodeValueOf(sound, pdu)) << sound;
        EXPECT_FALSE(pdu.varBinds.items[0].valueUndecoded) << sound;
    }
    for (const char* unsound :
         {"02 00", "02 02 00 05", "02 02 FF 80", "02 05 00 00 00 00 05", "41 00", "41 02 00 05",
          "42 01 80", "43 04 FF FF FF FF", "46 00", "46 01 FF", "06 00", "06 03 2B 80 01",
          "03 01 08"}) {
        Pdu pdu;
        ASSERT_TRUE(decodeValueOf(unsound, pdu)) << unsound;
        EXPECT_TRUE(pdu.varBinds.items[0].valueUndecoded) << unsound;
    }
}

TEST(MessageDecoding, RefusesAnOctetStringValueBeyond1024Bytes) {
    std::string text;
    for (uint32_t length : {1024u, 1025u}) {
        auto list = SnmpCreateVbl();
        const ObjectId name = oid("1.3.6.1.2.1.1.1.0");
        const SyntaxValue value = bytesValue(kTagOctetString, std::string(length, 'x'));
        SnmpAddVb(list.get(), &name, &value);
        const Octets community = octets("public");
        auto pdu = SnmpCreateBPdu(1, &community, kPduSetRequest, 9, 0, 0, std::move(list));
        const std::vector<uint8_t> bytes = encode(*pdu);
        Pdu decoded;
        const Result result =
            decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &decoded);
        EXPECT_EQ(result.ok(), length == 1024);
        text = result.text();
    }
    EXPECT_EQ(text, "Length of Octet String[1025] larger than buffer.");
}

TEST(MessageDecoding, RefusesATrapWithAFiveByteAgentAddress) {
    const auto bytes = hexBytes(
        "30 1F 02 01 00 04 01 61 A4 17 06 01 2B 40 05 0A 00 00 01 02 02 01 06 02 01 01"
        " 43 01 05 30 82 00 00");
    Pdu pdu;
    EXPECT_EQ(failureText(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu)),
              "Length of Octet String[5] larger than buffer.");
}

TEST(MessageDecoding, RefusesNamesLongerThan128Subidentifiers) {
    for (uint32_t count : {128u, 129u}) {
        ObjectId name;
        name.ids.assign(count, 1);
        name.ids[0] = 1;
        name.ids[1] = 3;
        auto list = SnmpCreateVbl();
        SnmpAddVb(list.get(), &name, nullptr);
        auto pdu = SnmpCreateBPdu(0, nullptr, kPduGetRequest, 1, 0, 0, std::move(list));
        const std::vector<uint8_t> bytes = encode(*pdu);
        Pdu decoded;
        EXPECT_EQ(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &decoded).ok(),
                  count == 128);
    }
}

TEST(MessageDecoding, SurvivesTruncationAtEveryByte) {
    auto list = everySyntax();
    const Octets community = octets("private");
    auto pdu = SnmpCreateBPdu(1, &community, kPduResponse, 77, 0, 0, std::move(list));
    const std::vector<uint8_t> whole = encode(*pdu);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        auto exact = std::make_unique<uint8_t[]>(n == 0 ? 1 : n);
        std::memcpy(exact.get(), whole.data(), n);
        Pdu decoded;
        EXPECT_FALSE(decodeMessage(exact.get(), static_cast<uint32_t>(n), &decoded)) << n;
    }
    Pdu decoded;
    EXPECT_TRUE(decodeMessage(whole.data(), static_cast<uint32_t>(whole.size()), &decoded));
}

TEST(MessageDecoding, IgnoresBytesBehindTheMessage) {
    auto bytes = hexBytes(kGetSysDescr);
    bytes.push_back(0xFF);
    bytes.push_back(0x00);
    Pdu pdu;
    EXPECT_TRUE(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu));
}

TEST(MessageEncoding, EncodesTheResponseByteForByte) {
    auto list = SnmpCreateVbl();
    const ObjectId name = oid("1.3.6.1.2.1.1.1.0");
    const SyntaxValue value = bytesValue(kTagOctetString, "abc");
    ASSERT_TRUE(SnmpAddVb(list.get(), &name, &value));
    const Octets community = octets("public");
    auto pdu = SnmpCreateBPdu(0, &community, kPduResponse, 1, 0, 0, std::move(list));
    ASSERT_NE(pdu, nullptr);
    const std::vector<uint8_t> bytes = encode(*pdu);
    EXPECT_EQ(hexText(bytes),
              "30 82 00 2D 02 01 00 04 06 70 75 62 6C 69 63 A2 20 02 01 01 02 01 00 02 01 00"
              " 30 82 00 13 30 82 00 0F 06 08 2B 06 01 02 01 01 01 00 04 03 61 62 63");
    EXPECT_EQ(bytes.size(), 49u);
}

TEST(MessageEncoding, WritesFixedSequenceHeadersAndTheShortestPduHeader) {
    for (uint32_t pduContent : {127u, 128u, 200u, 255u, 256u, 300u}) {
        // PDU content: 9 octets of numbers, 4 of list header, then one binding of 4 + 10
        // octets plus the value's TLV.
        const uint32_t fixed = 9 + 4 + 4 + 10;
        const uint32_t valueTlv = pduContent - fixed;
        const uint32_t valueLength =
            valueTlv - (valueTlv - 2 < 128 ? 2 : (valueTlv - 3 < 256 ? 3 : 4));
        auto list = SnmpCreateVbl();
        const ObjectId name = oid("1.3.6.1.2.1.1.1.0");
        const SyntaxValue value = bytesValue(kTagOctetString, std::string(valueLength, 'v'));
        SnmpAddVb(list.get(), &name, &value);
        const Octets community = octets("public");
        auto pdu = SnmpCreateBPdu(1, &community, kPduResponse, 1, 0, 0, std::move(list));
        const std::vector<uint8_t> bytes = encode(*pdu);

        const std::size_t pduAt = 4 + 3 + 8;
        const std::string header = hexText(bytes.data() + pduAt, 4);
        const std::size_t headerSize = pduContent < 128 ? 2 : (pduContent < 256 ? 3 : 4);
        ASSERT_EQ(bytes.size(), pduAt + headerSize + pduContent) << pduContent;
        if (pduContent == 200) {
            EXPECT_EQ(header.substr(0, 8), "A2 81 C8");
        }
        if (pduContent == 300) {
            EXPECT_EQ(header.substr(0, 11), "A2 82 01 2C");
        }
        EXPECT_EQ(bytes[0], 0x30);
        EXPECT_EQ(bytes[1], 0x82);
        EXPECT_EQ((bytes[2] << 8) | bytes[3], static_cast<int>(bytes.size() - 4));
        const std::size_t listAt = pduAt + headerSize + 9;
        EXPECT_EQ(hexText(bytes.data() + listAt, 2), "30 82");
        EXPECT_EQ(hexText(bytes.data() + listAt + 4, 2), "30 82");
        Pdu decoded;
        ASSERT_TRUE(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &decoded));
        expectSamePdu(*pdu, decoded);
    }
}

TEST(MessageEncoding, RoundTripsEveryPduShapeAndSyntax) {
    const Octets community = octets("public");
    std::vector<std::unique_ptr<Pdu>> pdus;
    pdus.push_back(SnmpCreateBPdu(0, &community, kPduResponse, 0x7FFFFFFF, 5, 3, everySyntax()));
    pdus.push_back(SnmpCreateBPdu(1, &community, kPduGetNextRequest, -1, 0, 0, everySyntax()));
    pdus.push_back(SnmpCreateBPdu(1, &community, kPduGetBulkRequest, 12, 1, 25, everySyntax()));
    pdus.push_back(SnmpCreateBPdu(1, &community, kPduSnmpV2Trap, 3, 0, 0, everySyntax()));
    pdus.push_back(SnmpCreateBPdu(1, &community, kPduInformRequest, 4, 0, 0, everySyntax()));
    const ObjectId enterprise = oid("1.3.6.1.4.1.2.3.4");
    const uint8_t address[4] = {10, 1, 2, 3};
    pdus.push_back(
        SnmpCreateTPdu(0, &community, &enterprise, address, 6, 17, 4000000000u, everySyntax()));
    pdus.push_back(SnmpCreateTPdu(0, &community, &enterprise, address, 0, 0, 0, nullptr));
    for (const auto& pdu : pdus) {
        ASSERT_NE(pdu, nullptr);
        const std::vector<uint8_t> bytes = encode(*pdu);
        Pdu decoded;
        ASSERT_EQ(
            failureText(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &decoded)),
            "succeeded");
        expectSamePdu(*pdu, decoded);
    }
}

TEST(MessageEncoding, FillsExactly1500BytesAndFailsBeyond) {
    const Octets community = octets("public");
    const ObjectId name = oid("1.3.6.1.2.1.1.1.0");
    auto build = [&](uint32_t valueLength) {
        auto list = SnmpCreateVbl();
        const SyntaxValue value = bytesValue(kTagOctetString, std::string(valueLength, 'z'));
        SnmpAddVb(list.get(), &name, &value);
        return SnmpCreateBPdu(1, &community, kPduResponse, 1, 0, 0, std::move(list));
    };
    // 4 + 3 + 8 + 4 (PDU header) + 9 + 4 + 4 + 10 + 4 (value header) = 50 octets around the value.
    std::vector<uint8_t> out(kMaxMessageSize + 8, 0xEE);
    uint32_t size = kMaxMessageSize;
    ASSERT_EQ(failureText(SnmpEncodeMsg(build(1450).get(), out.data(), &size)), "succeeded");
    EXPECT_EQ(size, 1500u);
    Pdu decoded;
    EXPECT_FALSE(decodeMessage(out.data(), size, &decoded)) << "the value exceeds 1,024 bytes";

    size = kMaxMessageSize;
    EXPECT_EQ(failureText(SnmpEncodeMsg(build(1453).get(), out.data(), &size)),
              "Octet String Encoding goes past end of packet.");
    EXPECT_EQ(size, kMaxMessageSize);

    // The contents fit, but not the two octets the PDU header grows by at the end.
    for (uint32_t valueLength : {1451u, 1452u}) {
        size = kMaxMessageSize;
        EXPECT_EQ(failureText(SnmpEncodeMsg(build(valueLength).get(), out.data(), &size)),
                  "Length Encoding goes past end of packet.");
    }
    size = kMaxMessageSize - 1;
    EXPECT_EQ(failureText(SnmpEncodeMsg(build(1450).get(), out.data(), &size)),
              "Length Encoding goes past end of packet.");
    EXPECT_EQ(out[kMaxMessageSize], 0xEE);
}

// encodedMessageSize is what decides an answer is too big; it must agree with the encoder
// across every length form of the headers, and refuse what the encoder cannot encode.
TEST(MessageEncoding, MessageSizeMatchesTheEncodedMessage) {
    std::vector<uint8_t> out(kMaxDatagramSize);
    const ObjectId name = oid("1.3.6.1.2.1.1.1.0");
    for (uint32_t communityLength : {0u, 6u, 127u, 128u}) {
        for (int32_t requestId : {0, 127, -129, 2147483647}) {
            for (uint32_t valueLength : {0u, 80u, 200u, 1000u}) {
                for (uint32_t count : {0u, 1u, 3u, 60u}) {
                    auto list = SnmpCreateVbl();
                    const SyntaxValue value =
                        bytesValue(kTagOctetString, std::string(valueLength, 'v'));
                    for (uint32_t i = 0; i < count; ++i) {
                        SnmpAddVb(list.get(), &name, &value);
                    }
                    const Octets community = octets(std::string(communityLength, 'c'));
                    auto pdu = SnmpCreateBPdu(1, &community, kPduResponse, requestId, 1, 300,
                                              std::move(list));
                    uint32_t size = kMaxDatagramSize;
                    ASSERT_TRUE(SnmpEncodeMsg(pdu.get(), out.data(), &size));
                    EXPECT_EQ(encodedMessageSize(1, community, requestId, 1, 300, pdu->varBinds),
                              size)
                        << communityLength << " " << requestId << " " << valueLength << " "
                        << count;
                }
            }
        }
    }
    auto list = SnmpCreateVbl();
    SyntaxValue unknown;
    unknown.syntax = 0x01;
    SnmpAddVb(list.get(), &name, &unknown);
    EXPECT_EQ(encodedMessageSize(1, octets("public"), 1, 0, 0, *list), 0u);
}

TEST(MessageEncoding, DecodesAFull1500ByteRequest) {
    const Octets community = octets("public");
    auto list = SnmpCreateVbl();
    // Bindings of 4 + 10 + 2 + 100 octets until the message nearly fills 1,500 bytes.
    const SyntaxValue value = bytesValue(kTagOctetString, std::string(100, 'q'));
    const ObjectId name = oid("1.3.6.1.2.1.1.1.0");
    for (int i = 0; i < 12; ++i) {
        SnmpAddVb(list.get(), &name, &value);
    }
    const SyntaxValue last = bytesValue(kTagOctetString, std::string(60, 'q'));
    SnmpAddVb(list.get(), &name, &last);
    auto pdu = SnmpCreateBPdu(1, &community, kPduSetRequest, 1, 0, 0, std::move(list));
    const std::vector<uint8_t> bytes = encode(*pdu);
    EXPECT_EQ(bytes.size(), 1500u);
    Pdu decoded;
    ASSERT_TRUE(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &decoded));
    EXPECT_EQ(decoded.varBinds.count(), 13u);
}

TEST(MessageEncoding, UnknownSyntaxIsRefusedByName) {
    auto list = SnmpCreateVbl();
    const SyntaxValue unknown = empty(0);
    SnmpAddVb(list.get(), nullptr, &unknown);
    auto pdu = SnmpCreateBPdu(0, nullptr, kPduResponse, 1, 0, 0, std::move(list));
    uint8_t out[kMaxMessageSize];
    uint32_t size = sizeof out;
    EXPECT_EQ(failureText(SnmpEncodeMsg(pdu.get(), out, &size)),
              "Varbind Syntax cannot be encoded [00].");
}

// The bit string encoder fails without a text; the binding says which of its refusals it was.
TEST(MessageEncoding, BitStringRefusalsAreNamed) {
    std::vector<uint8_t> out(80000);
    auto failure = [&](const std::string& bits, int32_t room) {
        uint8_t* cursor = out.data();
        int32_t remaining = room;
        const Result result =
            encodeVarBind(cursor, &remaining, oid("1.3"), bytesValue(kTagBitString, bits));
        EXPECT_EQ(cursor, out.data());
        EXPECT_EQ(remaining, room);
        return failureText(result);
    };
    EXPECT_EQ(failure(std::string("\x08\x00", 2), 64),
              "Unused Bits of Bit String missing or larger than 7.");
    EXPECT_EQ(failure("", 64), "Unused Bits of Bit String missing or larger than 7.");
    // The name takes 7 octets and the value's header 2; its 3 octets of content do not fit.
    EXPECT_EQ(failure(std::string("\x00\x01\x02", 3), 10),
              "Bit String Encoding goes past end of packet.");
    EXPECT_EQ(failure(std::string(70000, '\0'), 80000), "Length [70000] too large to encode.");
}

TEST(MessageCoding, MissingRecordOrBufferIsNamed) {
    const auto bytes = hexBytes(kGetSysDescr);
    EXPECT_EQ(
        failureText(decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr)),
        "No PDU record to decode the message into.");
    uint8_t out[kMaxMessageSize];
    uint32_t size = sizeof out;
    EXPECT_EQ(failureText(SnmpEncodeMsg(nullptr, out, &size)),
              "No PDU or Output Buffer given to encode the message.");
}

TEST(MessageEncoding, VarBindNeedsRoomForItsHeader) {
    uint8_t out[8];
    int32_t remaining = 3;
    uint8_t* cursor = out;
    EXPECT_EQ(failureText(encodeVarBind(cursor, &remaining, oid("1.3"), empty(kTagNull))),
              "Output Buffer too small.");
    EXPECT_EQ(cursor, out);
    EXPECT_EQ(remaining, 3);
}

// encodedVarBindSize computes arithmetically what encoding into a 1,500-byte scratch buffer
// would use; any difference would misjudge what fits in a response.
TEST(MessageEncoding, VarBindSizeMatchesTheEncodedBinding) {
    std::mt19937 random(20240607);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    auto anyNumber = [&]() {
        const uint32_t shift = pick(32);
        return static_cast<uint32_t>(random()) >> shift;
    };
    const uint16_t syntaxes[] = {0x02, 0x03, 0x04, 0x05, 0x06, 0x40, 0x41, 0x42, 0x43, 0x44,
                                 0x45, 0x46, 0x47, 0x80, 0x81, 0x82, 0x00, 0x01, 0x30};
    std::vector<uint8_t> scratch(kMaxMessageSize);
    for (int round = 0; round < 20000; ++round) {
        ObjectId name;
        const uint32_t count = pick(6) == 0 ? pick(300) : pick(16);
        for (uint32_t i = 0; i < count; ++i) {
            name.ids.push_back(i == 0 ? pick(4) : (i == 1 ? pick(60) : anyNumber()));
        }
        SyntaxValue value;
        value.syntax = syntaxes[pick(sizeof syntaxes / sizeof syntaxes[0])];
        value.number = anyNumber();
        value.counter64 = (static_cast<uint64_t>(anyNumber()) << 32) | anyNumber();
        value.octets.bytes.assign(pick(4) == 0 ? pick(1600) : pick(20), 0x05);
        if (!value.octets.bytes.empty()) {
            value.octets.bytes[0] = static_cast<uint8_t>(pick(10));
        }
        for (uint32_t i = 0, n = pick(8) == 0 ? pick(400) : pick(12); i < n; ++i) {
            value.oid.ids.push_back(i == 0 ? pick(4) : (i == 1 ? pick(60) : anyNumber()));
        }
        int32_t remaining = kMaxMessageSize;
        uint8_t* end = scratch.data();
        const bool encoded = encodeVarBind(end, &remaining, name, value).ok();
        const uint32_t expected = encoded ? static_cast<uint32_t>(end - scratch.data()) : 0;
        ASSERT_EQ(encodedVarBindSize(name, value), expected)
            << "syntax " << value.syntax << ", name count " << count;
    }
}

TEST(MessageBuilding, AddsCopiesAndDefaults) {
    auto list = SnmpCreateVbl();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(lastVarBind(list.get()), nullptr);
    ObjectId name = oid("1.3.6.1");
    SyntaxValue value = bytesValue(kTagOctetString, "abc");
    ASSERT_TRUE(SnmpAddVb(list.get(), &name, &value));
    name.ids[0] = 9;
    value.octets.bytes[0] = 'z';
    ASSERT_TRUE(SnmpAddVb(list.get(), nullptr, nullptr));
    ASSERT_EQ(list->count(), 2u);
    EXPECT_EQ(list->items[0].name, oid("1.3.6.1"));
    EXPECT_EQ(list->items[0].value.octets, octets("abc"));
    VarBind* last = lastVarBind(list.get());
    ASSERT_EQ(last, &list->items[1]);
    EXPECT_EQ(last->name.count(), 0u);
    EXPECT_EQ(last->value.syntax, kTagNull);
    EXPECT_FALSE(SnmpAddVb(nullptr, &name, &value));
}

TEST(MessageBuilding, PdusTakeTheListAndCopyTheCommunity) {
    auto list = SnmpCreateVbl();
    const ObjectId name = oid("1.3");
    SnmpAddVb(list.get(), &name, nullptr);
    auto community = SnmpCreateOctets(6, reinterpret_cast<const uint8_t*>("public"));
    ASSERT_NE(community, nullptr);
    auto pdu = SnmpCreateBPdu(1, community.get(), kPduGetNextRequest, 5, 0, 0, std::move(list));
    community->bytes[0] = 'P';
    ASSERT_NE(pdu, nullptr);
    EXPECT_EQ(pdu->community, octets("public"));
    EXPECT_EQ(pdu->varBinds.count(), 1u);
    EXPECT_EQ(pdu->type, kPduGetNextRequest);

    const ObjectId enterprise = oid("1.3.6.1.4.1.9");
    const uint8_t address[4] = {127, 0, 0, 1};
    auto trap = SnmpCreateTPdu(0, community.get(), &enterprise, address, 2, 0, 99, nullptr);
    ASSERT_NE(trap, nullptr);
    EXPECT_EQ(trap->type, kPduTrap);
    EXPECT_EQ(trap->enterprise, enterprise);
    EXPECT_EQ(trap->agentAddr[0], 127);
    EXPECT_EQ(trap->varBinds.count(), 0u);

    clearPdu(pdu.get());
    EXPECT_EQ(pdu->varBinds.count(), 0u);
    EXPECT_EQ(pdu->community.length(), 0u);
    freePdu(std::move(pdu));
    EXPECT_EQ(SnmpCreateOctets(0, nullptr)->length(), 0u);
}

TEST(ObjectIdText, SplitsAtEveryDot) {
    ObjectId id;
    EXPECT_EQ(SnmpStrToOid("1.3.6", &id), 3u);
    EXPECT_EQ(id.ids, (std::vector<uint32_t>{1, 3, 6}));
    EXPECT_EQ(SnmpStrToOid("", &id), 1u);
    EXPECT_EQ(id.ids, (std::vector<uint32_t>{0}));
    EXPECT_EQ(SnmpStrToOid("1..3", &id), 3u);
    EXPECT_EQ(id.ids, (std::vector<uint32_t>{1, 0, 3}));
    EXPECT_EQ(SnmpStrToOid(" 7.\t-1.+5.x9.12ab.4294967296", &id), 6u);
    EXPECT_EQ(id.ids, (std::vector<uint32_t>{7, 0xFFFFFFFFu, 5, 0, 12, 0}));
    EXPECT_EQ(SnmpStrToOid(".1.", &id), 3u);
    EXPECT_EQ(id.ids, (std::vector<uint32_t>{0, 1, 0}));
}

TEST(ObjectIdText, RefusesMoreThan128Pieces) {
    std::string text = "1";
    for (int i = 1; i < 128; ++i) {
        text += ".1";
    }
    ObjectId id;
    EXPECT_EQ(SnmpStrToOid(text.c_str(), &id), 128u);
    text += ".1";
    EXPECT_EQ(SnmpStrToOid(text.c_str(), &id), 0u);
    EXPECT_EQ(id.count(), 0u);
    EXPECT_EQ(SnmpStrToOid(std::string(600, '.').c_str(), &id), 0u);
}

TEST(ObjectIdText, WritesDottedDecimal) {
    char text[64];
    EXPECT_EQ(oidToText(oid("1.3.6.1.4294967295.0"), sizeof text, text), 21u);
    EXPECT_STREQ(text, "1.3.6.1.4294967295.0");
    EXPECT_EQ(oidToText(ObjectId{}, sizeof text, text), 1u);
    EXPECT_STREQ(text, "");
}

TEST(ObjectIdText, NeverWritesBeyondTheCapacity) {
    const ObjectId ids[] = {oid("1.3.6.1.4294967295.4294967295"), oid("1.3.6"), oid("7"),
                            oid("4294967295.4294967295.4294967295")};
    for (const ObjectId& id : ids) {
        for (uint32_t capacity = 0; capacity < 48; ++capacity) {
            std::vector<char> text(capacity + 16, '#');
            const uint32_t length = oidToText(id, capacity, text.data());
            EXPECT_LE(length, capacity);
            for (std::size_t i = capacity; i < text.size(); ++i) {
                ASSERT_EQ(text[i], '#') << "capacity " << capacity;
            }
            if (length > 0) {
                EXPECT_EQ(std::strlen(text.data()) + 1, length);
            }
        }
    }
    // Room for the text so far plus nine is asked before each sub-identifier.
    char text[16];
    EXPECT_EQ(oidToText(oid("1.3.6"), 12, text), 6u);
    EXPECT_EQ(oidToText(oid("1.3.6"), 11, text), 0u);
}

TEST(ObjectIdOrder, ComparesWholeIdentifiersAndPrefixes) {
    int result = 9;
    EXPECT_TRUE(compareOid(oid("1.3.6"), oid("1.3.6.1"), 0, &result));
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(compareOid(oid("1.3.6"), oid("1.3.6.1"), 3, &result));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(compareOid(oid("1.3.6"), oid("1.3.6.1"), 4, &result));
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(compareOid(oid("1.3.7"), oid("1.3.6.1"), 0, &result));
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(compareOid(oid("1.3.6.2"), oid("1.3.6.1"), 3, &result));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(compareOid(oid("1.3.6.1"), oid("1.3.6.1"), 0, &result));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(compareOid(ObjectId{}, oid("0"), 0, &result));
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(compareOid(oid("1.3.6.1"), oid("1.3"), 0, nullptr));

    EXPECT_EQ(compareOid(oid("1.3.6.1.2"), oid("1.3.6.1.10")), -1);
    EXPECT_EQ(compareOid(oid("1.3.6.1.4294967295"), oid("1.3.6.1.2")), 1);
    EXPECT_TRUE(isOidPrefix(oid("1.3.6"), oid("1.3.6.1")));
    EXPECT_TRUE(isOidPrefix(oid("1.3.6"), oid("1.3.6")));
    EXPECT_TRUE(isOidPrefix(ObjectId{}, oid("1.3")));
    EXPECT_FALSE(isOidPrefix(oid("1.3.6.1"), oid("1.3.6")));
    EXPECT_FALSE(isOidPrefix(oid("1.3.7"), oid("1.3.6.1")));
    EXPECT_TRUE(OidLess{}(oid("1.3.6"), oid("1.3.6.0")));
    EXPECT_FALSE(OidLess{}(oid("1.3.6.0"), oid("1.3.6.0")));
}

}  // namespace
}  // namespace korvimo::snmp
