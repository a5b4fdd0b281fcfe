#include "agent/endpoints.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "agent/udp_peer.h"
#include "app/core/poll_event_loop.h"

namespace korvimo {
namespace {

using testing::boundPort;
using testing::UdpPeer;

struct NullSink : EventSink {
    void endpointReadable(EndpointEvent, int) override {}
    void timerTick(uint32_t) override {}
};

class Endpoints : public ::testing::Test {
  protected:
    void TearDown() override { closeSocket(&loop, socket); }

    ManualClock clock;
    PollEventLoop loop{clock};
    NullSink sink;
    int socket = kClosed;
    std::string failure = "stale";
};

TEST_F(Endpoints, ClientEndpointTakesAnEphemeralPortAndIsWatched) {
    ASSERT_TRUE(openClientSocket(&loop, &sink, socket, failure, 0));
    EXPECT_EQ(failure, "");
    EXPECT_NE(boundPort(socket), 0);
    EXPECT_TRUE(loop.isWatched(socket));
    const int fd = socket;
    closeSocket(&loop, socket);
    EXPECT_EQ(socket, kClosed);
    EXPECT_FALSE(loop.isWatched(fd));
}

TEST_F(Endpoints, ClientEndpointOfIPv6) {
    ASSERT_TRUE(openClientSocket(&loop, &sink, socket, failure, 1)) << failure;
    SocketAddress local;
    local.length = sizeof local.storage;
    ASSERT_EQ(::getsockname(socket, local.sa(), &local.length), 0);
    EXPECT_EQ(local.family(), AF_INET6);
}

TEST_F(Endpoints, AgentPortZeroMeansPort161) {
    if (openAgentSocket(0, &loop, &sink, socket, failure, nullptr, 0)) {
        EXPECT_EQ(boundPort(socket), 161);
    } else {
        // Port 161 is privileged or taken here; the attempt shows it was not port 0.
        EXPECT_EQ(failure.rfind("bind() call failed. Cannot open socket. Check TCP/IP stack (", 0),
                  0u)
            << failure;
        EXPECT_EQ(socket, kClosed);
    }
}

TEST_F(Endpoints, AgentBindFailureGivesItsCodeAndLeavesTheSocketUnchanged) {
    const uint16_t port = testing::freeUdpPort(AF_INET);
    ASSERT_TRUE(openAgentSocket(0, &loop, &sink, socket, failure, nullptr, port)) << failure;
    int other = 12345;
    EXPECT_FALSE(openAgentSocket(0, &loop, &sink, other, failure, nullptr, port));
    EXPECT_EQ(failure, "bind() call failed. Cannot open socket. Check TCP/IP stack (98)");
    EXPECT_EQ(other, 12345);
}

TEST_F(Endpoints, AgentOnALocalAddressSetsBroadcastAndReuseFirst) {
    const uint8_t loopbackAddress[4] = {127, 0, 0, 1};
    const uint16_t port = testing::freeUdpPort(AF_INET);
    ASSERT_TRUE(openAgentSocket(0, &loop, &sink, socket, failure, loopbackAddress, port))
        << failure;
    int on = 0;
    socklen_t size = sizeof on;
    ASSERT_EQ(::getsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, &size), 0);
    EXPECT_EQ(on, 1);
    ASSERT_EQ(::getsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, &size), 0);
    EXPECT_EQ(on, 1);
    SocketAddress local;
    local.length = sizeof local.storage;
    ASSERT_EQ(::getsockname(socket, local.sa(), &local.length), 0);
    EXPECT_EQ(reinterpret_cast<sockaddr_in*>(&local.storage)->sin_addr.s_addr,
              htonl(INADDR_LOOPBACK));
    EXPECT_EQ(boundPort(socket), port);
    EXPECT_TRUE(loop.isWatched(socket));
}

TEST_F(Endpoints, AgentOnTheIPv6LoopbackAddress) {
    const uint8_t loopbackAddress[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const uint16_t port = testing::freeUdpPort(AF_INET6);
    ASSERT_TRUE(openAgentSocket(1, &loop, &sink, socket, failure, loopbackAddress, port))
        << failure;
    EXPECT_EQ(boundPort(socket), port);
}

TEST_F(Endpoints, IpxIsRefusedCleanly) {
    const uint8_t address[10] = {0, 0, 0, 1, 1, 2, 3, 4, 5, 6};
    if (openIpxAgentSocket(&loop, &sink, socket, failure, address, 10, 0)) {
        GTEST_SKIP() << "this kernel still carries IPX";
    }
    EXPECT_EQ(failure, "socket() call failed. Cannot open socket. Check TCP/IP stack");
    EXPECT_EQ(socket, kClosed);
}

TEST_F(Endpoints, RegistrationRefusedClosesTheSocket) {
    // A loop refuses an endpoint without a window to deliver to.
    EXPECT_FALSE(openClientSocket(&loop, nullptr, socket, failure, 0));
    EXPECT_EQ(failure, "WSAAsyncSelect() call failed. Cannot open socket. Check TCP/IP stack");
    EXPECT_EQ(socket, kClosed);
}

TEST_F(Endpoints, SendDatagramPutsTheGivenPortInPlaceOfTheAddresses) {
    UdpPeer receiver(AF_INET6);
    ASSERT_TRUE(openClientSocket(&loop, &sink, socket, failure, 1));
    SocketAddress destination = testing::loopback(AF_INET6, 9);  // port 9 is replaced
    const uint8_t bytes[3] = {1, 2, 3};
    ASSERT_TRUE(sendDatagram(socket, bytes, 3, destination, receiver.port()));
    std::vector<uint8_t> got;
    ASSERT_TRUE(receiver.receive(got, 2000));
    EXPECT_EQ(got, (std::vector<uint8_t>{1, 2, 3}));
    SocketAddress zero;  // no family at all: refused, not sent anywhere
    EXPECT_FALSE(sendDatagram(socket, bytes, 3, zero, receiver.port()));
}

TEST(AddressResolution, NumericAddressesOfBothFamilies) {
    SocketAddress address;
    ASSERT_TRUE(resolveAddress("127.0.0.1", address));
    EXPECT_EQ(address.family(), AF_INET);
    EXPECT_EQ(address.length, sizeof(sockaddr_in));
    ASSERT_TRUE(resolveAddress("::1", address));
    EXPECT_EQ(address.family(), AF_INET6);
    EXPECT_EQ(address.length, sizeof(sockaddr_in6));
    EXPECT_FALSE(resolveAddress("300.1.2.3.4.5", address));
    EXPECT_FALSE(resolveAddress("", address));
    EXPECT_FALSE(resolveAddress(nullptr, address));
}

TEST(AddressResolution, LocalIPv6AddressIsIPv6WhenFound) {
    SocketAddress address;
    if (localIPv6Address(address)) {
        EXPECT_EQ(address.family(), AF_INET6);
    }
}

}  // namespace
}  // namespace korvimo
