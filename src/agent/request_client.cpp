#include "agent/request_client.h"

#include <cerrno>

namespace korvimo {

Result RequestClient::open(IpVersion ipVersion) {
    close();
    UniqueFd socket;
    if (Result opened = openClientSocket(ipVersion, socket); !opened) {
        return opened;
    }
    return socket_.watch(loop_, std::move(socket), [this] { readable(); });
}

void RequestClient::close() {
    clearPending();
    socket_.close();
}

Result RequestClient::transmit(const snmp::Pdu& request) const {
    uint8_t message[snmp::kMaxMessageSize];
    uint32_t size = sizeof message;
    if (request.version == snmp::kVersion3) {
        if (!handlers_.encodeV3) {
            return Result::failure(kEncodeV3MissingText);
        }
        if (Result encoded = handlers_.encodeV3(request, message, &size); !encoded) {
            return encoded;
        }
    } else if (Result encoded = snmp::SnmpEncodeMsg(&request, message, &size); !encoded) {
        return encoded;
    }
    if (!sendDatagram(socket_.get(), message, size, settings_.peerAddress,
                      static_cast<uint16_t>(settings_.peerPort))) {
        return Result::failure(kSendErrorText);
    }
    return {};
}

bool RequestClient::sendToPeer(const uint8_t* bytes, std::size_t length, uint16_t port,
                               int& error) const {
    errno = 0;
    const bool sent = sendDatagram(socket_.get(), bytes, length, settings_.peerAddress, port);
    error = sent ? 0 : errno;
    return sent;
}

Result RequestClient::send_new_request(std::unique_ptr<snmp::Pdu> request) {
    if (request == nullptr) {
        return Result::failure(kSendErrorText);
    }
    if (Result sent = transmit(*request); !sent) {
        return sent;
    }
    PendingRequest& entry = pending_.emplace_back();
    entry.requestId = request->requestId;
    entry.pdu = std::move(request);
    entry.transmissions = 1;
    PendingRequest* pending = &entry;
    entry.timer = loop_.startTimer(settings_.timeoutMs, [this, pending] { tick(pending); });
    if (!entry.timer.running()) {
        // Without its timer the request would wait for ever; it is given up at once.
        pending_.pop_back();
        return Result::failure(kNoTimerText);
    }
    return {};
}

std::list<PendingRequest> RequestClient::takePending(PendingRequest* entry) {
    std::list<PendingRequest> taken;
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (&*it == entry) {
            taken.splice(taken.begin(), pending_, it);
            break;
        }
    }
    return taken;
}

void RequestClient::tick(PendingRequest* entry) {
    // A request that ends here leaves the list before the handlers run, so that they may
    // clear or extend the list; it lives until they return.
    if (entry->transmissions < settings_.retries) {
        if (Result sent = transmit(*entry->pdu); !sent) {
            std::list<PendingRequest> dropped = takePending(entry);
            entry->timer.stop();
            if (handlers_.onFailure) {
                handlers_.onFailure(sent.text());
            }
            if (!dropped.empty() && handlers_.onDropped) {
                handlers_.onDropped(*dropped.front().pdu);
            }
            return;
        }
        ++entry->transmissions;
        return;
    }
    std::list<PendingRequest> expired = takePending(entry);
    entry->timer.stop();
    if (!expired.empty() && handlers_.onTimeout) {
        handlers_.onTimeout(*expired.front().pdu);
    }
}

void RequestClient::readable() {
    uint8_t datagram[kResponseBufferSize];
    std::size_t length = sizeof datagram;
    SocketAddress source;
    int error = 0;
    if (!receiveDatagram(socket_.get(), datagram, length, source, &error)) {
        // A refused connection is the port-unreachable report of an earlier send.
        if (error == EAGAIN || error == EWOULDBLOCK || error == ECONNREFUSED) {
            return;
        }
        if (handlers_.onFailure) {
            handlers_.onFailure(Result::failuref(kReceiveErrorCodeText, error).text());
        }
        return;
    }
    snmp::Pdu response;
    Result decoded = snmp::decodeMessage(datagram, static_cast<uint32_t>(length), &response);
    if ((!decoded || response.version == snmp::kVersion3) && handlers_.onV3Message &&
        snmp::isV3Message(datagram, static_cast<uint32_t>(length))) {
        handlers_.onV3Message(datagram, length, source);
        return;
    }
    if (!decoded) {
        if (handlers_.onFailure) {
            handlers_.onFailure(decoded.text());
        }
        return;
    }
    if (response.type != snmp::kPduResponse) {
        const uint32_t type = response.type;
        if (handlers_.onRequest &&
            (type == snmp::kPduGetRequest || type == snmp::kPduGetNextRequest ||
             type == snmp::kPduGetBulkRequest || type == snmp::kPduSetRequest)) {
            handlers_.onRequest(response);
        }
        return;
    }
    PendingRequest* pending = findPending(response.requestId);
    if (pending == nullptr ||
        (handlers_.acceptsAnswerFrom && !handlers_.acceptsAnswerFrom(source))) {
        return;
    }
    pending->timer.stop();
    if (handlers_.onResponse) {
        // Nothing of the entry is touched after the handler: it may clear the list.
        handlers_.onResponse(response, source, *pending->pdu);
    }
}

PendingRequest* RequestClient::findPending(int32_t requestId) {
    for (PendingRequest& entry : pending_) {
        if (entry.requestId == requestId) {
            return &entry;
        }
    }
    return nullptr;
}

void RequestClient::removePending(const PendingRequest* entry) {
    pending_.remove_if([entry](const PendingRequest& candidate) { return &candidate == entry; });
}

}  // namespace korvimo
