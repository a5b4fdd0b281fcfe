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
        AgentFlowTest::SetUp();
        std::string failure;
        ASSERT_TRUE(openClientSocket(ctx.loop, ctx.ownerWindow, ctx.clientSocket, failure, 0))
            << failure;
        ctx.peerAddress = responder.address();
        ctx.peerPort = responder.port();
        ctx.activeSlot = OperationSlot::Learn;
        ctx.retries = 3;
        ctx.timeoutMs = 2000;
        ctx.readCommunity = "public";
        ctx.writeCommunity = "private";
        ctx.versionMode = kVersionModeV2c;
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

    // Advances the manual clock and lets the loop deliver what became due.
    void advance(uint64_t ms) {
        clock.advanceMs(ms);
        loop.runOnce(0);
    }

    UdpPeer responder{AF_INET};
};

TEST_F(RequestFlow, ThreeRetriesAtTwoSecondsSendAtZeroTwoFourAndTimeOutAtSix) {
    std::string text;
    ASSERT_TRUE(
        sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.3.6.1.2.1.1", "NULL", "", text));
    EXPECT_EQ(text, "Request sent.");
    ASSERT_EQ(ctx.pendingRequests.size(), 1u);
    const uint32_t timerId = ctx.pendingRequests.front().timerId;
    EXPECT_EQ(timerId, 1u);
    EXPECT_EQ(ctx.nextTimerId, 2u);

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
    EXPECT_EQ(ctx.pendingRequests.front().transmissions, 3);
    EXPECT_EQ(count("timer"), 0u);
    advance(2000);  // at 6 s: timed out, not sent again
    EXPECT_TRUE(arrived(50).empty());
    ASSERT_EQ(count("timer"), 1u);
    EXPECT_EQ(events.back().slot, OperationSlot::Learn);
    EXPECT_EQ(events.back().timerId, timerId);
    EXPECT_EQ(events.back().pendingRequestId, 2);  // the first request-id after start-up
    EXPECT_TRUE(ctx.pendingRequests.empty());
    EXPECT_FALSE(loop.timerRunning(timerId));
    advance(2000);
    EXPECT_EQ(count("timer"), 1u);
    EXPECT_TRUE(status.lines().empty());
}

TEST_F(RequestFlow, OneRetryTimesOutAfterOnePeriod) {
    ctx.retries = 0;
    std::string text;
    ASSERT_TRUE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.3", "NULL", "", text));
    EXPECT_EQ(arrived().size(), 1u);
    advance(2000);
    EXPECT_TRUE(arrived(50).empty());
    EXPECT_EQ(count("timer"), 1u);
}

TEST_F(RequestFlow, MatchingResponseStopsRetransmissionAndReachesOnResponse) {
    std::string text;
    ASSERT_TRUE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.3.6.1", "NULL", "", text));
    std::vector<std::vector<uint8_t>> sent = arrived();
    ASSERT_EQ(sent.size(), 1u);
    snmp::Pdu request;
    ASSERT_TRUE(decode(sent[0], request));
    EXPECT_EQ(request.type, snmp::kPduGetNextRequest);
    EXPECT_EQ(request.version, snmp::kVersion2c);
    EXPECT_EQ(request.community, testing::octets("public"));
    EXPECT_EQ(request.requestId, 2);

    const SocketAddress client = loopback(AF_INET, testing::boundPort(ctx.clientSocket));
    // An answer for another request-id is ignored.
    ASSERT_TRUE(responder.sendTo(client, encodeMessage(snmp::kPduResponse, 999)));
    // A request arriving on the client endpoint is not a response.
    ASSERT_TRUE(responder.sendTo(client, encodeMessage(snmp::kPduGetRequest, 2)));
    pumpFor(50);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(loop.timerRunning(1));

    ASSERT_TRUE(responder.sendTo(client, encodeMessage(snmp::kPduResponse, 2)));
    ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events[0].kind, "response");
    EXPECT_EQ(events[0].slot, OperationSlot::Learn);
    EXPECT_EQ(events[0].requestId, 2);
    EXPECT_EQ(events[0].pendingRequestId, 2);
    EXPECT_EQ(portOf(events[0].from), responder.port());
    EXPECT_FALSE(loop.timerRunning(1));
    advance(10000);
    EXPECT_TRUE(arrived(50).empty());  // no retransmission after the answer

    // The request stays pending until the list is cleared: a repeated answer is passed on.
    ASSERT_TRUE(responder.sendTo(client, encodeMessage(snmp::kPduResponse, 2)));
    ASSERT_TRUE(pumpUntil([&] { return events.size() == 2; }));
    clearPending(ctx.pendingRequests);
    ASSERT_TRUE(responder.sendTo(client, encodeMessage(snmp::kPduResponse, 2)));
    pumpFor(50);
    EXPECT_EQ(events.size(), 2u);
    EXPECT_TRUE(status.lines().empty());
}

TEST_F(RequestFlow, UnreachablePeerLeavesNoStatusLine) {
    {
        UdpPeer gone(AF_INET);
        ctx.peerPort = gone.port();
    }  // nobody listens there any more
    std::string text;
    ASSERT_TRUE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.3", "NULL", "", text));
    pumpFor(100);
    advance(2000);
    pumpFor(100);
    EXPECT_TRUE(status.lines().empty());
}

TEST_F(RequestFlow, TimerDrivenTicksGoStraightToOnTimer) {
    ctx.timerDriven = true;
    ctx.activeSlot = OperationSlot::CreateVariables;
    ASSERT_TRUE(loop.startTimer(ctx.ownerWindow, 77, 5));
    advance(5);
    advance(5);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, "timer");
    EXPECT_EQ(events[0].slot, OperationSlot::CreateVariables);
    EXPECT_EQ(events[0].timerId, 77u);
    EXPECT_EQ(events[0].pendingRequestId, -1);
}

TEST_F(RequestFlow, TimerWithoutPendingRequestIsStopped) {
    ASSERT_TRUE(loop.startTimer(ctx.ownerWindow, 55, 100));
    advance(100);
    EXPECT_FALSE(loop.timerRunning(55));
    EXPECT_TRUE(events.empty());
}

TEST_F(RequestFlow, SetRequestCarriesTheWriteCommunityAndItsValue) {
    std::string text;
    ASSERT_TRUE(sendSingleRequest(ctx, snmp::kPduSetRequest, "1.3.6.1.2.1.1.5.0", "OctetString",
                                  "0x0102", text));
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

TEST_F(RequestFlow, RequestIdsAdvanceEvenWhenARequestCannotBeMade) {
    std::string text;
    ASSERT_TRUE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.3", "NULL", "", text));
    EXPECT_EQ(ctx.nextRequestId, 3u);
    // No descriptor file: the name is unknown, nothing is sent and no id is used.
    EXPECT_FALSE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "sysDescr.0", "NULL", "", text));
    EXPECT_EQ(text, "AttributeName Unknown");
    EXPECT_EQ(ctx.nextRequestId, 3u);
    EXPECT_FALSE(sendSingleRequest(ctx, snmp::kPduSetRequest, "1.3", "Float", "1.5", text));
    EXPECT_EQ(text, "AttributeType Unknown");
    // A request that cannot be sent still uses its id, and leaves nothing pending.
    closeSocket(ctx.loop, ctx.clientSocket);
    EXPECT_FALSE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.3", "NULL", "", text));
    EXPECT_EQ(text, "send_new_request() failed");
    EXPECT_EQ(ctx.nextRequestId, 4u);
    EXPECT_EQ(ctx.pendingRequests.size(), 1u);
}

TEST_F(RequestFlow, PendingListIsSearchedFromTheFront) {
    std::string text;
    ASSERT_TRUE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.3", "NULL", "", text));
    ASSERT_TRUE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.4", "NULL", "", text));
    PendingRequest* byId = findPending(ctx.pendingRequests, 3, PendingKey::RequestId);
    ASSERT_NE(byId, nullptr);
    EXPECT_EQ(byId->timerId, 2u);
    EXPECT_EQ(findPending(ctx.pendingRequests, 2, PendingKey::TimerId), byId);
    EXPECT_EQ(findPending(ctx.pendingRequests, 9, PendingKey::RequestId), nullptr);
    removePending(ctx.pendingRequests, byId);
    EXPECT_EQ(ctx.pendingRequests.size(), 1u);
    EXPECT_EQ(ctx.pendingRequests.front().requestId, 2);
}

TEST_F(RequestFlow, HandlerMayClearTheListWhenARequestTimesOut) {
    handlers[OperationSlot::Learn].onTimer = [this](uint32_t, AgentContext& c,
                                                    const snmp::Pdu* request) {
        clearPending(c.pendingRequests);
        // The request handed along is still whole.
        events.push_back({OperationSlot::Learn, "timer", request->type, request->requestId});
        return true;
    };
    ctx.retries = 1;
    std::string text;
    ASSERT_TRUE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.3", "NULL", "", text));
    ASSERT_TRUE(sendSingleRequest(ctx, snmp::kPduGetNextRequest, "1.4", "NULL", "", text));
    advance(2000);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].type, snmp::kPduGetNextRequest);
    EXPECT_TRUE(ctx.pendingRequests.empty());
}

}  // namespace
}  // namespace korvimo
