#include "zorlet/mib_info_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zorlet/compiler_output.h"
#include "zorlet/crlf_writer.h"
#include "zorlet/program_run.h"
#include "zorlet/run_report.h"

namespace korvimo::zorlet {
namespace {

using korvimo::testing::crlfLines;

class RecordingReport : public RunReport {
  public:
    void progress(int padding, std::string_view text) override {
        progress_.push_back(std::string(static_cast<std::size_t>(padding), ' ') + "\r" +
                            std::string(text));
    }
    void error(std::string_view message) override { errors_.emplace_back(message); }

    std::vector<std::string> progress_;
    std::vector<std::string> errors_;
};

struct Built {
    std::string out;
    std::vector<std::string> errors;
    std::vector<std::string> progress;
};

Built build(const std::string& input) {
    CompilerOutput compiled(input);
    MibInfoBuilder builder(compiled);
    CrLfWriter out;
    RecordingReport report;
    builder.build(out, report);
    return Built{out.text(), report.errors_, report.progress_};
}

const std::string kInterfaces =
    "%en 1.3.6.1.2.1 mib-2\n"
    "%en mib-2.2 interfaces\n"
    "%en interfaces.2 ifTable\n"
    "%en ifTable.1 ifEntry\n";

TEST(MibInfoBuilder, ResolvesParentDescriptorAndMapsConventionWithoutRange) {
    Built b = build(kInterfaces + "ifEntry.1 ifIndex InterfaceIndex RO C1\n");
    std::vector<std::string> out = crlfLines(b.out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0], "1.3.6.1.2.1.2.2.1.1       ifIndex                 Integer      RO C1");
    EXPECT_TRUE(b.errors.empty());
}

TEST(MibInfoBuilder, WritesEveryLineWithCrLf) {
    Built b = build(kInterfaces + "ifEntry.1 ifIndex InterfaceIndex RO C1\r\n%tvar t x\r\n");
    EXPECT_EQ(b.out.find("\r\r"), std::string::npos);
    for (std::size_t i = 0; i < b.out.size(); ++i) {
        if (b.out[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(b.out[i - 1], '\r');
        }
    }
    EXPECT_EQ(b.out.substr(b.out.size() - 2), "\r\n");
}

TEST(MibInfoBuilder, AppendsConventionRangeOnlyWhenObjectHasNone) {
    Built b = build(kInterfaces +
                    "ifEntry.2 ifDescr DisplayString RO C\n"
                    "ifEntry.3 ifAlias DisplayString RW C (0,64)\n");
    std::vector<std::string> out = crlfLines(b.out);
    EXPECT_EQ(out[0],
              "1.3.6.1.2.1.2.2.1.2       ifDescr                 OctetString  RO C  (0,255)");
    EXPECT_EQ(out[1], "1.3.6.1.2.1.2.2.1.3       ifAlias                 OctetString  RW C (0,64)");
}

TEST(MibInfoBuilder, TruthValueGetsBuiltInEnumerationsUnlessInputHasSome) {
    Built builtIn = build(kInterfaces + "ifEntry.4 ifFlag TruthValue RW C\n");
    std::vector<std::string> out = crlfLines(builtIn.out);
    EXPECT_EQ(out[0],
              "1.3.6.1.2.1.2.2.1.4       ifFlag                  Integer      RW C  (1,2) e");
    EXPECT_EQ(out[1], "%ev                  ifFlag           true            1");
    EXPECT_EQ(out[2], "%ev                  ifFlag           false           2");
    EXPECT_EQ(out[3].substr(0, 3), "%en");

    Built own = build(kInterfaces + "%es TruthValue yes 1\nifEntry.4 ifFlag TruthValue RW C\n");
    out = crlfLines(own.out);
    EXPECT_EQ(out[1], "%ev                  ifFlag           yes 1");
    EXPECT_EQ(out[2].substr(0, 3), "%en");
}

TEST(MibInfoBuilder, TypeDefinitionsOverrideConventionTable) {
    Built b = build(kInterfaces +
                    "%tc DisplayString OctetString (0,255) d\n"
                    "ifEntry.2 ifDescr DisplayString RO C\n");
    EXPECT_EQ(crlfLines(b.out)[0],
              "1.3.6.1.2.1.2.2.1.2       ifDescr                 OctetString  RO C  (0,255) d");
}

TEST(MibInfoBuilder, FollowsTypeChainsAndListsEnumerationsOfTheDefiningType) {
    Built b = build(kInterfaces +
                    "%tc Outer Inner\n"
                    "%tc Inner Integer32 (1,3) e\n"
                    "%es Inner up 1\n"
                    "%es Outer never 9\n"
                    "%es Inner down 2\n"
                    "ifEntry.7 ifAdminStatus Outer RW C\n");
    std::vector<std::string> out = crlfLines(b.out);
    EXPECT_EQ(out[0],
              "1.3.6.1.2.1.2.2.1.7       ifAdminStatus           Integer      RW C  (1,3) e");
    EXPECT_EQ(out[1], "%ev                  ifAdminStatus    up 1");
    EXPECT_EQ(out[2], "%ev                  ifAdminStatus    down 2");
    EXPECT_EQ(out[3].substr(0, 3), "%en");
}

TEST(MibInfoBuilder, OrdersIdentifiersNumerically) {
    Built b = build(
        "1.3.6.1.2.1.10 a Integer RO S\n"
        "1.3.6.1.0 b Integer RO S\n"
        "1.3.6.1.2.1.9 c Integer RO S\n"
        "1.3.6.1 d Integer RO S\n");
    std::vector<std::string> out = crlfLines(b.out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].substr(0, 8), "1.3.6.1 ");
    EXPECT_EQ(out[1].substr(0, 10), "1.3.6.1.0 ");
    EXPECT_EQ(out[2].substr(0, 14), "1.3.6.1.2.1.9 ");
    EXPECT_EQ(out[3].substr(0, 15), "1.3.6.1.2.1.10 ");
}

TEST(MibInfoBuilder, KeepsOnlyFirstOfEqualIdentifiersAndNothingUpToZeroZero) {
    Built b = build(
        "1.3.6.1.4 second Integer RO S\n"
        "0 zero Integer RO S\n"
        "0.0 zerozero Integer RO S\n"
        "1.3.6.1.4 third Integer RO S\n"
        "1.3.6.1.04 fourth Integer RO S\n");
    std::vector<std::string> out = crlfLines(b.out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NE(out[0].find("second"), std::string::npos);
}

TEST(MibInfoBuilder, UnresolvableDescriptorEmptiesObjectSectionOnly) {
    Built b = build(kInterfaces +
                    "ifEntry.1 ifIndex Integer RO C1\n"
                    "nowhere.1 lost Integer RO S\n"
                    "%ei ifEntry [ifIndex]\n");
    ASSERT_EQ(b.errors.size(), 1u);
    EXPECT_EQ(b.errors[0],
              "zorlet: ERROR: Cannot map object descriptor = nowhere.\nInclude its object "
              "identifier.\n");
    std::vector<std::string> out = crlfLines(b.out);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[0].substr(0, 3), "%en");
    EXPECT_EQ(out[4], "%ei   1.3.6.1.2.1.2.2.1 [ifIndex]");
}

TEST(MibInfoBuilder, UnmappableSyntaxCutsObjectSectionBeforeThatObject) {
    Built b = build(
        "1.1.5 e Mystery RO S\n"
        "1.1.1 a Integer RO S\n"
        "1.1.3 c Integer RO S\n"
        "1.1.2 b Integer RO S\n"
        "1.1.6 f Integer RO S\n"
        "1.1.4 d Integer RO S\n"
        "%en 1.1 one\n");
    std::vector<std::string> out = crlfLines(b.out);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[3].substr(0, 6), "1.1.4 ");
    EXPECT_EQ(out[4].substr(0, 3), "%en");
    ASSERT_EQ(b.errors.size(), 1u);
    EXPECT_EQ(b.errors[0],
              "zorlet: ERROR: Cannot map syntax = Mystery. Include its type definition.\n");
}

TEST(MibInfoBuilder, FailedChainReportsEveryLevel) {
    Built b = build("%tc A B\n%tc B C\n1.1 x A RO S\n");
    ASSERT_EQ(b.errors.size(), 3u);
    EXPECT_NE(b.errors[0].find("syntax = C."), std::string::npos);
    EXPECT_NE(b.errors[1].find("syntax = C."), std::string::npos);
    EXPECT_NE(b.errors[2].find("syntax = B."), std::string::npos);
    EXPECT_EQ(b.out, "");
}

TEST(MibInfoBuilder, TypeCycleEndsWithCannotMap) {
    Built b = build("%tc A B\n%tc B A\n1.1 x A RO S\n1.0 y Integer RO S\n");
    ASSERT_FALSE(b.errors.empty());
    EXPECT_NE(b.errors[0].find("syntax = A."), std::string::npos);
    EXPECT_EQ(crlfLines(b.out).size(), 1u);
}

TEST(MibInfoBuilder, DescriptorCycleEndsWithCannotMap) {
    Built b = build("%en a.1 b\n%en b.1 a\nb.2 x Integer RO S\n");
    ASSERT_FALSE(b.errors.empty());
    EXPECT_NE(b.errors[0].find("descriptor = b."), std::string::npos);
    EXPECT_EQ(b.out, "");
}

TEST(MibInfoBuilder, TypeLineWithoutSyntaxStopsLaterDefinitionsSilently) {
    Built b = build(
        "%tc Early Integer32 (1,2)\n%tc Broken\n%tc Late Integer32\n"
        "1.1 x Early RO S\n1.2 y Late RO S\n");
    std::vector<std::string> out = crlfLines(b.out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NE(out[0].find("(1,2)"), std::string::npos);
    EXPECT_TRUE(b.errors.empty());
}

TEST(MibInfoBuilder, ObjectLineWithoutSyntaxCutsSectionSilently) {
    Built b = build("1.1 a Integer RO S\n1.2 b\n1.3 c Integer RO S\n");
    EXPECT_EQ(crlfLines(b.out).size(), 1u);
    EXPECT_TRUE(b.errors.empty());
}

TEST(MibInfoBuilder, FixedIdentifiersWinOverInput) {
    Built b = build(
        "%en 9.9 sysUpTime\n%en 8.8 snmpTraps\nsysUpTime.0 up TimeTicks RO S\n"
        "%trap       coldStart snmpTraps.1 7 1\n");
    std::vector<std::string> out = crlfLines(b.out);
    EXPECT_EQ(out[0].substr(0, 18), "1.3.6.1.2.1.1.3.0 ");
    EXPECT_EQ(out.back(), "%trap       coldStart        1.3.6.1.6.3.1.1.5.1  7 1");
}

TEST(MibInfoBuilder, NameSectionIsSortedAndDropsExtraFields) {
    Built b = build("%en 1.3.6.1.2 mgmt extra words\n%en 1.3.6.1 internet\n");
    std::vector<std::string> out = crlfLines(b.out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0],
              "%en          1.3.6.1                                  internet               ");
    EXPECT_EQ(out[1],
              "%en          1.3.6.1.2                                mgmt                   ");
}

TEST(MibInfoBuilder, NameLineWithoutDescriptorHidesLaterDefinitions) {
    Built b = build("%en 1.3 org\n%en 1.3.6\n%en org.6 dod\ndod.1 x Integer RO S\n");
    ASSERT_FALSE(b.errors.empty());
    EXPECT_NE(b.errors[0].find("descriptor = dod."), std::string::npos);
}

TEST(MibInfoBuilder, AugmentationCopiesIndexClauseUnderAugmentingEntry) {
    Built b = build(kInterfaces +
                    "%en 1.3.6.1.2.1.31.1.1.1 ifXEntry\n%ea ifXEntry ifEntry\n"
                    "%ei ifEntry [ifIndex]\n");
    std::vector<std::string> out = crlfLines(b.out);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[out.size() - 2], "%ei   1.3.6.1.2.1.31.1.1.1 [ifIndex]");
    EXPECT_EQ(out[out.size() - 1], "%ei   1.3.6.1.2.1.2.2.1 [ifIndex]");
    EXPECT_EQ(b.progress[b.progress.size() - 2],
              std::string(59, ' ') + "\rProcessed augments info: 1.3.6.1.2.1.31.1.1.1\r");
}

TEST(MibInfoBuilder, AugmentationWithoutIndexLineIsReported) {
    Built b = build(kInterfaces + "%en 1.3.6.1.2.1.31.1.1.1 ifXEntry\n%ea ifXEntry ifEntry \n");
    ASSERT_EQ(b.errors.size(), 1u);
    EXPECT_EQ(b.errors[0],
              "zorlet: ERROR: Cannot find index information about ifEntry\n. Please include "
              "definition.\n");
}

TEST(MibInfoBuilder, PassesOtherDirectivesThroughInInputOrder) {
    Built b = build(
        "%trap linkDown 1.3.6.1.6.3.1.1.5.3 7 3\n%tvar linkDown ifIndex\n"
        "%MODULENAME IF-MIB\n%tc T Integer32\n%es T a 1\n%custom  keep   spacing\n");
    std::vector<std::string> out = crlfLines(b.out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], "%trap       linkDown         1.3.6.1.6.3.1.1.5.3  7 3");
    EXPECT_EQ(out[1], "%tvar linkDown ifIndex");
    EXPECT_EQ(out[2], "%custom  keep   spacing");
}

TEST(MibInfoBuilder, IgnoresCommentsAndBlankLines) {
    Built b = build("-- 1.1 a Integer RO S\n   \t\n\n1.2 b Integer RO S\n");
    EXPECT_EQ(crlfLines(b.out).size(), 1u);
}

TEST(MibInfoBuilder, CrLfAndLfInputGiveTheSameOutput) {
    std::string lf = kInterfaces + "ifEntry.2 ifDescr DisplayString RO C\n%ei ifEntry [ifIndex]\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') {
            crlf.push_back('\r');
        }
        crlf.push_back(c);
    }
    EXPECT_EQ(build(lf).out, build(crlf).out);
}

TEST(MibInfoBuilder, LastLineWithoutNewlineStillEndsItsOutputLine) {
    Built b = build("1.1 a Integer RO S\n%en 1.1 a");
    EXPECT_EQ(crlfLines(b.out).size(), 2u);
    EXPECT_EQ(b.out.substr(b.out.size() - 2), "\r\n");
}

TEST(MibInfoBuilder, LineLongerThan499CharactersReadsAsSeveralLines) {
    std::string longTail(600, 'x');
    Built b = build("1.1 a Integer RO S " + longTail + "\n");
    // The first 499 characters form one object line; the rest becomes a line of its own,
    // which names an unknown descriptor and so empties the object section.
    ASSERT_EQ(b.errors.size(), 1u);
    EXPECT_NE(b.errors[0].find("descriptor = xxx"), std::string::npos);
}

TEST(MibInfoBuilder, ReportsProgressForObjectsNamesIndexesAndTraps) {
    Built b = build("%en 1.1 a\n1.1.1 x Integer RO S\n%ei a [x]\n%trap t a 6 1\n");
    ASSERT_EQ(b.progress.size(), 4u);
    EXPECT_EQ(b.progress[0], std::string(61, ' ') + "\rProcessed 1.1.1\r");
    EXPECT_EQ(b.progress[1], std::string(61, ' ') + "\rProcessed 1.1\r");
    EXPECT_EQ(b.progress[2], std::string(59, ' ') + "\rProcessed index info: 1.1\r");
    EXPECT_EQ(b.progress[3], std::string(59, ' ') + "\rProcessed trap info: t\r");
}

TEST(MibInfoBuilder, EmptyAndBinaryInputsDoNotFail) {
    EXPECT_EQ(build("").out, "");
    std::string binary;
    for (int i = 0; i < 4096; ++i) {
        binary.push_back(static_cast<char>((i * 131 + 7) % 256));
    }
    build(binary);
    // Whatever garbage comes in, every line that goes out ends in CR LF; directive lines of
    // binary bytes (NULs and lone CRs among them) are copied through.
    std::string directives;
    for (std::size_t i = 0; i < binary.size(); i += 64) {
        directives += "%x" + binary.substr(i, 64) + "\n";
    }
    Built b = build(binary + "\n" + directives);
    ASSERT_FALSE(b.out.empty());
    for (std::size_t i = 0; i < b.out.size(); ++i) {
        if (b.out[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(b.out[i - 1], '\r') << "at " << i;
        }
    }
}

}  // namespace
}  // namespace korvimo::zorlet
