// The Create Trap File from MIB logic on a home of its own: the start and its refusals, the
// suffix rule, the histories, the standard traps, Stop, and a file that is the same whatever
// the pacing.
#include "app/create_traps.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/core/clock.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"
#include "traps/trap_writer.h"

namespace korvimo::app {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// Objects, then n traps alternating between SNMPv1 traps with two variables, notifications
// and a trap whose variable does not map.
std::string mibInfoText(int traps) {
    std::string text =
        "1.3.6.1.2.1.1.5           sysName                 OctetString  RW S  (0,255) d\r\n"
        "1.3.6.1.2.1.2.2.1.1       ifIndex                 Integer      RO C1\r\n";
    for (int n = 0; n < traps; ++n) {
        const std::string name = "trap" + std::to_string(n);
        switch (n % 3) {
            case 0:
                text += "%trap " + name + " 1.3.6.1.4.1.99 6 " + std::to_string(n) + "\r\n";
                text += "%tvar " + name + " ifIndex.1\r\n%tvar " + name + " sysName.0\r\n";
                break;
            case 1:
                text += "%trap " + name + " 1.3.6.1.4.1.99.0." + std::to_string(n) + " 7 1\r\n";
                break;
            default:
                text += "%trap " + name + " 1.3.6.1.4.1.99 6 1\r\n%tvar " + name + " nowhere\r\n";
        }
    }
    return text;
}

class CreateTrapsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* sub : {"bin", "agent", "mibs"}) {
            std::filesystem::create_directory(dir.path(sub));
        }
        writeFile(dir.path("mibs/mibinfo.out"), mibInfoText(30));
        writeFile(dir.path("mibs/miblist.lst"), "MIBs\r\nTEST-MIB\r\n");
        config.ensureFile();
        config.writePlain(ConfigKey::INSTALLDIR, dir.root());
        create.onFinished = [this] { ++finished; };
    }

    // Ticks of 5 ms until the run ends (at most ticks).
    void tickToEnd(int ticks = 200) {
        for (int i = 0; i < ticks && create.running(); ++i) {
            clock.advanceMs(kCreateTickMs);
            loop.runOnce(0);
        }
    }

    std::string created(const std::string& name = "t.trp") {
        return readFile(dir.path("agent/" + name));
    }

    TempDir dir;
    Configuration config{dir.path("bin/korvan.ini")};
    ManualClock clock;
    EpollEventLoop loop{clock};
    HomeMibInfo mibInfo;
    Busy busy = Busy::Idle;
    CreateTraps create{{config, loop, mibInfo, busy}};
    int finished = 0;
};

TEST(TrapFileText, SuffixRule) {
    EXPECT_EQ(trapFileText("mytraps"), "mytraps.trp");
    EXPECT_EQ(trapFileText("mytraps.TRP"), "mytraps.TRP");
    EXPECT_EQ(trapFileText("mytraps.trp"), "mytraps.trp");
    EXPECT_EQ(trapFileText("test.Trp"), "test.Trp.trp");
    EXPECT_EQ(trapFileText(std::string(196, 'a')).size(), 196u);  // would reach 200
    EXPECT_EQ(trapFileText(std::string(195, 'a')).size(), 199u);
    EXPECT_EQ(trapFileText(std::string(300, 'a')).size(), 199u);
}

TEST_F(CreateTrapsTest, DialogStartFromTheHistories) {
    config.pushHistory(ConfigKey::TRAPFILE, "old.trp");
    config.pushHistory(ConfigKey::TRAPENTID, "1.3.6.1.4.1.5");
    config.writePlain(ConfigKey::USESTDTRAPS, "NO");
    create.dialogStart();
    EXPECT_EQ(create.form().trapFile, "old.trp");
    EXPECT_FALSE(create.form().includeStandardTraps);
    EXPECT_FALSE(create.enabled(CreateTrapsControl::EnterpriseList));
    EXPECT_TRUE(create.history(CreateTrapsList::Enterprise).empty());
    config.writePlain(ConfigKey::USESTDTRAPS, "YES");
    create.dialogStart();
    EXPECT_TRUE(create.form().includeStandardTraps);
    EXPECT_TRUE(create.enabled(CreateTrapsControl::EnterpriseList));
    EXPECT_EQ(create.form().enterprise, "1.3.6.1.4.1.5");
    EXPECT_TRUE(create.enabled(CreateTrapsControl::Start));
    EXPECT_FALSE(create.enabled(CreateTrapsControl::Stop));
    EXPECT_FALSE(create.enabled(CreateTrapsControl::View));
}

TEST_F(CreateTrapsTest, RunWritesHeaderStandardTrapsAndTrapsThenCompletes) {
    create.dialogStart();
    create.form().trapFile = "t";
    create.form().includeStandardTraps = true;
    create.form().enterprise = "  ";
    ASSERT_TRUE(create.start());
    EXPECT_EQ(busy, Busy::Running);
    EXPECT_FALSE(create.enabled(CreateTrapsControl::Start));
    EXPECT_TRUE(create.enabled(CreateTrapsControl::Stop));
    tickToEnd();
    ASSERT_TRUE(create.completed());
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(busy, Busy::Idle);
    EXPECT_TRUE(create.enabled(CreateTrapsControl::View));
    EXPECT_FALSE(create.enabled(CreateTrapsControl::Start));  // until Stop

    const std::string text = created();
    const std::vector<std::string> mibs{"TEST-MIB"};
    const std::string head =
        traps::trapFileHeader(mibs) + traps::standardTrapsBlock(traps::kDefaultStandardEnterprise);
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_NE(text.find("# trap2: Cannot map nowhere to object identifier\r\n"), std::string::npos);
    const std::vector<std::string>& lines = create.status().lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), kTrapCreationStartedText);
    EXPECT_EQ(lines[1], "Processing trap29");
    EXPECT_EQ(lines[2], "trap2: Cannot map nowhere to object identifier");
    EXPECT_EQ(lines.back(), kTrapCreationCompletedText);

    EXPECT_EQ(config.historyValues(ConfigKey::TRAPFILE).front(), "t.trp");
    std::string standard;
    config.readPlain(ConfigKey::USESTDTRAPS, standard);
    EXPECT_EQ(standard, "YES");
    EXPECT_TRUE(config.historyValues(ConfigKey::TRAPENTID).empty());
}

TEST_F(CreateTrapsTest, SameFileWhateverThePacing) {
    create.dialogStart();
    create.form().trapFile = "t";
    ASSERT_TRUE(create.start());
    create.runToEnd();
    ASSERT_TRUE(create.completed());
    const std::string backToBack = created();

    create.options().stepsPerTick = 1;
    ASSERT_TRUE(create.start());
    tickToEnd();
    ASSERT_TRUE(create.completed());
    EXPECT_EQ(created(), backToBack);

    create.options().stepsPerTick = 0;  // by time: the manual clock stands still in a tick
    ASSERT_TRUE(create.start());
    tickToEnd(2);
    ASSERT_TRUE(create.completed());
    EXPECT_EQ(created(), backToBack);
}

TEST_F(CreateTrapsTest, StopEndsTheRunAtTheNextTick) {
    create.options().stepsPerTick = 1;
    create.dialogStart();
    create.form().trapFile = "t";
    ASSERT_TRUE(create.start());
    tickToEnd(3);
    create.stop();
    EXPECT_EQ(busy, Busy::Idle);
    EXPECT_TRUE(create.enabled(CreateTrapsControl::Start));
    tickToEnd();
    EXPECT_FALSE(create.running());
    EXPECT_FALSE(create.completed());
    EXPECT_EQ(create.status().lines().back(), kTrapCreationStoppedText);
    // What was written so far is in the file.
    EXPECT_NE(created().find("##trap1\r\n"), std::string::npos);
    EXPECT_EQ(created().find("##trap5\r\n"), std::string::npos);
}

TEST_F(CreateTrapsTest, StartRefusals) {
    create.dialogStart();
    busy = Busy::Running;
    EXPECT_FALSE(create.start());
    EXPECT_EQ(create.status().lines().back(), kOperationInProgressText);
    busy = Busy::Idle;

    create.form().trapFile = "no/such/dir/t";
    EXPECT_FALSE(create.start());
    EXPECT_EQ(
        create.status().lines(),
        std::vector<std::string>{"Cannot open [" + dir.root() +
                                 "/agent/no/such/dir/t.trp] for writing. Check permissions."});
    EXPECT_EQ(busy, Busy::Idle);

    std::filesystem::remove(dir.path("mibs/mibinfo.out"));
    HomeMibInfo fresh;
    CreateTraps other({config, loop, fresh, busy});
    other.dialogStart();
    other.form().trapFile = "t";
    EXPECT_FALSE(other.start());
    EXPECT_EQ(
        other.status().lines(),
        std::vector<std::string>{
            "Cannot open [/mibs/mibinfo.out] file. Please run the mib compiler to create it."});
}

TEST_F(CreateTrapsTest, NoTrapRecordsAndNoMibListGiveTheHeaderAndCompleteAtOnce) {
    writeFile(dir.path("mibs/mibinfo.out"), mibInfoText(0));
    std::filesystem::remove(dir.path("mibs/miblist.lst"));
    create.dialogStart();
    create.form().trapFile = "t";
    create.form().includeStandardTraps = true;
    create.form().enterprise = "1.3.6.1.4.1.7";
    ASSERT_TRUE(create.start());
    tickToEnd(1);
    EXPECT_TRUE(create.completed());
    EXPECT_EQ(created(), traps::trapFileHeader({}) + traps::standardTrapsBlock("1.3.6.1.4.1.7"));
    EXPECT_TRUE(config.historyValues(ConfigKey::TRAPENTID).empty());
}

}  // namespace
}  // namespace korvimo::app
