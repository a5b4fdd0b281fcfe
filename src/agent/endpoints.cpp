#include "agent/endpoints.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netipx/ipx.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace korvimo {

namespace {

std::string formatCode(const char* pattern, int code) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, code);
    return text;
}

int makeSocket(int family, int type, int protocol) {
    return ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}

// The last steps of every opener: binds the new socket to local and registers it for its
// event, then hands it out in socket. On failure the socket is closed and failure tells the
// step: bindFailure (with the error code when withCode) or the registration's text.
bool bindAndRegister(int fd, const SocketAddress& local, const char* bindFailure, bool withCode,
                     EventLoop* loop, EventSink* window, EndpointEvent event, int& socket,
                     std::string& failure) {
    if (::bind(fd, local.sa(), local.length) != 0) {
        failure = withCode ? formatCode(bindFailure, errno) : bindFailure;
        ::close(fd);
        return false;
    }
    if (loop != nullptr && !loop->watchEndpoint(fd, event, window)) {
        failure = kSelectFailedText;
        ::close(fd);
        return false;
    }
    socket = fd;
    return true;
}

// Wildcard address of the family, port in host order.
SocketAddress anyAddress(int family, uint16_t port) {
    SocketAddress address;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_any;
        in6->sin6_port = htons(port);
        address.length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address.storage);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_ANY);
        in4->sin_port = htons(port);
        address.length = sizeof(sockaddr_in);
    }
    return address;
}

socklen_t lengthForFamily(const SocketAddress& address) {
    switch (address.family()) {
        case AF_INET:
            return sizeof(sockaddr_in);
        case AF_INET6:
            return sizeof(sockaddr_in6);
        case AF_IPX:
            return sizeof(sockaddr_ipx);
        default:
            return address.length;
    }
}

bool sendTo(int socket, const uint8_t* bytes, std::size_t length, const sockaddr* to,
            socklen_t toLength) {
    ssize_t sent;
    do {
        sent = ::sendto(socket, bytes, length, 0, to, toLength);
    } while (sent < 0 && errno == EINTR);
    return sent >= 0 && static_cast<std::size_t>(sent) == length;
}

}  // namespace

bool openClientSocket(EventLoop* loop, EventSink* window, int& socket, std::string& failure,
                      int ipVersion) {
    failure.clear();
    const int family = ipVersion == 1 ? AF_INET6 : AF_INET;
    int fd = makeSocket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) {
        failure = family == AF_INET6 ? formatCode(kSocketV6FailedText, errno) : kSocketFailedText;
        return false;
    }
    return bindAndRegister(fd, anyAddress(family, 0), kBindFailedText, false, loop, window,
                           EndpointEvent::Client, socket, failure);
}

bool openTrapSocket(EventLoop* loop, EventSink* window, int& socket, std::string& failure,
                    uint16_t port) {
    failure.clear();
    int fd = makeSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) {
        failure = kSocketFailedText;
        return false;
    }
    return bindAndRegister(fd, anyAddress(AF_INET, port), kBindFailedText, false, loop, window,
                           EndpointEvent::Trap, socket, failure);
}

bool openAgentSocket(int ipVersion, EventLoop* loop, EventSink* window, int& socket,
                     std::string& failure, const uint8_t* localAddress, uint16_t port) {
    failure.clear();
    const int family = ipVersion == 1 ? AF_INET6 : AF_INET;
    int fd = makeSocket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) {
        failure = family == AF_INET6 ? formatCode(kSocketV6FailedText, errno) : kSocketFailedText;
        return false;
    }
    SocketAddress local = anyAddress(family, port == 0 ? kDefaultAgentPort : port);
    if (localAddress != nullptr) {
        if (family == AF_INET6) {
            std::memcpy(&reinterpret_cast<sockaddr_in6*>(&local.storage)->sin6_addr, localAddress,
                        16);
        } else {
            std::memcpy(&reinterpret_cast<sockaddr_in*>(&local.storage)->sin_addr, localAddress, 4);
        }
        // With address reuse set, Linux lets a second UDP endpoint share a port whose holder
        // set it too, and the datagrams then go to only one of them: a start on a port in use
        // would look successful. A probe without the option finds the port taken first.
        const int probe = makeSocket(family, SOCK_DGRAM, IPPROTO_UDP);
        if (probe >= 0) {
            const bool taken = ::bind(probe, local.sa(), local.length) != 0 && errno == EADDRINUSE;
            ::close(probe);
            if (taken) {
                failure = formatCode(kAgentBindFailedText, EADDRINUSE);
                ::close(fd);
                return false;
            }
        }
        // A socket that could not take its options is closed, not left open and unused.
        const int on = 1;
        if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            failure = kBroadcastOptionFailedText;
            ::close(fd);
            return false;
        }
        if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            failure = kReuseOptionFailedText;
            ::close(fd);
            return false;
        }
    }
    return bindAndRegister(fd, local, kAgentBindFailedText, true, loop, window,
                           EndpointEvent::Agent, socket, failure);
}

bool openIpxAgentSocket(EventLoop* loop, EventSink* window, int& socket, std::string& failure,
                        const uint8_t* address, std::size_t count, uint16_t socketNumber) {
    failure.clear();
    int fd = makeSocket(AF_IPX, SOCK_DGRAM, 0);
    if (fd < 0) {
        failure = kSocketFailedText;  // current Linux kernels carry no IPX
        return false;
    }
    SocketAddress local;
    auto* ipx = reinterpret_cast<sockaddr_ipx*>(&local.storage);
    ipx->sipx_family = AF_IPX;
    ipx->sipx_port = htons(socketNumber == 0 ? kDefaultIpxSocketNumber : socketNumber);
    uint8_t bytes[kIpxAddressBytes] = {};
    if (address != nullptr) {
        std::memcpy(bytes, address, std::min(count, kIpxAddressBytes));
    }
    std::memcpy(&ipx->sipx_network, bytes, 4);
    std::memcpy(ipx->sipx_node, bytes + 4, 6);
    local.length = sizeof(sockaddr_ipx);
    return bindAndRegister(fd, local, kBindFailedText, false, loop, window, EndpointEvent::Agent,
                           socket, failure);
}

void closeSocket(EventLoop* loop, int& socket) {
    if (socket < 0) {
        return;
    }
    if (loop != nullptr) {
        loop->unwatchEndpoint(socket);
    }
    ::close(socket);
    socket = kClosed;
}

bool sendDatagram(int socket, const uint8_t* bytes, std::size_t length,
                  const SocketAddress& destination, uint16_t port) {
    if (destination.family() == AF_INET) {
        sockaddr_in to{};
        std::memcpy(&to, &destination.storage, sizeof to);
        to.sin_port = htons(port);
        return sendTo(socket, bytes, length, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    sockaddr_in6 to{};
    std::memcpy(&to, &destination.storage, sizeof to);
    to.sin6_port = htons(port);
    return sendTo(socket, bytes, length, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

bool sendUDPTrap(int socket, const uint8_t* bytes, std::size_t length,
                 const SocketAddress& destination, uint16_t port) {
    return sendDatagram(socket, bytes, length, destination, port);
}

bool sendResponseDatagram(int /*ipVersion*/, int socket, const uint8_t* bytes, std::size_t length,
                          const SocketAddress& requester) {
    // The socket received the request in the requester's own family, so its address goes
    // back unchanged; its length follows from the family.
    const socklen_t toLength =
        std::min<socklen_t>(lengthForFamily(requester), sizeof requester.storage);
    return sendTo(socket, bytes, length, requester.sa(), toLength);
}

bool receiveDatagram(int socket, uint8_t* buffer, std::size_t& length, SocketAddress& source,
                     int* error) {
    source = SocketAddress{};
    source.length = sizeof source.storage;
    ssize_t n;
    do {
        n = ::recvfrom(socket, buffer, length, 0, source.sa(), &source.length);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        if (error != nullptr) {
            *error = n < 0 ? errno : 0;
        }
        length = 0;
        return false;
    }
    length = static_cast<std::size_t>(n);
    return true;
}

namespace {

bool firstAddress(const char* host, int family, SocketAddress& address) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* results = nullptr;
    if (host == nullptr || ::getaddrinfo(host, nullptr, &hints, &results) != 0 ||
        results == nullptr) {
        return false;
    }
    bool found = false;
    for (addrinfo* r = results; r != nullptr && !found; r = r->ai_next) {
        if ((r->ai_family == AF_INET || r->ai_family == AF_INET6) &&
            r->ai_addrlen <= sizeof address.storage) {
            address = SocketAddress{};
            std::memcpy(&address.storage, r->ai_addr, r->ai_addrlen);
            address.length = r->ai_addrlen;
            found = true;
        }
    }
    ::freeaddrinfo(results);
    return found;
}

}  // namespace

bool resolveAddress(const char* host, SocketAddress& address) {
    return firstAddress(host, AF_UNSPEC, address);
}

bool localIPv6Address(SocketAddress& address) {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        std::strcpy(name, "localhost");
    }
    return firstAddress(name, AF_INET6, address);
}

bool localIPv4Address(uint8_t address[4]) {
    std::memset(address, 0, 4);
    char name[201] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        std::strcpy(name, "localhost");
    }
    in_addr found{};
    if (name[0] >= '0' && name[0] <= '9') {
        if (::inet_pton(AF_INET, name, &found) != 1) {
            found.s_addr = 0;
        }
    } else {
        SocketAddress resolved;
        if (firstAddress(name, AF_INET, resolved) || firstAddress("localhost", AF_INET, resolved)) {
            found = reinterpret_cast<const sockaddr_in*>(&resolved.storage)->sin_addr;
        }
    }
    if (found.s_addr == 0) {
        const int fd = makeSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (fd >= 0) {
            SocketAddress local = anyAddress(AF_INET, 0);
            if (::bind(fd, local.sa(), local.length) == 0) {
                local.length = sizeof local.storage;
                if (::getsockname(fd, local.sa(), &local.length) == 0) {
                    found = reinterpret_cast<const sockaddr_in*>(&local.storage)->sin_addr;
                }
            }
            ::close(fd);
        }
    }
    std::memcpy(address, &found.s_addr, 4);
    return found.s_addr != 0;
}

uint16_t portOf(const SocketAddress& address) {
    if (address.family() == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_port);
    }
    if (address.family() == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_port);
    }
    return 0;
}

}  // namespace korvimo
