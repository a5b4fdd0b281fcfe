#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <algorithm>
#include <memory>

#include "agent/agent_test_fixture.h"
#include "agent/debug_log.h"
#include "agent/message_sending.h"
#include "app/core/temp_dir.h"

namespace korvimo {
namespace {

using testing::AgentFlowTest;
using testing::decode;
using testing::encodeMessage;
using testing::loopback;
using testing::UdpPeer;

class EventRouting : public AgentFlowTest {};

TEST_F(EventRouting, RequestsOnTheAgentEndpointReachItsRequestHandler) {
    const uint16_t port = openAgent(IpVersion::IPv4);
    UdpPeer manager(AF_INET);
    const uint32_t types[] = {snmp::kPduGetRequest, snmp::kPduGetNextRequest, snmp::kPduSetRequest,
                              snmp::kPduGetBulkRequest};
    int32_t id = 100;
    for (uint32_t type : types) {
        ASSERT_TRUE(manager.sendTo(loopback(AF_INET, port), encodeMessage(type, ++id)));
    }
    ASSERT_TRUE(pumpUntil([&] { return events.size() == 4; }));
    id = 100;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(events[i].kind, "request");
        EXPECT_EQ(events[i].type, types[i]);
        EXPECT_EQ(events[i].requestId, ++id);
        EXPECT_EQ(portOf(events[i].from), manager.port());
    }
    EXPECT_TRUE(status.lines().empty());
}

TEST_F(EventRouting, AHandlerRunningANestedTurnLosesNoWaitingRequest) {
    const uint16_t port = openAgent(IpVersion::IPv4);
    UdpPeer manager(AF_INET);
    // The first request's handler turns the loop itself while the others wait, as a modal
    // box would; the nested turn reads them into a batch of its own.
    bool nested = false;
    onRequestHook = [&](const snmp::Pdu& request, const SocketAddress&) {
        if (request.requestId == 1 && !nested) {
            nested = true;
            ASSERT_TRUE(
                manager.sendTo(loopback(AF_INET, port), encodeMessage(snmp::kPduGetRequest, 4)));
            for (int turn = 0; turn < 20 && events.size() < 2; ++turn) {
                loop.runOnce(50);
            }
        }
    };
    for (int32_t id = 1; id <= 3; ++id) {
        ASSERT_TRUE(
            manager.sendTo(loopback(AF_INET, port), encodeMessage(snmp::kPduGetRequest, id)));
    }
    ASSERT_TRUE(pumpUntil([&] { return events.size() >= 4; }));
    pumpFor(50);
    std::vector<int32_t> ids;
    for (const auto& event : events) {
        ids.push_back(event.requestId);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3, 4}));
}

TEST_F(EventRouting, AHandlerMayDestroyTheEndpointInTheMiddleOfABatch) {
    std::unique_ptr<AgentEndpoint> endpoint;
    int served = 0;
    endpoint = std::make_unique<AgentEndpoint>(
        loop, AgentEndpoint::Handlers{[&](const snmp::Pdu&, const SocketAddress&) {
                                          ++served;
                                          endpoint.reset();  // the agent goes
                                      },
                                      nullptr});
    const uint16_t port = testing::freeUdpPort(AF_INET);
    ASSERT_TRUE(endpoint->open(IpVersion::IPv4, nullptr, port));
    UdpPeer manager(AF_INET);
    for (int32_t id = 1; id <= 3; ++id) {
        ASSERT_TRUE(
            manager.sendTo(loopback(AF_INET, port), encodeMessage(snmp::kPduGetRequest, id)));
    }
    ASSERT_TRUE(pumpUntil([&] { return served > 0; }));
    pumpFor(30);
    EXPECT_EQ(served, 1);
    EXPECT_EQ(loop.watchCount(), 0u);
}

TEST_F(EventRouting, OtherPduTypesOnTheAgentEndpointAreDroppedSilently) {
    const uint16_t port = openAgent(IpVersion::IPv4);
    UdpPeer manager(AF_INET);
    ASSERT_TRUE(manager.sendTo(loopback(AF_INET, port), encodeMessage(snmp::kPduResponse, 1)));
    ASSERT_TRUE(manager.sendTo(loopback(AF_INET, port), encodeMessage(snmp::kPduSnmpV2Trap, 2)));
    ASSERT_TRUE(manager.sendTo(loopback(AF_INET, port), encodeMessage(snmp::kPduInformRequest, 3)));
    ASSERT_TRUE(manager.sendTo(loopback(AF_INET, port), encodeMessage(snmp::kPduGetRequest, 4)));
    ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
    pumpFor(50);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, snmp::kPduGetRequest);
    EXPECT_EQ(events[0].requestId, 4);
    EXPECT_TRUE(status.lines().empty());
}

TEST_F(EventRouting, BadDatagramsAreReportedAndTheNextRequestIsServed) {
    const uint16_t port = openAgent(IpVersion::IPv4);
    UdpPeer manager(AF_INET);
    const SocketAddress agentAddress = loopback(AF_INET, port);
    std::vector<uint8_t> valid = encodeMessage(snmp::kPduGetRequest, 9);
    ASSERT_TRUE(manager.sendTo(agentAddress, {0x30, 0x03, 0x02, 0x01}));  // truncated
    ASSERT_TRUE(manager.sendTo(agentAddress, std::vector<uint8_t>(valid.begin(), valid.end() - 3)));
    ASSERT_TRUE(manager.sendTo(agentAddress, std::vector<uint8_t>(4000, 0x30)));  // oversized
    ASSERT_TRUE(manager.sendTo(agentAddress, {}));                                // empty
    ASSERT_TRUE(manager.sendTo(agentAddress, {0xff, 0x00, 0x12}));                // junk
    ASSERT_TRUE(manager.sendTo(agentAddress, valid));
    ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].requestId, 9);
    // Each refused datagram left one line of its reason.
    EXPECT_EQ(status.size(), 5u);
    for (const std::string& line : status.lines()) {
        EXPECT_FALSE(line.empty());
    }
}

TEST_F(EventRouting, MaximumSizeRequestIsReadWholeAndALargerOneIsRefused) {
    const uint16_t port = openAgent(IpVersion::IPv6);
    UdpPeer manager(AF_INET6);
    auto list = snmp::SnmpCreateVbl();
    snmp::ObjectId name = testing::oid("1.3.6.1.4.1.1.1");
    snmp::SyntaxValue value;
    value.syntax = snmp::kTagOctetString;
    value.octets.bytes.assign(1000, 'x');
    for (int i = 0; i < 64; ++i) {
        snmp::SnmpAddVb(list.get(), &name, &value);
    }
    value.octets.bytes.resize(370);
    snmp::SnmpAddVb(list.get(), &name, &value);
    snmp::Octets community = testing::octets("public");
    auto pdu = snmp::SnmpCreateBPdu(1, &community, snmp::kPduSetRequest, 77, 0, 0, std::move(list));
    std::vector<uint8_t> bytes(snmp::kMaxDatagramSize);
    uint32_t size = static_cast<uint32_t>(bytes.size());
    ASSERT_TRUE(snmp::SnmpEncodeMsg(pdu.get(), bytes.data(), &size));
    ASSERT_EQ(size, snmp::kMaxDatagramSize);
    ASSERT_TRUE(manager.sendTo(loopback(AF_INET6, port), bytes));
    ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events[0].requestId, 77);
    ASSERT_EQ(events[0].pdu.varBinds.count(), 65u);
    EXPECT_EQ(events[0].pdu.varBinds.items[64].value.octets.length(), 370u);

    // A request followed by more bytes than the room holds (IPv6 carries a few more) would
    // decode if read in part; it is refused instead.
    std::vector<uint8_t> padded = encodeMessage(snmp::kPduGetRequest, 78);
    padded.resize(snmp::kMaxDatagramSize + 20, 0);
    ASSERT_TRUE(manager.sendTo(loopback(AF_INET6, port), padded));
    ASSERT_TRUE(manager.sendTo(loopback(AF_INET6, port), encodeMessage(snmp::kPduGetRequest, 79)));
    ASSERT_TRUE(pumpUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events[1].requestId, 79);
    EXPECT_EQ(status.lines(), std::vector<std::string>{"Error in receiving UDP Packet (90)"});
}

class AnsweringAgent : public EventRouting, public ::testing::WithParamInterface<IpVersion> {};

TEST_P(AnsweringAgent, RequestIsAnsweredToItsSource) {
    const IpVersion ipVersion = GetParam();
    const int family = ipVersion == IpVersion::IPv6 ? AF_INET6 : AF_INET;
    const uint16_t port = openAgent(ipVersion);
    onRequestHook = [this](const snmp::Pdu& request, const SocketAddress& from) {
        auto list = snmp::SnmpCreateVbl();
        ASSERT_TRUE(
            makeVarBindFromText(nullptr, "1.3.6.1.2.1.1.5.0", "OctetString", "lab", list.get()));
        EXPECT_TRUE(sendResponse(request, agent, 0, 0, *list, from, nullptr));
    };
    UdpPeer manager(family);
    ASSERT_TRUE(manager.sendTo(loopback(family, port),
                               encodeMessage(snmp::kPduGetRequest, 4242, 0, "secret")));
    ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events[0].from.family(), family);
    std::vector<uint8_t> answer;
    SocketAddress from;
    ASSERT_TRUE(manager.receive(answer, 2000, &from));
    EXPECT_EQ(portOf(from), port);
    snmp::Pdu response;
    ASSERT_TRUE(decode(answer, response));
    EXPECT_EQ(response.type, snmp::kPduResponse);
    EXPECT_EQ(response.requestId, 4242);
    EXPECT_EQ(response.version, 0u);
    EXPECT_EQ(response.community, testing::octets("secret"));
    ASSERT_EQ(response.varBinds.count(), 1u);
    EXPECT_EQ(response.varBinds.items[0].value.octets, testing::octets("lab"));
}

INSTANTIATE_TEST_SUITE_P(IPv4AndIPv6, AnsweringAgent,
                         ::testing::Values(IpVersion::IPv4, IpVersion::IPv6));

TEST_F(EventRouting, SendResponseWritesTheResponseToTheLogItIsGiven) {
    const uint16_t port = openAgent(IpVersion::IPv4);
    testing::TempDir dir;
    DebugLog log;
    ASSERT_TRUE(log.create(dir.path("debug.out")));
    onRequestHook = [&](const snmp::Pdu& request, const SocketAddress& from) {
        snmp::VarBindList none;
        (void)sendResponse(request, agent, 0, 0, none, from, &log);
    };
    UdpPeer manager(AF_INET);
    ASSERT_TRUE(manager.sendTo(loopback(AF_INET, port), encodeMessage(snmp::kPduGetRequest, 2)));
    ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
    // The Response, once, and nothing of the request (the request handler writes that, and
    // decides by debug mode whether to give a log at all).
    EXPECT_EQ(testing::readFile(dir.path("debug.out")),
              "Response : Request Id = 2, Error Status = No Error , Error Index = 0\r\n");
}

TEST_F(EventRouting, TrapsOnTheTrapEndpointReachOnTrap) {
    const uint16_t trapPort = openTrapReceiver();
    ASSERT_TRUE(client.open(IpVersion::IPv4));
    client.settings().peerAddress = loopback(AF_INET, 0);
    const uint8_t agentAddr[4] = {10, 1, 2, 3};
    Result sent = sendTrap(snmp::SnmpCreateVbl(), "public", "1.3.6.1.4.1.99", agentAddr, trapPort,
                           500, 3, 0, 0, client);
    ASSERT_TRUE(sent) << sent.text();
    sent = sendTrap(snmp::SnmpCreateVbl(), "public", "", agentAddr, trapPort, 500, 0, 0, 1, client);
    ASSERT_TRUE(sent) << sent.text();
    UdpPeer stranger(AF_INET);  // a request on the trap endpoint is dropped
    ASSERT_TRUE(
        stranger.sendTo(loopback(AF_INET, trapPort), encodeMessage(snmp::kPduGetRequest, 5)));
    ASSERT_TRUE(pumpUntil([&] { return events.size() == 2; }));
    pumpFor(50);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, "trap");
    EXPECT_EQ(events[0].type, snmp::kPduTrap);
    EXPECT_EQ(events[0].pdu.genericTrap, 3);
    EXPECT_EQ(events[0].pdu.enterprise, testing::oid("1.3.6.1.4.1.99"));
    EXPECT_EQ(events[1].type, snmp::kPduSnmpV2Trap);
}

TEST_F(EventRouting, ClosedEndpointIsNoLongerDelivered) {
    const uint16_t port = openAgent(IpVersion::IPv4);
    agent.close();
    EXPECT_FALSE(agent.isOpen());
    EXPECT_EQ(loop.watchCount(), 0u);
    UdpPeer manager(AF_INET);
    manager.sendTo(loopback(AF_INET, port), encodeMessage(snmp::kPduGetRequest, 1));
    pumpFor(30);
    EXPECT_TRUE(events.empty());
    agent.close();  // closing twice does nothing
}

}  // namespace
}  // namespace korvimo
