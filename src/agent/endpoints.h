// The UDP endpoints of the simulator: opening sockets, sending and receiving single
// datagrams, resolving host names, and the socket address that travels with a datagram.
//
// Three kinds of endpoint exist, each owned by whoever uses it: the agent's request endpoint
// (AgentEndpoint), the client endpoint for outgoing requests and traps (RequestClient) and
// the trap receiver of learning (TrapReceiver). The openers here make the socket; its owner
// holds it in a UniqueFd and watches it in the event loop. Sockets are non-blocking, so a
// readiness report that finds nothing to read never stalls the loop.
//
//   UniqueFd socket;
//   if (Result r = openAgentSocket(IpVersion::IPv4, socket, nullptr, 0); !r)   // port 161
//       report(r.text());
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

#include "app/core/event_loop.h"
#include "app/core/startup_settings.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "snmp/message.h"

namespace korvimo {

// A socket address of any family; the family is the first 16-bit word, as in sockaddr.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    int family() const { return storage.ss_family; }
    sockaddr* sa() { return reinterpret_cast<sockaddr*>(&storage); }
    const sockaddr* sa() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

inline constexpr const char* kSocketFailedText =
    "socket() call failed. Cannot open socket. Check TCP/IP stack";
inline constexpr const char* kSocketV6FailedText =
    "socket() call failed. Cannot open v6 socket. Check TCP/IP stack (%d)";
inline constexpr const char* kBroadcastOptionFailedText =
    "setsockopt() call failed. Cannot set socket. Check TCP/IP stack";
inline constexpr const char* kReuseOptionFailedText =
    "setsockopt() call2 failed. Cannot set socket. Check TCP/IP stack";
inline constexpr const char* kBindFailedText =
    "bind() call failed. Cannot open socket. Check TCP/IP stack";
inline constexpr const char* kAgentBindFailedText =
    "bind() call failed. Cannot open socket. Check TCP/IP stack (%d)";
// The event loop refused to watch an endpoint (the text names the call it stood for).
inline constexpr const char* kSelectFailedText =
    "WSAAsyncSelect() call failed. Cannot open socket. Check TCP/IP stack";

// Failures of reading and sending on an open endpoint.
inline constexpr const char* kReceiveErrorCodeText = "Error in receiving UDP Packet (%d)";
inline constexpr const char* kReceiveErrorText = "Error in receiving UDP Packet";
inline constexpr const char* kSendErrorText = "Error in sending UDP Packet";

inline constexpr uint16_t kDefaultAgentPort = 161;
inline constexpr uint16_t kTrapReceivePort = 162;
inline constexpr uint16_t kDefaultIpxSocketNumber = 0x900F;
inline constexpr std::size_t kIpxAddressBytes = 10;  // 4 of network, 6 of node

// Receive buffers of the three endpoints. The agent reads requests of any size UDP over
// IPv4 carries; a larger one (IPv6 allows a few bytes more) is refused, never read in part.
// The client reads responses of any such size too: a GetBulk answer, or a GetNext answer
// with a long string, easily passes 1,600 bytes, and a datagram read in part does not decode.
inline constexpr std::size_t kRequestBufferSize = snmp::kMaxDatagramSize;
inline constexpr std::size_t kTrapBufferSize = 1500;
inline constexpr std::size_t kResponseBufferSize = snmp::kMaxDatagramSize;

// Every opener leaves socket as it was when it fails, with nothing left open, and gives the
// step that failed as its text.

// IPv4 or IPv6, any address, port 0.
Result openClientSocket(IpVersion ipVersion, UniqueFd& socket);
// IPv4, any address, the given port (162 unless a test chooses another).
Result openTrapSocket(UniqueFd& socket, uint16_t port = kTrapReceivePort);
// IPv4 or IPv6; localAddress null for any address, else 4 bytes (IPv4) or 16 (IPv6), for
// which broadcast and address reuse are set first; port 0 means 161. When the bind fails,
// *bindError (if given) receives the system's error number.
Result openAgentSocket(IpVersion ipVersion, UniqueFd& socket, const uint8_t* localAddress,
                       uint16_t port, int* bindError = nullptr);

// What a user can do about an agent endpoint the system refused: the system's reason and a
// hint for the common causes (a port in use, a privileged port, an address that is not
// local), as a sentence to follow the failure line; empty for error 0.
std::string bindFailureAdvice(int error, uint16_t port);
// IPX datagram endpoint on the given network and node bytes and socket number (0 means
// 0x900F). Kernels without IPX refuse the socket itself.
Result openIpxAgentSocket(UniqueFd& socket, const uint8_t* address, std::size_t count,
                          uint16_t socketNumber);

// The port a socket is bound to, in host order; 0 when it has none (IPX included).
uint16_t boundPort(int socket);

// An open endpoint: its socket and the watch of it in the event loop, owned together, so that
// the watch always ends before the socket closes.
class WatchedSocket {
  public:
    // Takes socket and watches it. When the loop refuses, the socket closes and the failure is
    // kSelectFailedText; an endpoint open before stays as it was.
    Result watch(EventLoop& loop, UniqueFd socket, EventLoop::Callback onReadable);
    void close() {
        watch_.reset();
        socket_.reset();
    }
    bool isOpen() const { return socket_.valid(); }
    int get() const { return socket_.get(); }

  private:
    UniqueFd socket_;
    Watch watch_;  // after the socket: it ends first
};

// Sends to destination with port (host order) in place of the address's own port.
bool sendDatagram(int socket, const uint8_t* bytes, std::size_t length,
                  const SocketAddress& destination, uint16_t port);
bool sendUDPTrap(int socket, const uint8_t* bytes, std::size_t length,
                 const SocketAddress& destination, uint16_t port);
// Answers exactly where a request came from, whatever its family.
bool sendResponseDatagram(int socket, const uint8_t* bytes, std::size_t length,
                          const SocketAddress& requester);
// Reads one datagram (cut to length bytes); length becomes the bytes read. Fails when no
// byte was read; error then holds the system's error code (0 for an empty datagram).
bool receiveDatagram(int socket, uint8_t* buffer, std::size_t& length, SocketAddress& source,
                     int* error = nullptr);

// The first address, IPv4 or IPv6, that host (a name or a numeric address) resolves to.
bool resolveAddress(const char* host, SocketAddress& address);
// The first IPv6 address of the local host name (or of "localhost" when there is none).
bool localIPv6Address(SocketAddress& address);
// The local host's IPv4 address (network order): the host name read as a dotted address when
// it begins with a digit, else its first resolved address, else that of "localhost"; when
// still zero, the local address of a UDP endpoint bound to any address. False when zero.
bool localIPv4Address(uint8_t address[4]);

// The port of an IPv4 or IPv6 address in host order (0 for other families).
uint16_t portOf(const SocketAddress& address);

}  // namespace korvimo
