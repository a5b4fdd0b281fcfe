#include "gui/qt_event_loop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <vector>

#include "agent/udp_peer.h"
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

struct RecordingSink : EventSink {
    std::vector<std::pair<EndpointEvent, int>> endpoints;
    std::vector<uint32_t> ticks;
    std::function<void()> onEndpoint;
    std::function<void(uint32_t)> onTick;

    void endpointReadable(EndpointEvent event, int fd) override {
        char buffer[64];
        (void)::recv(fd, buffer, sizeof buffer, 0);
        endpoints.emplace_back(event, fd);
        if (onEndpoint)
            onEndpoint();
    }
    void timerTick(uint32_t timerId) override {
        ticks.push_back(timerId);
        if (onTick)
            onTick(timerId);
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
    ASSERT_TRUE(loop.watchEndpoint(pair.receiver, EndpointEvent::Agent, &sink));
    pair.send();
    spinUntil([&] { return !sink.endpoints.empty(); }, 2000);
    ASSERT_EQ(sink.endpoints.size(), 1u);
    EXPECT_EQ(sink.endpoints[0].first, EndpointEvent::Agent);
    EXPECT_EQ(sink.endpoints[0].second, pair.receiver);
    loop.unwatchEndpoint(pair.receiver);
    EXPECT_FALSE(loop.isWatched(pair.receiver));
}

TEST(QtEventLoop, HandlerMayUnwatchItsOwnEndpoint) {
    application();
    QtEventLoop loop(SystemClock::instance());
    RecordingSink sink;
    UdpPair pair;
    sink.onEndpoint = [&] { loop.unwatchEndpoint(pair.receiver); };
    ASSERT_TRUE(loop.watchEndpoint(pair.receiver, EndpointEvent::Client, &sink));
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
    sink.onTick = [&](uint32_t id) {
        if (sink.ticks.size() == 3)
            loop.killTimer(id);
    };
    ASSERT_TRUE(loop.startTimer(&sink, 7, 5));
    spinUntil([&] { return sink.ticks.size() >= 3; }, 2000);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 60)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(sink.ticks, (std::vector<uint32_t>{7, 7, 7}));
    EXPECT_FALSE(loop.timerRunning(7));
}

TEST(QtEventLoop, RestartingATimerKeepsOneTimer) {
    application();
    QtEventLoop loop(SystemClock::instance());
    RecordingSink sink;
    ASSERT_TRUE(loop.startTimer(&sink, 1, 1000));
    ASSERT_TRUE(loop.startTimer(&sink, 1, 5));
    spinUntil([&] { return sink.ticks.size() >= 2; }, 2000);
    loop.killTimer(1);
    EXPECT_GE(sink.ticks.size(), 2u);
}

}  // namespace
}  // namespace korvimo::gui
