#include "gui/qt_event_loop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/child_process.h"
#include "gui_test_support.h"

namespace korvimo::gui {
namespace {

using testing::spinUntil;

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "qt_event_loop_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Records readiness (reading the datagram) and ticks under names the test gives.
struct RecordingSink {
    std::vector<std::pair<int, int>> endpoints;  // (name, descriptor)
    std::vector<uint32_t> ticks;
    std::function<void()> onEndpoint;
    std::function<void(uint32_t)> onTick;
    Watch watch;
    Timer timer;

    bool watchDescriptor(EventLoop& loop, int fd, int name) {
        watch = loop.watch(fd, [this, fd, name] {
            char buffer[64];
            (void)::recv(fd, buffer, sizeof buffer, 0);
            endpoints.emplace_back(name, fd);
            if (onEndpoint)
                onEndpoint();
        });
        return watch.active();
    }
    bool startTimer(EventLoop& loop, uint32_t name, uint32_t periodMs) {
        timer = loop.startTimer(periodMs, [this, name] {
            ticks.push_back(name);
            if (onTick)
                onTick(name);
        });
        return timer.running();
    }
};

// A receiving socket on 127.0.0.1 and a sender of one-byte datagrams to it.
struct UdpPair {
    korvimo::testing::UdpPeer receiverPeer{AF_INET};
    korvimo::testing::UdpPeer sender{AF_INET};
    const int receiver = receiverPeer.fd();

    void send() const { (void)sender.sendTo(receiverPeer.address(), {'x'}); }
};

TEST(QtEventLoop, DeliversReadableEndpointWithItsEvent) {
    application();
    QtEventLoop loop(SystemClock::instance());
    RecordingSink sink;
    UdpPair pair;
    ASSERT_TRUE(sink.watchDescriptor(loop, pair.receiver, 1626));
    pair.send();
    spinUntil([&] { return !sink.endpoints.empty(); }, 2000);
    ASSERT_EQ(sink.endpoints.size(), 1u);
    EXPECT_EQ(sink.endpoints[0].first, 1626);
    EXPECT_EQ(sink.endpoints[0].second, pair.receiver);
    sink.watch.reset();
    EXPECT_EQ(loop.watchCount(), 0u);
}

TEST(QtEventLoop, HandlerMayUnwatchItsOwnEndpoint) {
    application();
    QtEventLoop loop(SystemClock::instance());
    RecordingSink sink;
    UdpPair pair;
    sink.onEndpoint = [&] { sink.watch.reset(); };
    ASSERT_TRUE(sink.watchDescriptor(loop, pair.receiver, 1625));
    pair.send();
    pair.send();
    spinUntil([&] { return !sink.endpoints.empty(); }, 2000);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(sink.endpoints.size(), 1u);
}

TEST(QtEventLoop, TimerTicksUntilKilledEvenFromItsOwnTick) {
    application();
    QtEventLoop loop(SystemClock::instance());
    RecordingSink sink;
    sink.onTick = [&](uint32_t) {
        if (sink.ticks.size() == 3)
            sink.timer.stop();
    };
    ASSERT_TRUE(sink.startTimer(loop, 7, 5));
    spinUntil([&] { return sink.ticks.size() >= 3; }, 2000);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 60)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(sink.ticks, (std::vector<uint32_t>{7, 7, 7}));
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST(QtEventLoop, RestartingATimerKeepsOneTimer) {
    application();
    QtEventLoop loop(SystemClock::instance());
    RecordingSink sink;
    ASSERT_TRUE(sink.startTimer(loop, 1, 1000));
    ASSERT_TRUE(sink.startTimer(loop, 1, 5));
    EXPECT_EQ(loop.timerCount(), 1u);
    spinUntil([&] { return sink.ticks.size() >= 2; }, 2000);
    sink.timer.stop();
    EXPECT_GE(sink.ticks.size(), 2u);
}

TEST(QtEventLoop, ChildProcessLinesAndExitArriveThroughQtsLoop) {
    application();
    QtEventLoop loop(SystemClock::instance());
    ChildProcess child;
    std::vector<std::string> lines;
    int exitCode = -1;
    ASSERT_TRUE(child.start(loop, {"/bin/sh", "-c", "echo one; echo two; exit 4"}, "",
                            {[&](std::string_view line) { lines.emplace_back(line); },
                             [&](int code) { exitCode = code; }}));
    spinUntil([&] { return exitCode >= 0; }, 5000);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(exitCode, 4);
}

}  // namespace
}  // namespace korvimo::gui
