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

// Runs korvan-cli with the given arguments (already shell-quoted), standard error included.
CommandRun runCli(const std::string& args) {
    return runCommand(std::string("'") + KORVIMO_HOME_DIR + "/bin/korvan-cli' " + args);
}

TEST(CliSettings, NewHomeGetsItsBinDirectoryAndDefaultConfiguration) {
    TempDir dir;
    const std::string home = dir.path("home");
    CommandRun run = runCli("--home '" + home + "' settings");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Configuration file:     " + home + "/bin/korvan.ini\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Installation directory: ..\n"), std::string::npos);
    EXPECT_NE(run.output.find("Time-out:               1000 ms\n"), std::string::npos);
    EXPECT_NE(run.output.find("Retries:                3\n"), std::string::npos);
    EXPECT_NE(run.output.find("Read community:         vintor\n"), std::string::npos);
    EXPECT_NE(run.output.find("SNMP version:           Bilingual\n"), std::string::npos);
    const std::string ini = readFile(home + "/bin/korvan.ini");
    EXPECT_EQ(ini.rfind("[KORVAN]\r\nRCOMMUNITY1=vintor\r\n", 0), 0u) << ini;
    // The directories its programs write to come with it.
    EXPECT_TRUE(std::filesystem::is_directory(home + "/agent"));
    EXPECT_TRUE(std::filesystem::is_directory(home + "/mibs"));
}

TEST(CliSettings, ExistingConfigurationIsReadAndKept) {
    TempDir dir;
    const std::string home = dir.path("home");
    ASSERT_EQ(runCli("--home '" + home + "' settings").status, 0);
    const std::string mine =
        "[KORVAN]\nSNMPVER=SNMPv1\nTIMEOUT1=5\nIPV6SUPPORT=YES\nDEBUGMODE=YES\n";
    writeFile(home + "/bin/korvan.ini", mine);
    CommandRun run = runCli("--home '" + home + "' settings");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("SNMP version:           SNMPv1\n"), std::string::npos);
    EXPECT_NE(run.output.find("Time-out:               5000 ms\n"), std::string::npos);
    EXPECT_NE(run.output.find("Transport:              IPv6\n"), std::string::npos);
    EXPECT_NE(run.output.find("Debug mode:             YES\n"), std::string::npos);
    EXPECT_EQ(readFile(home + "/bin/korvan.ini"), mine);
}

TEST(CliUsage, HelpExplainsTheHomeOption) {
    CommandRun run = runCli("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("--home DIR"), std::string::npos);
    EXPECT_NE(run.output.find("settings"), std::string::npos);
}

TEST(CliUsage, EveryProgramTellsItsVersion) {
    for (const char* program : {"korvan-cli", "korvan", "kmx", "zorlet"}) {
        const std::string path = std::string(KORVIMO_HOME_DIR) + "/bin/" + program;
        if (!std::filesystem::exists(path)) {
            continue;  // a build without the window or the compiler
        }
        const CommandRun run = runCommand("'" + path + "' --version");
        EXPECT_EQ(run.status, 0) << program;
        EXPECT_EQ(run.output, std::string(program) + " (Korvimo) " KORVIMO_VERSION "\n");
    }
}

TEST(CliUsage, UnknownCommandAndMissingArgumentsAreRefused) {
    EXPECT_EQ(runCli("frobnicate").status, 2);
    EXPECT_EQ(runCli("").status, 2);
    EXPECT_EQ(runCli("--home").status, 2);
}

TEST(CliUsage, HomeThatCannotBeMadeIsReported) {
    TempDir dir;
    writeFile(dir.path("file"), "x");
    CommandRun run = runCli("--home '" + dir.path("file") + "' settings");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Cannot create the directory"), std::string::npos) << run.output;
}

}  // namespace
