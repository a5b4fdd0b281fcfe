#include "store/variable_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/control_line.h"
#include "store/instance_range.h"
#include "store/store_fixture.h"

namespace korvimo::store {
namespace {

using testing::binding;
using testing::number;
using testing::octetValue;
using testing::oid;
using testing::StoreFixture;

constexpr const char* kSystemMib =
    "1.3.6.1.2.1.1.1           sysDescr                OctetString  RO S (0,255) d\r\n"
    "1.3.6.1.2.1.1.3           sysUpTime               TimeTicks    RO S\r\n"
    "1.3.6.1.2.1.1.5           sysName                 OctetString  RW S (0,255) d\r\n";

TEST(VariableStore, WritesTheAttributeFileInItsExactFormat) {
    StoreFixture f;
    f.mibInfo(kSystemMib);
    ASSERT_TRUE(
        f.load("# comment\r\n"
               "sysDescr.0, OctetString, RO, fixed(Simulated agent, v1)\r\n"
               "\r\n"
               "1.3.6.1.2.1.1.3.0  ,TimeTicks,RO,clock(0)\r\n"));
    EXPECT_EQ(f.attributeFile(),
              "1.3.6.1.2.1.1.1.0             , OctetString , RO , fixed(Simulated agent, v1)\r\n"
              "1.3.6.1.2.1.1.3.0             , TimeTicks   , RO , clock(0)\r\n");
    EXPECT_GE(f.store.attributeFile().descriptor(), 0);
    EXPECT_EQ(f.store.staticCount(), 2u);
    EXPECT_TRUE(f.status.empty());
}

TEST(VariableStore, SymbolicAndNumericNamesLoadToTheSameAttribute) {
    StoreFixture f;
    f.mibInfo(kSystemMib);
    ASSERT_TRUE(f.load("sysDescr.0, OctetString, RO, fixed(Simulated agent)\r\n"));
    const std::string symbolic = f.attributeFile();
    ASSERT_TRUE(f.load("1.3.6.1.2.1.1.1.0, OctetString, RO, fixed(Simulated agent)\r\n"));
    EXPECT_EQ(f.attributeFile(), symbolic);
    EXPECT_EQ(f.getText("1.3.6.1.2.1.1.1.0"), "Simulated agent");
}

TEST(VariableStore, MapsDescriptorsForOtherSubsystems) {
    StoreFixture f;
    f.mibInfo(kSystemMib);
    std::string numeric;
    mibinfo::DescriptorMapper mapper(*f.inputs.mibInfo);
    ASSERT_TRUE(mapper.map("sysName.0", numeric));
    EXPECT_EQ(numeric, "1.3.6.1.2.1.1.5.0");
    EXPECT_FALSE(mapper.map("ifName.1", numeric));
    mibinfo::DescriptorMapper none(mibinfo::MibInfo::empty());  // no mibinfo.out
    EXPECT_TRUE(none.map("1.3.6", numeric));
    EXPECT_FALSE(none.map("sysName.0", numeric));
}

TEST(VariableStore, MapsThroughTheMibInfoItIsGivenWithoutAnOpenFile) {
    StoreFixture f;
    f.writeControl("sysName.0, OctetString, RW, fixed(given)\r\n");
    f.inputs.mibInfo = mibinfo::MibInfo::fromText(kSystemMib);
    ASSERT_TRUE(f.store.loadControlFile(f.inputs));
    EXPECT_EQ(f.getText("1.3.6.1.2.1.1.5.0"), "given");
}

TEST(VariableStore, ReadsLfOnlyFilesAndALastLineWithoutEnd) {
    StoreFixture f;
    ASSERT_TRUE(f.load("1.3.6.1.1.0, Integer, RO, fixed(7)"));
    EXPECT_EQ(f.getNumber("1.3.6.1.1.0"), 7u);
    ASSERT_TRUE(f.load("1.3.6.1.1.0, Integer, RO, fixed(7)\n1.3.6.1.1.1, Integer, RO, fixed(8)\n"));
    EXPECT_EQ(f.getNumber("1.3.6.1.1.1"), 8u);
    EXPECT_EQ(f.attributeFile().find('\n'), f.attributeFile().find("\r\n") + 1);
}

TEST(VariableStore, AnEmptyControlFileLoadsAnEmptyStore) {
    StoreFixture f;
    ASSERT_TRUE(f.load(""));
    EXPECT_EQ(f.attributeFile(), "");
    EXPECT_EQ(f.next("0"), "");
}

TEST(VariableStore, SyntaxErrorsNameTheLineCountingEveryLine) {
    StoreFixture f;
    EXPECT_FALSE(
        f.load("# one\r\n\r\n%drow x\r\n1.3.6.1.1.0, Integer, RO, fixed(1)\r\n"
               "1.3.6.1.1.1, OctetString, RO, fixed(multi\r\nline)\r\n"));
    // Both halves of the broken line are errors: one lacks its ")", the other its commas.
    EXPECT_EQ(f.status,
              (std::vector<std::string>{
                  "Invalid syntax.(line = 5). Instance information must be on one line",
                  "Invalid syntax.(line = 6). Instance information must be on one line"}));
    EXPECT_EQ(f.store.attributeFile().descriptor(), -1);
    EXPECT_FALSE(f.store.loaded());
}

TEST(VariableStore, RefusesAttributeLinesWithFewerThanThreeCommas) {
    StoreFixture f;
    EXPECT_FALSE(f.load("1.3.6.1.1.0, Integer, RO, fixed(1)\r\n1.3.6.1.1.1, Integer fixed(1)\r\n"));
    EXPECT_TRUE(f.has("Invalid syntax.(line = 2). Instance information must be on one line"));
}

TEST(VariableStore, LoadsAndServesLongLinesAndRefusesLinesPast64KiB) {
    StoreFixture f;
    // A long string captured from a real agent, with commas and parentheses in it.
    std::string value;
    while (value.size() < 20000) {
        value += "port " + std::to_string(value.size()) + ", (up); ";
    }
    const std::string line = "1.3.6.1.1.0, OctetString, RO, fixed(" + value + ")";
    ASSERT_TRUE(f.load("# long\r\n" + line + "\r\n1.3.6.1.1.1, Integer, RO, fixed(1)\r\n"));
    EXPECT_TRUE(f.status.empty());
    EXPECT_EQ(f.getText("1.3.6.1.1.0"), value);
    snmp::SyntaxValue v;
    EXPECT_EQ(f.next("1.3.6.1.1", &v), "1.3.6.1.1.0");
    EXPECT_EQ(testing::octets(v), value);
    EXPECT_EQ(f.next("1.3.6.1.1.0"), "1.3.6.1.1.1");
    EXPECT_NE(f.attributeFile().find(value + ")\r\n1.3.6.1.1.1 "), std::string::npos);

    const std::string longest =
        "1.3.6.1.1.0, OctetString, RO, fixed(" + std::string(kMaxControlLineText - 37, 'v') + ")";
    ASSERT_EQ(longest.size(), kMaxControlLineText);
    ASSERT_TRUE(f.load(longest + "\r\n"));
    EXPECT_EQ(f.getText("1.3.6.1.1.0").size(), kMaxControlLineText - 37);
    EXPECT_FALSE(f.load("# a\r\n1" + longest + "\r\n"));
    EXPECT_EQ(f.status, (std::vector<std::string>{"Line too long.(line = 2). A line holds at most "
                                                  "65536 bytes with its CR LF"}));
    ASSERT_TRUE(
        f.load("#" + std::string(100000, '#') + "\r\n1.3.6.1.1.0, Integer, RO, fixed(1)\r\n"));
}

TEST(VariableStore, IndentedCommentsAndBlankLinesAreReadAsUnmappableNames) {
    StoreFixture f;
    f.mibInfo(kSystemMib);
    EXPECT_FALSE(f.load("  # an indented comment\r\n"));
    EXPECT_EQ(f.status, (std::vector<std::string>{
                            "Cannot map object descriptor # an indented comment.(line = 1)",
                            "Make sure that the corresponding MIB is compiled."}));
    EXPECT_FALSE(f.load("1.3.6.1.1.0, Integer, RO, fixed(1)\r\n   \r\n"));
    EXPECT_TRUE(f.has("Cannot map object descriptor .(line = 2)"));
}

TEST(VariableStore, AnUnknownDescriptorFailsTheLoadingNamingItsLine) {
    StoreFixture f;
    f.mibInfo(kSystemMib);
    EXPECT_FALSE(f.load("# x\r\nifDescr.1, OctetString, RO, fixed(x)\r\n"));
    EXPECT_EQ(f.status,
              (std::vector<std::string>{"Cannot map object descriptor ifDescr.1.(line = 2)",
                                        "Make sure that the corresponding MIB is compiled."}));
}

TEST(VariableStore, ReportsEveryMistakeWithItsLineAndServesWarnedLinesAsWritten) {
    StoreFixture f;
    f.mibInfo(kSystemMib);
    const std::string warned =
        "1.3.6.1.1.1, Counter33, RO, fixed(5)\r\n"
        "1.3.6.1.1.2, integer, RO, fixed(5)\r\n"
        "1.3.6.1.1.3, TimeTicks, RO, clok(0)\r\n"
        "1.3.6.1.1.4, Gauge, RO, fixed(abc)\r\n"
        "1.3.6.1.1.5, Integer, RO, fixed(2147483648)\r\n"
        "1.3.6.1.1.6, Counter, RO, fixed(-1)\r\n"
        "1.3.6.1.1.7, Gauge, RO, lastset(4294967296)\r\n"
        "1.3.6.1.1.8, IpAddress, RO, fixed(1.2.3)\r\n"
        "1.3.6.1.1.9, ObjectID, RO, fixed(abc..def)\r\n"
        "1.3.6.1.1.10, Integer, RW, r_lastset(0, 99999999999, 5)\r\n"
        "1.3.6.1.1.11.[5-1], Integer, RO, fixed(7)\r\n"
        "1.3.6.1.1.12, OctetString, RW, lastset(" +
        std::string(513, 'x') +
        ")\r\n"
        "1.3.6.1.1.13, Counter, RO, randomup(abc, 100)\r\n";
    ASSERT_TRUE(f.load(warned));
    EXPECT_EQ(
        f.status,
        (std::vector<std::string>{
            "Unknown syntax.(line = 1). Counter33 is not a syntax word: the value is served as "
            "NULL",
            "Unknown syntax.(line = 2). integer is not a syntax word: the value is served as NULL",
            "Unknown value behaviour.(line = 3). clok(0) names no value behaviour: the value is "
            "served as NULL",
            "Invalid value.(line = 4). fixed(abc) is not a number of syntax Gauge: 0 is served",
            "Invalid value.(line = 5). fixed(2147483648) is outside the range of Integer "
            "(-2147483648 to 2147483647): -2147483648 is served",
            "Invalid value.(line = 6). fixed(-1) is outside the range of Counter (0 to "
            "4294967295): 4294967295 is served",
            "Invalid value.(line = 7). lastset(4294967296) is outside the range of Gauge (0 to "
            "4294967295): 0 is served",
            "Invalid value.(line = 8). fixed(1.2.3) is not a dotted quad of syntax IpAddress: "
            "0.0.0.0 is served",
            "Invalid value.(line = 9). fixed(abc..def) is not a dotted decimal identifier of "
            "syntax ObjectID: 0.0.0 is served",
            "Invalid argument.(line = 10). r_lastset(0, 99999999999, 5): argument 2 "
            "(99999999999) does not fit in 32 bits: 1215752191 is used",
            "Invalid instance range.(line = 11). [5-1] runs downwards: only 5 is served",
            "Invalid value.(line = 12). lastset(" + std::string(52, 'x') +
                "... starts with 513 octets, more than the 512 a stored value of syntax "
                "OctetString starts with: an empty value is served",
            "Invalid argument.(line = 13). randomup(abc, 100): argument 1 (abc) is not a number: "
            "0 is used",
        }));
    // Served exactly as the text reads.
    snmp::SyntaxValue v;
    ASSERT_TRUE(f.get("1.3.6.1.1.1", v));
    EXPECT_EQ(v.syntax, snmp::kTagNull);
    ASSERT_TRUE(f.get("1.3.6.1.1.3", v));
    EXPECT_EQ(v.syntax, snmp::kTagNull);  // the handler's prepared NULL
    EXPECT_EQ(f.getNumber("1.3.6.1.1.4"), 0u);
    EXPECT_EQ(f.getNumber("1.3.6.1.1.5"), 0x80000000u);
    EXPECT_EQ(f.getNumber("1.3.6.1.1.6"), 0xFFFFFFFFu);
    EXPECT_EQ(f.getNumber("1.3.6.1.1.7"), 0u);
    ASSERT_TRUE(f.get("1.3.6.1.1.8", v));
    EXPECT_EQ(testing::octets(v), std::string(4, '\0'));
    ASSERT_TRUE(f.get("1.3.6.1.1.9", v));
    EXPECT_EQ(v.oid.ids, (std::vector<uint32_t>{0, 0, 0}));
    EXPECT_EQ(f.getNumber("1.3.6.1.1.10"), 5u);
    EXPECT_EQ(f.getNumber("1.3.6.1.1.11.5"), 7u);
    EXPECT_EQ(f.getText("1.3.6.1.1.12"), "");

    // Errors among them: every one is reported in line order, the load fails.
    EXPECT_FALSE(
        f.load("ifDescr.1, OctetString, RO, fixed(x)\r\n"
               "1.3.6.1.1.1, OctetString, RO, fixed(broken\r\n"
               "1.3.6.1.1.2, integer, RO, fixed(5)\r\n"
               "ifType.1, Integer, RO, fixed(6)\r\n"
               "1.3.x, Integer, RO, fixed(1)\r\n"
               "1.3.6.1.1.4, OctetString, RO, clock(0)\r\n"));
    EXPECT_EQ(f.status,
              (std::vector<std::string>{
                  "Cannot map object descriptor ifDescr.1.(line = 1)",
                  "Make sure that the corresponding MIB is compiled.",
                  "Invalid syntax.(line = 2). Instance information must be on one line",
                  "Unknown syntax.(line = 3). integer is not a syntax word: the value is served "
                  "as NULL",
                  "Cannot map object descriptor ifType.1.(line = 4)",
                  "Invalid object identifier.(line = 5). 1.3.x: not a dotted decimal identifier",
                  "Invalid value behaviour.(line = 6). clock(0) cannot serve syntax OctetString",
              }));
    EXPECT_FALSE(f.store.loaded());
    EXPECT_EQ(f.store.attributeFile().descriptor(), -1);

    // At most twenty errors and twenty warnings are shown, then how many more there were.
    std::string many;
    for (int i = 1; i <= 25; ++i) {
        many += "1.3.6.1.1." + std::to_string(i) + ", Integer, RO, fixed(x)\r\n";
    }
    for (int i = 26; i <= 47; ++i) {
        many += "1.3.6.1.1." + std::to_string(i) + ", Integer, RO, fixed(x\r\n";
    }
    EXPECT_FALSE(f.load(many));
    ASSERT_EQ(f.status.size(), 42u);
    EXPECT_EQ(f.status[0],
              "Invalid value.(line = 1). fixed(x) is not a number of syntax Integer: "
              "0 is served");
    EXPECT_EQ(f.status[20], "Invalid syntax.(line = 26). Instance information must be on one line");
    EXPECT_EQ(f.status[39], "Invalid syntax.(line = 45). Instance information must be on one line");
    EXPECT_EQ(f.status[40], "2 more errors were found in the control file.");
    EXPECT_EQ(f.status[41], "5 more warnings were found in the control file.");
}

TEST(VariableStore, ServesTheSmiV2SpellingsAsTheTypesTheyName) {
    StoreFixture f;
    ASSERT_TRUE(
        f.load("1.3.6.1.1.1, Counter32, RO, fixed(4294967295)\r\n"
               "1.3.6.1.1.2, Gauge32, RO, fixed(7)\r\n"
               "1.3.6.1.1.3, Unsigned32, RW, lastset(8)\r\n"
               "1.3.6.1.1.4, Integer32, RO, fixed(-9)\r\n"));
    EXPECT_TRUE(f.status.empty());
    const std::pair<const char*, uint8_t> expected[] = {
        {"1.3.6.1.1.1", snmp::kTagCounter},
        {"1.3.6.1.1.2", snmp::kTagGauge},
        {"1.3.6.1.1.3", snmp::kTagGauge},
        {"1.3.6.1.1.4", snmp::kTagInteger},
    };
    for (const auto& [name, tag] : expected) {
        snmp::SyntaxValue v;
        ASSERT_TRUE(f.get(name, v)) << name;
        EXPECT_EQ(v.syntax, tag) << name;
    }
    EXPECT_EQ(f.getNumber("1.3.6.1.1.1"), 4294967295u);
    EXPECT_EQ(f.getNumber("1.3.6.1.1.4"), static_cast<uint32_t>(-9));
    EXPECT_EQ(f.set({binding("1.3.6.1.1.3", number(snmp::kTagGauge, 12))}), std::make_pair(0, 0));
    EXPECT_EQ(f.getNumber("1.3.6.1.1.3"), 12u);
}

TEST(VariableStore, RangeinstOfAComponentOutsideTheNameIsAWarning) {
    StoreFixture f;
    ASSERT_TRUE(
        f.load("# ifIndex has 11 components\r\n"
               "1.3.6.1.2.1.2.2.1.1.[1-2], Integer, RO, rangeinst(0)\r\n"
               "1.3.6.1.2.1.2.2.1.2.[1-2], Integer, RO, rangeinst(12)\r\n"
               "1.3.6.1.2.1.2.2.1.3.[1-2], Integer, RO, rangeinst(11)\r\n"));
    EXPECT_EQ(f.status,
              (std::vector<std::string>{
                  "Invalid range instance.(line = 2). rangeinst(0) names component 0 of a name "
                  "of 11 components: the expression is kept and the value is served as NULL",
                  "Invalid range instance.(line = 3). rangeinst(12) names component 12 of a "
                  "name of 11 components: the expression is kept and the value is served as "
                  "NULL"}));
    AttributeInfo info;
    snmp::SyntaxValue v;
    ASSERT_TRUE(f.get("1.3.6.1.2.1.2.2.1.2.2", v, &info));
    EXPECT_EQ(info.expression, "rangeinst(12)");
    EXPECT_EQ(v.syntax, snmp::kTagNull);
    EXPECT_EQ(f.getNumber("1.3.6.1.2.1.2.2.1.3.2"), 2u);
}

TEST(VariableStore, RefusesNamesThatAreNotIdentifiers) {
    StoreFixture f;
    EXPECT_FALSE(
        f.load("1.3.6.1.1.0, Integer, RO, fixed(1)\r\n1.3.x.1, Integer, RO, fixed(1)\r\n"));
    ASSERT_EQ(f.status.size(), 1u);
    EXPECT_EQ(f.status[0],
              "Invalid object identifier.(line = 2). 1.3.x.1: " + std::string(kNameNotNumericText));
}

TEST(VariableStore, RefusesARangeBeyondTheAttributeLimit) {
    StoreFixture f;
    EXPECT_FALSE(f.load("1.3.[1-4294967295].[1-4294967295], Integer, RO, fixed(1)\r\n"));
    EXPECT_TRUE(f.has("Too many attributes.(line = 1). At most 16777216 attributes can be loaded"));
}

TEST(VariableStore, RefusesNumericBehavioursOnOctetSyntaxes) {
    StoreFixture f;
    EXPECT_FALSE(f.load("1.3.6.1.1.0, OctetString, RO, randomup(1)\r\n"));
    EXPECT_TRUE(
        f.has("Invalid value behaviour.(line = 1). randomup(1) cannot serve syntax "
              "OctetString"));
    EXPECT_FALSE(f.load("1.3.6.1.1.0, Counter64, RO, clock(1)\r\n"));
    ASSERT_TRUE(
        f.load("1.3.6.1.1.0, Counter64, RO, randomup(1)\r\n"
               "1.3.6.1.1.1, NULL, RO, random(1)\r\n"
               "1.3.6.1.1.2, OctetString, RO, lastset(1)\r\n"));
}

TEST(VariableStore, ExpandsRangesAndRangeinst) {
    StoreFixture f;
    ASSERT_TRUE(
        f.load("1.3.6.1.2.1.2.2.1.1.[1-3], Integer, RO, rangeinst(11)\r\n"
               "1.3.6.1.2.1.2.2.1.2.[1-2], OctetString, RO, rangeinst(0)\r\n"
               "1.3.6.1.2.1.2.2.1.3.[1-2].[5-6], Integer, RO, rangeinst(12)\r\n"));
    EXPECT_EQ(f.attributeFile(),
              "1.3.6.1.2.1.2.2.1.1.1         , Integer     , RO , fixed(1)\r\n"
              "1.3.6.1.2.1.2.2.1.1.2         , Integer     , RO , fixed(2)\r\n"
              "1.3.6.1.2.1.2.2.1.1.3         , Integer     , RO , fixed(3)\r\n"
              "1.3.6.1.2.1.2.2.1.2.1         , OctetString , RO , rangeinst(0)\r\n"
              "1.3.6.1.2.1.2.2.1.2.2         , OctetString , RO , rangeinst(0)\r\n"
              "1.3.6.1.2.1.2.2.1.3.1.5       , Integer     , RO , fixed(5)\r\n"
              "1.3.6.1.2.1.2.2.1.3.1.6       , Integer     , RO , fixed(6)\r\n"
              "1.3.6.1.2.1.2.2.1.3.2.5       , Integer     , RO , fixed(5)\r\n"
              "1.3.6.1.2.1.2.2.1.3.2.6       , Integer     , RO , fixed(6)\r\n");
    EXPECT_EQ(f.getNumber("1.3.6.1.2.1.2.2.1.1.2"), 2u);
    // An expression that matches no behaviour leaves the handler's prepared NULL.
    snmp::SyntaxValue v;
    ASSERT_TRUE(f.get("1.3.6.1.2.1.2.2.1.2.1", v));
    EXPECT_EQ(v.syntax, snmp::kTagNull);
}

TEST(VariableStore, LoadsANameOfSixtyFourRangeComponents) {
    StoreFixture f;
    std::string name = "1";
    for (int i = 1; i < 64; ++i) {
        name += i == 63 ? ".[1-2]" : ".[5]";
    }
    ASSERT_TRUE(f.load(name + ", Integer, RO, rangeinst(64)\r\n"));
    EXPECT_EQ(f.store.staticCount(), 2u);
    EXPECT_EQ(f.walk().size(), 2u);
}

TEST(VariableStore, ServesGetAndGetNextInIdentifierOrder) {
    StoreFixture f;
    ASSERT_TRUE(
        f.load("1.3.6.1.1.1, Integer, RO, fixed(1)\r\n"
               "1.3.6.1.1.2, Integer, WO, fixed(2)\r\n"
               "1.3.6.1.1.3, Integer, NA, fixed(3)\r\n"
               "1.3.6.1.1.4, Integer, RW, fixed(4)\r\n"
               "1.3.6.1.1.4.1, Integer, RC, fixed(5)\r\n"
               "1.3.6.1.2, Integer, RO, fixed(6)\r\n"));
    EXPECT_EQ(f.walk(), (std::vector<std::string>{"1.3.6.1.1.1", "1.3.6.1.1.4", "1.3.6.1.1.4.1",
                                                  "1.3.6.1.2"}));
    EXPECT_EQ(f.next("1"), "1.3.6.1.1.1");
    EXPECT_EQ(f.next("1.3.6.1.1.1.7"), "1.3.6.1.1.4");
    EXPECT_EQ(f.next("1.3.6.1.1.4"), "1.3.6.1.1.4.1");
    EXPECT_EQ(f.next("1.3.6.1.2"), "");
    EXPECT_EQ(f.next("2"), "");

    AttributeInfo info;
    snmp::SyntaxValue v;
    ASSERT_TRUE(f.get("1.3.6.1.1.2", v, &info));  // write-only is found, never a successor
    EXPECT_EQ(info.access, Access::WriteOnly);
    EXPECT_EQ(info.ordinal, 1u);
    ASSERT_TRUE(f.get("1.3.6.1.1.3", v, &info));
    EXPECT_EQ(info.access, Access::None);
    ASSERT_TRUE(f.get("1.3.6.1.1.4.1", v, &info));
    EXPECT_EQ(info.access, Access::ReadWrite);
    EXPECT_EQ(info.expression, "fixed(5)");
    EXPECT_FALSE(f.get("1.3.6.1.1", v));
    EXPECT_FALSE(f.get("1.3.6.1.1.1.0", v));
    EXPECT_FALSE(f.get("0", v));
}

TEST(VariableStore, SortsAnOutOfOrderFileAndSaysSo) {
    StoreFixture f;
    ASSERT_TRUE(
        f.load("1.3.6.1.3, Integer, RO, fixed(3)\r\n"
               "1.3.6.1.1, Integer, RO, fixed(1)\r\n"
               "1.3.6.1.2, Integer, RO, fixed(2)\r\n"
               "1.3.6.1.1, Integer, RO, fixed(99)\r\n"));
    EXPECT_EQ(f.status, (std::vector<std::string>{
                            kOutOfOrderMessage,
                            "1 attribute lines repeat an identifier listed before them: the first "
                            "line is served."}));
    EXPECT_EQ(f.attributeFile(),
              "1.3.6.1.1                     , Integer     , RO , fixed(1)\r\n"
              "1.3.6.1.2                     , Integer     , RO , fixed(2)\r\n"
              "1.3.6.1.3                     , Integer     , RO , fixed(3)\r\n");
    EXPECT_EQ(f.walk(), (std::vector<std::string>{"1.3.6.1.1", "1.3.6.1.2", "1.3.6.1.3"}));
    EXPECT_EQ(f.getNumber("1.3.6.1.1"), 1u);
    AttributeInfo info;
    snmp::SyntaxValue v;
    ASSERT_TRUE(f.get("1.3.6.1.3", v, &info));
    EXPECT_EQ(info.ordinal, 2u);  // ordinals follow the attribute file
}

TEST(VariableStore, KeepsTheFirstOfRepeatedIdentifiersInAnOrderedFile) {
    StoreFixture f;
    ASSERT_TRUE(f.load("1.3.6.1.1, Integer, RO, fixed(1)\r\n1.3.6.1.1, Integer, RO, fixed(2)\r\n"));
    EXPECT_EQ(f.status.size(), 1u);
    EXPECT_EQ(f.getNumber("1.3.6.1.1"), 1u);
}

TEST(VariableStore, OrdersIdentifiersAsUnsignedNumbersWithPrefixesFirst) {
    StoreFixture f;
    ASSERT_TRUE(
        f.load("1.3.6.1.2, Integer, RO, fixed(2)\r\n"
               "1.3.6.1.2.0, Integer, RO, fixed(3)\r\n"
               "1.3.6.1.10, Integer, RO, fixed(10)\r\n"
               "1.3.6.1.4294967295, Integer, RO, fixed(4)\r\n"));
    EXPECT_TRUE(f.status.empty());
    EXPECT_EQ(f.walk(), (std::vector<std::string>{"1.3.6.1.2", "1.3.6.1.2.0", "1.3.6.1.10",
                                                  "1.3.6.1.4294967295"}));
}

TEST(VariableStore, ClampsCacheSizeAndDynamicReserve) {
    StoreFixture f;
    f.ini("CACHESIZE=0\r\nDYNINSTSIZE=30000000\r\n");
    ASSERT_TRUE(f.load("1.3.6.1.1, Integer, RO, fixed(1)\r\n"));
    EXPECT_EQ(f.store.cacheSize(), 30);
    EXPECT_EQ(f.store.dynamicReserve(), 10000000);
    EXPECT_EQ(f.store.slots().capacity(), 10000001u);
    f.ini("CACHESIZE=5000\r\nDYNINSTSIZE=-4\r\n");
    ASSERT_TRUE(f.load("1.3.6.1.1, Integer, RO, fixed(1)\r\n"));
    EXPECT_EQ(f.store.cacheSize(), 1500);
    EXPECT_EQ(f.store.dynamicReserve(), 100);
    f.ini("CACHESIZE=1234567890\r\n");  // the first nine characters count
    ASSERT_TRUE(f.load("1.3.6.1.1, Integer, RO, fixed(1)\r\n"));
    EXPECT_EQ(f.store.cacheSize(), 1500);
    f.ini("CACHESIZE=77\r\n");
    ASSERT_TRUE(f.load("1.3.6.1.1, Integer, RO, fixed(1)\r\n"));
    EXPECT_EQ(f.store.cacheSize(), 77);
}

TEST(VariableStore, AFixedRandomSeedServesTheSameSequenceEveryStart) {
    StoreFixture f;
    f.ini("RANDOMSEED=fixed\r\n");
    ASSERT_TRUE(f.load("1.3.6.1.1, Counter, RO, randomup(0, 100)\r\n"));
    EXPECT_EQ(f.getNumber("1.3.6.1.1"), 55u);
    const uint32_t second = f.getNumber("1.3.6.1.1");
    ASSERT_TRUE(f.load("1.3.6.1.1, Counter, RO, randomup(0, 100)\r\n"));
    EXPECT_EQ(f.getNumber("1.3.6.1.1"), 55u);
    EXPECT_EQ(f.getNumber("1.3.6.1.1"), second);
}

TEST(VariableStore, TheClockCountsFromTheAgentStart) {
    StoreFixture f;
    ASSERT_TRUE(f.load("1.3.6.1.2.1.1.3.0, TimeTicks, RO, clock(0)\r\n"));
    f.clock.advanceMs(7000);
    EXPECT_EQ(f.getNumber("1.3.6.1.2.1.1.3.0"), 700u);
}

TEST(VariableStore, FormatFillsEachInstanceWithItsLastComponent) {
    StoreFixture f;
    ASSERT_TRUE(
        f.load("1.3.6.1.2.1.2.2.1.2.[1-3], OctetString, RO, format(eth%d, 100%%)\r\n"
               "1.3.6.1.2.1.2.2.1.6.[9-10], OctetString, RO, format(0x00163e0000%02x)\r\n"
               "1.3.6.1.2.1.2.2.1.7.4, Integer, RO, format(%u)\r\n"));
    EXPECT_EQ(f.getText("1.3.6.1.2.1.2.2.1.2.1"), "eth1, 100%");
    EXPECT_EQ(f.getText("1.3.6.1.2.1.2.2.1.2.3"), "eth3, 100%");
    EXPECT_EQ(f.getText("1.3.6.1.2.1.2.2.1.6.10"), std::string("\x00\x16\x3e\x00\x00\x0a", 6));
    EXPECT_EQ(f.getNumber("1.3.6.1.2.1.2.2.1.7.4"), 4u);
    // Every instance's text is checked: the first the syntax cannot read is said.
    ASSERT_TRUE(f.load("1.3.6.1.2.1.4.20.1.1.[254-257], IpAddress, RO, format(10.0.0.%d)\r\n"));
    EXPECT_TRUE(
        f.has("Invalid value.(line = 1). format(10.0.0.%d) gives 10.0.0.256 at instance "
              "256, which is not a dotted quad of syntax IpAddress: 0.0.0.0 is served"))
        << f.status.front();
    for (const char* bad : {"format(%s)", "format(%d-%d)", "format(%123d)"}) {
        EXPECT_FALSE(f.load(std::string("1.3.6.1.1.[1-2], OctetString, RO, ") + bad + "\r\n"));
        ASSERT_FALSE(f.status.empty());
        EXPECT_EQ(f.status.front().rfind("Invalid instance format.(line = 1). ", 0), 0u)
            << f.status.front();
    }
}

TEST(VariableStore, Low32ViewsAgreeWithTheirCounter64AtEveryRead) {
    StoreFixture f;
    f.mibInfo("1.3.6.1.2.1.31.1.1.1.6   ifHCInOctets   Counter64  RO C\r\n");
    ASSERT_TRUE(
        f.load("1.3.6.1.2.1.2.2.1.10.[1-2], Counter, RO, low32(ifHCInOctets.%d)\r\n"
               "1.3.6.1.2.1.31.1.1.1.6.[1-2], Counter64, RO, rate(4294000000, 1200000, 10)\r\n"));
    EXPECT_NE(f.attributeFile().find("low32(1.3.6.1.2.1.31.1.1.1.6.2)"), std::string::npos);
    for (int i = 0; i < 5; ++i) {
        const auto request = f.store.beginRequest();
        snmp::SyntaxValue wide;
        ASSERT_TRUE(f.get("1.3.6.1.2.1.31.1.1.1.6.2", wide));
        snmp::SyntaxValue low;
        ASSERT_TRUE(f.get("1.3.6.1.2.1.2.2.1.10.2", low));
        EXPECT_EQ(low.syntax, snmp::kTagCounter);
        EXPECT_EQ(low.number, static_cast<uint32_t>(wide.counter64));
        f.clock.advanceMs(700);
    }
    EXPECT_FALSE(
        f.load("1.3.6.1.2.1.1.4.0, OctetString, RO, fixed(ops)\r\n"
               "1.3.6.1.2.1.2.2.1.10.1, Counter, RO, low32(1.3.6.1.9)\r\n"
               "1.3.6.1.2.1.2.2.1.10.2, Counter, RO, low32(1.3.6.1.2.1.1.4.0)\r\n"));
    EXPECT_TRUE(
        f.has("Invalid low32.(line = 2). 1.3.6.1.9 is not an attribute of the control file"));
    EXPECT_TRUE(
        f.has("Invalid low32.(line = 3). 1.3.6.1.2.1.1.4.0 is of syntax OctetString, "
              "which holds no number"));
}

TEST(VariableStore, WarnsOfRateArgumentsItCannotTakeAsWritten) {
    StoreFixture f;
    ASSERT_TRUE(
        f.load("1.3.6.1.1, Counter, RO, rate(0, 1.2345, 150)\r\n"
               "1.3.6.1.2, Gauge, RO, rate(-5)\r\n"
               "1.3.6.1.3, Counter, RO, rate(5000000000, .5, 1, 2)\r\n"));
    for (const char* line :
         {"Invalid argument.(line = 1). rate(0, 1.2345, 150): argument 2 (1.2345) is not a rate "
          "of up to 10^15 with at most three decimals: 1.234 is used",
          "Invalid argument.(line = 1). rate(0, 1.2345, 150): argument 3 (150) is not a whole "
          "percentage of 0 to 100: 100 is used",
          "Invalid argument.(line = 2). rate(-5) gives no PER_SECOND: the value stays at its "
          "START",
          "Invalid argument.(line = 2). rate(-5): argument 1 (-5) is not a number of 0 to "
          "18446744073709551615: 0 is used",
          "Invalid argument.(line = 3). rate(5000000000, .5, 1, 2) has more than three "
          "arguments: the fourth on are ignored",
          "Invalid argument.(line = 3). rate(5000000000, .5, 1, 2): argument 1 (5000000000) "
          "does not fit in 32 bits of syntax Counter: 705032704 is used"}) {
        EXPECT_TRUE(f.has(line)) << line;
    }
    EXPECT_FALSE(f.load("1.3.6.1.1, Integer, RO, rate(0, 1)\r\n"));
}

TEST(VariableStore, ReadsScheduledEventsAndSetsAsTheyAsk) {
    StoreFixture f;
    f.mibInfo(kSystemMib);
    ASSERT_TRUE(
        f.load("%trapfile default.trp\r\n"
               "%event 120 every 240 set sysName.0 \"core \\\"7\\\"\" trap linkDown\r\n"
               "%event 5 set 1.3.6.1.2.1.1.1.0 x\r\n"
               "%event 9 set 1.3.6.1.2.1.1.7.0 down\r\n"
               "sysDescr.0, OctetString, RO, fixed(router)\r\n"
               "sysName.0, OctetString, RW, lastset(r1)\r\n"
               "1.3.6.1.2.1.1.7.0, Integer, RW, lastset(1)\r\n"));
    const EventDirectives& events = f.store.events();
    EXPECT_EQ(events.trapFile, "default.trp");
    ASSERT_EQ(events.events.size(), 3u);
    EXPECT_TRUE(
        f.has("Invalid value.(line = 4). the value down is not a number of syntax "
              "Integer: 0 is set"))
        << f.status.front();
    const ScheduledEvent& flap = events.events[0];
    EXPECT_EQ(flap.line, 2);
    EXPECT_EQ(flap.afterSeconds, 120u);
    EXPECT_EQ(flap.everySeconds, 240u);
    EXPECT_EQ(testing::text(flap.target), "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(flap.value, "core \"7\"");
    EXPECT_EQ(flap.trap, "linkDown");
    // A fixed attribute keeps no Set: a warning at loading, a refusal at the event.
    EXPECT_TRUE(
        f.has("Event Set refused.(line = 3). 1.3.6.1.2.1.1.1.0 serves fixed(router), "
              "which keeps no Set: give it lastset(...) for the event to change it"))
        << f.status.front();
    ASSERT_TRUE(f.store.setFromText(flap.target, flap.value));
    EXPECT_EQ(f.getText("1.3.6.1.2.1.1.5.0"), "core \"7\"");
    EXPECT_EQ(f.store.setFromText(events.events[1].target, "x").text(),
              "the Set of 1.3.6.1.2.1.1.1.0 is refused: notWritable");

    EXPECT_FALSE(
        f.load("%event 1 set 1.3.6.1.9 1 trap coldStart\r\n"
               "%event soon set 1.3.6.1.1 1\r\n"
               "%event 1 every 0 set 1.3.6.1.1 1\r\n"
               "%event 1 set 1.3.6.1.1\r\n"
               "1.3.6.1.1, Integer, RW, lastset(0)\r\n"));
    for (const char* line :
         {"Invalid event.(line = 1). It sends trap coldStart, but no %trapfile line names the "
          "trap file",
          "Invalid event.(line = 1). 1.3.6.1.9 is not an attribute of the control file",
          "Invalid event.(line = 2). the seconds after the start are not a whole number up to "
          "8640000; the form is %event SECONDS [every SECONDS] set NAME VALUE [trap TRAPNAME]",
          "Invalid event.(line = 3). the seconds after \"every\" are not a whole number from 1 "
          "to 8640000; the form is %event SECONDS [every SECONDS] set NAME VALUE [trap "
          "TRAPNAME]",
          "Invalid event.(line = 4). the value to set is missing; the form is %event SECONDS "
          "[every SECONDS] set NAME VALUE [trap TRAPNAME]"}) {
        EXPECT_TRUE(f.has(line)) << line;
    }
}

TEST(VariableStore, SetsGoThroughCheckAndStore) {
    StoreFixture f;
    ASSERT_TRUE(
        f.load("1.3.6.1.1, OctetString, RW, lastset(abc)\r\n"
               "1.3.6.1.2, Integer, RW, fixed(5)\r\n"
               "1.3.6.1.3, Integer, RW, r_lastset(1, 10, 5)\r\n"));
    EXPECT_EQ(f.set({binding("1.3.6.1.1", octetValue(std::string(256, 'q')))}),
              std::make_pair(0, 0));
    EXPECT_EQ(f.getText("1.3.6.1.1"), std::string(256, 'q'));
    EXPECT_EQ(f.set({binding("1.3.6.1.1", octetValue(std::string(300, 'q')))}),
              std::make_pair(snmp::kWrongLength, 1));
    EXPECT_EQ(f.set({binding("1.3.6.1.2", number(2, 1))}), std::make_pair(snmp::kNotWritable, 1));
    EXPECT_EQ(f.set({binding("1.3.6.1.3", number(2, 10)), binding("1.3.6.1.3", number(2, 11))}),
              std::make_pair(snmp::kWrongValue, 2));
    EXPECT_EQ(f.getNumber("1.3.6.1.3"), 5u);  // the check pass refused before any store
    EXPECT_EQ(f.set({binding("1.3.6.1.3", number(2, 10))}), std::make_pair(0, 0));
    EXPECT_EQ(f.getNumber("1.3.6.1.3"), 10u);
}

TEST(VariableStore, CreatesANewAttributeFileSoAnEarlierStoreKeepsItsOwn) {
    StoreFixture f;
    ASSERT_TRUE(f.load("1.3.6.1.1, Integer, RO, fixed(1)\r\n"));
    f.writeControl("1.3.6.1.9, Integer, RO, fixed(9)\r\n");
    VariableStore other;
    ASSERT_TRUE(other.loadControlFile(f.inputs));
    EXPECT_EQ(f.attributeFile(), "1.3.6.1.9                     , Integer     , RO , fixed(9)\r\n");
    EXPECT_EQ(f.getNumber("1.3.6.1.1"), 1u);
    other.releaseStore();
}

TEST(VariableStore, FailsWithoutAnAgentDirectory) {
    StoreFixture f;
    f.inputs.attributeFilePath = f.dir() + "/missing/agent/tempfile";
    EXPECT_FALSE(f.load("1.3.6.1.1, Integer, RO, fixed(1)\r\n"));
    EXPECT_EQ(f.store.attributeFile().descriptor(), -1);
}

TEST(VariableStore, ReleaseLeavesNothingToFind) {
    StoreFixture f;
    ASSERT_TRUE(f.load("1.3.6.1.1, Integer, RO, fixed(1)\r\n"));
    f.store.releaseStore();
    EXPECT_FALSE(f.store.loaded());
    EXPECT_EQ(f.next("0"), "");
    snmp::SyntaxValue v;
    EXPECT_FALSE(f.get("1.3.6.1.1", v));
}

}  // namespace
}  // namespace korvimo::store
