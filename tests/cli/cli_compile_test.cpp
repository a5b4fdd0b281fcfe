// korvan-cli compile on homes of its own: the MIB list, usage errors, and compilations with
// the build's kmx and zorlet, which the command finds beside itself in build/home/bin.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/core/temp_dir.h"
#include "support/command_run.h"

namespace {

using korvimo::testing::CommandRun;
using korvimo::testing::runCommand;
using korvimo::testing::TempDir;
using korvimo::testing::writeFile;

// Runs korvan-cli in directory (where relative FILEs start).
CommandRun compile(const std::string& directory, const std::string& home, const std::string& args) {
    return runCommand("cd '" + directory + "' && '" + KORVIMO_HOME_DIR +
                      "/bin/korvan-cli' --home '" + home + "' compile " + args);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool kmxBuilt() {
    return std::filesystem::exists(std::string(KORVIMO_HOME_DIR) + "/bin/kmx");
}

TEST(CliCompile, ListsTheMibFilesAndRefusesUsageErrors) {
    TempDir dir;
    const std::string home = dir.path("home");
    std::filesystem::create_directories(home + "/mibs");
    for (const char* name : {"b.mib", "A.MIB", "notes.txt"}) {
        writeFile(home + "/mibs/" + name, "X DEFINITIONS ::= BEGIN\nEND\n");
    }
    const CommandRun list = compile(dir.root(), home, "--list");
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_EQ(list.output, "A.MIB\nb.mib\n");

    EXPECT_EQ(compile(dir.root(), home, "--help").status, 0);
    for (const char* usage : {"", "--all b.mib", "--list --all", "--list b.mib", "--bogus"}) {
        EXPECT_EQ(compile(dir.root(), home, usage).status, 2) << usage;
    }
    const CommandRun missing = compile(dir.root(), home, "b.mib nosuch.mib");
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(contains(missing.output, "nosuch.mib: no such MIB file in the list or on disk"))
        << missing.output;
    EXPECT_FALSE(std::filesystem::exists(home + "/mibs/mibcom.sh"));
}

TEST(CliCompile, CompilesModulesIntoMibInfo) {
    const std::string source = KORVIMO_MIB_SOURCE_DIR;
    if (!std::filesystem::is_directory(source)) {
        GTEST_SKIP() << "no public MIB modules in " << source;
    }
    if (!kmxBuilt()) {
        GTEST_SKIP() << "kmx is not built (KORVIMO_KMX=OFF)";
    }
    // IF-MIB's imports are only in a MIBDIRLIST directory of this home, which kmx finds
    // through the home the batch names, not through the one above its own directory.
    TempDir dir;
    const std::string home = dir.path("home");
    std::filesystem::create_directories(home + "/mibs");
    std::filesystem::create_directories(home + "/bin");
    std::filesystem::create_directories(dir.path("imports"));
    for (const char* module : {"SNMPv2-SMI", "SNMPv2-TC", "SNMPv2-CONF", "IANAifType-MIB"}) {
        const std::string name = std::string(module) + ".txt";
        std::filesystem::copy_file(source + "/" + name, dir.path("imports/" + name));
    }
    std::filesystem::copy_file(source + "/IF-MIB.txt", home + "/mibs/IF-MIB.txt");
    writeFile(home + "/bin/korvan.ini",
              "[KORVAN]\r\nMIBEXTENSION=txt\r\nMIBDIRLIST=" + dir.path("imports") + "\r\n");

    const CommandRun run = compile(dir.root(), home, "--all");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "/mibs/IF-MIB.txt...\n")) << run.output;
    EXPECT_TRUE(contains(run.output, "\nCompilation completed: ")) << run.output;
    for (const char* file : {"mibinfo.out", "miblist.lst", "miberrs.out"}) {
        EXPECT_TRUE(std::filesystem::exists(home + "/mibs/" + file)) << file;
    }
    EXPECT_TRUE(contains(korvimo::testing::readFile(home + "/mibs/mibinfo.out"),
                         "\n1.3.6.1.2.1.2.2.1.1 "))  // ifIndex
        << "IF-MIB's objects under garbage identifiers";
}

// A file outside the home, named by a path relative to where korvan-cli started, that is no
// MIB: the batch runs, and its mibinfo.out without objects is no success and is not kept.
TEST(CliCompile, ABrokenMibFailsTheCompilation) {
    if (!kmxBuilt()) {
        GTEST_SKIP() << "kmx is not built (KORVIMO_KMX=OFF)";
    }
    TempDir dir;
    const std::string home = dir.path("home");
    std::filesystem::create_directories(dir.path("elsewhere"));
    writeFile(dir.path("elsewhere/broken.mib"), "BROKEN DEFINITIONS ::= BEGIN\nno end\n");

    const CommandRun run = compile(dir.root(), home, "elsewhere/broken.mib");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(contains(run.output, "/elsewhere/broken.mib...\n")) << run.output;
    EXPECT_TRUE(contains(run.output, "\nCompilation failed: no object was compiled."))
        << run.output;
}

}  // namespace
