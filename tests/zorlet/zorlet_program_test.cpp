// Runs the built zorlet program on files in a scratch directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "zorlet/program_run.h"

namespace korvimo::testing {
namespace {

const std::string kZorlet = KORVIMO_HOME_DIR "/bin/zorlet";
const std::string kErrorHeader =
    "#######################################\r\n"
    "#zorlet: Processing compiler output(s)\r\n"
    "#######################################\r\n";
const std::string kInput =
    "%en 1.3.6.1.2.1.1 system\n"
    "system.3 sysUpTime TimeTicks RO S\n"
    "system.9 sysThing Mystery RO S\n";

// A compiler output of many objects (some MB): zorlet takes a while over it and writes far
// more than a block.
std::string largeInput() {
    std::string text = "%en 1.3.6.1.2.1.1 system\n";
    for (int i = 1; i <= 200000; ++i) {
        text.append("system.").append(std::to_string(i)).append(" obj");
        text.append(std::to_string(i)).append(" TimeTicks RO S\n");
    }
    return text;
}

std::size_t fileCount(const std::string& directory) {
    auto files = std::filesystem::directory_iterator(directory);
    return static_cast<std::size_t>(std::distance(files, std::filesystem::directory_iterator()));
}

TEST(ZorletProgram, FewerThanTwoArgumentsPrintsUsageAndExitsOne) {
    ScratchDir dir;
    ProgramRun run = runProgram(kZorlet, {"only-one"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "zorlet: usage: zorlet input_filename output_filename\n");
    run = runProgram(kZorlet, {}, dir.path());
    EXPECT_EQ(run.out, "zorlet: usage: zorlet input_filename output_filename\n");
}

TEST(ZorletProgram, ThreeArgumentsWriteErrorFileWithHeaderAndMessages) {
    ScratchDir dir;
    writeText(dir.file("m1"), kInput);
    ProgramRun run = runProgram(kZorlet, {"m1", "mibinfo.out", "merr"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind("zorlet: ver 1.2", 0), 0u);
    EXPECT_NE(run.out.find("\nzorlet: Sorting object identifiers and resolving dependencies...\n"),
              std::string::npos);
    EXPECT_EQ(run.out.back(), '\n');
    std::string message =
        "zorlet: ERROR: Cannot map syntax = Mystery. Include its type definition.";
    EXPECT_EQ(readText(dir.file("merr")), kErrorHeader + message + "\r\n");
    EXPECT_NE(run.err.find(message), std::string::npos);
    EXPECT_EQ(readText(dir.file("mibinfo.out")),
              "1.3.6.1.2.1.1.3           sysUpTime               TimeTicks    RO S\r\n"
              "%en          1.3.6.1.2.1.1                            system                 \r\n");
}

TEST(ZorletProgram, TwoOrFourArgumentsWriteNoErrorFile) {
    ScratchDir dir;
    writeText(dir.file("m1"), kInput);
    runProgram(kZorlet, {"m1", "out2"}, dir.path());
    EXPECT_TRUE(std::filesystem::exists(dir.file("out2")));
    runProgram(kZorlet, {"m1", "out4", "merr", "extra"}, dir.path());
    EXPECT_TRUE(std::filesystem::exists(dir.file("out4")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("merr")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("extra")));
}

TEST(ZorletProgram, ReadsInputThatIsNotWritableAndLeavesItUnchanged) {
    ScratchDir dir;
    writeText(dir.file("m1"), kInput);
    ::chmod(dir.file("m1").c_str(), 0444);
    ProgramRun run = runProgram(kZorlet, {"m1", "mibinfo.out", "merr"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readText(dir.file("m1")), kInput);
    EXPECT_NE(readText(dir.file("mibinfo.out")).find("sysUpTime"), std::string::npos);
}

TEST(ZorletProgram, OutputIsReplacedWholeAndDevicesAreWrittenInPlace) {
    ScratchDir dir;
    writeText(dir.file("m1"), kInput);
    writeText(dir.file("mibinfo.out"), "old\r\n");
    std::ifstream reader(dir.file("mibinfo.out"), std::ios::binary);  // a reader of the old file
    struct stat before {};
    ::stat(dir.file("mibinfo.out").c_str(), &before);
    runProgram(kZorlet, {"m1", "mibinfo.out", "merr"}, dir.path());
    struct stat after {};
    ::stat(dir.file("mibinfo.out").c_str(), &after);
    EXPECT_NE(before.st_ino, after.st_ino);
    std::string old;
    std::getline(reader, old);
    EXPECT_EQ(old, "old\r");
    EXPECT_NE(readText(dir.file("mibinfo.out")).find("sysUpTime"), std::string::npos);
    EXPECT_EQ(fileCount(dir.path()), 3u);  // m1, mibinfo.out, merr: no temporary left
    EXPECT_EQ(runProgram(kZorlet, {"m1", "/dev/null"}, dir.path()).status, 1);
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

TEST(ZorletProgram, MissingInputIsReportedOnConsoleOnly) {
    ScratchDir dir;
    ProgramRun run = runProgram(kZorlet, {"absent", "mibinfo.out", "merr"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("zorlet: Cannot open input file [absent] for reading\n"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("merr")));
}

TEST(ZorletProgram, UnwritableOutputIsReported) {
    ScratchDir dir;
    writeText(dir.file("m1"), kInput);
    ProgramRun run = runProgram(kZorlet, {"m1", "no/such/dir/out"}, dir.path());
    EXPECT_NE(run.err.find("zorlet: Cannot open output file [no/such/dir/out] for writing\n"),
              std::string::npos);
}

TEST(ZorletProgram, WriteFailureKeepsOldOutputAndLeavesNoTemporary) {
    ScratchDir dir;
    writeText(dir.file("m1"), largeInput());
    writeText(dir.file("mibinfo.out"), "old\r\n");
    // Files may grow to one block only, as on a full disk.
    ProgramRun run = runProgram(
        "/bin/sh", {"-c", "ulimit -f 1; exec \"$0\" m1 mibinfo.out", kZorlet}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("zorlet: Cannot write output file [mibinfo.out]\n"), std::string::npos);
    EXPECT_EQ(readText(dir.file("mibinfo.out")), "old\r\n");
    EXPECT_EQ(fileCount(dir.path()), 2u);  // m1 and mibinfo.out
}

TEST(ZorletProgram, StopSignalKeepsOldOutputAndLeavesNoTemporary) {
    ScratchDir dir;
    writeText(dir.file("m1"), largeInput());
    writeText(dir.file("mibinfo.out"), "old\r\n");
    pid_t child = ::fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (::chdir(dir.path().c_str()) == 0) {
            ::execl(kZorlet.c_str(), kZorlet.c_str(), "m1", "mibinfo.out", nullptr);
        }
        ::_exit(127);
    }
    std::string temporary = dir.file("mibinfo.out.new-" + std::to_string(child));
    for (int i = 0; i < 5000 && !std::filesystem::exists(temporary); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child, SIGTERM);
    int status = 0;
    for (int i = 0; i < 5000 && ::waitpid(child, &status, WNOHANG) != child; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(readText(dir.file("mibinfo.out")), "old\r\n");
    EXPECT_EQ(fileCount(dir.path()), 2u);  // m1 and mibinfo.out
}

TEST(ZorletProgram, EmptyAndBinaryInputsEndNormally) {
    ScratchDir dir;
    writeText(dir.file("empty"), "");
    EXPECT_EQ(runProgram(kZorlet, {"empty", "out"}, dir.path()).status, 1);
    EXPECT_EQ(readText(dir.file("out")), "");
    std::string binary;
    for (int i = 0; i < 20000; ++i) {
        binary.push_back(static_cast<char>((i * 7919 + 13) % 256));
    }
    writeText(dir.file("binary"), binary);
    EXPECT_EQ(runProgram(kZorlet, {"binary", "out", "merr"}, dir.path()).status, 1);
}

TEST(ZorletProgram, HomeOptionKeepsFileNamesRelativeToCurrentDirectory) {
    ScratchDir dir;
    writeText(dir.file("m1"), kInput);
    ProgramRun run =
        runProgram(kZorlet, {"--home", dir.file("home"), "m1", "mibinfo.out"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(readText(dir.file("mibinfo.out")).find("sysUpTime"), std::string::npos);
    ProgramRun help = runProgram(kZorlet, {"--help"}, dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--home DIR"), std::string::npos);
}

}  // namespace
}  // namespace korvimo::testing
