#include "app/learn_variables.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "agent/debug_log.h"
#include "agent/message_sending.h"
#include "app/command_line.h"
#include "app/create_variables.h"
#include "app/generate_traps.h"
#include "app/paced_file_run.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "create/variable_file_creation.h"

namespace korvimo::app {

namespace {

// Longest texts taken from the form, as the dialog's buffers take them.
constexpr std::size_t kFormTextLimit = 199;
constexpr uint16_t kDefaultTeacherPort = 161;
// The learned file's buffer is written out once it holds this much.
constexpr std::size_t kFlushThreshold = 64 * 1024;
// The largest time-out in seconds whose milliseconds fit the client's setting.
constexpr long kLargestTimeoutSeconds = UINT32_MAX / 1000;

std::string cut(const std::string& text, std::size_t limit) {
    return text.size() > limit ? text.substr(0, limit) : text;
}

// "HOST", "HOST:PORT", "[IPv6]:PORT" or a bare IPv6 address; without a port, 161.
bool splitTeacher(const std::string& text, std::string& host, uint16_t& port) {
    std::string portText;
    if (splitHostPort(text, host, portText) != HostPortSplit::Ok) {
        return false;
    }
    unsigned long number = kDefaultTeacherPort;
    if (!portText.empty() && !readOptionNumber(portText, 1, 65535, number)) {
        return false;
    }
    port = static_cast<uint16_t>(number);
    return true;
}

// Dotted decimal for IPv4, the system's text form for IPv6.
std::string numericAddress(const SocketAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.family() == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address.storage);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    } else {
        const auto* in4 = reinterpret_cast<const sockaddr_in*>(&address.storage);
        ::inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text);
    }
    return text;
}

// Whether a datagram came from the teacher's address and port.
bool fromTeacher(const SocketAddress& from, const RequestClient::Settings& settings) {
    const SocketAddress& teacher = settings.peerAddress;
    if (from.family() != teacher.family()) {
        return false;
    }
    const auto port = static_cast<uint16_t>(settings.peerPort);
    if (from.family() == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&from.storage);
        const auto* b = reinterpret_cast<const sockaddr_in6*>(&teacher.storage);
        return ntohs(a->sin6_port) == port &&
               std::memcmp(&a->sin6_addr, &b->sin6_addr, sizeof a->sin6_addr) == 0;
    }
    const auto* a = reinterpret_cast<const sockaddr_in*>(&from.storage);
    const auto* b = reinterpret_cast<const sockaddr_in*>(&teacher.storage);
    return ntohs(a->sin_port) == port && a->sin_addr.s_addr == b->sin_addr.s_addr;
}

}  // namespace

struct LearnVariables::Run {
    std::shared_ptr<const mibinfo::MibInfo> mib;
    create::OverrideTable overrides;
    UniqueFd output;
    std::string buffer;
    std::unique_ptr<create::LearnedWalk> walk;
    std::unique_ptr<create::VariableFileCreation> templates;
    Timer timer;            // the template phase's ticks
    bool stopping = false;  // Stop was pressed: the next event ends the run
    bool bulk = false;      // GetBulk requests
    snmp::ObjectId start;
    std::optional<snmp::ObjectId> end;
    std::string teacher;  // the header's address
    snmp::ObjectId requested;
    int32_t requestId = 0;  // of the request outstanding; 0: none
};

LearnVariables::LearnVariables(LearnVariablesContext context)
    : context_(context),
      client_(context.loop, context.requestIds,
              {[this](const snmp::Pdu& answer, const SocketAddress&, const snmp::Pdu& request) {
                   // The answered request leaves the pending list; a repeated answer to it is
                   // then dropped by the client.
                   const snmp::Pdu asked = request;
                   client_.removePending(client_.findPending(request.requestId));
                   response(answer, asked);
               },
               [this](const snmp::Pdu& request) { timedOut(request); },
               [this](std::string_view why) { status_.append(why); },
               [this](const snmp::Pdu& request) {
                   // Its retransmission could not be sent; the reason is on the list already.
                   if (running_ && run_ && request.requestId == run_->requestId) {
                       status_.append(create::kLearningStoppedText);
                       finish(End::Stopped, nullptr);
                   }
               },
               // Only the teacher answers: a datagram from anyone else that carries a pending
               // request-id is no answer, and the request goes on waiting.
               [this](const SocketAddress& from) { return fromTeacher(from, client_.settings()); },
               [this](const snmp::Pdu&) { status_.append(create::kGotRequestText); }}),
      traps_(context.loop, {[this](const snmp::Pdu& pdu, const SocketAddress&) { trap(pdu); },
                            [this](std::string_view why) { status_.append(why); }}) {}

LearnVariables::~LearnVariables() {
    onFinished = nullptr;
    close();
}

void LearnVariables::refreshLists() {
    const Configuration& config = context_.config;
    lists_[static_cast<int>(LearnVariablesList::Teacher)] =
        config.historyValues(ConfigKey::IPADDRESS);
    lists_[static_cast<int>(LearnVariablesList::File)] = config.historyValues(ConfigKey::INPUTFILE);
    lists_[static_cast<int>(LearnVariablesList::Community)] =
        config.historyValues(ConfigKey::RCOMMUNITY);
    lists_[static_cast<int>(LearnVariablesList::Timeout)] =
        config.historyValues(ConfigKey::TIMEOUT);
    lists_[static_cast<int>(LearnVariablesList::Retries)] =
        config.historyValues(ConfigKey::RETRIES);
}

void LearnVariables::dialogStart() {
    if (running_) {
        finish(End::Stopped, nullptr);
    }
    run_.reset();
    keptCommunity_ = client_.settings().readCommunity.str();
    refreshLists();
    viewEnabled_ = true;
    startEnabled_ = true;
    stopEnabled_ = false;
    std::string value;
    context_.config.readPlain(ConfigKey::DYNTEMPLATE, value);
    form_.templates = value == "YES";
    form_.v2c = rememberedV2c_;

    std::shared_ptr<const mibinfo::MibInfo> mib = context_.mibInfo.current(context_.config);
    std::vector<std::string>& starts = lists_[static_cast<int>(LearnVariablesList::Start)];
    std::vector<std::string>& ends = lists_[static_cast<int>(LearnVariablesList::End)];
    starts.clear();
    ends.clear();
    snmp::ObjectId bound;
    context_.config.readPlain(ConfigKey::STARTOID, value);
    if (value != create::kWalkStartDefault && create::walkBound(value, mib.get(), bound)) {
        starts.push_back(value);
    }
    starts.emplace_back(create::kWalkStartDefault);
    context_.config.readPlain(ConfigKey::STOPOID, value);
    if (value != create::kEndOfAllMibs && create::walkBound(value, mib.get(), bound)) {
        ends.push_back(value);
    }
    ends.emplace_back(create::kEndOfAllMibs);
    if (!mib) {
        status_.append(formatText(kMibInfoMissingFormat, kMibInfoMissingPath));
    } else {
        for (const mibinfo::Record& record : mib->records()) {
            if (record.kind == mibinfo::RecordKind::Object && !record.descriptor.empty()) {
                starts.emplace_back(record.descriptor);
                ends.emplace_back(record.descriptor);
            }
        }
    }

    auto first = [this](LearnVariablesList list) {
        const std::vector<std::string>& values = lists_[static_cast<int>(list)];
        return values.empty() ? std::string() : values.front();
    };
    form_.teacher = first(LearnVariablesList::Teacher);
    form_.file = first(LearnVariablesList::File);
    form_.community = first(LearnVariablesList::Community);
    form_.timeout = first(LearnVariablesList::Timeout);
    form_.retries = first(LearnVariablesList::Retries);
    form_.start = first(LearnVariablesList::Start);
    form_.end = first(LearnVariablesList::End);

    client_.close();
    traps_.close();
    if (Result opened = client_.open(options_.ipVersion); !opened) {
        status_.append(opened.text());
    }
    if (options_.receiveTraps) {
        (void)traps_.open();  // learning goes on without it
    }
}

const std::vector<std::string>& LearnVariables::history(LearnVariablesList list) const {
    return lists_[static_cast<int>(list)];
}

bool LearnVariables::enabled(LearnVariablesControl control) const {
    switch (control) {
        case LearnVariablesControl::View:
            return viewEnabled_;
        case LearnVariablesControl::Start:
            return startEnabled_;
        case LearnVariablesControl::Stop:
            return stopEnabled_;
    }
    return false;
}

std::size_t LearnVariables::learned() const {
    return learned_;
}

bool LearnVariables::start() {
    if (!takeBusy(context_.busy, &status_)) {
        return false;
    }
    if (running_) {
        // Stopped, its next event not yet come: it ends here (busy stays taken).
        run_->stopping = true;
        finishStopped();
    }
    status_.clear();
    viewEnabled_ = false;
    const std::string installDir = installDirectory(context_.config);
    // A refusal whose text is not on the list yet gives it.
    auto refuse = [this](const std::string& text) {
        if (!text.empty()) {
            status_.append(text);
        }
        run_.reset();  // a file created stays, empty
        releaseBusy(context_.busy);
        return false;
    };

    if (!client_.isOpen()) {
        return refuse(kLearnSocketClosedText);
    }
    std::shared_ptr<const mibinfo::MibInfo> mib = context_.mibInfo.current(context_.config);
    if (!mib) {
        return refuse(formatText(kMibInfoMissingFormat, kMibInfoMissingPath));
    }
    run_ = std::make_unique<Run>();
    Run& run = *run_;
    run.mib = mib;

    std::string value;
    const bool overrides =
        options_.overrides
            ? *options_.overrides
            : context_.config.readPlain(ConfigKey::OVERRIDEDEF, value) && value == "YES";
    if (overrides && !run.overrides.load(installDir + "/bin/" + create::kOverrideFileName).ok()) {
        status_.append(create::kOverridesMissingText);
    }

    const std::string file = controlFileText(form_.file);
    path_ = controlFilePath(installDir, file);
    // Emptied only once every check has passed: a start refused for a typing error leaves the
    // capture of an earlier run as it was.
    run.output.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!run.output) {
        return refuse(formatText(kCannotOpenForWritingFormat, path_.c_str()));
    }
    form_.file = file;
    context_.config.pushHistory(ConfigKey::INPUTFILE, file);

    if (!prepareTeacher()) {
        return refuse({});
    }

    RequestClient::Settings& settings = client_.settings();
    const std::string timeout = cut(form_.timeout, kFormTextLimit);
    const long seconds = std::clamp(readSettingNumber(timeout), 0L, kLargestTimeoutSeconds);
    settings.timeoutMs = std::max<uint32_t>(static_cast<uint32_t>(seconds) * 1000, 1);
    context_.config.pushHistory(ConfigKey::TIMEOUT, timeout);
    const std::string retries = cut(form_.retries, kFormTextLimit);
    settings.retries =
        static_cast<int32_t>(std::clamp(readSettingNumber(retries), 0L, long{INT32_MAX}));
    context_.config.pushHistory(ConfigKey::RETRIES, retries);
    const std::string community = cut(form_.community, kFormTextLimit);
    settings.readCommunity = cut(community, kCommunityCapacity);
    context_.config.pushHistory(ConfigKey::RCOMMUNITY, community);
    refreshLists();

    if (!prepareBounds(mib.get())) {
        return refuse({});
    }

    context_.config.writePlain(ConfigKey::DYNTEMPLATE, form_.templates ? "YES" : "NO");
    rememberedV2c_ = form_.v2c;
    settings.versionMode = form_.v2c ? VersionMode::SNMPv2C : VersionMode::SNMPv1;
    run.bulk = form_.v2c && options_.bulk > 0;

    if (::ftruncate(run.output.get(), 0) != 0) {
        return refuse(formatText(kCannotWriteFormat, path_.c_str(), std::strerror(errno)));
    }
    const std::string startText = cut(form_.start, kFormTextLimit);
    const std::string endText = cut(form_.end, kFormTextLimit);
    create::appendLearnedHeader(run.teacher, startText, endText, run.buffer);
    run.walk = std::make_unique<create::LearnedWalk>(
        create::LearnedWalk::Settings{mib.get(), run.overrides.empty() ? nullptr : &run.overrides,
                                      options_.replay, form_.v2c, run.end, &lookupPosition_});
    learned_ = 0;
    lastEnd_ = End::None;
    running_ = true;

    if (form_.templates) {
        run.templates = std::make_unique<create::VariableFileCreation>(
            mib, create::VariableFileCreation::Settings{0, true},
            create::VariableFileCreation::Reporter{
                [this](std::string_view line) { status_.append(line); },
                [this](std::string_view line) {
                    status_.remove(1);
                    status_.insert(1, line);
                }});
        run.timer = context_.loop.startTimer(kCreateTickMs, [this] { templateTick(); });
        if (!run.timer.running()) {
            running_ = false;
            return refuse({});
        }
        status_.append(create::kCreatingTemplatesText);
    } else {
        if (!sendRequest(run.start)) {
            return false;  // reported, and the run ended
        }
        status_.append(create::kLearningStartedText);
    }
    startEnabled_ = false;
    stopEnabled_ = true;
    return true;
}

bool LearnVariables::prepareTeacher() {
    const std::string text = cut(form_.teacher, kFormTextLimit);
    std::string host;
    uint16_t port = kDefaultTeacherPort;
    SocketAddress address;
    if (!splitTeacher(text, host, port) || !resolveAddress(host.c_str(), address)) {
        status_.append(kInvalidManagerText);
        return false;
    }
    const int family = options_.ipVersion == IpVersion::IPv6 ? AF_INET6 : AF_INET;
    if (address.family() != family) {
        status_.append(kTeacherVersionMismatchText);
        return false;
    }
    context_.config.pushHistory(ConfigKey::IPADDRESS, text);
    client_.settings().peerAddress = address;
    client_.settings().peerPort = port;
    run_->teacher = numericAddress(address);
    return true;
}

bool LearnVariables::prepareBounds(const mibinfo::MibInfo* mib) {
    Run& run = *run_;
    const std::string startText = cut(form_.start, kFormTextLimit);
    const std::string endText = cut(form_.end, kFormTextLimit);
    if (endText != create::kEndOfAllMibs) {
        snmp::ObjectId end;
        if (!create::walkBound(endText, mib, end)) {
            status_.append(create::kEndUnknownText);
            return false;
        }
        run.end = std::move(end);
    }
    context_.config.writePlain(ConfigKey::STOPOID, endText);
    context_.config.writePlain(ConfigKey::STARTOID, startText);
    // The start is converted whatever the end: a start that names nothing would otherwise
    // leave a run waiting with no request under way.
    if (!create::walkBound(startText, mib, run.start)) {
        status_.append(create::kStartUnknownText);
        return false;
    }
    if (run.end && snmp::compareOid(run.start, *run.end) >= 0) {
        status_.append(create::kEndNotAfterStartText);
        return false;
    }
    return true;
}

bool LearnVariables::sendRequest(const snmp::ObjectId& after) {
    Run& run = *run_;
    std::unique_ptr<snmp::VarBindList> list = snmp::SnmpCreateVbl();
    Result sent;
    if (list == nullptr || !snmp::SnmpAddVb(list.get(), &after, nullptr)) {
        sent = Result::failure(kAddVbFailedText);
    } else {
        const RequestClient::Settings& settings = client_.settings();
        const snmp::Octets community{std::vector<uint8_t>(settings.readCommunity.view().begin(),
                                                          settings.readCommunity.view().end())};
        const int32_t maxRepetitions =
            run.bulk ? static_cast<int32_t>(std::min<uint32_t>(options_.bulk, INT32_MAX)) : 0;
        std::unique_ptr<snmp::Pdu> request = snmp::SnmpCreateBPdu(
            settings.versionMode == VersionMode::SNMPv1 ? snmp::kVersion1 : snmp::kVersion2c,
            &community, run.bulk ? snmp::kPduGetBulkRequest : snmp::kPduGetNextRequest,
            static_cast<int32_t>(context_.requestIds.take()), 0, maxRepetitions, std::move(list));
        if (request == nullptr) {
            sent = Result::failure(kCreateBPduFailedText);
        } else {
            const int32_t requestId = request->requestId;
            sent = client_.send_new_request(std::move(request));
            if (sent) {
                run.requested = after;
                run.requestId = requestId;
                return true;
            }
        }
    }
    status_.append(sent.text());
    status_.append(create::kLearningStoppedText);
    finish(End::Stopped, nullptr);
    return false;
}

void LearnVariables::response(const snmp::Pdu& answer, const snmp::Pdu& request) {
    if (!running_ || !run_ || request.requestId != run_->requestId) {
        return;
    }
    Run& run = *run_;
    run.requestId = 0;
    if (run.stopping) {
        finishStopped();
        return;
    }
    const std::size_t learnedBefore = run.walk->learned();
    const std::size_t wrongBefore = run.walk->wrongOrder();
    snmp::ObjectId next;
    const create::LearnedWalk::Outcome outcome = run.walk->response(
        answer, run.requested,
        run.bulk ? create::WalkRequest::GetBulk : create::WalkRequest::GetNext, run.buffer, next);
    learned_ = run.walk->learned();
    for (std::size_t n = wrongBefore; n < run.walk->wrongOrder(); ++n) {
        status_.append(create::kWrongOrderText);
    }
    if (learned_ > learnedBefore) {
        status_.remove(1);
        status_.insert(1, formatText(create::kGotFormat, run.walk->lastName().c_str()));
    }
    switch (outcome) {
        case create::LearnedWalk::Outcome::Continue:
            if (run.buffer.size() >= kFlushThreshold && !flush()) {
                finish(End::Failed, nullptr);
                return;
            }
            sendRequest(next);
            return;
        case create::LearnedWalk::Outcome::Completed:
            status_.append(create::kLearningCompletedText);
            finish(End::Completed, nullptr);
            return;
        case create::LearnedWalk::Outcome::NoBindings:
            status_.append(create::kNoBindingsText);
            finish(End::Failed, nullptr);
            return;
        case create::LearnedWalk::Outcome::OtherError: {
            status_.append(create::kOtherErrorText);
            auto report = [this](const char* line) { status_.append(line); };
            dumpPduToList(request, run.mib.get(), report);
            dumpPduToList(answer, run.mib.get(), report);
            status_.append(create::kLearningStoppedAfterErrorText);
            finish(End::Failed, nullptr);
            return;
        }
    }
}

void LearnVariables::timedOut(const snmp::Pdu& request) {
    if (!running_ || !run_ || request.requestId != run_->requestId) {
        return;
    }
    run_->requestId = 0;
    if (run_->stopping) {
        finishStopped();
        return;
    }
    status_.append(create::kTimeoutText);
    dumpPduToList(request, run_->mib.get(), [this](const char* line) { status_.append(line); });
    status_.append(create::kLearningStoppedText);
    finish(End::TimedOut, create::kStoppedByTimeoutLine);
}

void LearnVariables::templateTick() {
    if (!running_ || !run_ || !run_->templates) {
        if (run_) {
            run_->timer.stop();
        }
        return;
    }
    Run& run = *run_;
    if (run.stopping) {
        finishStopped();
        return;
    }
    run.templates->step(run.buffer);
    if (run.buffer.size() >= kFlushThreshold && !flush()) {
        finish(End::Failed, nullptr);
        return;
    }
    if (!run.templates->templatePhase()) {
        run.timer.stop();
        run.templates.reset();
        if (sendRequest(run.start)) {
            status_.append(create::kLearningStartedText);
        }
    }
}

void LearnVariables::trap(const snmp::Pdu& pdu) {
    if (pdu.type == snmp::kPduTrap) {
        status_.append(formatText(create::kGotTrapFormat,
                                  create::genericTrapName(pdu.genericTrap).c_str(),
                                  static_cast<int>(pdu.specificTrap)));
    } else {
        status_.append(trapIgnoredText(pdu));
    }
}

bool LearnVariables::flush() {
    Run& run = *run_;
    if (!run.output) {
        run.buffer.clear();
        return false;
    }
    const int error = writeAll(run.output.get(), run.buffer);
    run.buffer.clear();
    if (error != 0) {
        status_.append(formatText(kCannotWriteFormat, path_.c_str(), std::strerror(error)));
        run.output.reset();
        return false;
    }
    return true;
}

void LearnVariables::finish(End end, const char* fileLine) {
    Run& run = *run_;
    run.timer.stop();
    run.templates.reset();
    run.requestId = 0;
    client_.clearPending();
    if (run.output) {
        if (fileLine != nullptr) {
            run.buffer += fileLine;
        }
        if (!flush()) {
            end = End::Failed;
        }
        run.output.reset();
    }
    run.buffer.clear();
    run.buffer.shrink_to_fit();
    if (!run.stopping) {
        releaseBusy(context_.busy);
    }
    run.stopping = false;
    running_ = false;
    startEnabled_ = true;
    stopEnabled_ = false;
    viewEnabled_ = true;
    lastEnd_ = end;
    if (onFinished) {
        onFinished();
    }
}

void LearnVariables::finishStopped() {
    status_.append(create::kLearningStoppedText);
    finish(End::Stopped, create::kStoppedByUserLine);
}

void LearnVariables::stop() {
    if (running_ && run_ && !run_->stopping) {
        run_->stopping = true;
        releaseBusy(context_.busy);
    }
    startEnabled_ = true;
    stopEnabled_ = false;
}

void LearnVariables::endStopped() {
    if (running_ && run_ && run_->stopping) {
        finishStopped();
    }
}

void LearnVariables::close() {
    if (running_) {
        finish(End::Stopped, nullptr);
    }
    run_.reset();
    client_.settings().readCommunity = keptCommunity_;
    client_.close();
    traps_.close();
    startEnabled_ = true;
    stopEnabled_ = false;
}

}  // namespace korvimo::app
