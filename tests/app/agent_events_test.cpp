// The scheduled events of an agent on a manual clock: the Sets at their times and periods, the
// lines of refused Sets and of traps, the TRAPDEST managers as read.
#include "app/agent_events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"

namespace korvimo::app {
namespace {

using testing::decode;
using testing::oid;
using testing::UdpPeer;

class AgentEventsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* sub : {"bin", "agent"}) {
            std::filesystem::create_directory(dir.path(sub));
        }
        testing::writeFile(dir.path("agent/t.trp"),
                           "%T  coldStart, 1.3.6.1.4.1.99, 0, 0\r\n"
                           "%T  named, 1.3.6.1.4.1.99, 7, 4\r\n"
                           "%V  named, 1.3.6.1.2.1.1.5.0, OctetString, r1\r\n");
        config.writePlain(ConfigKey::INSTALLDIR, dir.root());
    }

    void start(const std::string& control,
               std::optional<std::vector<TrapDestination>> managers = std::nullopt) {
        testing::writeFile(dir.path("agent/a.ctl"), control);
        ASSERT_TRUE(agent.openControlFile(dir.path("agent/a.ctl")));
        ASSERT_TRUE(agent.load(clock.calendarSeconds(), dir.path("agent/tempfile")));
        agent.serve();
        events.start(agent, std::move(managers));
    }

    // The clock moves ms on, then the loop takes one turn.
    void after(uint64_t ms) {
        clock.advanceMs(ms);
        loop.runOnce(0);
    }

    std::string value(const char* name) {
        store::AttributeInfo found;
        snmp::SyntaxValue current;
        if (!agent.store().lookupAttribute(oid(name), found) ||
            !agent.store().makeValue(current, found)) {
            return "<absent>";
        }
        return std::string(current.octets.bytes.begin(), current.octets.bytes.end());
    }

    std::size_t count(const std::string& line) const {
        return static_cast<std::size_t>(
            std::count(status.lines().begin(), status.lines().end(), line));
    }

    testing::TempDir dir;
    Configuration config{dir.path("bin/korvan.ini")};
    ManualClock clock;
    EpollEventLoop loop{clock};
    StatusList status;
    RequestIdSequence ids;
    HomeMibInfo mibInfo;
    Agent agent{{loop, status, &config}};
    AgentEvents events{{config, loop, status, ids, mibInfo}};
};

TEST_F(AgentEventsTest, SetsAtTheirTimesAndRepeatWithoutMakingUpMissedRuns) {
    start(
        "%event 2 every 3 set 1.3.6.1.2.1.1.5.0 two\r\n"
        "%event 1 set 1.3.6.1.2.1.1.4.0 \"ops desk\"\r\n"
        "1.3.6.1.2.1.1.4.0, OctetString, RW, lastset(nobody)\r\n"
        "1.3.6.1.2.1.1.5.0, OctetString, RW, lastset(r1)\r\n");
    EXPECT_EQ(status.lines().back(), "Events: 2 scheduled (trap file none).");
    after(999);
    EXPECT_EQ(value("1.3.6.1.2.1.1.4.0"), "nobody");
    after(1);
    EXPECT_EQ(value("1.3.6.1.2.1.1.4.0"), "ops desk");
    EXPECT_EQ(status.lines().back(), "Event (line 2): 1.3.6.1.2.1.1.4.0 set to ops desk.");
    after(1000);
    const std::string setTwo = "Event (line 1): 1.3.6.1.2.1.1.5.0 set to two.";
    EXPECT_EQ(value("1.3.6.1.2.1.1.5.0"), "two");
    ASSERT_TRUE(agent.store().setFromText(oid("1.3.6.1.2.1.1.5.0"), "other"));
    after(2999);
    EXPECT_EQ(value("1.3.6.1.2.1.1.5.0"), "other");
    after(1);  // 5 s
    EXPECT_EQ(value("1.3.6.1.2.1.1.5.0"), "two");
    EXPECT_EQ(count(setTwo), 2u);

    // A loop held up for 10 s runs the event once, then keeps its period: 8, 17, 20 s.
    after(3000);
    after(9000);
    EXPECT_EQ(count(setTwo), 4u);
    after(2999);
    EXPECT_EQ(count(setTwo), 4u);
    after(1);
    EXPECT_EQ(count(setTwo), 5u);
    EXPECT_EQ(count("Event (line 2): 1.3.6.1.2.1.1.4.0 set to ops desk."), 1u);

    events.stop();
    after(10000);
    EXPECT_EQ(count(setTwo), 5u);
}

TEST_F(AgentEventsTest, ARefusedSetHasItsLineAndNoTrapAndNoManagerOneLine) {
    start(
        "%trapfile t.trp\r\n"
        "%event 0 every 1 set 1.3.6.1.2.1.1.1.0 x trap coldStart\r\n"
        "%event 0 set 1.3.6.1.2.1.1.1.0 y trap missing\r\n"
        "%event 0 every 1 set 1.3.6.1.2.1.1.5.0 z trap coldStart\r\n"
        "1.3.6.1.2.1.1.1.0, OctetString, RO, fixed(router)\r\n"
        "1.3.6.1.2.1.1.5.0, OctetString, RW, lastset(r1)\r\n");
    EXPECT_EQ(count("Events: 3 scheduled (trap file t.trp)."), 1u);
    EXPECT_EQ(count("Event (line 3): trap missing is not in trap file t.trp."), 1u);
    after(1);
    after(1000);
    EXPECT_EQ(count("Event (line 2): 1.3.6.1.2.1.1.1.0 not set: the Set of 1.3.6.1.2.1.1.1.0 "
                    "is refused: notWritable."),
              2u);
    EXPECT_EQ(count(kEventNoManagerText), 1u);
}

TEST_F(AgentEventsTest, TrapsGoToEveryManagerAndInformsEndAcknowledgedOrNot) {
    config.pushHistory(ConfigKey::TIMEOUT, "1");
    config.pushHistory(ConfigKey::RETRIES, "2");
    const UdpPeer v1(AF_INET);
    const UdpPeer informs(AF_INET);
    std::vector<TrapDestination> managers(2);
    ASSERT_TRUE(
        parseTrapDestination("127.0.0.1:" + std::to_string(v1.port()) + " v1 pub", managers[0]));
    ASSERT_TRUE(parseTrapDestination("127.0.0.1:" + std::to_string(informs.port()) + " inform",
                                     managers[1]));
    start(
        "%trapfile t.trp\r\n"
        "%event 3 every 5 set 1.3.6.1.2.1.1.5.0 r2 trap named\r\n"
        "1.3.6.1.2.1.1.5.0, OctetString, RW, lastset(r1)\r\n",
        managers);
    after(3000);
    const std::string both =
        "127.0.0.1:" + std::to_string(v1.port()) + ", 127.0.0.1:" + std::to_string(informs.port());
    EXPECT_EQ(status.lines().back(), "Event (line 2): trap named sent to " + both + ".");

    std::vector<uint8_t> bytes;
    ASSERT_TRUE(v1.receive(bytes, 2000));
    snmp::Pdu trap;
    ASSERT_TRUE(decode(bytes, trap));
    EXPECT_EQ(trap.type, snmp::kPduTrap);
    EXPECT_EQ(std::string(trap.community.bytes.begin(), trap.community.bytes.end()), "pub");
    EXPECT_EQ(trap.genericTrap, 6);
    EXPECT_EQ(trap.specificTrap, 4);
    EXPECT_EQ(trap.timeStamp, 300u);  // the agent's uptime

    // The first inform is answered, the second is not.
    SocketAddress from;
    ASSERT_TRUE(informs.receive(bytes, 2000, &from));
    snmp::Pdu inform;
    ASSERT_TRUE(decode(bytes, inform));
    EXPECT_EQ(inform.type, snmp::kPduInformRequest);
    ASSERT_TRUE(informs.sendTo(from, testing::encodeMessage(snmp::kPduResponse, inform.requestId)));
    for (int turn = 0; turn < 100 && events.pendingInforms() > 0; ++turn) {
        loop.runOnce(10);
    }
    const std::string informer = "127.0.0.1:" + std::to_string(informs.port());
    EXPECT_EQ(count("Event (line 2): inform named acknowledged by " + informer + "."), 1u);
    after(5000);
    EXPECT_EQ(events.pendingInforms(), 1u);
    after(1000);
    after(1000);
    EXPECT_EQ(events.pendingInforms(), 0u);
    EXPECT_EQ(status.lines().back(), "Event (line 2): inform named unacknowledged by " + informer +
                                         " after 2 transmission(s).");
}

TEST(TrapDestinations, ReadsManagersAndNamesWhatIsWrong) {
    TrapDestination read;
    ASSERT_TRUE(parseTrapDestination("127.0.0.1 v1", read));
    EXPECT_EQ(read.name, "127.0.0.1:162");
    EXPECT_EQ(read.kind, traps::TrapKind::V1Trap);
    EXPECT_EQ(read.community, "public");
    ASSERT_TRUE(parseTrapDestination("  [::1]:1162\tINFORM  ops ", read));
    EXPECT_EQ(read.name, "[::1]:1162");
    EXPECT_EQ(read.address.family(), AF_INET6);
    EXPECT_EQ(read.port, 1162);
    EXPECT_EQ(read.kind, traps::TrapKind::Inform);
    EXPECT_EQ(read.community, "ops");
    ASSERT_TRUE(parseTrapDestination("10.1.2.3:2162 v2c", read));
    EXPECT_EQ(read.kind, traps::TrapKind::Notification);

    for (const char* wrong : {"", "127.0.0.1", "127.0.0.1 v2c a b", "host v2c", "127.0.0.1:0 v2c",
                              "127.0.0.1: v2c", "[::1 v2c", "[::1]x v2c", "127.0.0.1 v3",
                              "127.0.0.1 v2c cccccccccccccccccccccccccccccccccccccccccccccccccc"}) {
        EXPECT_FALSE(parseTrapDestination(wrong, read)) << wrong;
    }

    testing::TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    config.pushHistory(ConfigKey::TRAPDEST, "127.0.0.1 v1");  // becomes TRAPDEST2
    config.pushHistory(ConfigKey::TRAPDEST, "127.0.0.1 v3");
    std::vector<std::string> invalid;
    const std::vector<TrapDestination> managers = trapDestinations(config, invalid);
    ASSERT_EQ(managers.size(), 1u);
    EXPECT_EQ(managers[0].name, "127.0.0.1:162");
    EXPECT_EQ(invalid, std::vector<std::string>{"Invalid TRAPDEST1 [127.0.0.1 v3]: the version "
                                                "must be v1, v2c or inform, not v3."});
}

}  // namespace
}  // namespace korvimo::app
