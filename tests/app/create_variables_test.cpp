// The Create Variables from MIB logic on a home of its own: the start and its refusals, the
// suffix rule, the histories, Stop, and a file that is the same whatever the pacing.
#include "app/create_variables.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/core/clock.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"
#include "app/create_traps.h"

namespace korvimo::app {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// n tables of two columns, each with a scalar after it, and one writable.
std::string mibInfoText(int tables) {
    std::string text;
    for (int n = 1; n <= tables; ++n) {
        const std::string entry = "1.3.6.1.4.1.99." + std::to_string(n) + ".1";
        text += "%ei   " + entry + " [t" + std::to_string(n) + "Index]\r\n";
        text += entry + ".1  t" + std::to_string(n) + "Index  Integer  RO C1\r\n";
        text += entry + ".2  t" + std::to_string(n) + "Name  OctetString  RW C (0,16) d\r\n";
        text += "1.3.6.1.4.1.99." + std::to_string(n) + ".2  s" + std::to_string(n) +
                "  Counter  RO S\r\n";
    }
    return text;
}

class CreateVariablesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* sub : {"bin", "agent", "mibs"}) {
            std::filesystem::create_directory(dir.path(sub));
        }
        writeFile(dir.path("mibs/mibinfo.out"), mibInfoText(20));
        writeFile(dir.path("mibs/miblist.lst"), "MIBs\r\n  TEST-MIB\r\n");
        config.ensureFile();
        config.writePlain(ConfigKey::INSTALLDIR, dir.root());
        create.onFinished = [this] { ++finished; };
    }

    // Ticks of 5 ms until the run ends (at most ticks).
    void tickToEnd(int ticks = 500) {
        for (int i = 0; i < ticks && create.running(); ++i) {
            clock.advanceMs(kCreateTickMs);
            loop.runOnce(0);
        }
    }

    bool startNamed(const std::string& file, const std::string& rows, bool templates) {
        create.dialogStart();
        create.form().file = file;
        create.form().rows = rows;
        create.form().templates = templates;
        return create.start();
    }

    std::string created(const std::string& name = "t.ctl") {
        return readFile(dir.path("agent/" + name));
    }

    TempDir dir;
    Configuration config{dir.path("bin/korvan.ini")};
    ManualClock clock;
    EpollEventLoop loop{clock};
    HomeMibInfo mibInfo;
    Busy busy = Busy::Idle;
    CreateVariables create{{config, loop, mibInfo, busy}};
    int finished = 0;
};

TEST(ControlFileText, SuffixRule) {
    EXPECT_EQ(controlFileText("test"), "test.ctl");
    EXPECT_EQ(controlFileText("test.CTL"), "test.CTL");
    EXPECT_EQ(controlFileText("test.ctl"), "test.ctl");
    EXPECT_EQ(controlFileText("test.Ctl"), "test.Ctl.ctl");
    EXPECT_EQ(controlFileText(std::string(196, 'a')).size(), 196u);  // would reach 200
    EXPECT_EQ(controlFileText(std::string(300, 'a')).size(), 199u);
}

TEST_F(CreateVariablesTest, DialogStartThenARunWithItsHistoriesAndTexts) {
    config.pushHistory(ConfigKey::NUMROWS, "5");
    config.writePlain(ConfigKey::DYNTEMPLATE, "YES");
    create.dialogStart();
    EXPECT_EQ(create.form().rows, "5");
    EXPECT_TRUE(create.form().templates);
    EXPECT_TRUE(create.enabled(CreateVariablesControl::Start));
    EXPECT_FALSE(create.enabled(CreateVariablesControl::Stop));
    EXPECT_FALSE(create.enabled(CreateVariablesControl::View));

    create.form().file = "t";
    create.form().rows = "2";
    create.form().templates = false;
    ASSERT_TRUE(create.start());
    EXPECT_EQ(busy, Busy::Running);
    EXPECT_TRUE(create.enabled(CreateVariablesControl::Stop));
    tickToEnd();
    ASSERT_TRUE(create.completed());
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(busy, Busy::Idle);
    EXPECT_TRUE(create.enabled(CreateVariablesControl::View));
    EXPECT_EQ(create.status().lines(),
              (std::vector<std::string>{kVariableCreationStartedText, "Processing s20",
                                        kVariableCreationCompletedText}));
    const std::string text = created();
    EXPECT_NE(text.find("# List of MIBs used to create the variables:\r\n"
                        "#                     TEST-MIB\r\n"
                        "# Number of Rows:     2\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("t20Name.2                     , OctetString , RW , "
                        "r_lastset(0, 16, My_t20Name_stri)\r\n"),
              std::string::npos);
    EXPECT_EQ(config.historyValues(ConfigKey::INPUTFILE).front(), "t.ctl");
    EXPECT_EQ(config.historyValues(ConfigKey::NUMROWS),
              (std::vector<std::string>{"2", "5"}));
    std::string templates;
    config.readPlain(ConfigKey::DYNTEMPLATE, templates);
    EXPECT_EQ(templates, "NO");
}

TEST_F(CreateVariablesTest, SameFileWhateverThePacing) {
    ASSERT_TRUE(startNamed("t", "3", true));
    create.runToEnd();
    ASSERT_TRUE(create.completed());
    const std::string backToBack = created();
    EXPECT_NE(backToBack.find("#%drow  1.3.6.1.4.1.99.20.1   newinstance\r\n"), std::string::npos);

    create.options().stepsPerTick = 1;
    ASSERT_TRUE(startNamed("t", "3", true));
    tickToEnd();
    ASSERT_TRUE(create.completed());
    EXPECT_EQ(created(), backToBack);

    create.options().stepsPerTick = 0;  // by time: the manual clock stands still in a tick
    ASSERT_TRUE(startNamed("t", "3", true));
    tickToEnd(2);
    ASSERT_TRUE(create.completed());
    EXPECT_EQ(created(), backToBack);
}

TEST_F(CreateVariablesTest, StopEndsTheRunAtTheNextTick) {
    create.options().stepsPerTick = 1;
    ASSERT_TRUE(startNamed("t", "1", false));
    tickToEnd(4);
    create.stop();
    EXPECT_EQ(busy, Busy::Idle);
    EXPECT_TRUE(create.enabled(CreateVariablesControl::Start));
    tickToEnd();
    EXPECT_FALSE(create.completed());
    EXPECT_EQ(create.status().lines().back(), kVariableCreationStoppedText);
    EXPECT_NE(created().find("t1Name.1 "), std::string::npos);  // written so far
    EXPECT_EQ(created().find("t5Name.1 "), std::string::npos);
}

TEST_F(CreateVariablesTest, StartRefusals) {
    create.dialogStart();
    busy = Busy::Running;
    EXPECT_FALSE(create.start());
    EXPECT_EQ(create.status().lines().back(), kOperationInProgressText);
    busy = Busy::Idle;

    create.form().file = "no/such/dir/t";
    EXPECT_FALSE(create.start());
    EXPECT_EQ(create.status().lines(),
              std::vector<std::string>{"Cannot open [" + dir.root() +
                                       "/agent/no/such/dir/t.ctl] for writing. Check permissions."});
    EXPECT_EQ(busy, Busy::Idle);

    // A file where the agent directory should be.
    std::filesystem::remove(dir.path("agent"));
    writeFile(dir.path("agent"), "");
    create.form().file = "t";
    EXPECT_FALSE(create.start());
    EXPECT_EQ(create.status().lines(), std::vector<std::string>{kAgentDirectoryFailedText});

    std::filesystem::remove(dir.path("mibs/mibinfo.out"));
    HomeMibInfo fresh;
    CreateVariables other({config, loop, fresh, busy});
    other.dialogStart();
    other.form().file = "t";
    EXPECT_FALSE(other.start());
    EXPECT_EQ(other.status().lines(),
              std::vector<std::string>{
                  "Cannot open [/mibs/mibinfo.out] file. Please run the mib compiler to create it."});
}

}  // namespace
}  // namespace korvimo::app
