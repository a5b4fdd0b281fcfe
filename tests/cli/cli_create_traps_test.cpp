// korvan-cli create-traps on homes of its own: its exit statuses and the file it writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/core/temp_dir.h"
#include "support/command_run.h"

namespace {

using korvimo::testing::CommandRun;
using korvimo::testing::readFile;
using korvimo::testing::runCommand;
using korvimo::testing::TempDir;
using korvimo::testing::writeFile;

CommandRun createTraps(const std::string& home, const std::string& args) {
    return runCommand(std::string("'") + KORVIMO_HOME_DIR + "/bin/korvan-cli' --home '" + home +
                      "' create-traps " + args);
}

TEST(CliCreateTraps, ExitStatuses) {
    TempDir dir;
    const std::string home = dir.path("home");
    EXPECT_EQ(createTraps(home, "--help").status, 0);
    EXPECT_EQ(createTraps(home, "").status, 2);
    EXPECT_EQ(createTraps(home, "--output t --no-standard-traps --enterprise 1.3").status, 2);
    EXPECT_EQ(createTraps(home, "--output t --bogus").status, 2);

    // No mibinfo.out yet: the start fails.
    CommandRun missing = createTraps(home, "--output t");
    EXPECT_EQ(missing.status, 1) << missing.output;
    EXPECT_NE(missing.output.find("Cannot open [/mibs/mibinfo.out] file."), std::string::npos)
        << missing.output;

    writeFile(home + "/mibs/mibinfo.out",
              "1.3.6.1.2.1.2.2.1.1       ifIndex                 Integer      RO C1\r\n"
              "%trap       myTrap           1.3.6.1.4.1.99       6 1\r\n"
              "%tvar myTrap ifIndex.4\r\n");
    CommandRun run = createTraps(home, "--output t.TRP --enterprise 1.3.6.1.4.1.99");
    ASSERT_EQ(run.status, 0) << run.output;
    // The appended lines only: the trap in progress is the window's.
    EXPECT_NE(run.output.find("Trap File Creation started.\nTrap File Creation Completed.\n"),
              std::string::npos)
        << run.output;
    const std::string text = readFile(home + "/agent/t.TRP");
    EXPECT_NE(text.find("%T  coldStart             , 1.3.6.1.4.1.99      , 0, 0\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("%V  myTrap                , 1.3.6.1.2.1.2.2.1.1.4, Integer   , 1"),
              std::string::npos)
        << text;
}

}  // namespace
