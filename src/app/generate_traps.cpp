#include "app/generate_traps.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>

#include "agent/agent_settings.h"
#include "agent/message_sending.h"
#include "app/snmpv3_setup.h"
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

uint32_t informTimeoutMs(const Configuration& config) {
    const long seconds = historyNumber(config, ConfigKey::TIMEOUT);
    return seconds >= 1 && seconds <= 86400 ? static_cast<uint32_t>(seconds) * 1000
                                            : kDefaultInformTimeoutMs;
}

int32_t informRetries(const Configuration& config) {
    const long retries = historyNumber(config, ConfigKey::RETRIES);
    return retries >= 1 && retries <= 1000 ? static_cast<int32_t>(retries) : kDefaultInformRetries;
}

bool keepV1TrailingZero(const Configuration& config) {
    std::string value;
    return config.readPlain(ConfigKey::SV2TOV1TRAPNOZERO, value) && value == "NO";
}

bool findUser(const std::vector<snmp::UsmUser>& users, std::string_view name, snmp::UsmUser& user) {
    for (const snmp::UsmUser& candidate : users) {
        if (candidate.name == name) {
            user = candidate;
            return true;
        }
    }
    return false;
}

Result userFromText(const std::string& home, std::string_view text, snmp::UsmUser& user) {
    const std::string_view trimmed = trimBlanks(text);
    if (trimmed.empty()) {
        return Result::failure(kV3NoUserText);
    }
    if (trimmed.find_first_of(" \t") != std::string_view::npos) {
        bool isUser = false;
        if (Result r = snmp::parseUserLine(trimmed, user, &isUser); !r || !isUser) {
            return r ? Result::failure(kV3NoUserText)
                     : Result::failuref(kV3UserLineFormat, r.c_str());
        }
        return {};
    }
    std::vector<snmp::UsmUser> users;
    if (Result r = loadUsers(home, {}, users); !r) {
        return r;
    }
    const std::string name(trimmed);
    if (!findUser(users, name, user)) {
        return Result::failuref(kV3UnknownUserFormat, name.c_str(),
                                (home + kUsersFileName).c_str());
    }
    return {};
}

GenerateTraps::GenerateTraps(GenerateTrapsContext context)
    : context_(context),
      client_(
          context.loop, context.requestIds,
          {[this](const snmp::Pdu&, const SocketAddress&, const snmp::Pdu& request) {
               informEnded(request.requestId, InformEnd::Acknowledged);
           },
           [this](const snmp::Pdu& request) { unanswered(request.requestId, InformEnd::TimedOut); },
           // The client endpoint's failures: a datagram from anyone that does not decode
           // is one, so alike lines are held back.
           [this](std::string_view why) {
               failureLines_.print(why, context_.loop.clock().monotonicMs());
           },
           // Its retransmission failed; the reason is on the list already.
           [this](const snmp::Pdu& request) { unanswered(request.requestId, InformEnd::Dropped); },
           {},
           {},
           [this](const snmp::Pdu& request, uint8_t* out, uint32_t* size) {
               return encodeV3(request, out, size);
           },
           [this](const uint8_t* bytes, std::size_t length, const SocketAddress&) {
               v3Message(bytes, length);
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
    settings.timeoutMs = options_.timeoutMs ? std::max<uint32_t>(*options_.timeoutMs, 1)
                                            : informTimeoutMs(context_.config);
    settings.retries =
        options_.retries ? std::max<int32_t>(*options_.retries, 1) : informRetries(context_.config);

    // Looked up once for the whole transmission.
    if (!localIPv4Address(agentAddr_)) {
        std::fill(std::begin(agentAddr_), std::end(agentAddr_), uint8_t{0});
    }
    keepTrailingZero_ = keepV1TrailingZero(context_.config);

    v3_.reset();
    v3EngineLine_.clear();
    discovery_ = Discovery::None;
    msgIds_.clear();
    // msgIDs start where nobody can guess them, so that a forged answer must see ours first.
    if (uint32_t start = 0; snmp::randomBytes(reinterpret_cast<uint8_t*>(&start), sizeof start)) {
        nextMsgId_ = static_cast<int32_t>(start % 0x7FFFFFFEu) + 1;
    }
    if (traps::isV3(kind_) && !startV3()) {
        return false;
    }

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
    if (!v3EngineLine_.empty()) {
        status_.append(v3EngineLine_);
    }
    return true;
}

std::vector<std::string> GenerateTraps::userNames() const {
    std::vector<snmp::UsmUser> users;
    std::vector<std::string> names;
    if (loadUsers(installDirectory(context_.config), {}, users)) {
        for (const snmp::UsmUser& user : users) {
            names.push_back(user.name);
        }
    }
    return names;
}

bool GenerateTraps::startV3() {
    const std::string home = installDirectory(context_.config);
    snmp::UsmUser user;
    if (options_.v3User) {
        user = *options_.v3User;
    } else if (Result found = userFromText(home, form_.user, user); !found) {
        status_.append(found.text());
        return false;
    }
    auto notifier = std::make_unique<traps::V3Notifier>();
    if (Result prepared = notifier->setUser(user); !prepared) {
        status_.append(formatText(kV3UserKeysFormat, user.name.c_str(), prepared.c_str()));
        return false;
    }
    if (kind_ == traps::TrapKind::V3Notification) {
        // We are the traps' authoritative engine: its boots count every transmission, its
        // time the seconds since this one started.
        EngineIdentity engine;
        std::vector<std::string> notes;
        if (Result started = startEngine(home, kTrapsEngineKey, engine, &notes); !started) {
            status_.append(started.text());
            return false;
        }
        for (const std::string& note : notes) {
            status_.append(note);
        }
        if (options_.engineId) {
            engine.engineId = *options_.engineId;
        }
        if (Result set = notifier->setEngine(engine.engineId, engine.boots, 0,
                                             context_.loop.clock().monotonicMs());
            !set) {
            status_.append(formatText(kV3UserKeysFormat, user.name.c_str(), set.c_str()));
            return false;
        }
        v3EngineLine_ = formatText(kV3TrapEngineFormat, hexText(engine.engineId).c_str());
    }
    v3_ = std::move(notifier);
    return true;
}

int32_t GenerateTraps::takeMsgId() {
    const int32_t msgId = nextMsgId_;
    nextMsgId_ = nextMsgId_ == INT32_MAX ? 1 : nextMsgId_ + 1;
    return msgId;
}

bool GenerateTraps::startDiscovery() {
    // An empty Get: any engine answers it with the Report of its identity.
    auto probe = std::make_unique<snmp::Pdu>();
    probe->version = snmp::kVersion3;
    probe->type = snmp::kPduGetRequest;
    probe->requestId = static_cast<int32_t>(context_.requestIds.take());
    discoveryRequestId_ = probe->requestId;
    discovery_ = Discovery::Waiting;
    if (Result sent = client_.send_new_request(std::move(probe)); !sent) {
        discovery_ = Discovery::Failed;
        status_.append(formatText(kV3DiscoveryRefusedFormat, sent.c_str()));
        return false;
    }
    return true;
}

Result GenerateTraps::encodeV3(const snmp::Pdu& request, uint8_t* out, uint32_t* size) {
    if (!v3_) {
        return Result::failure(kEncodeV3MissingText);
    }
    const int32_t msgId = takeMsgId();
    const bool probe = discovery_ == Discovery::Waiting && request.requestId == discoveryRequestId_;
    if (Result encoded =
            probe
                ? traps::V3Notifier::encodeDiscovery(msgId, request.requestId, out, size)
                : v3_->encode(request, msgId, true, context_.loop.clock().monotonicMs(), out, size);
        !encoded) {
        return encoded;
    }
    msgIds_[msgId] = request.requestId;
    if (const auto inform = informs_.find(request.requestId); inform != informs_.end()) {
        inform->second.msgIds.push_back(msgId);
    }
    return {};
}

void GenerateTraps::v3Message(const uint8_t* bytes, std::size_t length) {
    if (!sending_ || !v3_ || !traps::isInform(sendKind_)) {
        return;  // traps are not answered; what comes after the end is late
    }
    const uint64_t nowMs = context_.loop.clock().monotonicMs();
    answer_.assign(bytes, bytes + length);
    traps::V3Answer answer;
    if (Result opened = v3_->open(answer_.data(), static_cast<uint32_t>(length), answer); !opened) {
        failureLines_.print(opened.text(), nowMs);
        return;
    }
    const auto sent = msgIds_.find(answer.message.header.msgId);
    if (sent == msgIds_.end()) {
        return;  // not of ours, or of an inform awaited no longer
    }
    const int32_t requestId = sent->second;
    if (requestId == discoveryRequestId_) {
        discovered(answer);
        return;
    }
    const auto found = informs_.find(requestId);
    if (found == informs_.end()) {
        return;
    }
    const snmp::UsmParameters& usm = answer.message.usm;
    const bool authenticated = answer.level != snmp::SecurityLevel::NoAuthNoPriv;
    if (answer.pdu.type == snmp::kPduResponse) {
        // Only at the inform's own level: a lower one could come from anybody.
        if (answer.pdu.requestId != requestId || answer.level != v3_->user().level()) {
            return;
        }
        if (authenticated) {
            v3_->observe(static_cast<uint32_t>(usm.boots), static_cast<uint32_t>(usm.time), nowMs,
                         false);
        }
        informEnded(requestId, InformEnd::Acknowledged);
        return;
    }
    if (answer.pdu.type != snmp::kPduReport) {
        return;
    }
    Inform& inform = found->second;
    snmp::UsmReport which;
    if (authenticated && !inform.resent && traps::reportedUsmStat(answer.pdu, which) &&
        which == snmp::UsmReport::NotInTimeWindows) {
        // The receiver's clock, authenticated: the inform goes again at once with it.
        inform.resent = true;
        v3_->observe(static_cast<uint32_t>(usm.boots), static_cast<uint32_t>(usm.time), nowMs,
                     true);
        if (const PendingRequest* pending = client_.findPending(requestId)) {
            if (Result again = client_.resend(*pending); !again) {
                failureLines_.print(again.text(), nowMs);
            }
        }
        return;
    }
    if (!inform.reported) {
        // Once an inform; it ends unacknowledged when its retries are spent.
        inform.reported = true;
        const std::string line = formatText(kV3InformReportFormat, inform.name.c_str(),
                                            traps::reportedCounter(answer.pdu).c_str());
        if (storm()) {
            failureLines_.print(line, nowMs);
        } else {
            status_.append(line);
        }
    }
}

void GenerateTraps::discovered(const traps::V3Answer& answer) {
    // A Report to the probe carries the probe's request-id (or 0 where the receiver could not
    // read it); a Report of another request-id is no answer to it.
    if (discovery_ != Discovery::Waiting || answer.pdu.type != snmp::kPduReport ||
        (answer.pdu.requestId != discoveryRequestId_ && answer.pdu.requestId != 0)) {
        return;
    }
    client_.removePending(client_.findPending(discoveryRequestId_));
    const snmp::UsmParameters& usm = answer.message.usm;
    const uint32_t boots = static_cast<uint32_t>(usm.boots);
    const uint32_t time = static_cast<uint32_t>(usm.time);
    if (Result set =
            v3_->setEngine(usm.engineId.bytes, boots, time, context_.loop.clock().monotonicMs());
        !set) {
        discovery_ = Discovery::Failed;
        status_.append(formatText(kV3DiscoveryRefusedFormat, set.c_str()));
        return;
    }
    discovery_ = Discovery::Done;
    status_.append(
        formatText(kV3DiscoveredFormat, hexText(usm.engineId.bytes).c_str(), boots, time));
}

void GenerateTraps::unanswered(int32_t requestId, InformEnd end) {
    if (discovery_ == Discovery::Waiting && requestId == discoveryRequestId_) {
        // Every inform of the transmission is skipped from here on.
        discovery_ = Discovery::Failed;
        status_.append(
            formatText(kV3DiscoveryFailedFormat, static_cast<int>(client_.settings().retries)));
        return;
    }
    informEnded(requestId, end);
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
        if (traps::isInform(sendKind_) && informs_.size() >= kMaxPendingInforms) {
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
    if (start != 0) {
        return context_.agent->upTimeTicks();  // as the agent's sysUpTime counts
    }
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

    if (sendKind_ == traps::TrapKind::V3Inform && discovery_ != Discovery::Done) {
        // The receiver's engine first: the informs wait for it.
        if (discovery_ == Discovery::Failed ||
            (discovery_ == Discovery::None && !startDiscovery())) {
            return SendOutcome::Skipped;
        }
        return SendOutcome::Again;
    }
    if (traps::isInform(sendKind_)) {
        // Each inform takes a request-id of its own, so its message is built anew.
        const int32_t requestId = static_cast<int32_t>(context_.requestIds.take());
        std::unique_ptr<snmp::Pdu> pdu;
        if (Result built = traps::buildTrapPdu(entry.trap, sendKind_, community_, agentAddr_, stamp,
                                               requestId, pdu);
            !built) {
            status_.append(built.text());
            return SendOutcome::Skipped;
        }
        // Known before the first transmission, which records its msgID in it.
        const auto inform = informs_.emplace(requestId, Inform{.name = name}).first;
        if (Result sent = client_.send_new_request(std::move(pdu)); !sent) {
            for (const int32_t msgId : inform->second.msgIds) {
                msgIds_.erase(msgId);
            }
            informs_.erase(inform);
            status_.append(sent.text());
            return SendOutcome::Skipped;
        }
    } else if (sendKind_ == traps::TrapKind::V3Notification) {
        const SendOutcome outcome = sendV3Trap(entry, stamp);
        if (outcome != SendOutcome::Sent) {
            return outcome;
        }
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

GenerateTraps::SendOutcome GenerateTraps::sendV3Trap(const Entry& entry, uint32_t stamp) {
    // Built anew each time: every message has its own msgID, engine time and salt.
    std::unique_ptr<snmp::Pdu> pdu;
    if (Result built =
            traps::buildTrapPdu(entry.trap, sendKind_, community_, agentAddr_, stamp, 1, pdu);
        !built) {
        status_.append(built.text());
        return SendOutcome::Skipped;
    }
    uint8_t message[snmp::kMaxMessageSize];
    uint32_t size = sizeof message;
    if (Result encoded = v3_->encode(*pdu, takeMsgId(), false, context_.loop.clock().monotonicMs(),
                                     message, &size);
        !encoded) {
        status_.append(encoded.text());
        return SendOutcome::Skipped;
    }
    int error = 0;
    if (!client_.sendToPeer(message, size, port_, error)) {
        if (ready_ && (error == EAGAIN || error == ENOBUFS)) {
            return SendOutcome::Again;
        }
        status_.append(kSendUdpTrapFailedText);
        return SendOutcome::Skipped;
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
            status_.append(formatText(kInformAcknowledgedFormat, found->second.name.c_str()));
        }
        client_.removePending(client_.findPending(requestId));
    } else {
        ++summary_.unacknowledged;
        if (end == InformEnd::TimedOut && !storm()) {
            status_.append(formatText(kInformUnacknowledgedFormat, found->second.name.c_str(),
                                      static_cast<int>(client_.settings().retries)));
        }
    }
    for (const int32_t msgId : found->second.msgIds) {
        msgIds_.erase(msgId);
    }
    informs_.erase(found);
    checkCompletion();
}

void GenerateTraps::checkCompletion() {
    if (sending_ && cursor_ >= total_ && informs_.empty()) {
        failureLines_.flush();
        status_.append(kTransmissionCompletedText);
        if (traps::isInform(sendKind_)) {
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
    // The user's keys go with the transmission; late answers find nothing to match.
    v3_.reset();
    msgIds_.clear();
    discovery_ = Discovery::None;
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
