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

UniqueFd makeSocket(int family, int type, int protocol) {
    return UniqueFd(::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol));
}

int familyOf(IpVersion ipVersion) {
    return ipVersion == IpVersion::IPv6 ? AF_INET6 : AF_INET;
}

Result socketFailure(int family) {
    return family == AF_INET6 ? Result::failuref(kSocketV6FailedText, errno)
                              : Result::failure(kSocketFailedText);
}

// The last step of every opener: binds the new socket to local and hands it out. On failure
// the socket is closed and the text tells the step: bindFailure, with the error code when
// withCode.
Result bind(UniqueFd fd, const SocketAddress& local, const char* bindFailure, bool withCode,
            UniqueFd& socket, int* bindError = nullptr) {
    if (::bind(fd.get(), local.sa(), local.length) != 0) {
        const int error = errno;
        if (bindError != nullptr) {
            *bindError = error;
        }
        return withCode ? Result::failuref(bindFailure, error) : Result::failure(bindFailure);
    }
    socket = std::move(fd);
    return {};
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

Result openClientSocket(IpVersion ipVersion, UniqueFd& socket) {
    const int family = familyOf(ipVersion);
    UniqueFd fd = makeSocket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (!fd) {
        return socketFailure(family);
    }
    return bind(std::move(fd), anyAddress(family, 0), kBindFailedText, false, socket);
}

Result openTrapSocket(UniqueFd& socket, uint16_t port) {
    UniqueFd fd = makeSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (!fd) {
        return Result::failure(kSocketFailedText);
    }
    return bind(std::move(fd), anyAddress(AF_INET, port), kBindFailedText, false, socket);
}

Result openAgentSocket(IpVersion ipVersion, UniqueFd& socket, const uint8_t* localAddress,
                       uint16_t port, int* bindError) {
    const int family = familyOf(ipVersion);
    UniqueFd fd = makeSocket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (!fd) {
        return socketFailure(family);
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
        const UniqueFd probe = makeSocket(family, SOCK_DGRAM, IPPROTO_UDP);
        if (probe && ::bind(probe.get(), local.sa(), local.length) != 0 && errno == EADDRINUSE) {
            if (bindError != nullptr) {
                *bindError = EADDRINUSE;
            }
            return Result::failuref(kAgentBindFailedText, EADDRINUSE);
        }
        // A socket that could not take its options is closed, not left open and unused.
        const int on = 1;
        if (::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            return Result::failure(kBroadcastOptionFailedText);
        }
        if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            return Result::failure(kReuseOptionFailedText);
        }
    }
    return bind(std::move(fd), local, kAgentBindFailedText, true, socket, bindError);
}

std::string bindFailureAdvice(int error, uint16_t port) {
    if (error == 0) {
        return {};
    }
    const unsigned number = port == 0 ? kDefaultAgentPort : port;
    char text[512];
    switch (error) {
        case EADDRINUSE:
            std::snprintf(text, sizeof text,
                          "%s: another program (another agent?) has UDP port %u on this "
                          "address. Stop it or choose another port (AGENTPORT, --port).",
                          std::strerror(error), number);
            break;
        case EACCES:
        case EPERM:
            if (number < 1024) {
                std::snprintf(text, sizeof text,
                              "%s: ports below 1024 need root or the CAP_NET_BIND_SERVICE "
                              "capability. Choose a port above 1024 (AGENTPORT, --port).",
                              std::strerror(error));
            } else {
                std::snprintf(text, sizeof text, "%s.", std::strerror(error));
            }
            break;
        case EADDRNOTAVAIL:
            std::snprintf(text, sizeof text,
                          "%s: the agent address is not an address of this machine. Give one "
                          "of its own addresses (AGENTIP, --address), or none for every address.",
                          std::strerror(error));
            break;
        default:
            std::snprintf(text, sizeof text, "%s.", std::strerror(error));
            break;
    }
    return text;
}

Result openIpxAgentSocket(UniqueFd& socket, const uint8_t* address, std::size_t count,
                          uint16_t socketNumber) {
    UniqueFd fd = makeSocket(AF_IPX, SOCK_DGRAM, 0);
    if (!fd) {
        return Result::failure(kSocketFailedText);  // current Linux kernels carry no IPX
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
    return bind(std::move(fd), local, kBindFailedText, false, socket);
}

Result WatchedSocket::watch(EventLoop& loop, UniqueFd socket, EventLoop::Callback onReadable) {
    Watch watch = loop.watch(socket.get(), std::move(onReadable));
    if (!watch.active()) {
        return Result::failure(kSelectFailedText);
    }
    close();
    socket_ = std::move(socket);
    watch_ = std::move(watch);
    return {};
}

uint16_t boundPort(int socket) {
    SocketAddress local;
    local.length = sizeof local.storage;
    if (socket < 0 || ::getsockname(socket, local.sa(), &local.length) != 0) {
        return 0;
    }
    return portOf(local);
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

bool sendResponseDatagram(int socket, const uint8_t* bytes, std::size_t length,
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
        const UniqueFd fd = makeSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (fd) {
            SocketAddress local = anyAddress(AF_INET, 0);
            if (::bind(fd.get(), local.sa(), local.length) == 0) {
                local.length = sizeof local.storage;
                if (::getsockname(fd.get(), local.sa(), &local.length) == 0) {
                    found = reinterpret_cast<const sockaddr_in*>(&local.storage)->sin_addr;
                }
            }
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
