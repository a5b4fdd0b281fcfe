#include "agent/agent_endpoint.h"

#include "snmp/v3_message.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace korvimo {

namespace {

bool isRequestType(uint32_t type) {
    return type == snmp::kPduGetRequest || type == snmp::kPduGetNextRequest ||
           type == snmp::kPduSetRequest || type == snmp::kPduGetBulkRequest;
}

// Datagrams read with one system call, each into room for the largest UDP payload over IPv4,
// so that no request is read in part: a larger one (over IPv6) comes marked as cut and is
// refused. Each datagram is scattered over two pieces: its first kRequestHeadSize bytes go
// to a head, the heads of the batch lying side by side as small buffers would, and the rest
// to a room of its own, which only a larger request touches (it is then joined to its head
// there). So ordinary requests keep the memory footprint of small buffers. The message
// headers point at the batch's own buffers once and for all, so that a read sets up nothing
// but the room for each source address: with one datagram waiting, as under light load,
// setting up the whole batch anew would cost more than serving the request.
constexpr std::size_t kRequestHeadSize = snmp::kMaxMessageSize;

struct RequestBatch {
    RequestBatch() {
        for (int i = 0; i < kRequestBatchSize; ++i) {
            vectors[i][0] = iovec{heads[i], kRequestHeadSize};
            vectors[i][1] =
                iovec{rooms[i] + kRequestHeadSize, kRequestBufferSize - kRequestHeadSize};
            messages[i].msg_hdr.msg_iov = vectors[i];
            messages[i].msg_hdr.msg_iovlen = 2;
            messages[i].msg_hdr.msg_name = sources[i].sa();
        }
    }
    RequestBatch(const RequestBatch&) = delete;
    RequestBatch& operator=(const RequestBatch&) = delete;

    // The datagram i in one piece.
    const uint8_t* datagram(int i) {
        if (lengths[i] <= kRequestHeadSize) {
            return heads[i];
        }
        std::memcpy(rooms[i], heads[i], kRequestHeadSize);
        return rooms[i];
    }

    uint8_t heads[kRequestBatchSize][kRequestHeadSize];
    std::size_t lengths[kRequestBatchSize] = {};
    bool truncated[kRequestBatchSize] = {};
    SocketAddress sources[kRequestBatchSize];
    mmsghdr messages[kRequestBatchSize] = {};
    iovec vectors[kRequestBatchSize][2];
    int count = 0;
    uint8_t rooms[kRequestBatchSize][kRequestBufferSize];
};

// Batches are only in use while a readiness report is being served, so every endpoint of
// the thread (a process may simulate thousands of agents) shares them: one per depth of
// nested loop turns.
class BatchPool {
  public:
    RequestBatch& acquire() {
        if (depth_ == batches_.size()) {
            batches_.push_back(std::make_unique<RequestBatch>());
        }
        return *batches_[depth_++];
    }
    void release() { --depth_; }

  private:
    std::vector<std::unique_ptr<RequestBatch>> batches_;
    std::size_t depth_ = 0;
};

thread_local BatchPool batchPool;

// Reads what is waiting, at most a batch; count 0 when nothing was.
Result readBatch(int socket, RequestBatch& batch) {
    for (mmsghdr& message : batch.messages) {
        message.msg_hdr.msg_namelen = sizeof(sockaddr_storage);
    }
    batch.count = 0;
    int n;
    do {
        n = ::recvmmsg(socket, batch.messages, kRequestBatchSize, MSG_DONTWAIT, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {};
        }
        return Result::failuref(kReceiveErrorCodeText, errno);
    }
    for (int i = 0; i < n; ++i) {
        batch.lengths[i] = batch.messages[i].msg_len;
        batch.truncated[i] = (batch.messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        batch.sources[i].length = batch.messages[i].msg_hdr.msg_namelen;
    }
    batch.count = n;
    return {};
}

}  // namespace

Result AgentEndpoint::open(IpVersion ipVersion, const uint8_t* localAddress, uint16_t port,
                           int* bindError) {
    close();
    UniqueFd socket;
    if (Result opened = openAgentSocket(ipVersion, socket, localAddress, port, bindError);
        !opened) {
        return opened;
    }
    return watch(std::move(socket));
}

Result AgentEndpoint::openIpx(const uint8_t* address, std::size_t count, uint16_t socketNumber) {
    close();
    UniqueFd socket;
    if (Result opened = openIpxAgentSocket(socket, address, count, socketNumber); !opened) {
        return opened;
    }
    return watch(std::move(socket));
}

Result AgentEndpoint::watch(UniqueFd socket) {
    ++generation_;
    return socket_.watch(loop_, std::move(socket), [this] { readable(); });
}

void AgentEndpoint::close() {
    socket_.close();
    ++generation_;
}

AgentEndpoint::~AgentEndpoint() {
    if (destroyed_ != nullptr) {
        *destroyed_ = true;
    }
}

void AgentEndpoint::readable() {
    RequestBatch& batch = batchPool.acquire();
    // Gives the batch back however the serving ends, and tells a turn around this one (a
    // handler of an outer batch that ran this turn) when the endpoint went.
    struct Frame {
        AgentEndpoint* endpoint;
        bool* outer;
        bool destroyed = false;
        ~Frame() {
            batchPool.release();
            if (destroyed) {
                if (outer != nullptr) {
                    *outer = true;
                }
            } else {
                endpoint->destroyed_ = outer;
            }
        }
    } frame{this, destroyed_};
    destroyed_ = &frame.destroyed;

    if (Result read = readBatch(socket_.get(), batch); !read) {
        if (handlers_.onFailure) {
            handlers_.onFailure(read.text());
        }
        return;
    }
    const uint64_t generation = generation_;
    for (int i = 0; i < batch.count; ++i) {
        Result served = batch.truncated[i]
                            ? Result::failuref(kReceiveErrorCodeText, EMSGSIZE)
                            : serve(batch.datagram(i), batch.lengths[i], batch.sources[i]);
        if (frame.destroyed || generation_ != generation) {
            return;
        }
        if (!served && handlers_.onFailure) {
            handlers_.onFailure(served.text());
            if (frame.destroyed) {
                return;
            }
        }
    }
}

Result AgentEndpoint::serve(const uint8_t* datagram, std::size_t length,
                            const SocketAddress& source) {
    if (length == 0) {
        return Result::failuref(kReceiveErrorCodeText, 0);
    }
    snmp::Pdu request;
    Result decoded = snmp::decodeMessage(datagram, static_cast<uint32_t>(length), &request);
    if ((!decoded || request.version == snmp::kVersion3) && handlers_.onV3Message &&
        snmp::isV3Message(datagram, static_cast<uint32_t>(length))) {
        handlers_.onV3Message(datagram, length, source);
        return {};
    }
    if (!decoded) {
        int32_t version = 0;
        if (handlers_.onOtherVersion &&
            snmp::peekMessageVersion(datagram, static_cast<uint32_t>(length), version) &&
            version != static_cast<int32_t>(snmp::kVersion1) &&
            version != static_cast<int32_t>(snmp::kVersion2c)) {
            handlers_.onOtherVersion(version);
            return {};
        }
        return decoded;
    }
    if (isRequestType(request.type) && handlers_.onRequest) {
        handlers_.onRequest(request, source);
    }
    return {};
}

}  // namespace korvimo
