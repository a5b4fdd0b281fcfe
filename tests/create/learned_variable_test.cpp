// The variable line of a teacher's answer: name and access through mibinfo.out, behaviour by
// learn.def, replay mode, type and access; and the override file itself.
#include "create/learned_variable.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace korvimo::create {
namespace {

constexpr const char* kMib =
    "1.3.6.1.2.1.1.1 sysDescr OctetString RO S (0,255) d\r\n"
    "1.3.6.1.2.1.1.3 sysUpTime TimeTicks RO S\r\n"
    "1.3.6.1.2.1.1.5 sysName OctetString RW S (0,255) d\r\n"
    "1.3.6.1.2.1.2.2.1.7 ifAdminStatus Integer RW C (1,3) e\r\n"
    "1.3.6.1.2.1.2.2.1.9 ifStatus Integer RC C r\r\n"
    "1.3.6.1.2.1.2.2.1.10 ifLast Integer WO C\r\n";

snmp::VarBind binding(std::string_view name, uint16_t syntax, uint32_t number = 0) {
    snmp::VarBind b;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t dot = std::min(name.find('.', start), name.size());
        b.name.ids.push_back(
            static_cast<uint32_t>(std::stoul(std::string(name.substr(start, dot - start)))));
        start = dot + 1;
    }
    b.value.syntax = syntax;
    b.value.number = number;
    return b;
}

struct LearnedVariableTest : ::testing::Test {
    std::shared_ptr<const mibinfo::MibInfo> mib = mibinfo::MibInfo::fromText(kMib);
    LearnedVariable of(const snmp::VarBind& b, Replay replay = Replay::Moving,
                       const OverrideTable* overrides = nullptr) const {
        return learnedVariable(b, mib.get(), overrides, replay);
    }
};

TEST_F(LearnedVariableTest, NameAccessAndTicksFromTheObjectLine) {
    const LearnedVariable v = of(binding("1.3.6.1.2.1.1.3.0", snmp::kTagTimeTicks, 500));
    EXPECT_EQ(v.name, "sysUpTime.0");
    EXPECT_EQ(v.type, "TimeTicks");
    EXPECT_EQ(v.access, "RO");
    EXPECT_EQ(v.behaviour, "clock(500)");
    // No object line (nor a leading part of one that ends mid-arc): dotted decimal, "RO".
    const LearnedVariable absent = of(binding("1.3.6.1.2.1.1.30", snmp::kTagInteger, 7));
    EXPECT_EQ(absent.name, "1.3.6.1.2.1.1.30");
    EXPECT_EQ(absent.access, "RO");
    EXPECT_EQ(absent.behaviour, "fixed(7)");
    EXPECT_EQ(learnedVariable(binding("1.3.6.1.2.1.1.3.0", snmp::kTagTimeTicks, 1), nullptr,
                              nullptr, Replay::Moving)
                  .name,
              "1.3.6.1.2.1.1.3.0");
}

TEST_F(LearnedVariableTest, ReadOnlyBehaviourFollowsTheAnswersType) {
    const char* name = "1.3.6.1.4.1.9.1";
    EXPECT_EQ(of(binding(name, snmp::kTagCounter, 12)).behaviour, "randomup(12, 100)");
    snmp::VarBind big = binding(name, snmp::kTagCounter64);
    big.value.counter64 = 4000000000ull;
    EXPECT_EQ(of(big).behaviour, "randomup(4000000000, 100)");
    EXPECT_EQ(of(binding(name, snmp::kTagGauge, 3)).behaviour, "random(3, 100)");
    EXPECT_EQ(of(binding(name, snmp::kTagInteger, static_cast<uint32_t>(-4))).behaviour,
              "fixed(-4)");
    snmp::VarBind text = binding(name, snmp::kTagOctetString);
    text.value.octets.bytes = {'h', 'i'};
    EXPECT_EQ(of(text).type, "OctetString");
    EXPECT_EQ(of(text).behaviour, "fixed(hi)");
    text.value.octets.bytes.assign(1000, 0x01);  // far past the debug log's 300 characters
    EXPECT_EQ(of(text).behaviour.size(), std::string("fixed(0x)").size() + 2000);
    snmp::VarBind address = binding(name, snmp::kTagIpAddress);
    address.value.octets.bytes = {10, 0, 0, 1};
    EXPECT_EQ(of(address).behaviour, "fixed(10.0.0.1)");
    snmp::VarBind oid = binding(name, snmp::kTagObjectId);
    oid.value.oid.ids = {1, 3, 6};
    EXPECT_EQ(of(oid).type, "ObjectID");
    EXPECT_EQ(of(oid).behaviour, "fixed(1.3.6)");
    EXPECT_EQ(of(binding(name, snmp::kTagNull)).behaviour, "fixed(NULL)");
}

// Values the agent would read otherwise than recorded are written so that it serves them.
TEST_F(LearnedVariableTest, ValuesAreWrittenAsTheAgentReadsThemBack) {
    const char* name = "1.3.6.1.4.1.9.1";
    EXPECT_EQ(of(binding(name, snmp::kTagGauge, 4294967295u)).behaviour, "random(4294967295, 100)");
    EXPECT_EQ(of(binding(name, snmp::kTagCounter, 2147483648u)).behaviour,
              "randomup(2147483648, 100)");
    const LearnedVariable unsigned32 = of(binding(name, snmp::kTagUInteger32, 5));
    EXPECT_EQ(unsigned32.type, "Gauge");
    EXPECT_EQ(unsigned32.behaviour, "random(5, 100)");
    snmp::VarBind big = binding(name, snmp::kTagCounter64);
    big.value.counter64 = 5000000000ull;  // past the 32 bits randomup counts in
    EXPECT_EQ(of(big).behaviour, "fixed(5000000000)");

    snmp::VarBind text = binding(name, snmp::kTagOctetString);
    for (const auto& [recorded, written] : std::vector<std::pair<std::string, std::string>>{
             {"0x41", "fixed(0x30783431)"},       // would read as the hex of "A"
             {" pad ", "fixed(0x2070616420)"},    // blanks at the ends would be trimmed
             {"a, b (c)", "fixed(a, b (c))"}}) {  // fixed takes commas and parentheses
        text.value.octets.bytes.assign(recorded.begin(), recorded.end());
        EXPECT_EQ(of(text).behaviour, written) << recorded;
    }
    // r_lastset's value ends at a comma.
    snmp::VarBind writable = binding("1.3.6.1.2.1.1.5.0", snmp::kTagOctetString);
    writable.value.octets.bytes = {'a', ',', 'b'};
    EXPECT_EQ(of(writable).behaviour, "r_lastset(0, 255, 0x612c62)");
}

TEST_F(LearnedVariableTest, WritableBehaviourFollowsMarkerAndRange) {
    const LearnedVariable row = of(binding("1.3.6.1.2.1.2.2.1.9.4", snmp::kTagInteger, 1));
    EXPECT_EQ(row.name, "ifStatus.4");
    EXPECT_EQ(row.access, "RC");
    EXPECT_EQ(row.behaviour, "rowstatus(1)");
    EXPECT_EQ(of(binding("1.3.6.1.2.1.2.2.1.7.4", snmp::kTagInteger, 2)).behaviour,
              "r_lastset(1, 3, 2)");
    EXPECT_EQ(of(binding("1.3.6.1.2.1.2.2.1.10.4", snmp::kTagInteger, 9)).behaviour, "lastset(9)");
}

TEST_F(LearnedVariableTest, StaticReplayKeepsValuesButOverridesComeFirst) {
    const snmp::VarBind ticks = binding("1.3.6.1.2.1.1.3.0", snmp::kTagTimeTicks, 500);
    EXPECT_EQ(of(ticks, Replay::Static).behaviour, "fixed(500)");
    EXPECT_EQ(of(binding("1.3.6.1.2.1.2.2.1.9.4", snmp::kTagInteger, 1), Replay::Static).behaviour,
              "lastset(1)");
    OverrideTable overrides;
    overrides.parse("sysUpTime clock(%s)\n");
    EXPECT_EQ(of(ticks, Replay::Static, &overrides).behaviour, "clock(500)");
}

TEST(OverrideTable, LongestPrefixFirstInFileAndTemplates) {
    OverrideTable table;
    table.parse(
        "# learned overrides\r\n"
        "\r\n"
        "  sysDescr   fixed(%s)  \r\n"
        "sysDescr.0 lastset(%s)\r\n"
        "sys counter(%s)\n"
        "sysName fixed(first %s %s %d)\n"
        "sysName fixed(second)\n"
        "ifDescr\n"           // no behaviour: overrides nothing
        "ifIndex fixed(1)");  // a last line without an end
    EXPECT_EQ(table.size(), 6u);
    EXPECT_FALSE(table.behaviour("ifDescr.1", "x"));
    EXPECT_EQ(table.behaviour("sysDescr.0", "x"), "lastset(x)");
    EXPECT_EQ(table.behaviour("sysDescr.1", "x"), "fixed(x)");
    EXPECT_EQ(table.behaviour("sysDescr", "x"), "fixed(x)");
    EXPECT_FALSE(table.behaviour("sysDescription.0", "x"));
    EXPECT_FALSE(table.behaviour("sysUpTime.0", "x"));  // "sys" ends mid-word
    // Equal lengths: the first in the file; only the first "%s" takes the value.
    EXPECT_EQ(table.behaviour("sysName.0", "v"), "fixed(first v %s %d)");
    EXPECT_EQ(table.behaviour("ifIndex.3", "v"), "fixed(1)");

    table.parse(std::string(120, 'a') + " " + std::string(300, 'b') + "\n");
    EXPECT_EQ(table.behaviour(std::string(99, 'a'), "v"), std::string(254, 'b'));
    EXPECT_FALSE(table.behaviour(std::string(120, 'a'), "v"));
}

TEST(OverrideTable, LoadNamesThePathWhenTheFileCannotBeRead) {
    const std::string dir = ::testing::TempDir() + "learned_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/learn.def") << "sysDescr fixed(%s)\n";
    OverrideTable table;
    EXPECT_TRUE(table.load(dir + "/learn.def"));
    EXPECT_EQ(table.size(), 1u);
    const Result missing = table.load(dir + "/none.def");
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.text().find(dir + "/none.def"), std::string_view::npos);
    EXPECT_NE(missing.text().find("No such file"), std::string_view::npos);
    EXPECT_TRUE(table.empty());
    EXPECT_FALSE(table.load(dir));  // a directory is no override file
    std::filesystem::remove_all(dir);
}

TEST_F(LearnedVariableTest, LineAsTheVariableFileWritesIt) {
    std::string text;
    appendLearnedLine(of(binding("1.3.6.1.2.1.1.3.0", snmp::kTagTimeTicks, 500)), text);
    EXPECT_EQ(text, "sysUpTime.0                   , TimeTicks   , RO , clock(500)\r\n");
}

}  // namespace
}  // namespace korvimo::create
