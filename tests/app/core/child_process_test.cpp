#include "app/core/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "app/core/epoll_event_loop.h"

namespace korvimo {
namespace {

class ChildProcessTest : public ::testing::Test {
  protected:
    // Turns the loop until the child exited, at most ten seconds.
    void waitForExit() {
        for (int i = 0; i < 1000 && exitCode < 0; ++i) {
            loop.runOnce(10);
        }
    }
    ChildProcess::Handlers handlers() {
        return {[this](std::string_view line) { lines.emplace_back(line); },
                [this](int code) { exitCode = code; }};
    }

    EpollEventLoop loop{SystemClock::instance()};
    std::vector<std::string> lines;
    int exitCode = -1;
};

TEST_F(ChildProcessTest, LinesArriveInOrderThenTheExitStatus) {
    ChildProcess child;
    // Standard error comes in the same stream.
    ASSERT_TRUE(child.start(
        loop, {"/bin/sh", "-c", "echo one; printf 'two\\r\\n' >&2; printf three; exit 3"}, "",
        handlers()));
    EXPECT_TRUE(child.running());
    waitForExit();
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(exitCode, 3);
    EXPECT_FALSE(child.running());
}

TEST_F(ChildProcessTest, ALoneCarriageReturnEndsAProgressText) {
    ChildProcess child;
    std::vector<std::string> texts;  // "L:" lines and "P:" progress texts, in arrival order
    // "two\r" ends the first write: only the LF of the second tells it ended a line.
    ASSERT_TRUE(child.start(
        loop,
        {"/bin/sh", "-c", "printf '  \\rone\\rtwo\\r'; sleep 0.1; printf '\\nthree\\r\\nfour\\r'"},
        "",
        {[&](std::string_view line) { texts.push_back("L:" + std::string(line)); },
         [this](int code) { exitCode = code; },
         [&](std::string_view text) { texts.push_back("P:" + std::string(text)); }}));
    waitForExit();
    EXPECT_EQ(texts, (std::vector<std::string>{"P:  ", "P:one", "L:two", "L:three", "P:four"}));
}

TEST_F(ChildProcessTest, RunsInTheGivenDirectoryWithNoInput) {
    ChildProcess child;
    ASSERT_TRUE(child.start(loop, {"sh", "-c", "pwd; cat; echo end"}, "/", handlers()));
    waitForExit();
    EXPECT_EQ(lines, (std::vector<std::string>{"/", "end"}));
    EXPECT_EQ(exitCode, 0);
}

TEST_F(ChildProcessTest, TerminateEndsTheChildAndWhatItStarted) {
    ChildProcess child;
    // The script's own child would keep the output open for ten seconds if it survived.
    ASSERT_TRUE(
        child.start(loop, {"/bin/sh", "-c", "sleep 10 & echo started; wait"}, "", handlers()));
    for (int i = 0; i < 500 && lines.empty(); ++i) {
        loop.runOnce(10);
    }
    ASSERT_EQ(lines, (std::vector<std::string>{"started"}));
    child.terminate();
    const uint64_t start = SystemClock::instance().monotonicMs();
    waitForExit();
    EXPECT_EQ(exitCode, 128 + SIGTERM);
    EXPECT_LT(SystemClock::instance().monotonicMs() - start, 5000u);
}

TEST_F(ChildProcessTest, AProgramThatCannotRunFailsAtStart) {
    ChildProcess child;
    const Result started = child.start(loop, {"/nonexistent/program"}, "", handlers());
    ASSERT_FALSE(started);
    EXPECT_EQ(started.text(), "Cannot run /nonexistent/program (No such file or directory).");
    EXPECT_FALSE(child.running());
    EXPECT_EQ(loop.watchCount(), 0u);
}

TEST_F(ChildProcessTest, OwnerMayGoInsideALineCallback) {
    auto child = std::make_unique<ChildProcess>();
    ASSERT_TRUE(child->start(loop, {"/bin/sh", "-c", "echo a; echo b; sleep 5"}, "",
                             {[&](std::string_view line) {
                                  lines.emplace_back(line);
                                  child.reset();  // kills and reaps it
                              },
                              [&](int code) { exitCode = code; }}));
    for (int i = 0; i < 500 && child != nullptr; ++i) {
        loop.runOnce(10);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"a"}));
    loop.runOnce(0);
    EXPECT_EQ(exitCode, -1);
    EXPECT_EQ(loop.watchCount(), 0u);
}

}  // namespace
}  // namespace korvimo
