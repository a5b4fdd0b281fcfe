// The messages traps of a trap file go out as, and the demo home's trap file.
#include "traps/trap_message.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/message_sending.h"
#include "app/core/temp_dir.h"
#include "mibinfo/mib_info.h"
#include "traps/trap_writer.h"

namespace korvimo::traps {
namespace {

using Ids = std::vector<uint32_t>;

TrapDefinition definitionOf(int32_t generic, const char* enterprise = "1.3.6.1.4.1.99") {
    return TrapDefinition{"t", enterprise, generic, 17};
}

TEST(TrapMessageTest, NotificationIdentifiersAndV1Enterprise) {
    EXPECT_EQ(notificationIdentifier(definitionOf(0)), "1.3.6.1.6.3.1.1.5.1");
    EXPECT_EQ(notificationIdentifier(definitionOf(-1)), "1.3.6.1.6.3.1.1.5.0");
    EXPECT_EQ(notificationIdentifier(definitionOf(6)), "1.3.6.1.4.1.99.0.17");
    EXPECT_EQ(notificationIdentifier(definitionOf(8)), "1.3.6.1.4.1.99.0.17");
    EXPECT_EQ(notificationIdentifier(definitionOf(7)), "1.3.6.1.4.1.99.17");

    EXPECT_EQ(v1EnterpriseText(definitionOf(7, "1.3.6.1.4.1.99.0"), false), "1.3.6.1.4.1.99");
    EXPECT_EQ(v1EnterpriseText(definitionOf(7, "1.3.6.1.4.1.99.0"), true), "1.3.6.1.4.1.99.0");
    EXPECT_EQ(v1EnterpriseText(definitionOf(6, "1.3.6.1.4.1.99.0"), false), "1.3.6.1.4.1.99.0");
    EXPECT_EQ(v1EnterpriseText(definitionOf(7, ".0"), false), ".0");
}

// Encodes the message and decodes it again.
snmp::Pdu roundTrip(const snmp::Pdu& pdu) {
    uint8_t bytes[snmp::kMaxMessageSize];
    uint32_t size = sizeof bytes;
    EXPECT_TRUE(snmp::SnmpEncodeMsg(&pdu, bytes, &size));
    snmp::Pdu decoded;
    EXPECT_TRUE(snmp::decodeMessage(bytes, size, &decoded));
    return decoded;
}

TEST(TrapMessageTest, PreparesAndBuildsTrapNotificationAndInform) {
    TrapFile file;
    file.assign(
        "%T alarm, 1.3.6.1.4.1.99.0, 7, 17\r\n"
        "%V alarm, 1.3.6.1.2.1.1.5.0, OctetString, r1\r\n"
        "%V alarm, 1.3.6.1.2.1.2.2.1.10.2, Counter, 1000\r\n"
        "%T short, 1.3.6.1.4.1.99\r\n"
        "%T float, 1.3.6.1.4.1.99, 6, 1\r\n"
        "%V float, 1.3.6.1.2.1.1.1.0, Float, 1.5\r\n");
    PreparedTrap trap;
    for (std::size_t unusable : {1, 9}) {  // skipped without a message of their own
        const Result r = prepareTrap(file, unusable, nullptr, TrapKind::V1Trap, false, trap);
        EXPECT_TRUE(!r && r.text().empty());
    }
    EXPECT_EQ(prepareTrap(file, 2, nullptr, TrapKind::V1Trap, false, trap).text(),
              kAttributeTypeUnknownText);
    ASSERT_TRUE(prepareTrap(file, 0, nullptr, TrapKind::V1Trap, false, trap));
    const uint8_t agentAddr[4] = {127, 0, 0, 1};
    const std::vector<uint8_t> community{'p', 'u', 'b'};

    std::unique_ptr<snmp::Pdu> pdu;
    ASSERT_TRUE(buildTrapPdu(trap, TrapKind::V1Trap, "pub", agentAddr, 4200, 9, pdu));
    snmp::Pdu v1 = roundTrip(*pdu);
    EXPECT_EQ(std::make_pair(v1.version, v1.type), std::make_pair(snmp::kVersion1, snmp::kPduTrap));
    EXPECT_EQ(v1.community.bytes, community);
    EXPECT_EQ(v1.enterprise.ids, (Ids{1, 3, 6, 1, 4, 1, 99}));  // its ".0" dropped
    EXPECT_EQ(0, std::memcmp(v1.agentAddr, agentAddr, 4));
    EXPECT_EQ(std::make_pair(v1.genericTrap, v1.specificTrap), std::make_pair(6, 17));
    EXPECT_EQ(v1.timeStamp, 4200u);
    ASSERT_EQ(v1.varBinds.count(), 2u);
    EXPECT_EQ(v1.varBinds.items[1].value.number, 1000u);

    for (TrapKind kind : {TrapKind::Notification, TrapKind::Inform}) {
        ASSERT_TRUE(prepareTrap(file, 0, nullptr, kind, false, trap));
        ASSERT_TRUE(buildTrapPdu(trap, kind, "pub", agentAddr, 4200, 9, pdu));
        snmp::Pdu v2 = roundTrip(*pdu);
        EXPECT_EQ(v2.version, snmp::kVersion2c);
        EXPECT_EQ(v2.community.bytes, community);
        EXPECT_EQ(v2.type,
                  kind == TrapKind::Inform ? snmp::kPduInformRequest : snmp::kPduSnmpV2Trap);
        EXPECT_EQ(v2.requestId, kind == TrapKind::Inform ? 9 : 1);
        ASSERT_EQ(v2.varBinds.count(), 4u);
        EXPECT_EQ(v2.varBinds.items[0].name.ids, (Ids{1, 3, 6, 1, 2, 1, 1, 3, 0}));
        EXPECT_EQ(v2.varBinds.items[0].value.syntax, snmp::kTagTimeTicks);
        EXPECT_EQ(v2.varBinds.items[0].value.number, 4200u);
        EXPECT_EQ(v2.varBinds.items[1].name.ids, (Ids{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}));
        EXPECT_EQ(v2.varBinds.items[1].value.oid.ids, (Ids{1, 3, 6, 1, 4, 1, 99, 0, 17}));
    }
    // The prepared trap is left as it was, for the next send.
    EXPECT_EQ(trap.bindings.count(), 2u);

    // Only the identifier the kind sends is made: an enterprise too long to be an identifier
    // refuses the SNMPv1 Trap, not the notification of a generic trap, which never sends it.
    std::string enterprise = "1";
    for (uint32_t piece = 1; piece < snmp::kMaxOidLength + 1; ++piece) {
        enterprise += ".1";
    }
    file.assign("%T long, " + enterprise + ", 3, 0\r\n");
    EXPECT_EQ(prepareTrap(file, 0, nullptr, TrapKind::V1Trap, false, trap).text(),
              kTrapEnterpriseFailedText);
    ASSERT_TRUE(prepareTrap(file, 0, nullptr, TrapKind::Notification, false, trap));
    ASSERT_TRUE(buildTrapPdu(trap, TrapKind::Notification, "pub", agentAddr, 1, 1, pdu));
    EXPECT_EQ(roundTrip(*pdu).varBinds.items[1].value.oid.ids,
              (Ids{1, 3, 6, 1, 6, 3, 1, 1, 5, 4}));  // linkUp
}

// The demo home's agent/default.trp is the writer's output for the demo router, sendable
// with the demo's mibinfo.out. After a change of the writer or of the traps below, rewrite it
// with KORVIMO_REWRITE_DEFAULT_TRP=1 traps_test --gtest_filter='DefaultTrapFileTest.*'.
constexpr const char* kDemoEnterprise = "1.3.6.1.4.1.32473";

// The demo router's traps: its MIBs, the standard traps of its enterprise, eth0 (ifIndex 2)
// taken down and up, eth1 (ifIndex 3) losing its link and getting it back while it stays
// administratively up (the demo's scheduled events send these two), and a notification of
// its own.
std::string demoTrapFile() {
    const std::vector<std::string> mibs{"SNMPv2-MIB", "IF-MIB", "IP-MIB", "IP-FORWARD-MIB"};
    std::string text = trapFileHeader(mibs);
    text += standardTrapsBlock(kDemoEnterprise);
    const struct {
        const char* name;
        const char* index;
        const char* generic;
        const char* admin;
        const char* oper;
    } links[] = {{"linkDownEth0", "2", "2", "2", "2"},
                 {"linkUpEth0", "2", "3", "1", "1"},
                 {"linkDownEth1", "3", "2", "1", "2"},
                 {"linkUpEth1", "3", "3", "1", "1"}};
    for (const auto& link : links) {
        const std::string index = link.index;
        text += trapComment(link.name);
        text += definitionLine(link.name, kDemoEnterprise, link.generic, "0");
        text += variableLine(link.name, "1.3.6.1.2.1.2.2.1.1." + index, "Integer", index);
        text += variableLine(link.name, "1.3.6.1.2.1.2.2.1.7." + index, "Integer", link.admin);
        text += variableLine(link.name, "1.3.6.1.2.1.2.2.1.8." + index, "Integer", link.oper);
    }
    text += trapComment("demoRouterAlarm");
    text += definitionLine("demoRouterAlarm", "1.3.6.1.4.1.32473.0", "7", "1");
    text += variableLine("demoRouterAlarm", "sysName.0", "OctetString", "demo-router");
    text += variableLine("demoRouterAlarm", "1.3.6.1.2.1.2.2.1.10.2", "Counter", "1048576");
    text += variableLine("demoRouterAlarm", "sysUpTime.0", "TimeTicks", "360000");
    return text;
}

TEST(DefaultTrapFileTest, IsTheWritersOutputAndSendable) {
    const std::string path = std::string(KORVIMO_SOURCE_DIR) + "/home/agent/default.trp";
    const std::string expected = demoTrapFile();
    if (std::getenv("KORVIMO_REWRITE_DEFAULT_TRP") != nullptr) {
        testing::writeFile(path, expected);
    }
    EXPECT_EQ(testing::readFile(path), expected);

    Result why;
    const auto mib =
        mibinfo::MibInfo::load(std::string(KORVIMO_SOURCE_DIR) + "/home/mibs/mibinfo.out", &why);
    ASSERT_NE(mib, nullptr) << why.text();
    TrapFile file;
    ASSERT_TRUE(file.read(path));
    ASSERT_EQ(file.names().size(), 11u);
    for (std::size_t position = 0; position < file.names().size(); ++position) {
        PreparedTrap trap;
        const Result prepared =
            prepareTrap(file, position, mib.get(), TrapKind::V1Trap, false, trap);
        EXPECT_TRUE(prepared) << file.names()[position] << ": " << prepared.text();
    }
    PreparedTrap alarm;
    ASSERT_TRUE(prepareTrap(file, 10, mib.get(), TrapKind::Notification, false, alarm));
    ASSERT_EQ(alarm.bindings.count(), 3u);
    EXPECT_EQ(alarm.bindings.items[0].name.ids,  // sysName.0
              (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 1, 5, 0}));
}

}  // namespace
}  // namespace korvimo::traps
