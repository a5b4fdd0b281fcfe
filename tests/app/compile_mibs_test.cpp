// The Compile MIBs logic on a home of its own: with stub kmx and zorlet programs (the lines
// and outcome of a run, runs that leave no mibinfo.out or one without objects, Stop and
// Close, a stop after the new file, a script killed from outside, a second Compile, a
// compilation running elsewhere, an empty selection), then with
// the built kmx and zorlet over the public MIB modules.
#include "app/compile_mibs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/clock.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"
#include "base/text.h"
#include "zorlet/program_run.h"

namespace korvimo::app {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// kmx: one object line per file (named after it) into -o, one message into -e.
constexpr const char* kKmxStub =
    "#!/bin/sh\n"
    "while [ $# -gt 1 ]; do\n"
    "  case $1 in -o) out=$2; shift 2;; -e) err=$2; shift 2;; *) shift;; esac\n"
    "done\n"
    "printf '1.3.6.1.4.1.99.1  %s  Integer  RO S\\r\\n' \"$1\" > \"$out\"\n"
    "printf '%s: warning\\r\\n' \"$1\" > \"$err\"\n";

// zorlet (m1 mibinfo.out merr): a banner, many progress texts, errors, then the output
// written under another name and renamed, as the real one does; its console ends as the
// real one's: the last progress text ended by CR LF, then an empty line.
constexpr const char* kZorletStub =
    "#!/bin/sh\n"
    "echo 'zorlet 1.0'\n"
    "i=0; while [ $i -lt 300 ]; do printf '   \\rProcessed 1.3.6.1.%d\\r' $i; i=$((i+1)); done\n"
    "echo 'zorlet: ERROR: bad line 3'\n"
    "echo 'zorlet:ERROR: out of memory.'\n"
    "printf '####\\r\\n#zorlet\\r\\n' > \"$3\"\n"
    "cp \"$1\" \"$2.new\" && mv \"$2.new\" \"$2\"\n"
    "printf '   \\rProcessed trap info: coldStart\\r\\n\\n'\n"
    "exit 1\n";

class CompileMibsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* sub : {"bin", "mibs", "programs"}) {
            std::filesystem::create_directory(dir.path(sub));
        }
        config.ensureFile();
        config.writePlain(ConfigKey::INSTALLDIR, dir.root());
        config.writePlain(ConfigKey::SPLITMIBFILES, "NO");
        compile.onFinished = [this] { ++finished; };
        compile.status().onChange([this](const StatusList::Change& change) {
            if (change.kind == StatusList::ChangeKind::Appended) {
                appended.emplace_back(change.text);
            } else if (change.kind == StatusList::ChangeKind::Inserted) {
                ++inserted;
            }
        });
    }

    void programs(const std::string& zorlet) {
        for (const auto& [name, text] :
             {std::pair<std::string, std::string>{"kmx", kKmxStub}, {"zorlet", zorlet}}) {
            writeFile(dir.path("programs/" + name), text);
            ::chmod(dir.path("programs/" + name).c_str(), 0755);
        }
    }

    // The names in the mibs directory, sorted.
    std::vector<std::string> mibsFiles() {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path("mibs"))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Turns the loop until the batch ended, at most seconds.
    void runToEnd(int seconds = 10) {
        const uint64_t end = SystemClock::instance().monotonicMs() + 1000u * seconds;
        while (compile.running() && SystemClock::instance().monotonicMs() < end) {
            loop.runOnce(10);
        }
    }

    TempDir dir;
    Configuration config{dir.path("bin/korvan.ini")};
    EpollEventLoop loop{SystemClock::instance()};
    Busy busy = Busy::Idle;
    CompileMibs compile{{config, loop, busy, dir.path("programs")}};
    int finished = 0;
    std::vector<std::string> appended;
    int inserted = 0;
};

TEST_F(CompileMibsTest, ARunStreamsItsLinesThenTheOutcome) {
    programs(kZorletStub);
    writeFile(dir.path("mibs/b.mib"), "B DEFINITIONS ::= BEGIN\nEND\n");
    writeFile(dir.path("mibs/a.mib"), "A DEFINITIONS ::= BEGIN\nEND\n");
    compile.dialogStart();
    ASSERT_EQ(compile.mibs(), (std::vector<std::string>{"a.mib", "b.mib"}));
    ASSERT_TRUE(compile.compile({"b.mib", "a.mib"}));
    EXPECT_EQ(busy, Busy::Running);
    runToEnd();
    ASSERT_EQ(finished, 1);
    EXPECT_EQ(busy, Busy::Idle);
    ASSERT_TRUE(compile.completed());
    EXPECT_EQ(compile.outcome().objects, 2u);
    EXPECT_EQ(compile.outcome().compilerMessages, 2u);
    EXPECT_EQ(compile.outcome().zorletErrors, 2u);
    const std::vector<std::string> expected{
        kCompilationStartedText,
        kUseCompiledMibsText,
        "Compiling a.mib...",
        "Compiling b.mib...",
        "zorlet 1.0",
        "zorlet: ERROR: bad line 3",
        "zorlet:ERROR: out of memory.",
        formatText(kCompilationCompletedFormat, std::size_t{2}, std::size_t{2}, std::size_t{2})};
    EXPECT_EQ(compile.status().lines(), expected);
    EXPECT_EQ(appended, expected);  // the progress texts were shown, never appended
    EXPECT_GE(inserted, 1);

    // The next dialog start shows the list of the compiled files.
    compile.dialogStart();
    EXPECT_EQ(compile.status().lines(),
              (std::vector<std::string>{"List of Mib files currently compiled are: ", "    a.mib",
                                        "    b.mib"}));
    EXPECT_EQ(compile.errorsLogPath(), dir.root() + "/mibs/miberrs.out");
    EXPECT_EQ(readFile(compile.errorsLogPath()),
              "a.mib: warning\r\nb.mib: warning\r\n####\r\n#zorlet\r\n");
}

TEST_F(CompileMibsTest, EntriesAreNamedAsListedOrByTheirFile) {
    writeFile(dir.path("mibs/a.mib"), "");
    writeFile(dir.path("other.my"), "");
    compile.dialogStart();
    EXPECT_EQ(compile.entryFor("a.mib"), "a.mib");
    EXPECT_EQ(compile.entryFor(dir.path("bin/../mibs/a.mib")), "a.mib");
    EXPECT_EQ(compile.entryFor(dir.path("other.my")),
              std::filesystem::canonical(dir.path("other.my")).string());
    EXPECT_EQ(compile.entryFor(dir.path("missing.mib")), "");
    EXPECT_EQ(compile.entryFor(dir.path("mibs")), "");  // a directory
}

// A batch that leaves no mibinfo.out, or one without any object, leaves the old mibinfo.out
// and miblist.lst as they were.
TEST_F(CompileMibsTest, ABatchThatCompilesNothingKeepsTheOldFiles) {
    const std::string oldList = std::string(mibcomp::kMibListHeading) + "    old.mib\r\n";
    writeFile(dir.path("mibs/a.mib"), "");
    writeFile(dir.path("mibs/mibinfo.out"), "old\r\n");
    writeFile(dir.path("mibs/miblist.lst"), oldList);
    compile.dialogStart();
    const auto expectOldFiles = [&] {
        EXPECT_FALSE(compile.completed());
        EXPECT_TRUE(compile.outcome().oldMibInfoKept);
        EXPECT_EQ(readFile(dir.path("mibs/mibinfo.out")), "old\r\n");
        EXPECT_EQ(readFile(dir.path("mibs/miblist.lst")), oldList);
        EXPECT_FALSE(std::filesystem::exists(dir.path("mibs/mibinfo.out.previous")));
    };

    programs("#!/bin/sh\n: > \"$2.new\" && mv \"$2.new\" \"$2\"\n");
    ASSERT_TRUE(compile.compile({"a.mib"}));
    runToEnd();
    EXPECT_TRUE(compile.outcome().mibInfoWritten);
    EXPECT_EQ(compile.status().lines().back(), kNothingCompiledText);
    expectOldFiles();

    programs("#!/bin/sh\necho 'zorlet: Cannot open m1'\nexit 1\n");
    ASSERT_TRUE(compile.compile({"a.mib"}));
    runToEnd();
    EXPECT_EQ(compile.outcome().zorletErrors, 1u);
    EXPECT_EQ(compile.status().lines().back(), formatText(kCompilationFailedFormat, 0));
    expectOldFiles();
}

TEST_F(CompileMibsTest, StopEndsTheBatchAndCompileWhileRunningIsRefused) {
    programs("#!/bin/sh\necho waiting\nsleep 30\n");
    writeFile(dir.path("mibs/a.mib"), "");
    compile.dialogStart();
    ASSERT_TRUE(compile.compile({"a.mib"}));
    EXPECT_FALSE(compile.compile({"a.mib"}));
    EXPECT_EQ(compile.status().lines().back(), kCompilationInitiatedText);
    for (int i = 0; i < 500 && compile.status().lines().back() != "waiting"; ++i) {
        loop.runOnce(10);
    }
    const uint64_t start = SystemClock::instance().monotonicMs();
    compile.stop();
    runToEnd();
    EXPECT_LT(SystemClock::instance().monotonicMs() - start, 5000u);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(compile.status().lines().back(), kCompilationStoppedText);
    EXPECT_EQ(busy, Busy::Idle);
    EXPECT_FALSE(compile.completed());
    // e1 and m1 were there when it stopped; miblist.lst was not there before.
    const std::vector<std::string> left{".compile.lock", "a.mib", "mibcom.sh"};
    EXPECT_EQ(mibsFiles(), left);

    // Close ends a running batch as well, without an outcome line.
    ASSERT_TRUE(compile.compile({"a.mib"}));
    for (int i = 0; i < 500 && compile.status().lines().back() != "waiting"; ++i) {
        loop.runOnce(10);
    }
    compile.close();
    EXPECT_EQ(compile.status().lines().back(), "waiting");
    EXPECT_EQ(mibsFiles(), left);
}

// A stop that comes once zorlet has put the new file in place changes nothing of it.
TEST_F(CompileMibsTest, AStopAfterTheNewFileIsReportedAsCompleted) {
    programs("#!/bin/sh\ncp \"$1\" \"$2\"\necho written\nsleep 30\n");
    writeFile(dir.path("mibs/a.mib"), "");
    compile.dialogStart();
    ASSERT_TRUE(compile.compile({"a.mib"}));
    for (int i = 0; i < 500 && compile.status().lines().back() != "written"; ++i) {
        loop.runOnce(10);
    }
    compile.stop();
    runToEnd();
    EXPECT_TRUE(compile.completed());
    EXPECT_EQ(
        compile.status().lines().back(),
        formatText(kCompilationCompletedFormat, std::size_t{1}, std::size_t{0}, std::size_t{0}));
}

// The script killed from outside: the kmx it ran is ended too, so it writes nothing after
// the files were settled, and the intermediate files go.
TEST_F(CompileMibsTest, AScriptKilledFromOutsideLeavesNothingRunningOrBehind) {
    programs(kZorletStub);
    writeFile(dir.path("programs/kmx"),
              "#!/bin/sh\necho $PPID > script.pid\necho e > e1\nsleep 0.5\necho late > t1\n");
    writeFile(dir.path("mibs/a.mib"), "");
    compile.dialogStart();
    ASSERT_TRUE(compile.compile({"a.mib"}));
    std::string pid;
    for (int i = 0; i < 500 && pid.empty(); ++i) {
        loop.runOnce(10);
        pid = readFile(dir.path("mibs/script.pid"));
    }
    ASSERT_FALSE(pid.empty());
    ::kill(std::stoi(pid), SIGKILL);
    runToEnd();
    ::usleep(800 * 1000);  // past the moment the stub would have written t1
    std::filesystem::remove(dir.path("mibs/script.pid"));
    const std::vector<std::string> left{".compile.lock", "a.mib", "mibcom.sh"};
    EXPECT_EQ(mibsFiles(), left);
    EXPECT_EQ(compile.status().lines().back(), formatText(kCompilationFailedFormat, 128 + SIGKILL));
}

// Another process compiling in the same home holds mibs/.compile.lock: nothing is written.
TEST_F(CompileMibsTest, ACompilationRunningElsewhereIsNotDisturbed) {
    programs(kZorletStub);
    writeFile(dir.path("mibs/a.mib"), "");
    const UniqueFd lock(
        ::open(dir.path("mibs/.compile.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
    ASSERT_EQ(::flock(lock.get(), LOCK_EX | LOCK_NB), 0);
    compile.dialogStart();
    EXPECT_FALSE(compile.compile({"a.mib"}));
    EXPECT_EQ(compile.status().lines(),
              (std::vector<std::string>{kCompilationRunningElsewhereText, kUseCompiledMibsText}));
    EXPECT_EQ(busy, Busy::Idle);
    EXPECT_EQ(mibsFiles(), (std::vector<std::string>{".compile.lock", "a.mib"}));
}

TEST_F(CompileMibsTest, NothingSelectedWritesTheHeadingOnly) {
    programs(kZorletStub);
    compile.dialogStart();
    EXPECT_FALSE(compile.compile({}));
    EXPECT_EQ(compile.status().lines(),
              (std::vector<std::string>{kNoMibSelectedText, kUseCompiledMibsText}));
    EXPECT_EQ(busy, Busy::Idle);
    EXPECT_EQ(readFile(dir.path("mibs/miblist.lst")), mibcomp::kMibListHeading);
}

// The built kmx and zorlet over every public module: the controller's mibinfo.out is the one
// the programs give when run by hand in the same order; a broken module adds its message to
// miberrs.out and nothing to mibinfo.out.
TEST_F(CompileMibsTest, PublicModulesCompileAsByHand) {
    const std::string sources = KORVIMO_MIB_SOURCE_DIR;
    const std::string bin = KORVIMO_HOME_DIR "/bin";
    if (!std::filesystem::is_directory(sources)) {
        GTEST_SKIP() << "public MIB modules not found in " << sources
                     << " (set KORVIMO_MIB_SOURCE_DIR to the directory that holds them)";
    }
    TempDir byHand;
    for (const auto& file : std::filesystem::directory_iterator(sources)) {
        const std::string name = file.path().filename().string();
        std::filesystem::copy_file(file.path(), dir.path("mibs/" + name));
        std::filesystem::copy_file(file.path(), byHand.path(name));
    }
    config.writePlain(ConfigKey::MIBEXTENSION, "txt");
    CompileMibs real{{config, loop, busy, bin}};
    real.dialogStart();
    ASSERT_GE(real.mibs().size(), 78u);
    const std::vector<std::string> all = real.mibs();

    std::string m1;
    for (std::size_t n = 1; n <= all.size(); ++n) {
        const std::string t = "t" + std::to_string(n);
        testing::runProgram(bin + "/kmx", {"-o", t, "-e", "e" + std::to_string(n), all[n - 1]},
                            byHand.root());
        m1 += readFile(byHand.path(t));
    }
    writeFile(byHand.path("m1"), m1);
    testing::runProgram(bin + "/zorlet", {"m1", "mibinfo.out", "merr"}, byHand.root());
    const std::string expected = readFile(byHand.path("mibinfo.out"));
    ASSERT_FALSE(expected.empty());

    auto compileAll = [&] {
        ASSERT_TRUE(real.compile(real.mibs()));
        const uint64_t end = SystemClock::instance().monotonicMs() + 60000;
        while (real.running() && SystemClock::instance().monotonicMs() < end) {
            loop.runOnce(10);
        }
        ASSERT_TRUE(real.completed()) << real.status().lines().back();
    };
    ASSERT_NO_FATAL_FAILURE(compileAll());
    EXPECT_EQ(readFile(dir.path("mibs/mibinfo.out")), expected);
    EXPECT_GT(real.outcome().objects, 1000u);

    writeFile(dir.path("mibs/BROKEN-MIB.txt"),
              "BROKEN-MIB DEFINITIONS ::= BEGIN\n  IMPORTS nothing FROM ;;;\nEND\n");
    real.dialogStart();
    ASSERT_EQ(real.mibs().size(), all.size() + 1);
    ASSERT_NO_FATAL_FAILURE(compileAll());
    EXPECT_NE(readFile(real.errorsLogPath()).find("BROKEN-MIB.txt:2: error"), std::string::npos);
    EXPECT_EQ(readFile(dir.path("mibs/mibinfo.out")), expected);
}

}  // namespace
}  // namespace korvimo::app
