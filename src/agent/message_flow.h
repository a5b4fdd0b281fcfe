// The message flow over the endpoints: reading and decoding one datagram per readiness
// event and handing it to the active operation's handlers, sending new requests and
// retransmitting them on their timers until they are answered or time out.
//
// The receive operations and handleRequestTimer return false when something went wrong,
// with the reason in lastErrorText; the event routing then shows it in the main status
// list. A datagram of any content, size or source is read, dropped or refused without
// harm, and the next one is served.
//
//   // On an agentSocket readiness event:
//   if (!receiveRequest(ctx)) reportToMainStatus(snmp::lastErrorText, ctx);
//
//   // A request goes out, is retransmitted every timeoutMs, `retries` times in all, and
//   // then reaches the active onTimer with the request:
//   send_new_request(ctx, std::move(pdu));
#pragma once

#include <cstdint>
#include <list>
#include <memory>

#include "agent/endpoints.h"
#include "app/core/agent_context.h"
#include "snmp/message.h"

namespace korvimo {

inline constexpr const char* kReceiveErrorCodeText = "Error in receiving UDP Packet (%d)";
inline constexpr const char* kReceiveErrorText = "Error in receiving UDP Packet";
inline constexpr const char* kSendErrorText = "Error in sending UDP Packet";

// agentSocket readable: Get, GetNext, Set and GetBulk go to the active onRequest; other PDU
// types are dropped. A failed read leaves kReceiveErrorCodeText, a failed decode the
// decoder's text. nothingRead, when given, tells whether no datagram was waiting.
bool receiveRequest(AgentContext& ctx, bool* nothingRead = nullptr);

// Datagrams waiting on agentSocket, read with one system call. Under load this takes the
// system calls of reading off most requests; each datagram is then served as
// receiveRequest serves one.
inline constexpr int kRequestBatchSize = 32;
struct RequestBatch {
    uint8_t datagrams[kRequestBatchSize][kRequestBufferSize];
    std::size_t lengths[kRequestBatchSize] = {};
    SocketAddress sources[kRequestBatchSize];
    int count = 0;
};

// Reads what is waiting on agentSocket, at most a batch; count 0 when nothing was. False,
// with kReceiveErrorCodeText, on a read error.
bool readRequestBatch(AgentContext& ctx, RequestBatch& batch);
// Serves one datagram as receiveRequest does: decoded, and a request handed to the active
// onRequest. An empty datagram fails like an empty read.
bool serveRequest(AgentContext& ctx, const uint8_t* datagram, std::size_t length,
                  const SocketAddress& source);

// clientSocket readable: a Response matching a pending request stops that request's timer
// and goes to the active onResponse with the request. The request stays pending until the
// list is cleared, so a repeated Response is passed on again. A refused connection reported
// for an earlier send is ignored.
bool receiveResponse(AgentContext& ctx);

// trapSocket readable: Trap and SNMPv2-Trap go to the active onTrap.
bool receiveTrap(AgentContext& ctx);

// Encodes and sends request from clientSocket to peerAddress at peerPort, starts its
// repeating timer (identifier nextTimerId, period timeoutMs, on the owner window) and
// records it as pending with one transmission. Fails, with nothing pending, when encoding,
// sending or the timer fails.
bool send_new_request(AgentContext& ctx, std::unique_ptr<snmp::Pdu> request);

// A timer tick. With timerDriven set it goes straight to the active onTimer. Otherwise the
// pending request of that timer is sent again while it has had fewer than `retries`
// transmissions, else it has timed out: its timer stops, the active onTimer gets the
// request, and it is removed. A timer without a pending request is stopped.
bool handleRequestTimer(AgentContext& ctx, uint32_t timerId);

enum class PendingKey { RequestId, TimerId };

// The first pending request whose request-id or timer identifier (by key) equals value.
PendingRequest* findPending(std::list<PendingRequest>& list, uint32_t value, PendingKey key);
// Releases one entry with its request.
void removePending(std::list<PendingRequest>& list, const PendingRequest* entry);
// Releases every entry.
void clearPending(std::list<PendingRequest>& list);

}  // namespace korvimo
