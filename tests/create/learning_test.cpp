// Learning: the walk's bounds, the learned file's header, the rules a teacher's answers are
// taken by (GetNext and GetBulk alike), the resumed name lookup, and the import of a walk file.
#include "create/learning.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "create/mib_objects.h"
#include "create/variable_file_creation.h"
#include "snmp/error_status.h"

namespace korvimo::create {
namespace {

constexpr const char* kMib =
    "-- objects\r\n"
    "1.3.6.1.2.1.1.1 sysDescr OctetString RO S (0,255) d\r\n"
    "1.3.6.1.2.1.1.3 sysUpTime TimeTicks RO S\r\n"
    "1.3.6.1.2.1.1.5 sysName OctetString RW S (0,255) d\r\n"
    "1.3.6.1.2.1.2.1 ifNumber Integer RO S\r\n";

snmp::ObjectId oid(std::string_view text) {
    snmp::ObjectId out;
    EXPECT_TRUE(walkBound(text, nullptr, out)) << text;
    return out;
}

snmp::VarBind answer(std::string_view name, uint16_t syntax = snmp::kTagInteger,
                     uint32_t number = 1) {
    snmp::VarBind b;
    b.name = oid(name);
    b.value.syntax = syntax;
    b.value.number = number;
    return b;
}

snmp::Pdu responseOf(std::vector<snmp::VarBind> bindings, int32_t errorStatus = 0) {
    snmp::Pdu pdu;
    pdu.type = snmp::kPduResponse;
    pdu.errorStatus = errorStatus;
    pdu.varBinds.items = std::move(bindings);
    return pdu;
}

struct LearningTest : ::testing::Test {
    std::shared_ptr<const mibinfo::MibInfo> mib = mibinfo::MibInfo::fromText(kMib);
    LearnedWalk::Settings settings{mib.get()};
    std::string out;
    snmp::ObjectId next;

    // Feeds one GetNext answer after `next`, as a learning run does.
    LearnedWalk::Outcome getNext(LearnedWalk& walk, const snmp::Pdu& response) {
        const snmp::ObjectId requested = next;
        return walk.response(response, requested, WalkRequest::GetNext, out, next);
    }
};

std::string variableLine(std::string_view name, std::string_view type, std::string_view access,
                         std::string_view behaviour) {
    std::string line;
    appendVariableLine(line, name, type, access, behaviour);
    return line;
}

TEST_F(LearningTest, WalkBoundsAsNumbersOrDescriptors) {
    snmp::ObjectId bound;
    ASSERT_TRUE(walkBound("1.3.6.1.2.1.2", mib.get(), bound));
    EXPECT_EQ(bound.ids, (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 2}));
    ASSERT_TRUE(walkBound("sysDescr.0", mib.get(), bound));
    EXPECT_EQ(bound.ids, (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 1, 1, 0}));
    ASSERT_TRUE(walkBound("sysName", mib.get(), bound));
    EXPECT_EQ(bound.ids, (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 1, 5}));
    EXPECT_FALSE(walkBound("ifInOctets.1", mib.get(), bound));
    EXPECT_FALSE(walkBound("sysDescr.0", nullptr, bound));
    EXPECT_FALSE(walkBound("sysDescr.x", mib.get(), bound));
    EXPECT_FALSE(walkBound("1.3..6", mib.get(), bound));
    EXPECT_FALSE(walkBound("", mib.get(), bound));
}

TEST(LearningHeader, LearnedAndImportedFrames) {
    std::string learned;
    appendLearnedHeader("192.0.2.7", "system", kEndOfAllMibs, learned);
    EXPECT_EQ(learned,
              "####################################################\r\n"
              "# Teaching Agent's IP Address:   192.0.2.7\r\n"
              "# Start of Walk:                 system\r\n"
              "# End of Walk:                   End Of All MIBs\r\n" +
                  valueFormatsBlock() + "####################################################\r\n");
    std::string imported;
    appendImportedHeader("/tmp/router.walk", imported);
    EXPECT_EQ(imported,
              "####################################################\r\n"
              "# Imported from walk file:       /tmp/router.walk\r\n" +
                  valueFormatsBlock() + "####################################################\r\n");
}

TEST_F(LearningTest, GetNextWalkEndsAtNoSuchNameOrEndOfMibView) {
    LearnedWalk v1(settings);
    next = oid("1.0");
    EXPECT_EQ(getNext(v1, responseOf({answer("1.3.6.1.2.1.1.3.0", snmp::kTagTimeTicks, 500)})),
              LearnedWalk::Outcome::Continue);
    EXPECT_EQ(next, oid("1.3.6.1.2.1.1.3.0"));
    EXPECT_EQ(v1.lastName(), "sysUpTime.0");
    EXPECT_EQ(out, variableLine("sysUpTime.0", "TimeTicks", "RO", "clock(500)"));
    EXPECT_EQ(getNext(v1, responseOf({answer("1.3.6.1.2.1.1.3.0")}, snmp::kNoSuchName)),
              LearnedWalk::Outcome::Completed);
    EXPECT_EQ(v1.learned(), 1u);

    settings.endOfMibViewEnds = true;
    LearnedWalk v2(settings);
    out.clear();
    EXPECT_EQ(getNext(v2, responseOf({answer("1.3.6.1.2.1.1.3.0", snmp::kTagEndOfMibView)})),
              LearnedWalk::Outcome::Completed);
    EXPECT_EQ(out, "");
}

TEST_F(LearningTest, EndBoundCompletesWithoutWritingTheEndAnswer) {
    settings.end = oid("1.3.6.1.2.1.2");
    LearnedWalk walk(settings);
    next = oid("1.3.6.1.2.1.1");
    EXPECT_EQ(getNext(walk, responseOf({answer("1.3.6.1.2.1.1.1.0")})),
              LearnedWalk::Outcome::Continue);
    EXPECT_EQ(getNext(walk, responseOf({answer("1.3.6.1.2.1.1.5.0")})),
              LearnedWalk::Outcome::Continue);
    EXPECT_EQ(getNext(walk, responseOf({answer("1.3.6.1.2.1.2.1.0")})),
              LearnedWalk::Outcome::Completed);
    EXPECT_EQ(walk.learned(), 2u);
    EXPECT_EQ(out.find("ifNumber"), std::string::npos);
    EXPECT_EQ(walk.lastName(), "sysName.0");
}

TEST_F(LearningTest, WrongOrderWritesTheErrorLineAndGoesOnFromThatName) {
    LearnedWalk walk(settings);
    next = oid("1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(getNext(walk, responseOf({answer("1.3.6.1.2.1.1.1.0")})),
              LearnedWalk::Outcome::Continue);
    EXPECT_EQ(next, oid("1.3.6.1.2.1.1.1.0"));
    EXPECT_EQ(getNext(walk, responseOf({answer("1.3.6.1.2.1.1.1.0")})),  // a repeat
              LearnedWalk::Outcome::Continue);
    EXPECT_EQ(out,
              "#GetNext error: Wrong lexicographical ordering: 1.3.6.1.2.1.1.1.0\r\n"
              "#GetNext error: Wrong lexicographical ordering: 1.3.6.1.2.1.1.1.0\r\n");
    EXPECT_EQ(walk.wrongOrder(), 2u);
    EXPECT_EQ(walk.learned(), 0u);
}

TEST_F(LearningTest, GetBulkWritesWhatTheSameAnswersOneByOneWrite) {
    settings.endOfMibViewEnds = true;
    const std::vector<snmp::VarBind> answers = {
        answer("1.3.6.1.2.1.1.1.0"), answer("1.3.6.1.2.1.1.3.0", snmp::kTagTimeTicks, 9),
        answer("1.3.6.1.2.1.1.1.0"),  // backwards
        answer("1.3.6.1.2.1.1.5.0"), answer("1.3.6.1.2.1.1.6.0", snmp::kTagEndOfMibView),
        answer("1.3.6.1.2.1.2.1.0"),  // after the end mark: not taken
    };
    LearnedWalk bulk(settings);
    std::string bulkOut;
    EXPECT_EQ(bulk.response(responseOf(answers), oid("1.0"), WalkRequest::GetBulk, bulkOut, next),
              LearnedWalk::Outcome::Completed);

    LearnedWalk single(settings);
    next = oid("1.0");
    for (std::size_t i = 0; i + 2 < answers.size(); ++i) {
        EXPECT_EQ(getNext(single, responseOf({answers[i]})), LearnedWalk::Outcome::Continue);
    }
    EXPECT_EQ(getNext(single, responseOf({answers[4]})), LearnedWalk::Outcome::Completed);
    EXPECT_EQ(bulkOut, out);
    EXPECT_EQ(bulk.learned(), 3u);
    EXPECT_EQ(bulk.wrongOrder(), 1u);

    // A GetBulk answer that stops short continues from its last name.
    LearnedWalk partial(settings);
    EXPECT_EQ(partial.response(responseOf({answers[0], answers[1]}), oid("1.0"),
                               WalkRequest::GetBulk, bulkOut, next),
              LearnedWalk::Outcome::Continue);
    EXPECT_EQ(next, answers[1].name);
}

TEST_F(LearningTest, OtherErrorsAndEmptyResponses) {
    LearnedWalk walk(settings);
    next = oid("1.0");
    EXPECT_EQ(getNext(walk, responseOf({answer("1.3.6.1.2.1.1.1.0")}, snmp::kGenErr)),
              LearnedWalk::Outcome::OtherError);
    EXPECT_EQ(getNext(walk, responseOf({})), LearnedWalk::Outcome::NoBindings);
    EXPECT_EQ(out, "");
}

TEST(LearningLookup, ResumesAtTheLastHitAmongDuplicateIdentifiers) {
    const auto mib = mibinfo::MibInfo::fromText(
        "1.3.6.1.9.1 alpha Integer RO S\n"
        "1.3.6.1.9.2 beta Integer RO S\n"
        "1.3.6.1.9.1 gamma Integer RO S\n");
    uint32_t position = 0;
    LearnedWalk shared({mib.get(), nullptr, Replay::Moving, false, std::nullopt, &position});
    std::string out;
    shared.binding(answer("1.3.6.1.9.2.0"), snmp::ObjectId{}, out);
    EXPECT_EQ(shared.lastName(), "beta.0");
    shared.binding(answer("1.3.6.1.9.1.0"), snmp::ObjectId{}, out);
    EXPECT_EQ(shared.lastName(), "gamma.0");
    // The position is kept across walks: the next run resumes at gamma too.
    LearnedWalk later({mib.get(), nullptr, Replay::Moving, false, std::nullopt, &position});
    later.binding(answer("1.3.6.1.9.1.4"), snmp::ObjectId{}, out);
    EXPECT_EQ(later.lastName(), "gamma.4");
    LearnedWalk fresh({mib.get()});
    fresh.binding(answer("1.3.6.1.9.1.4"), snmp::ObjectId{}, out);
    EXPECT_EQ(fresh.lastName(), "alpha.4");
}

TEST_F(LearningTest, ImportCountsProblemsAndOutOfOrderRecordsInLineOrder) {
    const WalkContents walk = parseWalk(
        ".1.3.6.1.2.1.1.1.0 = STRING: \"box\"\n"
        ".1.3.6.1.2.1.1.3.0 = Timeticks: (500) 0:00:05.00\n"
        "no separator\n"
        ".1.3.6.1.2.1.1.2.0 = OID: .1.3.6.1.4.1.9\n"
        ".1.3.6.1.2.1.1.5.0 = STRING: gw\n"
        ".1.3.6.1.2.1.9.9 = Float32: 1\n");
    settings.end = oid("1.3.6.1.2.1.1.5");  // an import takes the whole file
    ImportSummary summary;
    std::vector<std::string> problems;
    importWalk(walk, "a.walk", settings, out, summary,
               [&](std::string_view line) { problems.emplace_back(line); });
    EXPECT_EQ(summary.lines, 6u);
    EXPECT_EQ(summary.read, 6u);
    EXPECT_EQ(summary.written, 3u);
    EXPECT_EQ(summary.skipped, 3u);
    const std::vector<std::string> expectedProblems = {
        "Line 3: no \" = \" in the line",
        "Line 4: wrong lexicographical ordering: 1.3.6.1.2.1.1.2.0 is not after the line "
        "before it",
        "Line 6: unknown type \"Float32\"",
    };
    EXPECT_EQ(problems, expectedProblems);
    std::string expected;
    appendImportedHeader("a.walk", expected);
    expected += variableLine("sysDescr.0", "OctetString", "RO", "fixed(box)");
    expected += variableLine("sysUpTime.0", "TimeTicks", "RO", "clock(500)");
    expected += "#GetNext error: Wrong lexicographical ordering: 1.3.6.1.2.1.1.2.0\r\n";
    expected += variableLine("sysName.0", "OctetString", "RW", "r_lastset(0, 255, gw)");
    EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace korvimo::create
