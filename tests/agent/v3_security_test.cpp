// An agent's SNMPv3 engine on messages built here: discovery is answered with the engine's
// identity, and a message of the Unconfirmed Class is counted but never answered by a Report.
#include <gtest/gtest.h>

#include "agent/v3_security.h"
#include "app/core/clock.h"

namespace korvimo {
namespace {

const std::vector<uint8_t> kEngineId = {0x80, 0, 0, 0, 5, 1, 2, 3, 4, 5, 6, 7, 8};

std::vector<uint8_t> message(uint32_t type, const std::vector<uint8_t>& engineId,
                             const std::string& user) {
    snmp::Pdu pdu;
    pdu.version = snmp::kVersion3;
    pdu.type = type;
    pdu.requestId = 77;
    snmp::OutgoingSecurity security;
    security.msgId = 5;
    security.maxSize = 1500;
    security.reportable = true;
    security.engineId = engineId;
    security.userName = {reinterpret_cast<const uint8_t*>(user.data()), user.size()};
    std::vector<uint8_t> out(1500);
    uint32_t size = static_cast<uint32_t>(out.size());
    EXPECT_TRUE(snmp::encodeSecureMessage(security, {}, {}, pdu, out.data(), &size).ok());
    out.resize(size);
    return out;
}

TEST(V3Security, DiscoveryIsReportedAndUnconfirmedMessagesAreOnlyCounted) {
    ManualClock clock;
    snmp::UsmUser plain;
    plain.name = "plain";
    auto users = std::make_shared<PreparedUsers>();
    ASSERT_TRUE(prepareUsers({plain}, *users).ok());
    V3Security engine({kEngineId, 4}, users, "demo", clock, 65507);
    ASSERT_TRUE(engine.start().ok());
    clock.advanceMs(12000);

    std::vector<std::vector<uint8_t>> sent;
    auto send = [&](const uint8_t* bytes, std::size_t length) {
        sent.emplace_back(bytes, bytes + length);
        return true;
    };
    V3Security::Request request;
    const std::vector<uint8_t> probe = message(snmp::kPduGetRequest, {}, "");
    EXPECT_EQ(engine.receive(probe.data(), probe.size(), request, send),
              V3Security::Outcome::Reported);
    ASSERT_EQ(sent.size(), 1u);
    snmp::V3Message report;
    ASSERT_TRUE(
        snmp::decodeV3Message(sent[0].data(), static_cast<uint32_t>(sent[0].size()), report).ok());
    EXPECT_EQ(report.header.msgId, 5);
    EXPECT_EQ(report.header.flags, 0);  // noAuthNoPriv, not reportable
    EXPECT_EQ(report.usm.engineId.bytes, kEngineId);
    EXPECT_EQ(report.usm.boots, 4);
    EXPECT_EQ(report.usm.time, 12);
    snmp::Octets contextEngineId, contextName;
    snmp::Pdu pdu;
    ASSERT_TRUE(snmp::decodeScopedPdu(sent[0].data() + report.scopedOffset, report.scopedLength,
                                      contextEngineId, contextName, &pdu)
                    .ok());
    EXPECT_EQ(pdu.type, snmp::kPduReport);
    EXPECT_EQ(pdu.requestId, 77);
    ASSERT_EQ(pdu.varBinds.count(), 1u);
    EXPECT_EQ(pdu.varBinds.items[0].name.ids,
              (std::vector<uint32_t>{1, 3, 6, 1, 6, 3, 15, 1, 1, 4, 0}));
    EXPECT_EQ(pdu.varBinds.items[0].value.number, 1u);

    // A Response, a Report or a trap is never answered by a Report, whatever its flags say.
    for (const uint32_t type : {snmp::kPduResponse, snmp::kPduReport, snmp::kPduSnmpV2Trap}) {
        const std::vector<uint8_t> unconfirmed = message(type, kEngineId, "nobody");
        EXPECT_EQ(engine.receive(unconfirmed.data(), unconfirmed.size(), request, send),
                  V3Security::Outcome::Dropped);
    }
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(engine.counters().usmStats[static_cast<int>(snmp::UsmReport::UnknownUserNames)], 3u);

    const std::vector<uint8_t> get = message(snmp::kPduGetRequest, kEngineId, "plain");
    EXPECT_EQ(engine.receive(get.data(), get.size(), request, send), V3Security::Outcome::Serve);
    EXPECT_EQ(request.pdu.requestId, 77);
}

}  // namespace
}  // namespace korvimo
