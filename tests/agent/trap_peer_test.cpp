// Traps sent with sendTrap, received and decoded by Net-SNMP's snmptrapd.
#include <gtest/gtest.h>

#include <string>

#include "agent/endpoints.h"
#include "agent/message_sending.h"
#include "agent/udp_peer.h"
#include "app/core/clock.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"
#include "support/snmptrapd.h"

namespace korvimo {
namespace {

class TrapPeer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(trapd.start()) << trapd.output();
        ASSERT_TRUE(client.open(IpVersion::IPv4));
        ASSERT_TRUE(resolveAddress("127.0.0.1", client.settings().peerAddress));
    }

    void add(snmp::VarBindList* list, const char* name, const char* type, const char* value) {
        const Result made = makeVarBindFromText(nullptr, name, type, value, list);
        ASSERT_TRUE(made) << made.text();
    }

    testing::TempDir dir;
    testing::Snmptrapd trapd{dir};
    ManualClock clock;
    EpollEventLoop loop{clock};
    RequestIdSequence ids;
    RequestClient client{loop, ids, {}};
};

TEST_F(TrapPeer, Snmpv1TrapIsDecodedWithItsBindings) {
    auto list = snmp::SnmpCreateVbl();
    add(list.get(), "1.3.6.1.2.1.1.5.0", "OctetString", "router");
    add(list.get(), "1.3.6.1.2.1.2.2.1.1.1", "Integer", "7");
    const uint8_t agentAddr[4] = {192, 0, 2, 7};
    const Result sent = sendTrap(std::move(list), "public", "1.3.6.1.4.1.99999", agentAddr,
                                 trapd.port(), 123, 6, 5, 0, client);
    ASSERT_TRUE(sent) << sent.text();
    ASSERT_TRUE(trapd.waitFor("INTEGER: 7", 10000)) << trapd.output();
    const std::string& out = trapd.output();
    EXPECT_NE(out.find("[192.0.2.7]"), std::string::npos) << out;
    EXPECT_NE(out.find("TRAP, SNMP v1, community public"), std::string::npos) << out;
    EXPECT_NE(out.find("\t.1.3.6.1.4.1.99999 Enterprise Specific Trap (5) Uptime: 0:00:01.23"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\t.1.3.6.1.2.1.1.5.0 = STRING: \"router\""), std::string::npos) << out;
    EXPECT_NE(out.find("\t.1.3.6.1.2.1.2.2.1.1.1 = INTEGER: 7"), std::string::npos) << out;
}

TEST_F(TrapPeer, Snmpv2TrapIsDecodedWithItsBindings) {
    auto list = snmp::SnmpCreateVbl();
    add(list.get(), "1.3.6.1.2.1.1.3.0", "TimeTicks", "123");
    add(list.get(), "1.3.6.1.6.3.1.1.4.1.0", "ObjectID", "1.3.6.1.4.1.99999.0.5");
    add(list.get(), "1.3.6.1.2.1.2.2.1.1.1", "Integer", "7");
    add(list.get(), "1.3.6.1.2.1.4.20.1.1.10.1.2.3", "IpAddress", "10.1.2.3");
    add(list.get(), "1.3.6.1.2.1.31.1.1.1.6.1", "Counter64", "12345678901234");
    add(list.get(), "1.3.6.1.2.1.2.2.1.6.1", "OctetString", "0x0011223344ab");
    const uint8_t agentAddr[4] = {0, 0, 0, 0};
    const Result sent =
        sendTrap(std::move(list), "public", "", agentAddr, trapd.port(), 0, 0, 0, 1, client);
    ASSERT_TRUE(sent) << sent.text();
    ASSERT_TRUE(trapd.waitFor("Hex-STRING", 10000)) << trapd.output();
    const std::string& out = trapd.output();
    EXPECT_NE(out.find(".1.3.6.1.2.1.1.3.0 = Timeticks: (123) 0:00:01.23\t"
                       ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.5\t"
                       ".1.3.6.1.2.1.2.2.1.1.1 = INTEGER: 7\t"
                       ".1.3.6.1.2.1.4.20.1.1.10.1.2.3 = IpAddress: 10.1.2.3\t"
                       ".1.3.6.1.2.1.31.1.1.1.6.1 = Counter64: 12345678901234\t"
                       ".1.3.6.1.2.1.2.2.1.6.1 = Hex-STRING: 00 11 22 33 44 AB"),
              std::string::npos)
        << out;
}

}  // namespace
}  // namespace korvimo
