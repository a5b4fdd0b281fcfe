#include "agent/message_sending.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "agent/endpoints.h"
#include "agent/udp_peer.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"

namespace korvimo {
namespace {

using testing::decode;
using testing::oid;
using testing::UdpPeer;

snmp::VarBind buildOne(const mibinfo::MibInfo* mib, const char* name, const char* type,
                       const std::string& value, std::string* failure = nullptr) {
    auto list = snmp::SnmpCreateVbl();
    const Result made = makeVarBindFromText(mib, name, type, value, list.get());
    if (failure != nullptr) {
        *failure = made.text();
    }
    return made && list->count() == 1 ? list->items[0] : snmp::VarBind{};
}

using Bytes = std::vector<uint8_t>;

TEST(VarBindFromText, HexOctetTextTakesPairsFromTheEnd) {
    const mibinfo::MibInfo* mib = nullptr;
    snmp::VarBind vb = buildOne(mib, "1.3.6.1.2.1.1.5.0", "OctetString", "0xabc");
    EXPECT_EQ(vb.name, oid("1.3.6.1.2.1.1.5.0"));
    EXPECT_EQ(vb.value.syntax, snmp::kTagOctetString);
    EXPECT_EQ(vb.value.octets.bytes, (Bytes{0x0A, 0xBC}));
    EXPECT_EQ(buildOne(mib, "1.3", "OctetString", "0xABcd09").value.octets.bytes,
              (Bytes{0xAB, 0xCD, 0x09}));
    EXPECT_EQ(buildOne(mib, "1.3", "Opaque", "0x").value.octets.bytes, Bytes{});
    EXPECT_EQ(buildOne(mib, "1.3", "Opaque", "0x1").value.syntax, snmp::kTagOpaque);
}

TEST(VarBindFromText, UpperCasePrefixIsPlainText) {
    const mibinfo::MibInfo* mib = nullptr;
    EXPECT_EQ(buildOne(mib, "1.3", "OctetString", "0Xab").value.octets.bytes,
              (Bytes{'0', 'X', 'a', 'b'}));
    EXPECT_EQ(buildOne(mib, "1.3", "Bits", "up").value.octets.bytes, (Bytes{'u', 'p'}));
}

TEST(VarBindFromText, OctetTextBeyondCapacityGivesAnEmptyValue) {
    const mibinfo::MibInfo* mib = nullptr;
    EXPECT_EQ(buildOne(mib, "1.3", "OctetString", std::string(1500, 'a')).value.octets.length(),
              1500u);
    EXPECT_EQ(buildOne(mib, "1.3", "OctetString", std::string(1501, 'a')).value.octets.length(),
              0u);
    EXPECT_EQ(
        buildOne(mib, "1.3", "OctetString", "0x" + std::string(3002, 'f')).value.octets.length(),
        0u);
}

TEST(VarBindFromText, NumbersAddressesAndIdentifiers) {
    const mibinfo::MibInfo* mib = nullptr;
    snmp::VarBind integer = buildOne(mib, "1.3", "Integer", "-5");
    EXPECT_EQ(integer.value.syntax, snmp::kTagInteger);
    EXPECT_EQ(integer.value.integer(), -5);
    EXPECT_EQ(buildOne(mib, "1.3", "Counter", "4294967297").value.number, 1u);  // wraps
    EXPECT_EQ(buildOne(mib, "1.3", "Gauge", " 12abc").value.number, 12u);
    EXPECT_EQ(buildOne(mib, "1.3", "Gauge", "").value.syntax, snmp::kTagGauge);
    EXPECT_EQ(buildOne(mib, "1.3", "TimeTicks", "500").value.syntax, snmp::kTagTimeTicks);
    snmp::VarBind c64 = buildOne(mib, "1.3", "Counter64", "18446744073709551615");
    EXPECT_EQ(c64.value.syntax, snmp::kTagCounter64);
    EXPECT_EQ(c64.value.counter64, UINT64_MAX);
    snmp::VarBind address = buildOne(mib, "1.3", "IpAddress", "10.1.2.3");
    EXPECT_EQ(address.value.syntax, snmp::kTagIpAddress);
    EXPECT_EQ(address.value.octets.bytes, (Bytes{10, 1, 2, 3}));
    EXPECT_EQ(buildOne(mib, "1.3", "NetworkAddress", "192.168.0.1").value.syntax,
              snmp::kTagIpAddress);
    snmp::VarBind id = buildOne(mib, "1.3", "ObjectID", "1.3.6.1.4.1.9");
    EXPECT_EQ(id.value.syntax, snmp::kTagObjectId);
    EXPECT_EQ(id.value.oid, oid("1.3.6.1.4.1.9"));
    EXPECT_EQ(buildOne(mib, "1.3", "NULL", "ignored").value.syntax, snmp::kTagNull);
}

TEST(VarBindFromText, UnknownTypeWordsAreRefused) {
    const mibinfo::MibInfo* mib = nullptr;
    std::string failure;
    buildOne(mib, "1.3", "integer", "1", &failure);
    EXPECT_EQ(failure, "AttributeType Unknown");
    buildOne(mib, "1.3", "Unsigned32", "1", &failure);
    EXPECT_EQ(failure, "AttributeType Unknown");
}

TEST(VarBindFromText, DescriptorsComeFromMibInfo) {
    testing::TempDir dir;
    testing::writeFile(dir.path("mibinfo.out"),
                       "1.3.6.1.2.1.1.1           sysDescr                OctetString  RO S\r\n"
                       "%en          1.3.6.1.2.1.2                            interfaces\r\n"
                       "1.3.6.1.2.1.2.2.1.2       ifDescr                 OctetString  RO C\r\n");
    const mibinfo::MibInfo* mib = nullptr;
    std::string failure;
    buildOne(mib, "sysDescr.0", "OctetString", "x", &failure);
    EXPECT_EQ(failure, "AttributeName Unknown");  // no file: every descriptor unknown

    const auto loaded = mibinfo::MibInfo::load(dir.path("mibinfo.out"));
    ASSERT_NE(loaded, nullptr);
    mib = loaded.get();
    EXPECT_EQ(buildOne(mib, "sysDescr.0", "OctetString", "x").name, oid("1.3.6.1.2.1.1.1.0"));
    EXPECT_EQ(buildOne(mib, "ifDescr.3", "OctetString", "x").name, oid("1.3.6.1.2.1.2.2.1.2.3"));
    EXPECT_EQ(buildOne(mib, "sysDescr", "OctetString", "x").name, oid("1.3.6.1.2.1.1.1"));
    buildOne(mib, "interfaces.1", "NULL", "", &failure);
    EXPECT_EQ(failure, "AttributeName Unknown");
    buildOne(mib, ".1.3", "NULL", "", &failure);
    EXPECT_EQ(failure, "AttributeName Unknown");
}

TEST(VarBindFromText, OverlongNumericNameIsRefused) {
    const mibinfo::MibInfo* mib = nullptr;
    std::string name = "1";
    for (int i = 0; i < 200; ++i) {
        name += ".1";
    }
    std::string failure;
    buildOne(mib, name.c_str(), "NULL", "", &failure);
    EXPECT_EQ(failure, "AttributeName Unknown");
}

class TrapSending : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(client.open(IpVersion::IPv4));
        client.settings().peerAddress = receiver.address();
    }

    snmp::Pdu receive() {
        std::vector<uint8_t> bytes;
        snmp::Pdu pdu;
        EXPECT_TRUE(receiver.receive(bytes, 2000));
        EXPECT_TRUE(decode(bytes, pdu));
        return pdu;
    }

    ManualClock clock;
    EpollEventLoop loop{clock};
    RequestIdSequence ids;
    RequestClient client{loop, ids, {}};
    UdpPeer receiver{AF_INET};
    const uint8_t agentAddr[4] = {192, 0, 2, 1};
};

TEST_F(TrapSending, Snmpv2TrapAlwaysCarriesRequestIdOne) {
    ids.take();  // some requests went out before
    auto list = snmp::SnmpCreateVbl();
    ASSERT_TRUE(makeVarBindFromText(nullptr, "1.3.6.1.2.1.1.3.0", "TimeTicks", "123", list.get()));
    const Result sent = sendTrap(std::move(list), "traps", "1.3.6.1.4.1.1", agentAddr,
                                 receiver.port(), 123, 6, 9, 1, client);
    ASSERT_TRUE(sent) << sent.text();
    snmp::Pdu trap = receive();
    EXPECT_EQ(trap.version, snmp::kVersion2c);
    EXPECT_EQ(trap.type, snmp::kPduSnmpV2Trap);
    EXPECT_EQ(trap.requestId, 1);
    EXPECT_EQ(trap.errorStatus, 0);
    EXPECT_EQ(trap.errorIndex, 0);
    EXPECT_EQ(trap.community, testing::octets("traps"));
    ASSERT_EQ(trap.varBinds.count(), 1u);
    EXPECT_EQ(trap.varBinds.items[0].value.number, 123u);
    EXPECT_EQ(ids.next(), 3u);
}

TEST_F(TrapSending, Snmpv1TrapSendsGenericSevenAsSix) {
    const Result sent = sendTrap(snmp::SnmpCreateVbl(), "public", "1.3.6.1.4.1.99", agentAddr,
                                 receiver.port(), 4500, 7, 12, 0, client);
    ASSERT_TRUE(sent) << sent.text();
    snmp::Pdu trap = receive();
    EXPECT_EQ(trap.version, snmp::kVersion1);
    EXPECT_EQ(trap.type, snmp::kPduTrap);
    EXPECT_EQ(trap.enterprise, oid("1.3.6.1.4.1.99"));
    EXPECT_EQ(Bytes(trap.agentAddr, trap.agentAddr + 4), (Bytes{192, 0, 2, 1}));
    EXPECT_EQ(trap.genericTrap, 6);
    EXPECT_EQ(trap.specificTrap, 12);
    EXPECT_EQ(trap.timeStamp, 4500u);
}

TEST_F(TrapSending, FailuresNameTheirStep) {
    std::string tooLong = "1";
    for (int i = 0; i < 200; ++i) {
        tooLong += ".1";
    }
    EXPECT_EQ(sendTrap(snmp::SnmpCreateVbl(), "public", tooLong.c_str(), agentAddr, receiver.port(),
                       0, 0, 0, 0, client)
                  .text(),
              "SnmpStrToOid() trap enterprise failed.");

    auto big = snmp::SnmpCreateVbl();
    snmp::ObjectId name = oid("1.3.6.1.4.1.1");
    snmp::SyntaxValue value;
    value.syntax = snmp::kTagOctetString;
    value.octets.bytes.assign(1400, 'x');
    snmp::SnmpAddVb(big.get(), &name, &value);
    snmp::SnmpAddVb(big.get(), &name, &value);
    EXPECT_EQ(
        sendTrap(std::move(big), "public", "1.3", agentAddr, receiver.port(), 0, 0, 0, 1, client)
            .text(),
        "SnmpEncodeMsg() failed");

    client.close();
    EXPECT_EQ(sendTrap(snmp::SnmpCreateVbl(), "public", "1.3", agentAddr, receiver.port(), 0, 0, 0,
                       1, client)
                  .text(),
              "sendUDPTrap() failed");
}

}  // namespace
}  // namespace korvimo
