#include "agent/debug_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/clock.h"
#include "app/core/temp_dir.h"
#include "snmp/ber.h"

namespace korvimo {
namespace {

using testing::octets;
using testing::oid;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

snmp::VarBind binding(const char* name, snmp::SyntaxValue value) {
    return snmp::VarBind{oid(name), std::move(value)};
}

snmp::SyntaxValue number(uint8_t tag, uint32_t n) {
    snmp::SyntaxValue v;
    v.syntax = tag;
    v.number = n;
    return v;
}

snmp::SyntaxValue bytes(uint8_t tag, std::vector<uint8_t> b) {
    snmp::SyntaxValue v;
    v.syntax = tag;
    v.octets.bytes = std::move(b);
    return v;
}

struct Rendered {
    std::string oid, type, value;
};

Rendered render(const snmp::VarBind& b) {
    char o[kLogOidCapacity], t[kLogTypeCapacity], v[kLogValueCapacity];
    valueToText(b, o, sizeof o, t, sizeof t, v, sizeof v);
    return {o, t, v};
}

std::string octetText(std::vector<uint8_t> b, std::size_t capacity = kLogValueCapacity) {
    std::vector<char> out(capacity);
    octetsToText(out.data(), capacity, b.data(), b.size());
    return out.data();
}

TEST(ValueText, EachSyntaxHasItsTypeNameAndValueText) {
    EXPECT_EQ(render(binding("1.3.6.1.2.1.1.7.0", number(snmp::kTagInteger, 0xFFFFFFFFu))).value,
              "-1");
    Rendered counter = render(binding("1.3.6.1", number(snmp::kTagCounter, 4294967295u)));
    EXPECT_EQ(counter.type, "Counter");
    EXPECT_EQ(counter.value, "-1");  // through the signed format
    EXPECT_EQ(render(binding("1.3.6.1", number(snmp::kTagGauge, 7))).type, "Gauge");

    Rendered ticks = render(binding("1.3.6.1", number(snmp::kTagTimeTicks, 8640000)));
    EXPECT_EQ(ticks.type, "TimeTicks");
    EXPECT_EQ(ticks.value, "24 hrs: 00 min: 00 sec");

    snmp::SyntaxValue big;
    big.syntax = snmp::kTagCounter64;
    big.counter64 = 1ull << 32;
    Rendered c64 = render(binding("1.3.6.1", big));
    EXPECT_EQ(c64.type, "Counter64");
    EXPECT_EQ(c64.value, "4294967296");

    Rendered address = render(binding("1.3.6.1", bytes(snmp::kTagIpAddress, {192, 168, 1, 10})));
    EXPECT_EQ(address.type, "IpAddress");
    EXPECT_EQ(address.value, "192.168.1.10");

    snmp::SyntaxValue id;
    id.syntax = snmp::kTagObjectId;
    id.oid = oid("1.3.6.1.4.1.32473");
    EXPECT_EQ(render(binding("1.3.6.1", id)).value, "1.3.6.1.4.1.32473");

    Rendered null = render(binding("1.3.6.1.2.1.1.1.0", number(snmp::kTagNull, 0)));
    EXPECT_EQ(null.oid, "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(null.type, "NULL");
    EXPECT_EQ(null.value, "NULL");
    EXPECT_EQ(render(binding("1.3", number(snmp::kTagNoSuchObject, 0))).type, "NoSuchObject");
    EXPECT_EQ(render(binding("1.3", number(snmp::kTagNoSuchInstance, 0))).type, "NoSuchInstance");
    Rendered end = render(binding("1.3", number(snmp::kTagEndOfMibView, 0)));
    EXPECT_EQ(end.type, "EndOfMibView");
    EXPECT_EQ(end.value, "NULL");

    Rendered opaque = render(binding("1.3", bytes(snmp::kTagOpaque, {'h', 'i'})));
    EXPECT_EQ(opaque.type, "Opaque");
    EXPECT_EQ(opaque.value, "hi");

    for (uint8_t tag :
         {snmp::kTagBitString, snmp::kTagNsapAddress, snmp::kTagUInteger32, uint8_t{0}}) {
        Rendered unknown = render(binding("1.3", bytes(tag, {1, 2})));
        EXPECT_EQ(unknown.type, "unknown");
        EXPECT_EQ(unknown.value, "");
    }
}

TEST(ValueText, TextsAreCutToTheirCapacities) {
    snmp::VarBind b =
        binding("1.3.6.1.2.1.1.1.0", bytes(snmp::kTagOctetString, std::vector<uint8_t>(50, 'a')));
    char o[8], t[5], v[10];
    valueToText(b, o, sizeof o, t, sizeof t, v, sizeof v);
    EXPECT_STREQ(o, "1.3.6.1");
    EXPECT_STREQ(t, "Octe");
    EXPECT_STREQ(v, "aaaaaaaaa");
}

TEST(OctetText, PrintableBytesAreTextOtherwiseHex) {
    EXPECT_EQ(octetText({'h', 'e', 'l', 'l', 'o'}), "hello");
    EXPECT_EQ(octetText({0x00, 0x01}), "0x0001");
    EXPECT_EQ(octetText({'a', 'b', 0x00}), "ab");  // a zero byte may end the text
    EXPECT_EQ(octetText({'a', 0x00, 'b'}), "0x610062");
    EXPECT_EQ(octetText({'a', '\t', 'b'}), "a\tb");
    EXPECT_EQ(octetText({'a', '\r', '\n'}), "0x610d0a");
    EXPECT_EQ(octetText({}), "");
    EXPECT_EQ(octetText({0xFF, 0xAB}), "0xffab");
}

TEST(OctetText, HexStopsWhereTheCapacityEnds) {
    const std::string hex = octetText(std::vector<uint8_t>(200, 0x01));
    EXPECT_EQ(hex.size(), 2u + 2u * 148u);  // 148 bytes with a capacity of 300
    EXPECT_EQ(octetText({1, 2, 3, 4}, 7), "0x0102");
    EXPECT_EQ(octetText({'a', 'b', 'c', 'd'}, 3), "ab");
}

TEST(UpTimeText, HoursAreNotWrapped) {
    char text[64];
    upTimeText(0, text, sizeof text);
    EXPECT_STREQ(text, "00 hrs: 00 min: 00 sec");
    upTimeText(360000u * 100u + 6000u * 7u + 100u * 9u + 99u, text, sizeof text);
    EXPECT_STREQ(text, "100 hrs: 07 min: 09 sec");
}

TEST(Labels, PduLabelsAndErrorStatusNames) {
    EXPECT_STREQ(pduLabel(snmp::kPduGetRequest, false), "Get Request :");
    EXPECT_STREQ(pduLabel(snmp::kPduGetRequest, true), "Get Request");
    EXPECT_STREQ(pduLabel(snmp::kPduGetNextRequest, true), "GetNext Request");
    EXPECT_STREQ(pduLabel(snmp::kPduResponse, false), "Response :");
    EXPECT_STREQ(pduLabel(snmp::kPduSetRequest, false), "Set Request :");
    EXPECT_STREQ(pduLabel(snmp::kPduGetBulkRequest, true), "GetBulk Request :");
    EXPECT_STREQ(pduLabel(snmp::kPduSnmpV2Trap, true), "SNMPv2 Trap :");
    EXPECT_STREQ(pduLabel(snmp::kPduTrap, false), "Junk PDU Type :");
    EXPECT_STREQ(pduLabel(0x55, true), "Junk PDU Type");

    EXPECT_STREQ(errorStatusName(0), "No Error");
    EXPECT_STREQ(errorStatusName(2), "No Such Name");
    EXPECT_STREQ(errorStatusName(17), "Not Writable");
    EXPECT_STREQ(errorStatusName(18), "Inconsistent Name");
    EXPECT_STREQ(errorStatusName(19), "");
    EXPECT_STREQ(errorStatusName(0x10005), "Gen Error");  // the low 16 bits count
}

class MibInfoNames : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir.path("mibinfo.out"),
                  "-- comment 1.3.6.1.2.1.1.1 wrong\r\n"
                  "1.3.6.1.2.1.1.1           sysDescr                OctetString  RO S\r\n"
                  "\r\n"
                  "1.3.6.1.2.1.2.2.1.2       ifDescr                 OctetString  RO C\r\n"
                  "1.3.6.1.2.1.2.2.1.20      ifOutErrors             Counter      RO C\r\n"
                  "%en          1.3.6.1.2.1.2                    interfaces\r\n");
        mib = mibinfo::MibInfo::load(dir.path("mibinfo.out"));
        ASSERT_NE(mib, nullptr);
    }

    std::string name(const char* numeric) {
        std::string out;
        oidTextToName(out, numeric, mib.get());
        return out;
    }

    TempDir dir;
    std::shared_ptr<const mibinfo::MibInfo> mib;
};

TEST_F(MibInfoNames, DescriptorFormReplacesTheMatchingLeadingPart) {
    EXPECT_EQ(name("1.3.6.1.2.1.1.1.0"), "sysDescr.0");
    EXPECT_EQ(name("1.3.6.1.2.1.1.1"), "sysDescr");
    EXPECT_EQ(name("1.3.6.1.2.1.2.2.1.2.3"), "ifDescr.3");
    EXPECT_EQ(name("1.3.6.1.2.1.2.2.1.20.1"), "ifOutErrors.1");
}

TEST_F(MibInfoNames, OnlyWholeSubIdentifiersAndObjectLinesMatch) {
    EXPECT_EQ(name("1.3.6.1.2.1.1.10.0"), "1.3.6.1.2.1.1.10.0");  // not sysDescr + "0.0"
    EXPECT_EQ(name("1.3.6.1.2.1.2.2.1.200"), "1.3.6.1.2.1.2.2.1.200");
    EXPECT_EQ(name("1.3.6.1.2.1.2.1.0"), "1.3.6.1.2.1.2.1.0");  // name lines are not read
    std::string out;
    EXPECT_FALSE(oidTextToName(out, "1.3.6.1.2.1.2.1.0", nullptr));
    EXPECT_EQ(out, "1.3.6.1.2.1.2.1.0");
}

class DebugRecords : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(debugLog.create(dir.path("debug.out"))); }
    std::string log() { return readFile(dir.path("debug.out")); }

    TempDir dir;
    ManualClock clock;
    DebugLog debugLog;
};

TEST_F(DebugRecords, GetRequestRecordHasHeaderAndBindingLines) {
    snmp::Pdu request;
    request.type = snmp::kPduGetRequest;
    request.requestId = 5;
    request.varBinds.items.push_back(binding("1.3.6.1.2.1.1.1.0", number(snmp::kTagNull, 0)));
    debugLog.dumpPdu(request);
    EXPECT_EQ(log(),
              "Get Request : Request Id = 5, Error Status = No Error , Error Index = 0\r\n"
              "Oid1 = 1.3.6.1.2.1.1.1.0 , Type = NULL, Value = NULL\r\n");
}

TEST_F(DebugRecords, GetBulkHeaderShowsTheLow16BitsOfItsFields) {
    snmp::Pdu bulk;
    bulk.type = snmp::kPduGetBulkRequest;
    bulk.requestId = -7;
    bulk.errorStatus = -1;
    bulk.errorIndex = 0x10003;
    debugLog.dumpPdu(bulk);
    EXPECT_EQ(log(),
              "GetBulk Request : Request Id = -7, Non-Repeaters = 65535 , Max-Repetitions = 3\r\n");
}

TEST_F(DebugRecords, RecordsAreAppendedAndTimeStampedWhenAsked) {
    debugLog.append("Invalid SNMP Version:1.  Request ignored.");
    debugLog.setTimestamp(true, &clock);
    snmp::Pdu response;
    response.type = snmp::kPduResponse;
    response.requestId = 9;
    response.errorStatus = 2;
    response.errorIndex = 1;
    response.varBinds.items.push_back(
        binding("1.3.6.1.2.1.1.5.0", bytes(snmp::kTagOctetString, {'r', '1'})));
    debugLog.dumpPdu(response);
    const std::string stamp = timeStampText(clock.calendarSeconds());
    EXPECT_EQ(stamp.size(), 24u);
    EXPECT_EQ(log(), "Invalid SNMP Version:1.  Request ignored.(" + stamp +
                         ") Response : Request Id = 9, Error Status = No Such Name , Error Index = "
                         "1\r\nOid1 = 1.3.6.1.2.1.1.5.0 , Type = OctetString, Value = r1\r\n");
}

TEST_F(DebugRecords, ClosedLogWritesNothing) {
    snmp::Pdu request;
    request.type = snmp::kPduGetRequest;
    debugLog.close();
    debugLog.dumpPdu(request);
    debugLog.append("text");
    EXPECT_EQ(log(), "");
}

TEST_F(DebugRecords, PastTheSizeLimitTheLogStartsAgainKeepingOneOlderGeneration) {
    debugLog.setSizeLimit(200);  // bytes: room for two records of 77
    snmp::Pdu request;
    request.type = snmp::kPduGetRequest;
    auto record = [](int id) {
        return "Get Request : Request Id = " + std::to_string(id) +
               ", Error Status = No Error , Error Index = 0\r\n";
    };
    for (int id = 10; id < 17; ++id) {
        request.requestId = id;
        debugLog.dumpPdu(request);
    }
    // 10 11 | 12 13 | 14 15 | 16: whole records, the last two generations kept.
    EXPECT_EQ(log(), record(16));
    EXPECT_EQ(readFile(dir.path("debug.out.1")), record(14) + record(15));

    EXPECT_EQ(debugMaxSizeFromText(""), 100u << 20);
    EXPECT_EQ(debugMaxSizeFromText("0"), 100u << 20);
    EXPECT_EQ(debugMaxSizeFromText("lots"), 100u << 20);
    EXPECT_EQ(debugMaxSizeFromText("-3"), 100u << 20);
    EXPECT_EQ(debugMaxSizeFromText("7"), 7u << 20);
    EXPECT_EQ(debugMaxSizeFromText("999999999"), uint64_t{1} << 40);
}

// A new generation that cannot be made leaves both files where they were: the current one
// is emptied under its own name, the older one is never touched.
TEST_F(DebugRecords, ARotationThatCannotBeMadeKeepsTheOlderGenerationAndTheName) {
    writeFile(dir.path("debug.out.1"), "older");
    ASSERT_EQ(::mkdir(dir.path("debug.out.next").c_str(), 0755), 0);  // no file can be made there
    std::vector<std::string> lines;
    debugLog.setReport([&](const char* line) { lines.emplace_back(line); }, "/agent/debug.out");
    debugLog.setSizeLimit(100);
    snmp::Pdu request;
    request.type = snmp::kPduGetRequest;
    for (int id = 1; id <= 3; ++id) {
        request.requestId = id;
        debugLog.dumpPdu(request);
    }
    EXPECT_EQ(readFile(dir.path("debug.out.1")), "older");
    EXPECT_EQ(log(), "Get Request : Request Id = 3, Error Status = No Error , Error Index = 0\r\n");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("Cannot write /agent/debug.out: Is a directory.", 0), 0u) << lines[0];
    // The record then written into the emptied file tells that writing works again.
    EXPECT_EQ(lines[1], "Debug records are written to /agent/debug.out again.");
}

// A FIFO in the log's place is refused at once instead of holding the start.
TEST(DebugLogFailure, AFifoIsRefusedWithoutWaiting) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.path("debug.out").c_str(), 0644), 0);
    DebugLog debugLog;
    const Result created = debugLog.create(dir.path("debug.out"));
    EXPECT_FALSE(created);
    EXPECT_EQ(created.text(), "Not a regular file");
}

TEST(DebugLogFailure, AFailedWriteIsReportedOncePerRunOfFailures) {
    // Every write to /dev/full fails with ENOSPC, for root as for anyone.
    DebugLog debugLog;
    ASSERT_TRUE(debugLog.create("/dev/full"));
    debugLog.setSizeLimit(10);  // never rotates a device
    std::vector<std::string> lines;
    debugLog.setReport([&](const char* line) { lines.emplace_back(line); }, "/agent/debug.out");
    snmp::Pdu request;
    request.type = snmp::kPduGetRequest;
    for (int i = 0; i < 3; ++i) {
        debugLog.dumpPdu(request);
        debugLog.append("\r\n");
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "Cannot write /agent/debug.out: No space left on device. Debug records are lost "
              "until it can be written again.");
}

TEST(TimeStamp, DateAndTimeInTwentyFourCharacters) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(timeStampText(1796574821), "Sun Dec  6 16:33:41 2026");
    EXPECT_EQ(timeStampText(0), "Thu Jan  1 00:00:00 1970");
}

TEST(StatusListRecord, LinesGoToTheReportWithListLabels) {
    std::vector<std::string> lines;
    auto report = [&lines](const char* text) { lines.push_back(text); };

    snmp::Pdu response;
    response.type = snmp::kPduResponse;
    response.requestId = -2;
    response.varBinds.items.push_back(
        binding("1.3.6.1.2.1.1.3.0", number(snmp::kTagTimeTicks, 6000)));
    dumpPduToList(response, nullptr, report);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "Response was: Request Id = 4294967294, Error Status = No Error , Error "
              "Index = 0");
    EXPECT_EQ(lines[1],
              "Oid1 = 1.3.6.1.2.1.1.3.0 , Type = TimeTicks, Value = 00 hrs: 01 min: 00 "
              "sec");

    dumpPduToList(response, nullptr, nullptr);  // no report: nothing is sent
    EXPECT_EQ(lines.size(), 2u);
}

}  // namespace
}  // namespace korvimo
