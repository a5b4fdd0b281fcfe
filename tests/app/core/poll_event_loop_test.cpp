#include "app/core/poll_event_loop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <utility>
#include <vector>

namespace korvimo {
namespace {

struct Recorder : EventSink {
    std::vector<std::pair<EndpointEvent, int>> readable;
    std::vector<uint32_t> ticks;
    std::function<void(uint32_t)> onTick;
    std::function<void(int)> onReadable;

    void endpointReadable(EndpointEvent event, int fd) override {
        readable.emplace_back(event, fd);
        if (onReadable) {
            onReadable(fd);
        }
    }
    void timerTick(uint32_t timerId) override {
        ticks.push_back(timerId);
        if (onTick) {
            onTick(timerId);
        }
    }
};

class SocketPair {
  public:
    SocketPair() { ::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, fds_); }
    ~SocketPair() {
        closeOne(0);
        closeOne(1);
    }
    int reader() const { return fds_[0]; }
    int writer() const { return fds_[1]; }
    void send() { ASSERT_EQ(::write(fds_[1], "x", 1), 1); }
    void drain() {
        char c;
        while (::read(fds_[0], &c, 1) > 0) {
        }
    }
    void closeOne(int i) {
        if (fds_[i] >= 0) {
            ::close(fds_[i]);
            fds_[i] = -1;
        }
    }

  private:
    int fds_[2] = {-1, -1};
};

TEST(PollEventLoop, TimerTicksExactlyWhenTheManualClockReachesItsPeriod) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    ASSERT_TRUE(loop.startTimer(&sink, 7, 2000));
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(1999);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(1);
    EXPECT_EQ(loop.runOnce(0), 1);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(2000);
    EXPECT_EQ(loop.runOnce(0), 1);
    EXPECT_EQ(sink.ticks, (std::vector<uint32_t>{7, 7}));
}

TEST(PollEventLoop, TimerThatFellBehindTicksOnceThenKeepsItsPeriod) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    loop.startTimer(&sink, 1, 5);
    clock.advanceMs(1000);  // two hundred periods missed
    EXPECT_EQ(loop.runOnce(0), 1);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(4);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(1);
    EXPECT_EQ(loop.runOnce(0), 1);
}

TEST(PollEventLoop, KilledAndRestartedTimers) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    loop.startTimer(&sink, 1, 100);
    loop.startTimer(&sink, 2, 100);
    // The first tick kills the second timer, due in the same turn: it must not tick.
    sink.onTick = [&loop](uint32_t id) {
        if (id == 1) {
            loop.killTimer(2);
        }
    };
    clock.advanceMs(100);
    EXPECT_EQ(loop.runOnce(0), 1);
    EXPECT_EQ(sink.ticks, (std::vector<uint32_t>{1}));
    EXPECT_FALSE(loop.timerRunning(2));

    // Starting a running identifier again restarts its period.
    sink.onTick = nullptr;
    clock.advanceMs(50);
    loop.startTimer(&sink, 1, 100);
    clock.advanceMs(50);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(50);
    EXPECT_EQ(loop.runOnce(0), 1);
}

TEST(PollEventLoop, ZeroPeriodRunsAtOneMillisecond) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    loop.startTimer(&sink, 3, 0);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(1);
    EXPECT_EQ(loop.runOnce(0), 1);
}

TEST(PollEventLoop, FiveMillisecondTimerKeepsItsPeriodWithoutSpinning) {
    PollEventLoop loop(SystemClock::instance());
    Recorder sink;
    loop.startTimer(&sink, 1, 5);
    const uint64_t start = SystemClock::instance().monotonicMs();
    int turns = 0;
    while (SystemClock::instance().monotonicMs() - start < 300 && turns < 100000) {
        loop.runOnce(1000);
        ++turns;
    }
    // 60 periods; a loaded machine may deliver fewer, never more.
    EXPECT_LE(sink.ticks.size(), 61u);
    EXPECT_GE(sink.ticks.size(), 20u);
    // A busy loop would turn tens of thousands of times.
    EXPECT_LE(turns, 3 * static_cast<int>(sink.ticks.size()) + 10);
}

TEST(PollEventLoop, WaitEndsAtTheNextTimerNotAtTheTimeout) {
    PollEventLoop loop(SystemClock::instance());
    Recorder sink;
    loop.startTimer(&sink, 1, 20);
    const uint64_t start = SystemClock::instance().monotonicMs();
    for (int i = 0; i < 10 && sink.ticks.empty(); ++i) {
        loop.runOnce(5000);
    }
    EXPECT_EQ(sink.ticks.size(), 1u);
    EXPECT_LT(SystemClock::instance().monotonicMs() - start, 2000u);
}

TEST(PollEventLoop, ReadableEndpointIsDeliveredWithItsEvent) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    SocketPair pair;
    ASSERT_TRUE(loop.watchEndpoint(pair.reader(), EndpointEvent::Agent, &sink));
    EXPECT_EQ(loop.runOnce(0), 0);
    pair.send();
    sink.onReadable = [&pair](int) { pair.drain(); };
    EXPECT_EQ(loop.runOnce(1000), 1);
    ASSERT_EQ(sink.readable.size(), 1u);
    EXPECT_EQ(sink.readable[0].first, EndpointEvent::Agent);
    EXPECT_EQ(static_cast<uint32_t>(sink.readable[0].first), 1626u);
    EXPECT_EQ(sink.readable[0].second, pair.reader());
    EXPECT_EQ(loop.runOnce(0), 0);  // read: nothing more to deliver
}

TEST(PollEventLoop, UnwatchedEndpointIsNotDelivered) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    SocketPair pair;
    loop.watchEndpoint(pair.reader(), EndpointEvent::Client, &sink);
    loop.unwatchEndpoint(pair.reader());
    pair.send();
    EXPECT_EQ(loop.runOnce(0), 0);
    EXPECT_TRUE(sink.readable.empty());
}

TEST(PollEventLoop, ClosedButStillWatchedDescriptorIsDropped) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    SocketPair pair;
    loop.watchEndpoint(pair.reader(), EndpointEvent::Trap, &sink);
    pair.closeOne(0);
    loop.runOnce(0);
    EXPECT_FALSE(loop.isWatched(pair.reader()));
    EXPECT_TRUE(sink.readable.empty());
}

TEST(PollEventLoop, NestedTurnLeavesTheOuterTurnToFinishWhatItsOwnPollSaw) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    SocketPair a, b, c;
    loop.watchEndpoint(a.reader(), EndpointEvent::Agent, &sink);
    loop.watchEndpoint(b.reader(), EndpointEvent::Client, &sink);
    a.send();
    b.send();
    c.send();
    int nestedDelivered = -1;
    sink.onReadable = [&](int fd) {
        for (SocketPair* pair : {&a, &b, &c}) {
            if (pair->reader() == fd) {
                pair->drain();
            }
        }
        if (fd == a.reader() && nestedDelivered < 0) {
            // A handler that watches one more endpoint and runs a turn of its own.
            loop.watchEndpoint(c.reader(), EndpointEvent::Trap, &sink);
            nestedDelivered = loop.runOnce(0);
        }
    };
    // The outer turn polled a and b; the nested one b and c. The outer turn then goes on with
    // b, as its own poll said, and with nothing it did not poll.
    EXPECT_EQ(loop.runOnce(0), 2);
    EXPECT_EQ(nestedDelivered, 2);
    const std::vector<std::pair<EndpointEvent, int>> expected = {
        {EndpointEvent::Agent, a.reader()},
        {EndpointEvent::Client, b.reader()},
        {EndpointEvent::Trap, c.reader()},
        {EndpointEvent::Client, b.reader()},
    };
    EXPECT_EQ(sink.readable, expected);
}

TEST(PollEventLoop, TimerTickedInANestedTurnDoesNotTickAgainInTheOuterOne) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    loop.startTimer(&sink, 1, 100);
    loop.startTimer(&sink, 2, 100);
    int nestedDelivered = -1;
    sink.onTick = [&](uint32_t id) {
        if (id == 1 && nestedDelivered < 0) {
            nestedDelivered = loop.runOnce(0);
        }
    };
    clock.advanceMs(100);
    EXPECT_EQ(loop.runOnce(0), 1);
    EXPECT_EQ(nestedDelivered, 1);
    EXPECT_EQ(sink.ticks, (std::vector<uint32_t>{1, 2}));
    clock.advanceMs(100);
    EXPECT_EQ(loop.runOnce(0), 2);  // both keep their period
}

TEST(PollEventLoop, NothingToWaitForReturnsAtOnce) {
    ManualClock clock;
    PollEventLoop loop(clock);
    EXPECT_EQ(loop.runOnce(-1), 0);
    loop.run();  // returns: nothing could ever happen
}

TEST(PollEventLoop, RunStopsWhenAHandlerQuits) {
    ManualClock clock;
    PollEventLoop loop(clock);
    Recorder sink;
    SocketPair pair;
    loop.watchEndpoint(pair.reader(), EndpointEvent::Agent, &sink);
    sink.onReadable = [&](int) {
        pair.drain();
        loop.quit();
    };
    pair.send();
    loop.run();
    EXPECT_EQ(sink.readable.size(), 1u);
}

}  // namespace
}  // namespace korvimo
