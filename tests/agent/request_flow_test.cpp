#include <gtest/gtest.h>

#include "agent/agent_test_fixture.h"
#include "agent/message_sending.h"

namespace korvimo {
namespace {

using testing::AgentFlowTest;
using testing::decode;
using testing::encodeMessage;
using testing::loopback;
using testing::UdpPeer;

// Learning's side: requests go from the client endpoint to a responder that a test plays.
class RequestFlow : public AgentFlowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(client.open(IpVersion::IPv4));
        RequestClient::Settings& settings = client.settings();
        settings.peerAddress = responder.address();
        settings.peerPort = responder.port();
        settings.retries = 3;
        settings.timeoutMs = 2000;
        settings.readCommunity = "public";
        settings.writeCommunity = "private";
        settings.versionMode = VersionMode::SNMPv2C;
    }

    // Datagrams that reached the responder in a short real-time wait.
    std::vector<std::vector<uint8_t>> arrived(int waitMs = 200) {
        std::vector<std::vector<uint8_t>> all;
        std::vector<uint8_t> bytes;
        while (responder.receive(bytes, all.empty() ? waitMs : 20)) {
            all.push_back(bytes);
        }
        return all;
    }

    Result send(uint32_t type, const char* name, const char* typeName = "NULL",
                const char* value = "") {
        return sendSingleRequest(client, nullptr, type, name, typeName, value);
    }

    // Advances the manual clock and lets the loop deliver what became due.
    void advance(uint64_t ms) {
        clock.advanceMs(ms);
        loop.runOnce(0);
    }

    UdpPeer responder{AF_INET};
};

TEST_F(RequestFlow, ThreeRetriesAtTwoSecondsSendAtZeroTwoFourAndTimeOutAtSix) {
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.3.6.1.2.1.1"));
    ASSERT_EQ(client.pendingRequests().size(), 1u);
    EXPECT_TRUE(client.pendingRequests().front().timer.running());

    std::vector<std::vector<uint8_t>> first = arrived();
    ASSERT_EQ(first.size(), 1u);  // at 0 s
    advance(1999);
    EXPECT_TRUE(arrived(50).empty());
    advance(1);
    std::vector<std::vector<uint8_t>> second = arrived();  // at 2 s
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0], first[0]);
    advance(2000);
    EXPECT_EQ(arrived().size(), 1u);  // at 4 s
    EXPECT_EQ(client.pendingRequests().front().transmissions, 3);
    EXPECT_EQ(count("timer"), 0u);
    advance(2000);  // at 6 s: timed out, not sent again
    EXPECT_TRUE(arrived(50).empty());
    ASSERT_EQ(count("timer"), 1u);
    EXPECT_EQ(events.back().pendingRequestId, 2);  // the first request-id after start-up
    EXPECT_TRUE(client.pendingRequests().empty());
    EXPECT_EQ(loop.timerCount(), 0u);
    advance(2000);
    EXPECT_EQ(count("timer"), 1u);
    EXPECT_TRUE(status.lines().empty());
}

TEST_F(RequestFlow, OneRetryTimesOutAfterOnePeriod) {
    client.settings().retries = 0;
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.3"));
    EXPECT_EQ(arrived().size(), 1u);
    advance(2000);
    EXPECT_TRUE(arrived(50).empty());
    EXPECT_EQ(count("timer"), 1u);
}

TEST_F(RequestFlow, MatchingResponseStopsRetransmissionAndReachesOnResponse) {
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.3.6.1"));
    std::vector<std::vector<uint8_t>> sent = arrived();
    ASSERT_EQ(sent.size(), 1u);
    snmp::Pdu request;
    ASSERT_TRUE(decode(sent[0], request));
    EXPECT_EQ(request.type, snmp::kPduGetNextRequest);
    EXPECT_EQ(request.version, snmp::kVersion2c);
    EXPECT_EQ(request.community, testing::octets("public"));
    EXPECT_EQ(request.requestId, 2);

    const SocketAddress clientAddress = loopback(AF_INET, boundPort(client.socket()));
    // An answer for another request-id is ignored.
    ASSERT_TRUE(responder.sendTo(clientAddress, encodeMessage(snmp::kPduResponse, 999)));
    // A request arriving on the client endpoint is not a response.
    ASSERT_TRUE(responder.sendTo(clientAddress, encodeMessage(snmp::kPduGetRequest, 2)));
    pumpFor(50);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(client.pendingRequests().front().timer.running());

    ASSERT_TRUE(responder.sendTo(clientAddress, encodeMessage(snmp::kPduResponse, 2)));
    ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events[0].kind, "response");
    EXPECT_EQ(events[0].requestId, 2);
    EXPECT_EQ(events[0].pendingRequestId, 2);
    EXPECT_EQ(portOf(events[0].from), responder.port());
    EXPECT_FALSE(client.pendingRequests().front().timer.running());
    advance(10000);
    EXPECT_TRUE(arrived(50).empty());  // no retransmission after the answer

    // The request stays pending until the list is cleared: a repeated answer is passed on.
    ASSERT_TRUE(responder.sendTo(clientAddress, encodeMessage(snmp::kPduResponse, 2)));
    ASSERT_TRUE(pumpUntil([&] { return events.size() == 2; }));
    client.clearPending();
    ASSERT_TRUE(responder.sendTo(clientAddress, encodeMessage(snmp::kPduResponse, 2)));
    pumpFor(50);
    EXPECT_EQ(events.size(), 2u);
    EXPECT_TRUE(status.lines().empty());
}

TEST_F(RequestFlow, UnreachablePeerLeavesNoStatusLine) {
    {
        UdpPeer gone(AF_INET);
        client.settings().peerPort = gone.port();
    }  // nobody listens there any more
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.3"));
    pumpFor(100);
    advance(2000);
    pumpFor(100);
    EXPECT_TRUE(status.lines().empty());
}

TEST_F(RequestFlow, ARetransmissionThatCannotBeSentDropsItsRequestAfterTheReason) {
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.3"));
    EXPECT_EQ(arrived().size(), 1u);
    // An IPv6 destination for the IPv4 endpoint: the retransmission fails.
    client.settings().peerAddress = loopback(AF_INET6, responder.port());
    advance(2000);
    EXPECT_EQ(status.lines(), std::vector<std::string>{kSendErrorText});
    ASSERT_EQ(count("dropped"), 1u);
    EXPECT_EQ(events.back().pendingRequestId, 2);
    EXPECT_EQ(count("timer"), 0u);
    EXPECT_TRUE(client.pendingRequests().empty());
    EXPECT_EQ(loop.timerCount(), 0u);

    // A datagram that does not decode touches no request.
    client.settings().peerAddress = responder.address();
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.4"));
    const SocketAddress clientAddress = loopback(AF_INET, boundPort(client.socket()));
    ASSERT_TRUE(responder.sendTo(clientAddress, std::vector<uint8_t>{0x30, 0x01}));
    ASSERT_TRUE(pumpUntil([&] { return status.lines().size() == 2; }));
    EXPECT_EQ(count("dropped"), 1u);
    EXPECT_EQ(client.pendingRequests().size(), 1u);
}

TEST_F(RequestFlow, SetRequestCarriesTheWriteCommunityAndItsValue) {
    ASSERT_TRUE(send(snmp::kPduSetRequest, "1.3.6.1.2.1.1.5.0", "OctetString", "0x0102"));
    std::vector<std::vector<uint8_t>> sent = arrived();
    ASSERT_EQ(sent.size(), 1u);
    snmp::Pdu request;
    ASSERT_TRUE(decode(sent[0], request));
    EXPECT_EQ(request.type, snmp::kPduSetRequest);
    EXPECT_EQ(request.community, testing::octets("private"));
    ASSERT_EQ(request.varBinds.count(), 1u);
    EXPECT_EQ(request.varBinds.items[0].value.syntax, snmp::kTagOctetString);
    EXPECT_EQ(request.varBinds.items[0].value.octets.bytes, (std::vector<uint8_t>{1, 2}));
}

TEST_F(RequestFlow, RequestsCarryTheVersionOfTheClientsMode) {
    // Bilingual, where no single version was chosen, asks in SNMPv2c.
    const std::pair<VersionMode, uint32_t> modes[] = {{VersionMode::SNMPv1, snmp::kVersion1},
                                                      {VersionMode::SNMPv2C, snmp::kVersion2c},
                                                      {VersionMode::Bilingual, snmp::kVersion2c}};
    for (const auto& [mode, version] : modes) {
        client.settings().versionMode = mode;
        ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.3"));
        std::vector<std::vector<uint8_t>> sent = arrived();
        ASSERT_EQ(sent.size(), 1u);
        snmp::Pdu request;
        ASSERT_TRUE(decode(sent[0], request));
        EXPECT_EQ(request.version, version);
    }
}

TEST_F(RequestFlow, RequestIdsAdvanceEvenWhenARequestCannotBeMade) {
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.3"));
    EXPECT_EQ(requestIds.next(), 3u);
    // No descriptor file: the name is unknown, nothing is sent and no id is used.
    Result sent = send(snmp::kPduGetNextRequest, "sysDescr.0");
    EXPECT_EQ(sent.text(), "AttributeName Unknown");
    EXPECT_EQ(requestIds.next(), 3u);
    sent = send(snmp::kPduSetRequest, "1.3", "Float", "1.5");
    EXPECT_EQ(sent.text(), "AttributeType Unknown");
    // A request that cannot be sent (an IPv6 peer for an IPv4 endpoint) still uses its id,
    // and leaves nothing pending.
    client.settings().peerAddress = loopback(AF_INET6, responder.port());
    sent = send(snmp::kPduGetNextRequest, "1.3");
    EXPECT_EQ(sent.text(), "send_new_request() failed");
    EXPECT_EQ(requestIds.next(), 4u);
    EXPECT_EQ(client.pendingRequests().size(), 1u);
}

TEST_F(RequestFlow, PendingListIsSearchedFromTheFront) {
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.3"));
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.4"));
    PendingRequest* byId = client.findPending(3);
    ASSERT_NE(byId, nullptr);
    EXPECT_EQ(byId, &client.pendingRequests().back());
    EXPECT_EQ(client.findPending(9), nullptr);
    client.removePending(byId);
    EXPECT_EQ(client.pendingRequests().size(), 1u);
    EXPECT_EQ(client.pendingRequests().front().requestId, 2);
}

TEST_F(RequestFlow, HandlerMayClearTheListWhenARequestTimesOut) {
    onTimeoutHook = [this](const snmp::Pdu& request) {
        client.clearPending();
        // The request handed along is still whole.
        events.push_back({"timer", request.type, request.requestId});
    };
    client.settings().retries = 1;
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.3"));
    ASSERT_TRUE(send(snmp::kPduGetNextRequest, "1.4"));
    advance(2000);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].type, snmp::kPduGetNextRequest);
    EXPECT_TRUE(client.pendingRequests().empty());
}

}  // namespace
}  // namespace korvimo
