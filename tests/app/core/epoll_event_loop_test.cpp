#include "app/core/epoll_event_loop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace korvimo {
namespace {

// Records the ticks and readiness the loop delivers, under names the test gives.
struct Recorder {
    std::vector<std::pair<int, int>> readable;  // (name, descriptor)
    std::vector<uint32_t> ticks;
    std::function<void(uint32_t)> onTick;
    std::function<void(int)> onReadable;
    std::map<uint32_t, Timer> timers;
    std::map<int, Watch> watches;

    void startTimer(EventLoop& loop, uint32_t name, uint32_t periodMs) {
        timers[name] = loop.startTimer(periodMs, [this, name] {
            ticks.push_back(name);
            if (onTick) {
                onTick(name);
            }
        });
    }
    bool timerRunning(uint32_t name) const {
        auto it = timers.find(name);
        return it != timers.end() && it->second.running();
    }
    bool watch(EventLoop& loop, int fd, int name) {
        watches[fd] = loop.watch(fd, [this, fd, name] {
            readable.emplace_back(name, fd);
            if (onReadable) {
                onReadable(fd);
            }
        });
        return watches[fd].active();
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

TEST(EpollEventLoop, TimerTicksExactlyWhenTheManualClockReachesItsPeriod) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    sink.startTimer(loop, 7, 2000);
    ASSERT_TRUE(sink.timerRunning(7));
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

TEST(EpollEventLoop, TimerThatFellBehindTicksOnceThenKeepsItsPeriod) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    sink.startTimer(loop, 1, 5);
    clock.advanceMs(1000);  // two hundred periods missed
    EXPECT_EQ(loop.runOnce(0), 1);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(4);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(1);
    EXPECT_EQ(loop.runOnce(0), 1);
}

TEST(EpollEventLoop, KilledAndRestartedTimers) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    sink.startTimer(loop, 1, 100);
    sink.startTimer(loop, 2, 100);
    // The first tick kills the second timer, due in the same turn: it must not tick.
    sink.onTick = [&sink](uint32_t id) {
        if (id == 1) {
            sink.timers[2].stop();
        }
    };
    clock.advanceMs(100);
    EXPECT_EQ(loop.runOnce(0), 1);
    EXPECT_EQ(sink.ticks, (std::vector<uint32_t>{1}));
    EXPECT_FALSE(sink.timerRunning(2));

    // Starting a running identifier again restarts its period.
    sink.onTick = nullptr;
    clock.advanceMs(50);
    sink.startTimer(loop, 1, 100);
    clock.advanceMs(50);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(50);
    EXPECT_EQ(loop.runOnce(0), 1);
}

TEST(EpollEventLoop, ZeroPeriodRunsAtOneMillisecond) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    sink.startTimer(loop, 3, 0);
    EXPECT_EQ(loop.runOnce(0), 0);
    clock.advanceMs(1);
    EXPECT_EQ(loop.runOnce(0), 1);
}

TEST(EpollEventLoop, FiveMillisecondTimerKeepsItsPeriodWithoutSpinning) {
    EpollEventLoop loop(SystemClock::instance());
    Recorder sink;
    sink.startTimer(loop, 1, 5);
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

TEST(EpollEventLoop, WaitEndsAtTheNextTimerNotAtTheTimeout) {
    EpollEventLoop loop(SystemClock::instance());
    Recorder sink;
    sink.startTimer(loop, 1, 20);
    const uint64_t start = SystemClock::instance().monotonicMs();
    for (int i = 0; i < 10 && sink.ticks.empty(); ++i) {
        loop.runOnce(5000);
    }
    EXPECT_EQ(sink.ticks.size(), 1u);
    EXPECT_LT(SystemClock::instance().monotonicMs() - start, 2000u);
}

TEST(EpollEventLoop, ReadableEndpointIsDeliveredWithItsEvent) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    SocketPair pair;
    ASSERT_TRUE(sink.watch(loop, pair.reader(), 1626));
    EXPECT_EQ(loop.runOnce(0), 0);
    pair.send();
    sink.onReadable = [&pair](int) { pair.drain(); };
    EXPECT_EQ(loop.runOnce(1000), 1);
    ASSERT_EQ(sink.readable.size(), 1u);
    EXPECT_EQ(sink.readable[0].first, 1626);
    EXPECT_EQ(sink.readable[0].second, pair.reader());
    EXPECT_EQ(loop.runOnce(0), 0);  // read: nothing more to deliver
}

TEST(EpollEventLoop, UnwatchedEndpointIsNotDelivered) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    SocketPair pair;
    sink.watch(loop, pair.reader(), 1625);
    sink.watches[pair.reader()].reset();
    pair.send();
    EXPECT_EQ(loop.runOnce(0), 0);
    EXPECT_TRUE(sink.readable.empty());
}

TEST(EpollEventLoop, WatchEndedByAnEarlierCallbackOfTheSameTurnIsNotCalled) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    SocketPair a, b;
    sink.watch(loop, a.reader(), 1);
    sink.watch(loop, b.reader(), 2);
    // Whichever comes first ends both watches, its own included.
    sink.onReadable = [&](int) { sink.watches.clear(); };
    a.send();
    b.send();
    EXPECT_EQ(loop.runOnce(0), 1);
    EXPECT_EQ(sink.readable.size(), 1u);
    EXPECT_EQ(loop.watchCount(), 0u);
}

TEST(EpollEventLoop, ClosedButStillWatchedDescriptorIsDropped) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    SocketPair pair;
    sink.watch(loop, pair.reader(), 1627);
    pair.closeOne(0);
    loop.runOnce(0);
    EXPECT_EQ(loop.runOnce(0), 0);  // nothing left to report, and no spinning
    EXPECT_TRUE(sink.readable.empty());
}

TEST(EpollEventLoop, NestedTurnLeavesTheOuterTurnToFinishWhatItsOwnPollSaw) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    SocketPair a, b, c;
    sink.watch(loop, a.reader(), 1626);
    sink.watch(loop, b.reader(), 1625);
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
            sink.watch(loop, c.reader(), 1627);
            nestedDelivered = loop.runOnce(0);
        }
    };
    // The outer turn polled a and b; the nested one b and c. The outer turn then goes on with
    // b, as its own poll said, and with nothing it did not poll.
    EXPECT_EQ(loop.runOnce(0), 2);
    EXPECT_EQ(nestedDelivered, 2);
    const std::vector<std::pair<int, int>> expected = {
        {1626, a.reader()},
        {1625, b.reader()},
        {1627, c.reader()},
        {1625, b.reader()},
    };
    EXPECT_EQ(sink.readable, expected);
}

TEST(EpollEventLoop, TimerTickedInANestedTurnDoesNotTickAgainInTheOuterOne) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    sink.startTimer(loop, 1, 100);
    sink.startTimer(loop, 2, 100);
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

TEST(EpollEventLoop, NothingToWaitForReturnsAtOnce) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    EXPECT_EQ(loop.runOnce(-1), 0);
    loop.run();  // returns: nothing could ever happen
}

TEST(EpollEventLoop, RunStopsWhenAHandlerQuits) {
    ManualClock clock;
    EpollEventLoop loop(clock);
    Recorder sink;
    SocketPair pair;
    sink.watch(loop, pair.reader(), 1626);
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
