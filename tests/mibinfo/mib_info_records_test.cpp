#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mibinfo/mib_info.h"

namespace korvimo::mibinfo {
namespace {

TEST(MibInfoRecords, NameOfTakesTheFirstMatchingLineInFileOrderNotTheLongest) {
    const auto mib = MibInfo::fromText(
        "1.3.6.1.2.1.2.2.1.2       ifDescr                 OctetString  RO C\r\n"
        "1.3.6.1.2.1.2.2.1         ifEntry                 Integer      RO S\r\n"
        "1.3.6.1.4                 early                   Integer      RO S\r\n"
        "1.3.6.1.4.1.9             later                   Integer      RO S\r\n"
        "1.3.6.1.4.1.9             again                   Integer      RO S\r\n");
    std::string out;
    ASSERT_TRUE(mib->nameOf("1.3.6.1.2.1.2.2.1.2.3", out));
    EXPECT_EQ(out, "ifDescr.3");  // before its prefix ifEntry in the file
    ASSERT_TRUE(mib->nameOf("1.3.6.1.2.1.2.2.1.5.1", out));
    EXPECT_EQ(out, "ifEntry.5.1");
    ASSERT_TRUE(mib->nameOf("1.3.6.1.4.1.9.1", out));
    EXPECT_EQ(out, "early.1.9.1");  // a shorter match earlier in the file wins
    ASSERT_TRUE(mib->nameOf("1.3.6.1.2.1.2.2.1.2", out));
    EXPECT_EQ(out, "ifDescr");
    EXPECT_FALSE(mib->nameOf("1.3.6.1.2.1.2.2.10", out));
    EXPECT_EQ(out, "1.3.6.1.2.1.2.2.10");
}

TEST(MibInfoRecords, TrapsGatherTheirVariablesInFileOrder) {
    const auto mib = MibInfo::fromText(
        "%trap       linkDown         1.3.6.1.6.3.1.1.5.3  7 3\r\n"
        "%tvar linkDown ifIndex\r\n"
        "%trap       acmeAlarm        1.3.6.1.4.1.9        6 1\r\n"
        "%tvar acmeAlarm acmeState.0\r\n"
        "%tvar linkDown 1.3.6.1.2.1.2.2.1.8\r\n"
        "%trap       linkDown         1.3.6.1.9            7 3\r\n");
    const Record* trap = mib->trap("linkDown");
    ASSERT_NE(trap, nullptr);
    EXPECT_EQ(trap->identifier, "1.3.6.1.6.3.1.1.5.3");
    EXPECT_EQ(trap->rest, "7 3");
    std::vector<std::string_view> variables;
    for (uint32_t position : mib->trapVariables("linkDown")) {
        variables.push_back(mib->records()[position].identifier);
    }
    EXPECT_EQ(variables, (std::vector<std::string_view>{"ifIndex", "1.3.6.1.2.1.2.2.1.8"}));
    EXPECT_EQ(mib->trap("linkUp"), nullptr);
    EXPECT_TRUE(mib->trapVariables("linkUp").empty());
}

TEST(MibInfoRecords, EveryLineIsARecordInFileOrder) {
    const auto mib = MibInfo::fromText(
        "-- comment\r\n"
        "1.3.6.1.2.1.1.1  sysDescr  OctetString  RO S (0,255) d\r\n"
        "%ev                 ifType           other 1\r\n"
        " \t\r\n"
        "%en          1.3.6.1.2.1.1                            system\r\n"
        "%ei   1.3.6.1.2.1.2.2.1    \"ifIndex\"\r\n"
        "%trap       coldStart        1.3.6.1.6.3.1.1.5.1  7 0\r\n"
        "%tvar coldStart sysUpTime.0\r\n"
        "%ea passed as it came\n"
        "last");
    std::vector<RecordKind> kinds;
    std::vector<uint32_t> offsets;
    for (const Record& r : mib->records()) {
        kinds.push_back(r.kind);
        offsets.push_back(r.offset);
    }
    using enum RecordKind;
    EXPECT_EQ(kinds, (std::vector<RecordKind>{Comment, Object, Enumeration, Blank, Name, Index,
                                              Trap, TrapVariable, Directive, Object}));
    EXPECT_EQ(mib->objectCount(), 2u);  // "last" has no descriptor and still counts
    EXPECT_EQ(offsets[1], 12u);
    const std::span<const Record> r = mib->records();
    EXPECT_EQ(r[1].rest, "RO S (0,255) d");
    EXPECT_EQ(r[2].descriptor, "ifType");
    EXPECT_EQ(r[2].rest, "other 1");
    EXPECT_EQ(r[4].identifier, "1.3.6.1.2.1.1");
    EXPECT_EQ(r[4].descriptor, "system");
    EXPECT_EQ(r[8].rest, "passed as it came");
    EXPECT_EQ(r[9].line, "last");
}

}  // namespace
}  // namespace korvimo::mibinfo
