#include "agent/message_flow.h"

#include <sys/socket.h>

#include <cerrno>

#include "agent/endpoints.h"

namespace korvimo {

namespace {

bool isRequestType(uint32_t type) {
    return type == snmp::kPduGetRequest || type == snmp::kPduGetNextRequest ||
           type == snmp::kPduSetRequest || type == snmp::kPduGetBulkRequest;
}

bool nothingToRead(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

void killTimer(AgentContext& ctx, uint32_t timerId) {
    if (ctx.loop != nullptr) {
        ctx.loop->killTimer(timerId);
    }
}

// Encodes and sends a request to the peer; the reason of a failure goes to lastErrorText.
bool transmit(AgentContext& ctx, const snmp::Pdu& request) {
    uint8_t message[snmp::kMaxMessageSize];
    uint32_t size = sizeof message;
    if (!snmp::SnmpEncodeMsg(&request, message, &size)) {
        return false;
    }
    if (!sendDatagram(ctx.clientSocket, message, size, ctx.peerAddress,
                      static_cast<uint16_t>(ctx.peerPort))) {
        snmp::setLastError("%s", kSendErrorText);
        return false;
    }
    return true;
}

}  // namespace

bool receiveRequest(AgentContext& ctx, bool* nothingRead) {
    if (nothingRead != nullptr) {
        *nothingRead = false;
    }
    uint8_t datagram[kRequestBufferSize];
    std::size_t length = sizeof datagram;
    SocketAddress source;
    int error = 0;
    if (!receiveDatagram(ctx.agentSocket, datagram, length, source, &error)) {
        if (nothingToRead(error)) {
            if (nothingRead != nullptr) {
                *nothingRead = true;
            }
            return true;
        }
        snmp::setLastError(kReceiveErrorCodeText, error);
        return false;
    }
    return serveRequest(ctx, datagram, length, source);
}

bool readRequestBatch(AgentContext& ctx, RequestBatch& batch) {
    mmsghdr messages[kRequestBatchSize] = {};
    iovec vectors[kRequestBatchSize];
    for (int i = 0; i < kRequestBatchSize; ++i) {
        batch.sources[i] = SocketAddress{};
        vectors[i] = iovec{batch.datagrams[i], kRequestBufferSize};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = batch.sources[i].sa();
        messages[i].msg_hdr.msg_namelen = sizeof batch.sources[i].storage;
    }
    batch.count = 0;
    int n;
    do {
        n = ::recvmmsg(ctx.agentSocket, messages, kRequestBatchSize, MSG_DONTWAIT, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (nothingToRead(errno)) {
            return true;
        }
        snmp::setLastError(kReceiveErrorCodeText, errno);
        return false;
    }
    for (int i = 0; i < n; ++i) {
        batch.lengths[i] = messages[i].msg_len;
        batch.sources[i].length = messages[i].msg_hdr.msg_namelen;
    }
    batch.count = n;
    return true;
}

bool serveRequest(AgentContext& ctx, const uint8_t* datagram, std::size_t length,
                  const SocketAddress& source) {
    if (length == 0) {
        snmp::setLastError(kReceiveErrorCodeText, 0);
        return false;
    }
    snmp::Pdu request;
    if (!snmp::decodeMessage(datagram, static_cast<uint32_t>(length), &request)) {
        return false;
    }
    if (isRequestType(request.type)) {
        OperationHandlers* handlers = ctx.active();
        if (handlers != nullptr && handlers->onRequest) {
            handlers->onRequest(request, ctx, source);
        }
    }
    return true;
}

bool receiveResponse(AgentContext& ctx) {
    snmp::clearLastError();
    uint8_t datagram[kResponseBufferSize];
    std::size_t length = sizeof datagram;
    SocketAddress source;
    int error = 0;
    if (!receiveDatagram(ctx.clientSocket, datagram, length, source, &error)) {
        // A refused connection is the port-unreachable report of an earlier send.
        if (nothingToRead(error) || error == ECONNREFUSED) {
            return true;
        }
        snmp::setLastError(kReceiveErrorCodeText, error);
        return false;
    }
    snmp::Pdu response;
    if (!snmp::decodeMessage(datagram, static_cast<uint32_t>(length), &response)) {
        return false;
    }
    if (response.type != snmp::kPduResponse) {
        return true;
    }
    PendingRequest* pending = findPending(
        ctx.pendingRequests, static_cast<uint32_t>(response.requestId), PendingKey::RequestId);
    if (pending == nullptr) {
        return true;
    }
    killTimer(ctx, pending->timerId);
    OperationHandlers* handlers = ctx.active();
    if (handlers != nullptr && handlers->onResponse) {
        // Nothing of the entry is touched after the handler: it may clear the list.
        handlers->onResponse(response, ctx, source, pending->pdu.get());
    }
    return true;
}

bool receiveTrap(AgentContext& ctx) {
    snmp::clearLastError();
    uint8_t datagram[kTrapBufferSize];
    std::size_t length = sizeof datagram;
    SocketAddress source;
    int error = 0;
    if (!receiveDatagram(ctx.trapSocket, datagram, length, source, &error)) {
        if (nothingToRead(error)) {
            return true;
        }
        snmp::setLastError("%s", kReceiveErrorText);
        return false;
    }
    snmp::Pdu trap;
    if (!snmp::decodeMessage(datagram, static_cast<uint32_t>(length), &trap)) {
        return false;
    }
    if (trap.type == snmp::kPduTrap || trap.type == snmp::kPduSnmpV2Trap) {
        OperationHandlers* handlers = ctx.active();
        if (handlers != nullptr && handlers->onTrap) {
            handlers->onTrap(trap, ctx, source);
        }
    }
    return true;
}

bool send_new_request(AgentContext& ctx, std::unique_ptr<snmp::Pdu> request) {
    if (request == nullptr || !transmit(ctx, *request)) {
        return false;
    }
    const uint32_t timerId = ctx.nextTimerId;
    if (ctx.loop == nullptr || !ctx.loop->startTimer(ctx.ownerWindow, timerId, ctx.timeoutMs)) {
        // Without its timer the request would wait for ever; it is given up at once.
        return false;
    }
    ++ctx.nextTimerId;
    PendingRequest entry;
    entry.context = &ctx;
    entry.requestId = request->requestId;
    entry.pdu = std::move(request);
    entry.timerId = timerId;
    entry.transmissions = 1;
    ctx.pendingRequests.push_back(std::move(entry));
    return true;
}

bool handleRequestTimer(AgentContext& ctx, uint32_t timerId) {
    snmp::clearLastError();
    OperationHandlers* handlers = ctx.active();
    if (ctx.timerDriven) {
        if (handlers != nullptr && handlers->onTimer) {
            handlers->onTimer(timerId, ctx, nullptr);
        }
        return true;
    }
    PendingRequest* pending = findPending(ctx.pendingRequests, timerId, PendingKey::TimerId);
    if (pending == nullptr) {
        killTimer(ctx, timerId);
        return true;
    }
    if (pending->transmissions < ctx.retries) {
        if (!transmit(ctx, *pending->pdu)) {
            killTimer(ctx, timerId);
            removePending(ctx.pendingRequests, pending);
            return false;
        }
        ++pending->transmissions;
        return true;
    }
    // Timed out. The entry leaves the list before the handler runs, so that the handler may
    // clear or extend the list; the request lives until the handler returns.
    killTimer(ctx, timerId);
    std::list<PendingRequest> expired;
    for (auto it = ctx.pendingRequests.begin(); it != ctx.pendingRequests.end(); ++it) {
        if (&*it == pending) {
            expired.splice(expired.begin(), ctx.pendingRequests, it);
            break;
        }
    }
    if (handlers != nullptr && handlers->onTimer) {
        handlers->onTimer(timerId, ctx, expired.front().pdu.get());
    }
    return true;
}

PendingRequest* findPending(std::list<PendingRequest>& list, uint32_t value, PendingKey key) {
    for (PendingRequest& entry : list) {
        const uint32_t own =
            key == PendingKey::RequestId ? static_cast<uint32_t>(entry.requestId) : entry.timerId;
        if (own == value) {
            return &entry;
        }
    }
    return nullptr;
}

void removePending(std::list<PendingRequest>& list, const PendingRequest* entry) {
    list.remove_if([entry](const PendingRequest& candidate) { return &candidate == entry; });
}

void clearPending(std::list<PendingRequest>& list) {
    list.clear();
}

}  // namespace korvimo
