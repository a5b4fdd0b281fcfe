// UdpPeer: a plain UDP socket on a loopback address playing the other side of a test (a
// manager sending requests, a responder, a trap receiver), plus message helpers.
//
//   UdpPeer manager(AF_INET);                       // 127.0.0.1, ephemeral port
//   manager.sendTo(agentAddress, encode(request));
//   std::vector<uint8_t> answer;
//   ASSERT_TRUE(manager.receive(answer, 2000));
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent/endpoints.h"
#include "snmp/message.h"

namespace korvimo::testing {

inline SocketAddress loopback(int family, uint16_t port) {
    SocketAddress address;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        in6->sin6_port = htons(port);
        address.length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address.storage);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        in4->sin_port = htons(port);
        address.length = sizeof(sockaddr_in);
    }
    return address;
}

// The port a socket is bound to, here so that tests which link no agent code can use the
// peer.
inline uint16_t boundPort(int fd) {
    SocketAddress address;
    address.length = sizeof address.storage;
    if (::getsockname(fd, address.sa(), &address.length) != 0) {
        return 0;
    }
    if (address.family() == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port);
}

class UdpPeer {
  public:
    explicit UdpPeer(int family) : family_(family) {
        fd_ = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        SocketAddress local = loopback(family, 0);
        if (fd_ >= 0 && ::bind(fd_, local.sa(), local.length) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~UdpPeer() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    int fd() const { return fd_; }
    uint16_t port() const { return boundPort(fd_); }
    SocketAddress address() const { return loopback(family_, port()); }

    bool sendTo(const SocketAddress& to, const std::vector<uint8_t>& bytes) const {
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, to.sa(), to.length) ==
               static_cast<ssize_t>(bytes.size());
    }

    // Waits up to waitMs for one datagram.
    bool receive(std::vector<uint8_t>& bytes, int waitMs, SocketAddress* from = nullptr) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0) {
            return false;
        }
        bytes.assign(65536, 0);
        SocketAddress source;
        source.length = sizeof source.storage;
        ssize_t n = ::recvfrom(fd_, bytes.data(), bytes.size(), 0, source.sa(), &source.length);
        if (n < 0) {
            return false;
        }
        bytes.resize(static_cast<std::size_t>(n));
        if (from != nullptr) {
            *from = source;
        }
        return true;
    }

  private:
    int family_;
    int fd_ = -1;
};

// A UDP port on loopback that was free a moment ago, for openers that cannot take port 0.
inline uint16_t freeUdpPort(int family) {
    UdpPeer probe(family);
    return probe.port();
}

inline snmp::Octets octets(const std::string& text) {
    return snmp::Octets{std::vector<uint8_t>(text.begin(), text.end())};
}

inline snmp::ObjectId oid(const char* text) {
    snmp::ObjectId id;
    snmp::SnmpStrToOid(text, &id);
    return id;
}

// A message of the given type with one NULL binding, encoded.
inline std::vector<uint8_t> encodeMessage(uint32_t type, int32_t requestId,
                                          uint32_t version = snmp::kVersion2c,
                                          const char* community = "public") {
    auto list = snmp::SnmpCreateVbl();
    snmp::ObjectId name = oid("1.3.6.1.2.1.1.1.0");
    snmp::SnmpAddVb(list.get(), &name, nullptr);
    snmp::Octets text = octets(community);
    auto pdu = snmp::SnmpCreateBPdu(version, &text, type, requestId, 0, 0, std::move(list));
    std::vector<uint8_t> bytes(snmp::kMaxMessageSize);
    uint32_t size = static_cast<uint32_t>(bytes.size());
    if (pdu == nullptr || !snmp::SnmpEncodeMsg(pdu.get(), bytes.data(), &size).ok()) {
        return {};
    }
    bytes.resize(size);
    return bytes;
}

inline bool decode(const std::vector<uint8_t>& bytes, snmp::Pdu& pdu) {
    return snmp::decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu).ok();
}

}  // namespace korvimo::testing
