#include "agent/agent.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>

#include "agent/udp_peer.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/status_list.h"
#include "app/core/temp_dir.h"

namespace korvimo {
namespace {

using testing::decode;
using testing::encodeMessage;
using testing::freeUdpPort;
using testing::loopback;
using testing::readFile;
using testing::TempDir;
using testing::UdpPeer;
using testing::writeFile;

// Two simulated devices on one event loop, each with its own control file, port, debug log,
// statistics and status list, as a process that simulates many devices runs them.
class TwoAgents : public ::testing::Test {
  protected:
    struct Device {
        StatusList status;
        std::unique_ptr<Agent> agent;
        uint16_t port = 0;
    };

    void SetUp() override {
        ::mkdir(dir.path("agent").c_str(), 0755);
        for (Device* device : {&a, &b}) {
            const std::string name = device == &a ? "a" : "b";
            writeFile(dir.path("agent/" + name + ".ctl"),
                      "1.3.6.1.2.1.1.1.0, OctetString, RO, fixed(device " + name + ")\r\n");
            device->agent = std::make_unique<Agent>(Agent::Services{loop, device->status});
            AgentSettings& settings = device->agent->settings();
            settings.readCommunity = "public";
            settings.debugMode = true;
            ASSERT_TRUE(device->agent->openControlFile(dir.path("agent/" + name + ".ctl")));
            ASSERT_TRUE(device->agent->openDebugLog(dir.path(name + ".out"), name));
            for (int attempt = 0; attempt < 20 && !device->agent->endpoint().isOpen(); ++attempt) {
                device->port = freeUdpPort(AF_INET);
                (void)device->agent->openEndpoint({std::to_string(device->port), "127.0.0.1", ""});
            }
            ASSERT_TRUE(device->agent->endpoint().isOpen());
            ASSERT_TRUE(device->agent->load(clock.calendarSeconds(),
                                            dir.path("agent/" + name + ".tempfile")));
            device->agent->serve();
            device->status.append("Agent has been started.");
        }
    }

    // The value of sysDescr.0 the device answers, or nothing when none answers.
    std::optional<std::string> ask(const Device& device, int32_t requestId) {
        manager.sendTo(loopback(AF_INET, device.port),
                       encodeMessage(snmp::kPduGetRequest, requestId));
        std::vector<uint8_t> answer;
        for (int turn = 0; turn < 50; ++turn) {
            loop.runOnce(10);
            if (manager.receive(answer, 0)) {
                snmp::Pdu pdu;
                if (!decode(answer, pdu) || pdu.requestId != requestId) {
                    return std::nullopt;
                }
                const auto& octets = pdu.varBinds.items.at(0).value.octets.bytes;
                return std::string(octets.begin(), octets.end());
            }
        }
        return std::nullopt;
    }

    TempDir dir;
    ManualClock clock;
    EpollEventLoop loop{clock};
    UdpPeer manager{AF_INET};
    Device a;
    Device b;
};

TEST_F(TwoAgents, EachServesItsOwnDeviceWithItsOwnStatisticsLogsAndTimers) {
    for (int32_t id = 1; id <= 6; ++id) {
        EXPECT_EQ(ask(id % 2 == 1 ? a : b, id), id % 2 == 1 ? "device a" : "device b");
    }
    EXPECT_EQ(a.agent->statistics().GetRequests, 3u);
    EXPECT_EQ(b.agent->statistics().GetRequests, 3u);
    EXPECT_NE(readFile(dir.path("a.out")).find("Request Id = 5,"), std::string::npos);
    EXPECT_EQ(readFile(dir.path("a.out")).find("Request Id = 6,"), std::string::npos);
    EXPECT_NE(readFile(dir.path("b.out")).find("Value = device b"), std::string::npos);

    // The first request of each showed its statistics at once; the later ones wait for each
    // agent's own refresh timer.
    EXPECT_TRUE(a.agent->statisticsRefresh().pending());
    EXPECT_TRUE(b.agent->statisticsRefresh().pending());
    clock.advanceMs(kStatisticsIntervalMs);
    loop.runOnce(0);
    EXPECT_FALSE(a.agent->statisticsRefresh().pending());
    EXPECT_FALSE(b.agent->statisticsRefresh().pending());
    EXPECT_EQ(a.status.lines()[1], statisticsLine(1, a.agent->statistics()));
    EXPECT_EQ(b.status.lines()[1], statisticsLine(1, b.agent->statistics()));
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(TwoAgents, DestroyingOneLeavesTheOtherServing) {
    ASSERT_EQ(ask(a, 1), "device a");
    ASSERT_EQ(ask(b, 2), "device b");
    a.agent.reset();
    EXPECT_EQ(ask(a, 3), std::nullopt);
    EXPECT_EQ(ask(b, 4), "device b");
    EXPECT_EQ(b.agent->statistics().GetRequests, 2u);
    EXPECT_EQ(loop.watchCount(), 1u);
}

// MAXMSGSIZE and the largest answer the handler allows share one range.
TEST(AgentSettings, MaxMessageSizeTakesTheDefaultOrAClampedNumber) {
    for (const char* none : {"", "0", "-3", "lots"}) {
        EXPECT_EQ(maxMessageSizeFromText(none), kDefaultMaxMessageSize) << none;
    }
    EXPECT_EQ(maxMessageSizeFromText("1"), kLeastMaxMessageSize);
    EXPECT_EQ(maxMessageSizeFromText("484"), 484u);
    EXPECT_EQ(maxMessageSizeFromText("4000"), 4000u);
    EXPECT_EQ(maxMessageSizeFromText("65507"), 65507u);
    EXPECT_EQ(maxMessageSizeFromText("65508"), snmp::kMaxDatagramSize);
    EXPECT_EQ(maxMessageSizeFromText("999999999"), snmp::kMaxDatagramSize);
    EXPECT_EQ(clampMaxMessageSize(0), kLeastMaxMessageSize);
    EXPECT_EQ(clampMaxMessageSize(4000), 4000u);
    EXPECT_EQ(clampMaxMessageSize(4294967295L), snmp::kMaxDatagramSize);
}

}  // namespace
}  // namespace korvimo
