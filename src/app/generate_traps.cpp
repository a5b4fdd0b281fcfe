#include "app/generate_traps.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>

#include "agent/agent_settings.h"
#include "agent/message_sending.h"
#include "base/text.h"

namespace korvimo::app {

namespace {

// Longest texts taken from the form, as the dialog's buffers take them.
constexpr std::size_t kFormTextLimit = 199;
constexpr uint16_t kDefaultTrapPort = 162;
// Informs without a usable TIMEOUT1 or RETRIES1.
constexpr uint32_t kDefaultInformTimeoutMs = 1000;
constexpr int32_t kDefaultInformRetries = 3;
// A paced storm never sends more than this in one tick, however far behind it fell.
constexpr uint64_t kPacedBatchLimit = 4 * kStormBatch;
constexpr uint64_t kProgressIntervalMs = 1000;
// The step timer of an unpaced storm.
constexpr uint32_t kUnpacedRetryMs = 1;

std::string cut(const std::string& text, std::size_t limit) {
    return text.size() > limit ? text.substr(0, limit) : text;
}

// A history's head read as a number, as the start-up settings read TIMEOUT and RETRIES (0 when
// it is absent or empty).
long historyNumber(const Configuration& config, ConfigKey key) {
    return readSettingNumber(config.readHistoryHead(key));
}

}  // namespace

GenerateTraps::GenerateTraps(GenerateTrapsContext context)
    : context_(context),
      client_(context.loop, context.requestIds,
              {[this](const snmp::Pdu&, const SocketAddress&, const snmp::Pdu& request) {
                   informEnded(request.requestId, InformEnd::Acknowledged);
               },
               [this](const snmp::Pdu& request) {
                   informEnded(request.requestId, InformEnd::TimedOut);
               },
               // The client endpoint's failures: a datagram from anyone that does not decode
               // is one, so alike lines are held back.
               [this](std::string_view why) {
                   failureLines_.print(why, context_.loop.clock().monotonicMs());
               },
               // Its retransmission failed; the reason is on the list already.
               [this](const snmp::Pdu& request) {
                   informEnded(request.requestId, InformEnd::Dropped);
               }}),
      failureLines_([this](const std::string& line) { status_.append(line); }) {
    status_.setLineLimit(kTrapsStatusLineLimit, 0);
}

GenerateTraps::~GenerateTraps() {
    readyWatch_.reset();
    stepTimer_.stop();
    client_.close();
}

void GenerateTraps::dialogStart() {
    allSelected_ = false;
    form_.trapFile.clear();  // a new dialog has loaded nothing yet
    form_.selected.clear();
    managers_ = context_.config.historyValues(ConfigKey::MGRIPADDRESS);
    communities_ = context_.config.historyValues(ConfigKey::TCOMMUNITY);
    form_.manager = managers_.empty() ? std::string() : managers_.front();
    form_.community = communities_.empty() ? std::string() : communities_.front();
    loaded_ = false;
    client_.close();
    if (Result opened = client_.open(options_.ipVersion); !opened) {
        status_.append(opened.text());
    }
}

const std::vector<std::string>& GenerateTraps::history(TrapsList list) const {
    return list == TrapsList::Manager ? managers_ : communities_;
}

Result GenerateTraps::openTrapFile() {
    fileOpen_ = false;
    const std::string path =
        controlFilePath(installDirectory(context_.config), cut(form_.trapFile, kFormTextLimit));
    if (Result read = file_.read(path); !read) {
        return withReason(Result::failuref(kTrapFileOpenFailedFormat, path.c_str()), read);
    }
    fileOpen_ = true;
    return {};
}

bool GenerateTraps::load() {
    if (sending_) {
        status_.append(kAlreadySendingText);
        return false;
    }
    status_.clear();
    if (!context_.mibInfo.current(context_.config)) {
        status_.append(formatText(kMibInfoMissingFormat, kMibInfoMissingPath));
        return false;
    }
    if (Result opened = openTrapFile(); !opened) {
        loaded_ = false;
        status_.append(opened.text());
        return false;
    }
    context_.config.pushHistory(ConfigKey::TRAPFILE, cut(form_.trapFile, kFormTextLimit));
    form_.selected.clear();
    allSelected_ = false;
    loaded_ = true;
    return true;
}

bool GenerateTraps::selectAll() {
    form_.selected.clear();
    if (!allSelected_) {
        for (std::size_t position = 0; position < file_.names().size(); ++position) {
            form_.selected.push_back(position);
        }
    }
    allSelected_ = !allSelected_;
    return allSelected_;
}

bool GenerateTraps::sending() const {
    return sending_;
}

bool GenerateTraps::send() {
    if (sending_) {
        status_.append(kAlreadySendingText);
        return false;
    }
    status_.clear();
    std::shared_ptr<const mibinfo::MibInfo> mib = context_.mibInfo.current(context_.config);
    if (!mib) {
        status_.append(formatText(kMibInfoMissingFormat, kMibInfoMissingPath));
        return false;
    }
    if (!fileOpen_) {
        if (Result opened = openTrapFile(); !opened) {
            status_.append(opened.text());
            return false;
        }
    }

    const std::string manager = cut(form_.manager, kFormTextLimit);
    SocketAddress peer;
    if (manager.empty() || !resolveAddress(manager.c_str(), peer)) {
        status_.append(kInvalidManagerText);
        return false;
    }
    const int family = options_.ipVersion == IpVersion::IPv6 ? AF_INET6 : AF_INET;
    if (peer.family() != family) {
        status_.append(kManagerVersionMismatchText);
        return false;
    }
    context_.config.pushHistory(ConfigKey::MGRIPADDRESS, manager);

    std::vector<std::size_t> positions = form_.selected;
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    if (positions.empty()) {
        status_.append(kNoTrapsSelectedText);
        return false;
    }
    community_ = cut(cut(form_.community, kFormTextLimit), kCommunityCapacity);

    // Where the traps go and how informs are retransmitted.
    std::string value;
    if (options_.port) {
        port_ = *options_.port;
    } else if (context_.config.readPlain(ConfigKey::TRAPPORT, value) && !value.empty()) {
        // A whole number, blanks around it allowed, as AGENTPORT is read; 0 is no trap port.
        const std::optional<long> port = agentPortFromText(value);
        if (!port || *port == 0) {
            status_.append(formatText(kTrapPortInvalidFormat, value.c_str()));
            return false;
        }
        port_ = static_cast<uint16_t>(*port);
    } else {
        port_ = kDefaultTrapPort;
    }
    RequestClient::Settings& settings = client_.settings();
    settings.peerAddress = peer;
    settings.peerPort = port_;
    if (options_.timeoutMs) {
        settings.timeoutMs = std::max<uint32_t>(*options_.timeoutMs, 1);
    } else {
        const long seconds = historyNumber(context_.config, ConfigKey::TIMEOUT);
        settings.timeoutMs = seconds >= 1 && seconds <= 86400
                                 ? static_cast<uint32_t>(seconds) * 1000
                                 : kDefaultInformTimeoutMs;
    }
    if (options_.retries) {
        settings.retries = std::max<int32_t>(*options_.retries, 1);
    } else {
        const long retries = historyNumber(context_.config, ConfigKey::RETRIES);
        settings.retries = retries >= 1 && retries <= 1000
                               ? static_cast<int32_t>(retries)
                               : kDefaultInformRetries;
    }

    // Looked up once for the whole transmission.
    if (!localIPv4Address(agentAddr_)) {
        std::fill(std::begin(agentAddr_), std::end(agentAddr_), uint8_t{0});
    }
    keepTrailingZero_ =
        context_.config.readPlain(ConfigKey::SV2TOV1TRAPNOZERO, value) && value == "NO";

    mib_ = std::move(mib);
    sendKind_ = kind_;  // each trap is prepared for the kind chosen at Send
    entries_.clear();
    entries_.reserve(positions.size());
    for (const std::size_t position : positions) {
        entries_.push_back(Entry{.position = position});
    }
    informs_.clear();
    client_.clearPending();
    cursor_ = 0;
    total_ = std::max<uint64_t>(options_.repeat, 1) * entries_.size();
    summary_ = {};
    startMs_ = context_.loop.clock().monotonicMs();
    progressMs_ = startMs_;
    progressSent_ = 0;

    uint32_t period = kTrapTickMs;
    if (options_.rate && *options_.rate > 0) {
        period = std::clamp<uint32_t>(1000 / *options_.rate, 1, kTrapTickMs);
    }
    if (options_.rate && *options_.rate == 0) {
        ready_.reset(::eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!ready_ || !watchReady()) {
            ready_.reset();
            return false;
        }
        // The step timer still runs, for the progress lines and the completion, and tries
        // again each millisecond while the sending is paused.
        period = kUnpacedRetryMs;
    }
    stepTimer_ = context_.loop.startTimer(period, [this] { stepTimerTick(); });
    if (!stepTimer_.running()) {
        readyWatch_.reset();
        ready_.reset();
        return false;
    }
    sending_ = true;
    status_.append(kTransmissionStartedText);
    return true;
}

void GenerateTraps::stepTimerTick() {
    if (!sending_) {
        stepTimer_.stop();
        return;
    }
    if (!options_.rate) {
        sendBatch(1);
    } else if (*options_.rate == 0) {
        if (ready_ && !readyWatch_.active()) {
            sendBatch(kStormBatch);  // a paused storm tries again
        }
    } else {
        // As many as are due by now at the rate, the first at once.
        const uint64_t elapsed = context_.loop.clock().monotonicMs() - startMs_;
        const uint64_t due = std::min<uint64_t>(total_, elapsed * *options_.rate / 1000 + 1);
        if (due > cursor_) {
            sendBatch(static_cast<std::size_t>(std::min(due - cursor_, kPacedBatchLimit)));
        }
    }
    if (!sending_) {
        return;
    }
    const uint64_t nowMs = context_.loop.clock().monotonicMs();
    failureLines_.tick(nowMs);
    progressLine(nowMs);
    checkCompletion();
}

void GenerateTraps::sendBatch(std::size_t budget) {
    if (!sending_) {
        return;
    }
    const uint32_t stamp = currentTimeStamp();
    bool paused = false;
    for (std::size_t n = 0; n < budget && cursor_ < total_ && sending_; ++n) {
        if (sendKind_ == traps::TrapKind::Inform && informs_.size() >= kMaxPendingInforms) {
            paused = true;  // until answers or time-outs make room
            break;
        }
        Entry& entry = entries_[cursor_ % entries_.size()];
        const SendOutcome outcome = sendOne(entry, stamp);
        if (outcome == SendOutcome::Again) {
            paused = true;  // the endpoint's queue is full: this trap goes again
            break;
        }
        ++cursor_;
        if (outcome == SendOutcome::Sent) {
            ++summary_.sent;
        } else {
            ++summary_.skipped;
        }
    }
    if (cursor_ >= total_) {
        // Every trap went out; what is left is waiting for informs' answers.
        readyWatch_.reset();
        ready_.reset();
    } else if (ready_) {
        // An unpaced storm watches its always-readable descriptor only while it can send;
        // paused (at the cap of informs, or a full send queue: EAGAIN, ENOBUFS), it leaves the
        // tries to the step timer rather than spin, and watches again after a send.
        if (paused) {
            readyWatch_.reset();
        } else if (!readyWatch_.active()) {
            watchReady();
        }
    }
    if (ready_) {
        return;  // the step timer looks at the progress and the completion
    }
    checkCompletion();
}

bool GenerateTraps::watchReady() {
    readyWatch_ = context_.loop.watch(ready_.get(), [this] { sendBatch(kStormBatch); });
    return readyWatch_.active();
}

uint32_t GenerateTraps::currentTimeStamp() const {
    const int64_t start = context_.agent != nullptr ? context_.agent->startTime() : 0;
    const int64_t uptime = context_.loop.clock().calendarSeconds() - start;
    // Hundredths of a second, kept to 32 bits as TimeTicks are.
    return static_cast<uint32_t>(static_cast<uint64_t>(uptime) * 100u);
}

GenerateTraps::SendOutcome GenerateTraps::sendOne(Entry& entry, uint32_t stamp) {
    if (!entry.prepared) {
        entry.prepared = true;
        if (Result prepared = traps::prepareTrap(file_, entry.position, mib_.get(), sendKind_,
                                                 keepTrailingZero_, entry.trap);
            !prepared) {
            entry.failed = true;
            if (!prepared.text().empty()) {
                status_.append(prepared.text());
            }
        }
    }
    if (entry.failed) {
        return SendOutcome::Skipped;
    }
    const std::string& name = entry.trap.definition.name;

    if (sendKind_ == traps::TrapKind::Inform) {
        // Each inform takes a request-id of its own, so its message is built anew.
        const int32_t requestId = static_cast<int32_t>(context_.requestIds.take());
        std::unique_ptr<snmp::Pdu> pdu;
        if (Result built = traps::buildTrapPdu(entry.trap, sendKind_, community_, agentAddr_, stamp,
                                               requestId, pdu);
            !built) {
            status_.append(built.text());
            return SendOutcome::Skipped;
        }
        if (Result sent = client_.send_new_request(std::move(pdu)); !sent) {
            status_.append(sent.text());
            return SendOutcome::Skipped;
        }
        informs_.emplace(requestId, name);
    } else {
        if (entry.datagram.empty() || entry.datagramStamp != stamp) {
            entry.datagram.clear();
            std::unique_ptr<snmp::Pdu> pdu;
            if (Result built = traps::buildTrapPdu(entry.trap, sendKind_, community_, agentAddr_,
                                                   stamp, 1, pdu);
                !built) {
                status_.append(built.text());
                return SendOutcome::Skipped;
            }
            uint8_t message[snmp::kMaxMessageSize];
            uint32_t size = sizeof message;
            if (!snmp::SnmpEncodeMsg(pdu.get(), message, &size)) {
                status_.append(kEncodeMsgFailedText);
                return SendOutcome::Skipped;
            }
            entry.datagram.assign(message, message + size);
            entry.datagramStamp = stamp;
        }
        int error = 0;
        if (!client_.sendToPeer(entry.datagram.data(), entry.datagram.size(), port_, error)) {
            if (ready_ && (error == EAGAIN || error == ENOBUFS)) {
                return SendOutcome::Again;
            }
            status_.append(kSendUdpTrapFailedText);
            return SendOutcome::Skipped;
        }
    }
    if (!storm()) {
        status_.append(formatText(kProcessingFormat, name.c_str()));
    }
    return SendOutcome::Sent;
}

void GenerateTraps::progressLine(uint64_t nowMs) {
    if (!storm() || nowMs - progressMs_ < kProgressIntervalMs) {
        return;
    }
    const uint64_t perSecond = (summary_.sent - progressSent_) * 1000 / (nowMs - progressMs_);
    status_.append(formatText(kStormProgressFormat, static_cast<unsigned long long>(summary_.sent),
                              static_cast<unsigned long long>(perSecond)));
    progressMs_ = nowMs;
    progressSent_ = summary_.sent;
}

void GenerateTraps::informEnded(int32_t requestId, InformEnd end) {
    const auto found = informs_.find(requestId);
    if (found == informs_.end()) {
        return;  // of a transmission that ended, or answered twice
    }
    if (end == InformEnd::Acknowledged) {
        ++summary_.acknowledged;
        if (!storm()) {
            status_.append(formatText(kInformAcknowledgedFormat, found->second.c_str()));
        }
        client_.removePending(client_.findPending(requestId));
    } else {
        ++summary_.unacknowledged;
        if (end == InformEnd::TimedOut && !storm()) {
            status_.append(formatText(kInformUnacknowledgedFormat, found->second.c_str(),
                                      static_cast<int>(client_.settings().retries)));
        }
    }
    informs_.erase(found);
    checkCompletion();
}

void GenerateTraps::checkCompletion() {
    if (sending_ && cursor_ >= total_ && informs_.empty()) {
        failureLines_.flush();
        status_.append(kTransmissionCompletedText);
        if (sendKind_ == traps::TrapKind::Inform) {
            status_.append(formatText(kInformSummaryFormat,
                                      static_cast<unsigned long long>(summary_.acknowledged),
                                      static_cast<unsigned long long>(summary_.unacknowledged)));
        }
        finish(true);
    }
}

void GenerateTraps::finish(bool completed) {
    sending_ = false;
    stepTimer_.stop();
    readyWatch_.reset();
    ready_.reset();
    summary_.elapsedMs = context_.loop.clock().monotonicMs() - startMs_;
    summary_.completed = completed;
    // The trap file is read again by the next Send; mibinfo.out is asked for again too.
    fileOpen_ = false;
    mib_.reset();
    entries_.clear();
    informs_.clear();
    client_.clearPending();
    if (onFinished) {
        onFinished();
    }
}

void GenerateTraps::close() {
    const bool wasSending = sending_;
    community_.clear();
    failureLines_.flush();
    if (wasSending) {
        status_.append(kTransmissionStoppedText);
        finish(false);
    }
    fileOpen_ = false;
    mib_.reset();
    stepTimer_.stop();
    client_.close();
}

}  // namespace korvimo::app
