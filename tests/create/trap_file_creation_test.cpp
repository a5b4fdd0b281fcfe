// Trap file creation from the trap records of a mibinfo.out: the lines of mapped traps and
// notifications, what an unmappable trap or variable leaves, and where a run ends.
#include "create/trap_file_creation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "traps/trap_writer.h"

namespace korvimo::create {
namespace {

const char* const kObjects =
    "1.3.6.1.2.1.1.5           sysName                 OctetString  RW S  (0,255) d\r\n"
    "1.3.6.1.2.1.2.2.1.1       ifIndex                 Integer      RO C1\r\n"
    "1.3.6.1.2.1.2.2.1.2       ifDescr                 OctetString  RO C  (0,255) d\r\n"
    "1.3.6.1.4.1.9.9.41        ciscoSyslogMIB          ObjectID     NA S\r\n"
    "%en          1.3.6.1.2.1.2                            interfaces\r\n";

struct Created {
    std::string text;
    std::vector<std::string> status;  // "Processing" lines and failures, in order
};

Created create(const std::string& directives) {
    TrapFileCreation creation(mibinfo::MibInfo::fromText(std::string(kObjects) + directives));
    Created run;
    TrapFileCreation::Step step;
    for (int guard = 0; guard < 100 && creation.next(run.text, step); ++guard) {
        run.status.push_back("Processing " + step.trapName);
        if (!step.failure.empty()) {
            run.status.push_back(step.failure);
        }
    }
    return run;
}

TEST(TrapFileCreation, V1TrapWithTwoVariables) {
    const Created run = create(
        "%trap       linkDownX        1.3.6.1.4.1.9.9.41.2 6 1\r\n"
        "%tvar linkDownX ifIndex.1\r\n"
        "%tvar linkDownX ifDescr.1\r\n");
    EXPECT_EQ(run.text,
              "##linkDownX\r\n"
              "%T  linkDownX             , 1.3.6.1.4.1.9.9.41.2, 6, 1\r\n"
              "%V  linkDownX             , 1.3.6.1.2.1.2.2.1.1.1, Integer   , 1         \r\n"
              "%V  linkDownX             , 1.3.6.1.2.1.2.2.1.2.1, OctetString, "
              "My_ifDescr.1_string\r\n");
    EXPECT_EQ(run.status, std::vector<std::string>{"Processing linkDownX"});
}

TEST(TrapFileCreation, ACommaInANameOrVariableLeavesAComment) {
    const Created run = create(
        "%trap       bad,trap         1.3.6.1.4.1.9.9.41.2 6 1\r\n"
        "%trap       badVar           1.3.6.1.4.1.9.9.41.2 6 2\r\n"
        "%tvar badVar ifDescr.1,2\r\n");
    EXPECT_EQ(run.text,
              "# bad,trap: Cannot write bad,trap: the trap file takes no comma there\r\n"
              "# badVar: Cannot write ifDescr.1,2: the trap file takes no comma there\r\n");
    EXPECT_EQ(run.status[1], "bad,trap: Cannot write bad,trap: the trap file takes no comma there");
}

TEST(TrapFileCreation, NotificationSplitsAtItsLastArc) {
    const Created run = create(
        "%trap       n3               1.3.6.1.4.1.99.0.3   7 3\r\n"
        "%trap       bare             42                   7 9\r\n"
        "%trap       named            ciscoSyslogMIB.2.0.1 7 1\r\n"
        "%tvar named 1.3.6.1.2.1.1.5.0\r\n");
    EXPECT_NE(run.text.find(traps::definitionLine("n3", "1.3.6.1.4.1.99.0", "7", "3")),
              std::string::npos);
    EXPECT_NE(run.text.find(traps::definitionLine("bare", "42", "7", "9")), std::string::npos);
    // A descriptor identifier resolves through the object lines; numeric variables too.
    EXPECT_NE(run.text.find(traps::definitionLine("named", "1.3.6.1.4.1.9.9.41.2.0", "7", "1")),
              std::string::npos);
    EXPECT_NE(run.text.find(traps::variableLine("named", "1.3.6.1.2.1.1.5.0", "OctetString",
                                                "My_1.3.6.1.2.1.1.5.0_string")),
              std::string::npos)
        << run.text;
}

TEST(TrapFileCreation, UnmappableTrapOrVariableLeavesOnlyItsCommentLine) {
    const Created run = create(
        "%trap       t1               1.3.6.1.4.1.99 6 1\r\n"
        "%tvar t1 ifIndex\r\n"
        "%tvar t1 noSuchObject.1\r\n"
        "%trap       t2               unknownNode.1 7 1\r\n"
        "%trap       t3               1.3.6.1.4.1.99 6 3\r\n"
        "%tvar t3 sysName . 0\r\n");
    EXPECT_EQ(
        run.text,
        traps::unmappedVariableLine("t1", "noSuchObject.1") +
            traps::unmappedTrapLine("t2", "unknownNode.1") + traps::trapComment("t3") +
            traps::definitionLine("t3", "1.3.6.1.4.1.99", "6", "3") +
            traps::variableLine("t3", "1.3.6.1.2.1.1.5.0", "OctetString", "My_sysName.0_string"));
    EXPECT_EQ(run.status, (std::vector<std::string>{
                              "Processing t1", "t1: Cannot map noSuchObject.1 to object identifier",
                              "Processing t2", "t2: Cannot map unknownNode.1 to object identifiers",
                              "Processing t3"}));
}

TEST(TrapFileCreation, VariablesOfTheNameWhereverTheyStand) {
    // Every %tvar of the trap's name, in file order, also one before its %trap line.
    const Created run = create(
        "%tvar t ifIndex\r\n"
        "%trap       t                1.3.6.1.4.1.99 6 1\r\n"
        "%tvar t ifDescr\r\n");
    const std::size_t index = run.text.find("1.3.6.1.2.1.2.2.1.1 ");
    const std::size_t descr = run.text.find("1.3.6.1.2.1.2.2.1.2 ");
    ASSERT_NE(index, std::string::npos);
    ASSERT_NE(descr, std::string::npos);
    EXPECT_LT(index, descr);
}

TEST(TrapFileCreation, RunEndsAtTheLastOrAnIncompleteTrapRecord) {
    EXPECT_TRUE(create("").text.empty());
    const Created run = create(
        "%trap       a                1.3.6.1.4.1.99 6 1\r\n"
        "%trap       b                1.3.6.1.4.1.99 6\r\n"
        "%trap       c                1.3.6.1.4.1.99 6 3\r\n");
    EXPECT_EQ(run.status, std::vector<std::string>{"Processing a"});
}

TEST(TrapFileCreation, HeaderWithAndWithoutTheMibList) {
    const std::vector<std::string> mibs{"IF-MIB"};
    EXPECT_EQ(TrapFileCreation::header(&mibs, std::nullopt), traps::trapFileHeader(mibs));
    EXPECT_EQ(TrapFileCreation::header(nullptr, "1.3.6.1.2.1.11"),
              traps::trapFileHeader({}) + traps::standardTrapsBlock("1.3.6.1.2.1.11"));
}

}  // namespace
}  // namespace korvimo::create
