// The UDP endpoints of the simulator: opening and closing them, sending and receiving single
// datagrams, and resolving host names.
//
// Three endpoints exist, each a descriptor in the AgentContext: the agent's request endpoint
// (agentSocket, event 1626), the client endpoint for outgoing requests and traps
// (clientSocket, event 1625) and the trap receiver of learning (trapSocket, event 1627).
// Opening one registers it with the event loop for the window (EventSink) that is to
// receive its events; closeSocket unregisters it before closing it. Sockets are
// non-blocking, so a readiness report that finds nothing to read never stalls the loop.
//
//   std::string failure;
//   if (!openAgentSocket(ctx.ipVersion, ctx.loop, ctx.ownerWindow, ctx.agentSocket, failure,
//                        nullptr, 0))           // any address, port 161
//       report(failure);
//   ...
//   closeSocket(ctx.loop, ctx.agentSocket);
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/core/agent_context.h"

namespace korvimo {

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
// Registering the endpoint with the event loop failed (the text names the call it stood for).
inline constexpr const char* kSelectFailedText =
    "WSAAsyncSelect() call failed. Cannot open socket. Check TCP/IP stack";

inline constexpr uint16_t kDefaultAgentPort = 161;
inline constexpr uint16_t kTrapReceivePort = 162;
inline constexpr uint16_t kDefaultIpxSocketNumber = 0x900F;
inline constexpr std::size_t kIpxAddressBytes = 10;  // 4 of network, 6 of node

// Receive buffers of the three endpoints.
inline constexpr std::size_t kRequestBufferSize = 1500;
inline constexpr std::size_t kTrapBufferSize = 1500;
inline constexpr std::size_t kResponseBufferSize = 1600;

// Every opener empties failure first and, on failure, leaves the reason there and socket
// unchanged; nothing stays open. A null loop leaves the endpoint unregistered (the caller
// then reads it itself).

// IPv4 (ipVersion other than 1) or IPv6, any address, port 0; event 1625.
bool openClientSocket(EventLoop* loop, EventSink* window, int& socket, std::string& failure,
                      int ipVersion);
// IPv4, any address, the given port (162 unless a test chooses another); event 1627.
bool openTrapSocket(EventLoop* loop, EventSink* window, int& socket, std::string& failure,
                    uint16_t port = kTrapReceivePort);
// IPv4 or IPv6 (ipVersion 1); localAddress null for any address, else 4 bytes (IPv4) or
// 16 (IPv6), for which broadcast and address reuse are set first; port 0 means 161;
// event 1626.
bool openAgentSocket(int ipVersion, EventLoop* loop, EventSink* window, int& socket,
                     std::string& failure, const uint8_t* localAddress, uint16_t port);
// IPX datagram endpoint on the given network and node bytes and socket number (0 means
// 0x900F); event 1626. Kernels without IPX refuse the socket itself.
bool openIpxAgentSocket(EventLoop* loop, EventSink* window, int& socket, std::string& failure,
                        const uint8_t* address, std::size_t count, uint16_t socketNumber);
// Unregisters and closes an open endpoint and marks it closed.
void closeSocket(EventLoop* loop, int& socket);

// Sends to destination with port (host order) in place of the address's own port.
bool sendDatagram(int socket, const uint8_t* bytes, std::size_t length,
                  const SocketAddress& destination, uint16_t port);
bool sendUDPTrap(int socket, const uint8_t* bytes, std::size_t length,
                 const SocketAddress& destination, uint16_t port);
// Answers exactly where a request came from, whatever its family.
bool sendResponseDatagram(int ipVersion, int socket, const uint8_t* bytes, std::size_t length,
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
