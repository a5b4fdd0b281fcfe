// AgentEndpoint: the simulated agent's request endpoint. It reads the datagrams that arrive,
// decodes them, and hands every Get, GetNext, Set and GetBulk to the agent; it sends the
// agent's Responses back from the same socket.
//
//   AgentEndpoint endpoint(loop, {[&](const snmp::Pdu& request, const SocketAddress& from) {
//                                     handler.onRequest(request, from);
//                                 },
//                                 [&](std::string_view why) { status.append(why); }});
//   if (Result r = endpoint.open(IpVersion::IPv4, nullptr, 1161); !r) report(r.text());
//   ... requests arrive through the event loop ...
//   endpoint.close();
//
// Reading: one readiness report reads every datagram already waiting, at most
// kRequestBatchSize, with one system call, and serves them one by one in order; the rest
// wait for the next turn, so that timers keep theirs. A datagram of any content, size or
// source is read, dropped or refused without harm, and the next one is served: one that does
// not decode is reported through onFailure with the decoder's text (unless it is a message of
// another SNMP version, which goes to onOtherVersion), an empty one as
// "Error in receiving UDP Packet (0)", one larger than kRequestBufferSize with the code
// EMSGSIZE; PDU types other than requests are dropped without a word. A request handler may
// close the endpoint (the agent stopped), or even destroy it with its agent: the rest of the
// batch is then dropped. It may also run a nested loop turn (a modal box); that turn reads into
// a batch of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "agent/endpoints.h"
#include "app/core/event_loop.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "snmp/message.h"

namespace korvimo {

// Datagrams one readiness report reads at most.
inline constexpr int kRequestBatchSize = 32;

class AgentEndpoint {
  public:
    struct Handlers {
        // A Get, GetNext, Set or GetBulk request and where it came from.
        std::function<void(const snmp::Pdu& request, const SocketAddress& from)> onRequest;
        // A datagram that could not be read or decoded.
        std::function<void(std::string_view why)> onFailure;
        // A message that does not decode but begins as an SNMP message of a version other
        // than SNMPv1 and SNMPv2c: not a malformed datagram, so no failure.
        std::function<void(int32_t version)> onOtherVersion;
        // An SNMPv3 message, as received (none: it goes to onOtherVersion).
        std::function<void(const uint8_t* bytes, std::size_t length, const SocketAddress& from)>
            onV3Message;
    };

    AgentEndpoint(EventLoop& loop, Handlers handlers)
        : loop_(loop), handlers_(std::move(handlers)) {}
    ~AgentEndpoint();
    AgentEndpoint(const AgentEndpoint&) = delete;
    AgentEndpoint& operator=(const AgentEndpoint&) = delete;

    // Opens the endpoint (closing one that is open) and starts serving it. The failure text is
    // the opener's, or kSelectFailedText when the event loop refuses the socket.
    Result open(IpVersion ipVersion, const uint8_t* localAddress, uint16_t port,
                int* bindError = nullptr);
    Result openIpx(const uint8_t* address, std::size_t count, uint16_t socketNumber);
    void close();

    bool isOpen() const { return socket_.isOpen(); }
    int socket() const { return socket_.get(); }
    // The UDP port the endpoint is bound to; 0 when closed or not UDP.
    uint16_t port() const { return boundPort(socket_.get()); }

    // Sends a message back exactly to where a request came from.
    bool send(const uint8_t* bytes, std::size_t length, const SocketAddress& requester) const {
        return sendResponseDatagram(socket_.get(), bytes, length, requester);
    }

    // Serves one datagram as if it had arrived (benchmarks and tests).
    Result serve(const uint8_t* datagram, std::size_t length, const SocketAddress& source);

  private:
    Result watch(UniqueFd socket);
    void readable();

    EventLoop& loop_;
    Handlers handlers_;
    WatchedSocket socket_;
    // Raised at every open and close, so that a batch being served can tell that its
    // endpoint went (a reused descriptor number would not tell).
    uint64_t generation_ = 0;
    // Set while a batch is served: the flag the destructor raises, so that a handler that
    // destroyed the endpoint leaves the batch without touching it again.
    bool* destroyed_ = nullptr;
};

}  // namespace korvimo
