#include "agent/endpoints.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include "agent/request_client.h"
#include "agent/udp_peer.h"
#include "app/core/epoll_event_loop.h"

namespace korvimo {
namespace {

using testing::boundPort;
using testing::UdpPeer;

// An event loop that refuses to watch anything.
class RefusingLoop final : public EventLoop {
  public:
    const Clock& clock() const override { return clock_; }

  protected:
    uint64_t addWatch(int, Callback) override { return 0; }
    void removeWatch(uint64_t) override {}
    uint64_t addTimer(uint32_t, Callback) override { return 0; }
    void removeTimer(uint64_t) override {}

  private:
    ManualClock clock_;
};

class Endpoints : public ::testing::Test {
  protected:
    ManualClock clock;
    EpollEventLoop loop{clock};
    RequestIdSequence ids;
    UniqueFd socket;
};

TEST_F(Endpoints, ClientEndpointTakesAnEphemeralPortAndIsWatched) {
    RequestClient client(loop, ids, {});
    ASSERT_TRUE(client.open(IpVersion::IPv4));
    EXPECT_NE(boundPort(client.socket()), 0);
    EXPECT_EQ(loop.watchCount(), 1u);
    client.close();
    EXPECT_FALSE(client.isOpen());
    EXPECT_EQ(loop.watchCount(), 0u);
}

TEST_F(Endpoints, ClientEndpointOfIPv6) {
    const Result opened = openClientSocket(IpVersion::IPv6, socket);
    ASSERT_TRUE(opened) << opened.text();
    SocketAddress local;
    local.length = sizeof local.storage;
    ASSERT_EQ(::getsockname(socket.get(), local.sa(), &local.length), 0);
    EXPECT_EQ(local.family(), AF_INET6);
}

TEST_F(Endpoints, AgentPortZeroMeansPort161) {
    const Result opened = openAgentSocket(IpVersion::IPv4, socket, nullptr, 0);
    if (opened) {
        EXPECT_EQ(boundPort(socket.get()), 161);
    } else {
        // Port 161 is privileged or taken here; the attempt shows it was not port 0.
        EXPECT_EQ(std::string(opened.text())
                      .rfind("bind() call failed. Cannot open socket. Check TCP/IP stack (", 0),
                  0u)
            << opened.text();
        EXPECT_FALSE(socket.valid());
    }
}

TEST_F(Endpoints, AgentBindFailureGivesItsCodeAndLeavesTheSocketUnchanged) {
    const uint16_t port = testing::freeUdpPort(AF_INET);
    ASSERT_TRUE(openAgentSocket(IpVersion::IPv4, socket, nullptr, port));
    UniqueFd other(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int held = other.get();
    const Result refused = openAgentSocket(IpVersion::IPv4, other, nullptr, port);
    EXPECT_EQ(refused.text(), "bind() call failed. Cannot open socket. Check TCP/IP stack (98)");
    EXPECT_EQ(other.get(), held);
}

TEST_F(Endpoints, AgentOnALocalAddressSetsBroadcastAndReuseFirst) {
    const uint8_t loopbackAddress[4] = {127, 0, 0, 1};
    const uint16_t port = testing::freeUdpPort(AF_INET);
    ASSERT_TRUE(openAgentSocket(IpVersion::IPv4, socket, loopbackAddress, port));
    int on = 0;
    socklen_t size = sizeof on;
    ASSERT_EQ(::getsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, &size), 0);
    EXPECT_EQ(on, 1);
    ASSERT_EQ(::getsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, &size), 0);
    EXPECT_EQ(on, 1);
    SocketAddress local;
    local.length = sizeof local.storage;
    ASSERT_EQ(::getsockname(socket.get(), local.sa(), &local.length), 0);
    EXPECT_EQ(reinterpret_cast<sockaddr_in*>(&local.storage)->sin_addr.s_addr,
              htonl(INADDR_LOOPBACK));
    EXPECT_EQ(boundPort(socket.get()), port);
}

TEST_F(Endpoints, AgentOnTheIPv6LoopbackAddress) {
    const uint8_t loopbackAddress[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const uint16_t port = testing::freeUdpPort(AF_INET6);
    ASSERT_TRUE(openAgentSocket(IpVersion::IPv6, socket, loopbackAddress, port));
    EXPECT_EQ(boundPort(socket.get()), port);
}

TEST_F(Endpoints, IpxIsRefusedCleanly) {
    const uint8_t address[10] = {0, 0, 0, 1, 1, 2, 3, 4, 5, 6};
    const Result opened = openIpxAgentSocket(socket, address, 10, 0);
    if (opened) {
        GTEST_SKIP() << "this kernel still carries IPX";
    }
    EXPECT_EQ(opened.text(), "socket() call failed. Cannot open socket. Check TCP/IP stack");
    EXPECT_FALSE(socket.valid());
}

TEST_F(Endpoints, RegistrationRefusedClosesTheSocket) {
    RefusingLoop refusing;
    RequestClient client(refusing, ids, {});
    EXPECT_EQ(client.open(IpVersion::IPv4).text(),
              "WSAAsyncSelect() call failed. Cannot open socket. Check TCP/IP stack");
    EXPECT_FALSE(client.isOpen());
}

TEST_F(Endpoints, SendDatagramPutsTheGivenPortInPlaceOfTheAddresses) {
    UdpPeer receiver(AF_INET6);
    ASSERT_TRUE(openClientSocket(IpVersion::IPv6, socket));
    SocketAddress destination = testing::loopback(AF_INET6, 9);  // port 9 is replaced
    const uint8_t bytes[3] = {1, 2, 3};
    ASSERT_TRUE(sendDatagram(socket.get(), bytes, 3, destination, receiver.port()));
    std::vector<uint8_t> got;
    ASSERT_TRUE(receiver.receive(got, 2000));
    EXPECT_EQ(got, (std::vector<uint8_t>{1, 2, 3}));
    SocketAddress zero;  // no family at all: refused, not sent anywhere
    EXPECT_FALSE(sendDatagram(socket.get(), bytes, 3, zero, receiver.port()));
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
