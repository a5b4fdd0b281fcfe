// korvan-cli create-vars on homes of its own: its exit statuses and the file it writes.
#include <gtest/gtest.h>

#include <string>

#include "app/core/temp_dir.h"
#include "support/command_run.h"

namespace {

using korvimo::testing::CommandRun;
using korvimo::testing::readFile;
using korvimo::testing::runCommand;
using korvimo::testing::TempDir;
using korvimo::testing::writeFile;

CommandRun createVars(const std::string& home, const std::string& args) {
    return runCommand(std::string("'") + KORVIMO_HOME_DIR + "/bin/korvan-cli' --home '" + home +
                      "' create-vars " + args);
}

TEST(CliCreateVars, ExitStatuses) {
    TempDir dir;
    const std::string home = dir.path("home");
    EXPECT_EQ(createVars(home, "--help").status, 0);
    for (const char* usage : {"", "--output", "--output t --rows x", "--output t --rows -1",
                              "--output t --templates --no-templates", "--output t --bogus"}) {
        EXPECT_EQ(createVars(home, usage).status, 2) << usage;
    }

    // No mibinfo.out yet: the start fails.
    CommandRun missing = createVars(home, "--output t");
    EXPECT_EQ(missing.status, 1) << missing.output;
    EXPECT_EQ(missing.output,
              "Cannot open [/mibs/mibinfo.out] file. Please run the mib compiler to create it.\n");

    writeFile(home + "/mibs/mibinfo.out",
              "%ei   1.3.6.1.2.1.2.2.1 [ifIndex]\r\n"
              "1.3.6.1.2.1.2.2.1.1       ifIndex                 Integer      RO C1\r\n"
              "1.3.6.1.2.1.99.1.1.1      lostColumn              Integer      RO C1\r\n");
    CommandRun run = createVars(home, "--output t.CTL --rows 2 --no-templates");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output,
              "Variable File Creation started.\n"
              "lostColumn has no instance (no index information for its table): its rows are "
              "written as comments.\n"
              "Variable File Creation Completed.\n");
    const std::string text = readFile(home + "/agent/t.CTL");
    EXPECT_NE(text.find("ifIndex.2                     , Integer     , RO , fixed(2)\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("# lostColumn.                   , Integer     , RO , fixed(1)\r\n"),
              std::string::npos)
        << text;
}

}  // namespace
