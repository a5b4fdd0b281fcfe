// RequestClient: the manager side of the simulator. It owns the client endpoint from which
// the tools send requests (learning walks a real agent with GetNext) and traps, and keeps
// the requests that await their Response, sending each again every timeoutMs until it is
// answered or has been sent `retries` times in all.
//
//   RequestIdSequence ids;                       // one per process
//   RequestClient client(loop, ids, {onResponse, onTimeout, onFailure, onDropped});
//   client.open(IpVersion::IPv4);
//   client.settings().peerAddress = teacher;     // and peerPort, timeoutMs, retries
//   client.send_new_request(std::move(pdu));     // pending until answered or timed out
//   ...
//   client.close();                              // the endpoint, and every pending request
//
// Each pending request has a timer of its own, which lives as long as the request waits:
// retransmissions of the client cannot be confused with any other timer of the process.
//
// Rules of the flow:
//   - An SNMPv3 message goes to the optional onV3Message as it is; the handler matches it to
//     a request itself (findPending, removePending). Requests of version 3 are encoded by
//     the optional encodeV3.
//   - A Response whose request-id matches a pending request (from a source the optional
//     acceptsAnswerFrom accepts) stops that request's timer and goes to onResponse with the
//     request. The request stays pending (without a timer) until
//     removed or cleared, so a repeated Response is passed on again. Other Responses and
//     other PDU types are dropped; requests are told to the optional onRequest. A port-unreachable
//     report of an earlier send is ignored.
//   - A request that has been sent `retries` times (at least once) times out one period
//     after its last transmission: it leaves the pending list and goes to onTimeout. The
//     handlers may clear the list or send new requests.
//   - A retransmission that cannot be sent drops its request: it leaves the pending list,
//     "Error in sending UDP Packet" goes to onFailure and then the request to onDropped. A
//     datagram that cannot be read or decoded (from anyone) reports its reason through
//     onFailure alone: no request is touched, so a flood of them costs nothing per request.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string_view>

#include "agent/endpoints.h"
#include "app/core/event_loop.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "snmp/message.h"
#include "snmp/v3_message.h"

namespace korvimo {

// The event loop refused a request's retransmission timer.
inline constexpr const char* kNoTimerText = "Cannot start the retransmission timer.";
// A request of version 3 without Handlers::encodeV3.
inline constexpr const char* kEncodeV3MissingText = "No SNMPv3 security to send the request with.";

// Request-ids of outgoing requests: 2 first, one more per request, never reset while the
// program runs.
class RequestIdSequence {
  public:
    uint32_t take() { return next_++; }
    uint32_t next() const { return next_; }

  private:
    uint32_t next_ = 2;
};

// One outgoing request awaiting its Response, in order of sending.
struct PendingRequest {
    std::unique_ptr<snmp::Pdu> pdu;
    Timer timer;  // the retransmission timer; stopped once answered
    int32_t requestId = 0;
    int32_t transmissions = 0;  // 1 after the first
};

class RequestClient {
  public:
    struct Handlers {
        // A Response to one of the pending requests, with that request.
        std::function<void(const snmp::Pdu& response, const SocketAddress& from,
                           const snmp::Pdu& request)>
            onResponse;
        // A request that went unanswered; it has left the pending list.
        std::function<void(const snmp::Pdu& request)> onTimeout;
        // Why a send or a read failed, or why a datagram did not decode.
        std::function<void(std::string_view why)> onFailure;
        // A request whose retransmission could not be sent; it has left the pending list.
        // Optional; called after onFailure has had the reason.
        std::function<void(const snmp::Pdu& request)> onDropped;
        // Optional: whether a Response from that source may answer a pending request. One it
        // refuses is dropped before it touches the request, whose timer goes on.
        std::function<bool(const SocketAddress& from)> acceptsAnswerFrom;
        // Optional: a request (Get, GetNext, GetBulk or Set) that arrived on the client
        // endpoint; it is answered by nobody.
        std::function<void(const snmp::Pdu& request)> onRequest;
        // Optional: encodes a request of version kVersion3 into a whole SNMPv3 message (*size
        // the capacity in, the length out), at each transmission, so that each carries its
        // own msgID and engine time. Without it such a request is not sent.
        std::function<Result(const snmp::Pdu& request, uint8_t* out, uint32_t* size)> encodeV3;
        // Optional: an SNMPv3 message as received (decodeMessage reads community messages
        // only); its security and its matching are the handler's. Without it, it is a
        // datagram that does not decode.
        std::function<void(const uint8_t* bytes, std::size_t length, const SocketAddress& from)>
            onV3Message;
    };

    // Where requests and traps go, how requests are retransmitted, and the version and
    // communities requests are made with.
    struct Settings {
        SocketAddress peerAddress;
        int32_t peerPort = 161;
        uint32_t timeoutMs = 0;
        int32_t retries = 0;
        VersionMode versionMode = VersionMode::Bilingual;
        FixedText<kCommunityCapacity> readCommunity;
        FixedText<kCommunityCapacity> writeCommunity;
    };

    RequestClient(EventLoop& loop, RequestIdSequence& ids, Handlers handlers)
        : loop_(loop), ids_(ids), handlers_(std::move(handlers)) {}
    ~RequestClient() { close(); }
    RequestClient(const RequestClient&) = delete;
    RequestClient& operator=(const RequestClient&) = delete;

    // Opens the client endpoint (closing one that is open). The failure text is the
    // opener's, or kSelectFailedText when the event loop refuses the socket.
    Result open(IpVersion ipVersion);
    // Closes the endpoint and clears the pending requests.
    void close();
    bool isOpen() const { return socket_.isOpen(); }
    int socket() const { return socket_.get(); }

    Settings& settings() { return settings_; }
    const Settings& settings() const { return settings_; }
    RequestIdSequence& requestIds() { return ids_; }

    // Encodes and sends request to the peer, starts its timer and records it as pending
    // with one transmission. Fails, with nothing pending, when encoding, sending or the timer
    // fails (the encoder's text, "Error in sending UDP Packet", kNoTimerText).
    Result send_new_request(std::unique_ptr<snmp::Pdu> request);

    // Sends an encoded message (a trap) to the peer address at port.
    bool sendToPeer(const uint8_t* bytes, std::size_t length, uint16_t port) const {
        return sendDatagram(socket_.get(), bytes, length, settings_.peerAddress, port);
    }
    // The same, with the system's error number when it fails (0 for a short send), so that a
    // sender can tell a full send queue (EAGAIN, ENOBUFS) from a failure.
    bool sendToPeer(const uint8_t* bytes, std::size_t length, uint16_t port, int& error) const;

    const std::list<PendingRequest>& pendingRequests() const { return pending_; }
    // The first pending request with that request-id, or null.
    PendingRequest* findPending(int32_t requestId);
    // Releases one entry with its request; nothing when it is not pending.
    void removePending(const PendingRequest* entry);
    // Releases every entry.
    void clearPending() { pending_.clear(); }
    // Sends a pending request again at once (an SNMPv3 inform after a notInTimeWindows
    // Report); its transmissions and its timer stay as they are.
    Result resend(const PendingRequest& entry) const { return transmit(*entry.pdu); }

  private:
    void readable();
    Result transmit(const snmp::Pdu& request) const;
    void tick(PendingRequest* entry);
    // Unlinks the entry from the pending list (an empty list when it is not pending).
    std::list<PendingRequest> takePending(PendingRequest* entry);

    EventLoop& loop_;
    RequestIdSequence& ids_;
    Handlers handlers_;
    Settings settings_;
    std::list<PendingRequest> pending_;
    WatchedSocket socket_;
};

}  // namespace korvimo
