#include "agent/agent.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "agent/message_sending.h"
#include "app/core/configuration.h"
#include "app/core/status_list.h"
#include "base/regular_file.h"

namespace korvimo {

Agent::Agent(Services services)
    : services_(std::move(services)),
      refresh_(services_.loop, services_.status, statistics_),
      endpoint_(services_.loop,
                {[this](const snmp::Pdu& request, const SocketAddress& from) {
                     handler_.onRequest(request, from);
                 },
                 [this](std::string_view why) { services_.status.append(why); },
                 [this](int32_t version) { handler_.onOtherVersion(version); },
                 [this](const uint8_t* bytes, std::size_t length, const SocketAddress& from) {
                     handler_.onV3Message(bytes, length, from);
                 }}),
      handler_({settings_, store_, statistics_, refresh_, log_,
                services_.replyEndpoint != nullptr ? *services_.replyEndpoint : endpoint_,
                services_.status}) {
    refresh_.setEnabled(services_.showStatistics);
}

Agent::~Agent() {
    release();
}

Result Agent::openControlFile(const std::string& path) {
    controlFile_.reset();
    // Only a regular file: a directory, a device that never ends or a FIFO that waits for a
    // writer is no control file.
    UniqueFd file;
    if (Result opened = openRegularFile(path, file); !opened) {
        return withReason(Result::failuref(kCannotOpenControlFileText, path.c_str()), opened);
    }
    controlFile_ = std::move(file);
    return {};
}

Result openDebugLogFile(DebugLog& log, const Configuration* config, const std::string& path,
                        std::string_view shownName, std::function<void(const char* line)> report,
                        bool timestamp, const Clock& clock) {
    // DEBUGMAXSIZE is read at every start and reload.
    std::string maxSize;
    if (config != nullptr) {
        config->readPlain(ConfigKey::DEBUGMAXSIZE, maxSize);
    }
    log.setSizeLimit(debugMaxSizeFromText(maxSize));
    log.setReport(std::move(report), std::string(shownName));
    if (log.isOpen()) {
        return {};  // kept by a reload: it goes on where it was
    }
    if (Result created = log.create(path); !created) {
        return withReason(Result::failuref(kCannotOpenDebugLogText, std::string(shownName).c_str()),
                          created);
    }
    log.setTimestamp(timestamp, &clock);
    return {};
}

Result Agent::openDebugLog(const std::string& path, std::string_view shownName) {
    return openDebugLogFile(
        log_, services_.config, path, shownName,
        [this](const char* line) { services_.status.append(line); }, settings_.timestamp,
        services_.loop.clock());
}

Result openAgentEndpoint(AgentEndpoint& endpoint, IpVersion ipVersion, const AgentAddress& where) {
    const std::optional<long> portNumber = agentPortFromText(where.port);
    if (!portNumber) {
        return Result::failuref(kInvalidAgentPortText, where.port.c_str());
    }
    const long port = *portNumber;

    if (!where.ipx.empty()) {
        const snmp::Octets bytes = octetTextToBytes(where.ipx);
        if (bytes.length() != kIpxAddressBytes) {
            return Result::failuref(kInvalidIpxAddressText, where.ipx.c_str());
        }
        if (Result opened = endpoint.openIpx(bytes.bytes.data(), bytes.bytes.size(),
                                             static_cast<uint16_t>(port));
            !opened) {
            return Result::failuref(kIpxSocketFailedText, opened.c_str(),
                                    port == 0 ? kDefaultIpxSocketNumber : static_cast<int>(port));
        }
        return {};
    }

    uint8_t address[16] = {};
    const uint8_t* local = nullptr;
    if (!where.address.empty()) {
        bool readable = false;
        if (ipVersion == IpVersion::IPv6) {
            in_addr v4{};
            if (::inet_pton(AF_INET6, where.address.c_str(), address) == 1) {
                readable = true;
            } else if (::inet_pton(AF_INET, where.address.c_str(), &v4) == 1) {
                // The IPv4-mapped form ::ffff:a.b.c.d.
                address[10] = 0xFF;
                address[11] = 0xFF;
                std::memcpy(address + 12, &v4, 4);
                readable = true;
            }
        } else {
            readable = ::inet_pton(AF_INET, where.address.c_str(), address) == 1;
        }
        if (!readable) {
            return Result::failuref(kInvalidAgentAddressText, where.address.c_str());
        }
        local = address;
    }
    int bindError = 0;
    if (Result opened = endpoint.open(ipVersion, local, static_cast<uint16_t>(port), &bindError);
        !opened) {
        return withReason(Result::failuref(kAgentSocketFailedText, opened.c_str(),
                                           port == 0 ? kDefaultAgentPort : static_cast<int>(port)),
                          bindFailureAdvice(bindError, static_cast<uint16_t>(port)));
    }
    return {};
}

Result Agent::openEndpoint(const AgentAddress& where) {
    if (endpoint_.isOpen()) {
        return {};
    }
    return openAgentEndpoint(endpoint_, settings_.ipVersion, where);
}

void Agent::useMibInfo(std::shared_ptr<const mibinfo::MibInfo> mibInfo) {
    mibInfo_ = std::move(mibInfo);
    log_.setMibInfo(mibInfo_);
}

void Agent::readMaxMessageSize() {
    if (services_.config != nullptr) {
        std::string size;
        services_.config->readPlain(ConfigKey::MAXMSGSIZE, size);
        settings_.maxMessageSize = maxMessageSizeFromText(size);
    }
}

bool Agent::attach(std::shared_ptr<const store::LoadedControlFile> loaded, int64_t startTime,
                   std::optional<uint32_t> seed) {
    startTime_ = startTime;
    startMs_ = services_.loop.clock().monotonicMs();
    readMaxMessageSize();
    return store_.attach(std::move(loaded), &services_.loop.clock(), startMs_, seed);
}

uint32_t Agent::upTimeTicks() const {
    const uint64_t now = services_.loop.clock().monotonicMs();
    return static_cast<uint32_t>(now > startMs_ ? (now - startMs_) / 10 : 0);
}

bool Agent::load(int64_t startTime, const std::string& attributeFilePath) {
    startTime_ = startTime;
    startMs_ = services_.loop.clock().monotonicMs();
    readMaxMessageSize();
    store::LoadInputs inputs;
    inputs.controlFile = controlFile_.get();
    inputs.attributeFilePath = attributeFilePath;
    inputs.mibInfo = mibInfo_;
    inputs.clock = &services_.loop.clock();
    inputs.startMs = startMs_;
    inputs.config = services_.config;
    inputs.report = [this](const char* line) { services_.status.append(line); };
    inputs.messageBox = [this](const char* title, const char* text) { showMessage(title, text); };
    inputs.stopRequested = services_.stopRequested;
    return store_.loadControlFile(inputs);
}

Result Agent::enableV3(EngineIdentity engine, std::shared_ptr<const PreparedUsers> users,
                       std::string contextName) {
    disableV3();
    auto security =
        std::make_unique<V3Security>(std::move(engine), std::move(users), std::move(contextName),
                                     services_.loop.clock(), snmp::kMaxDatagramSize);
    if (Result started = security->start(); !started) {
        return started;
    }
    security_ = std::move(security);
    handler_.setSecurity(security_.get());
    return {};
}

void Agent::disableV3() {
    handler_.setSecurity(nullptr);
    security_.reset();
}

void Agent::serve() {
    statistics_ = AgentStatistics{};
    refresh_.cancel();
    handler_.setServing(true);
}

void Agent::stop() {
    handler_.setServing(false);
    // The statistics lines show the last request before anything goes below them.
    refresh_.flush();
}

void Agent::release() {
    unload();
    log_.close();
    endpoint_.close();
}

void Agent::unload() {
    handler_.setServing(false);
    disableV3();
    refresh_.cancel();
    store_.releaseStore();
    controlFile_.reset();
    log_.setMibInfo(nullptr);
    mibInfo_.reset();
}

void Agent::showMessage(const char* title, const char* text) {
    if (services_.messageBox) {
        services_.messageBox(title, text);
    } else {
        services_.status.append(text);
    }
}

}  // namespace korvimo
