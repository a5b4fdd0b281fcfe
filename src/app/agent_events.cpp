#include "app/agent_events.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "app/command_line.h"
#include "app/generate_traps.h"
#include "base/text.h"

namespace korvimo::app {

namespace {

// A prepared trap whose "%T" line lacks a field fails without a text of its own.
constexpr const char* kTrapLineIncompleteText = "its %T line lacks a field";
constexpr const char* kTrapDestFormText = "it takes ADDRESS[:PORT] VERSION [COMMUNITY]";

// A reason as the middle of a status line: without the full stop it may end with.
std::string phrase(std::string_view text) {
    text = trimBlanks(text);
    while (!text.empty() && text.back() == '.') {
        text.remove_suffix(1);
    }
    return std::string(text);
}

bool numericAddress(const std::string& host, SocketAddress& address) {
    address = SocketAddress{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        address.length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        address.length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

// Whether an answer comes from the host it was sent to (its port may be another).
bool sameHost(const SocketAddress& a, const SocketAddress& b) {
    if (a.family() != b.family()) {
        return false;
    }
    if (a.family() == AF_INET) {
        return std::memcmp(&reinterpret_cast<const sockaddr_in*>(a.sa())->sin_addr,
                           &reinterpret_cast<const sockaddr_in*>(b.sa())->sin_addr,
                           sizeof(in_addr)) == 0;
    }
    return a.family() == AF_INET6 &&
           std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a.sa())->sin6_addr,
                       &reinterpret_cast<const sockaddr_in6*>(b.sa())->sin6_addr,
                       sizeof(in6_addr)) == 0;
}

}  // namespace

Result parseTrapDestination(std::string_view text, TrapDestination& destination) {
    std::vector<std::string_view> words;
    std::string_view word;
    for (std::string_view rest = text; words.size() < 4 && takeWord(rest, word, rest);) {
        words.push_back(word);
    }
    if (words.size() < 2 || words.size() > 3) {
        return Result::failure(kTrapDestFormText);
    }
    TrapDestination parsed;
    std::string host;
    std::string portText;
    switch (splitHostPort(std::string(words[0]), host, portText)) {
        case HostPortSplit::Ok:
            break;
        case HostPortSplit::Unclosed:
            return Result::failure("the address has no closing ']'");
        case HostPortSplit::AfterBracket:
            return Result::failure("only :PORT may follow ']'");
        case HostPortSplit::NoPort:
            return Result::failure("a port is needed after ':'");
        case HostPortSplit::NoHost:
            return Result::failure("the address is missing");
    }
    if (!portText.empty()) {
        unsigned long port = 0;
        if (!readOptionNumber(portText, 1, 65535, port)) {
            return Result::failuref("the port must be from 1 to 65535, not %s", portText.c_str());
        }
        parsed.port = static_cast<uint16_t>(port);
    }
    if (!numericAddress(host, parsed.address)) {
        return Result::failuref("%s is not a numeric IPv4 or IPv6 address", host.c_str());
    }
    const std::string version(words[1]);
    if (equalsIgnoringCase(version, "v1")) {
        parsed.kind = traps::TrapKind::V1Trap;
    } else if (equalsIgnoringCase(version, "v2c")) {
        parsed.kind = traps::TrapKind::Notification;
    } else if (equalsIgnoringCase(version, "inform")) {
        parsed.kind = traps::TrapKind::Inform;
    } else {
        return Result::failuref("the version must be v1, v2c or inform, not %s", version.c_str());
    }
    if (words.size() == 3) {
        parsed.community = std::string(words[2]);
        if (Result fits = checkCommunity(parsed.community); !fits) {
            return Result::failure(phrase(fits.text()));
        }
    }
    parsed.name = endpointName(
        host, parsed.address.family() == AF_INET6 ? IpVersion::IPv6 : IpVersion::IPv4, parsed.port);
    destination = std::move(parsed);
    return {};
}

std::vector<TrapDestination> trapDestinations(const Configuration& config,
                                              std::vector<std::string>& invalid) {
    std::vector<TrapDestination> managers;
    const std::vector<std::string> values = config.historyValues(ConfigKey::TRAPDEST);
    for (std::size_t i = 0; i < values.size(); ++i) {
        TrapDestination destination;
        if (Result parsed = parseTrapDestination(values[i], destination); !parsed) {
            const std::string key =
                Configuration::keyName(ConfigKey::TRAPDEST) + std::to_string(i + 1);
            invalid.push_back(
                formatText(kInvalidTrapDestFormat, key.c_str(), values[i].c_str(), parsed.c_str()));
            continue;
        }
        managers.push_back(std::move(destination));
    }
    return managers;
}

void AgentEvents::start(Agent& agent, std::optional<std::vector<TrapDestination>> managers) {
    stop();
    const store::EventDirectives& directives = agent.store().events();
    if (directives.events.empty()) {
        return;
    }
    agent_ = &agent;
    events_ = directives.events;
    trapFileName_ = directives.trapFile;
    const std::size_t count = events_.size();
    line(formatText(kEventsScheduledFormat, count,
                    trapFileName_.empty() ? "none" : trapFileName_.c_str()));
    trapPositions_.assign(count, std::nullopt);
    v1Traps_.assign(count, Prepared{});
    notifications_.assign(count, Prepared{});
    if (std::any_of(events_.begin(), events_.end(),
                    [](const store::ScheduledEvent& event) { return !event.trap.empty(); })) {
        readTrapFile();
        readManagers(std::move(managers));
    }
    for (std::size_t index = 0; index < count; ++index) {
        queue_.emplace(agent.startMs() + uint64_t{events_[index].afterSeconds} * 1000, index);
    }
    schedule();
}

void AgentEvents::readTrapFile() {
    if (trapFileName_.empty()) {
        return;  // loading refuses an event's trap without a trap file
    }
    const std::string path = controlFilePath(installDirectory(context_.config), trapFileName_);
    if (Result read = trapFile_.read(path); !read) {
        line(std::string(
            withReason(Result::failuref(kTrapFileOpenFailedFormat, path.c_str()), read).text()));
        return;
    }
    const std::vector<std::string>& names = trapFile_.names();
    for (std::size_t index = 0; index < events_.size(); ++index) {
        const store::ScheduledEvent& event = events_[index];
        if (event.trap.empty()) {
            continue;
        }
        const auto found = std::find(names.begin(), names.end(), event.trap);
        if (found == names.end()) {
            line(formatText(kEventTrapUnknownFormat, event.line, event.trap.c_str(),
                            trapFileName_.c_str()));
            continue;
        }
        trapPositions_[index] = static_cast<std::size_t>(found - names.begin());
    }
    mib_ = context_.mibInfo.current(context_.config);
}

void AgentEvents::readManagers(std::optional<std::vector<TrapDestination>> given) {
    std::vector<std::string> invalid;
    std::vector<TrapDestination> destinations =
        given ? std::move(*given) : trapDestinations(context_.config, invalid);
    for (const std::string& text : invalid) {
        line(text);
    }
    bool v1 = false;
    for (TrapDestination& destination : destinations) {
        v1 = v1 || destination.kind == traps::TrapKind::V1Trap;
        const std::size_t index = managers_.size();
        auto client = std::make_unique<RequestClient>(
            context_.loop, context_.requestIds,
            RequestClient::Handlers{
                [this](const snmp::Pdu&, const SocketAddress&, const snmp::Pdu& request) {
                    informEnded(request.requestId, InformEnd::Acknowledged);
                },
                [this](const snmp::Pdu& request) {
                    informEnded(request.requestId, InformEnd::TimedOut);
                },
                [this](std::string_view why) { line(std::string(why)); },
                [this](const snmp::Pdu& request) {
                    informEnded(request.requestId, InformEnd::Dropped);
                },
                [this, index](const SocketAddress& from) {
                    return sameHost(from, managers_[index].destination.address);
                }});
        RequestClient::Settings& settings = client->settings();
        settings.peerAddress = destination.address;
        settings.peerPort = destination.port;
        settings.timeoutMs = informTimeoutMs(context_.config);
        settings.retries = informRetries(context_.config);
        managers_.push_back(Manager{std::move(destination), std::move(client)});
    }
    if (v1 && !localIPv4Address(agentAddr_)) {
        std::fill(std::begin(agentAddr_), std::end(agentAddr_), uint8_t{0});
    }
    keepTrailingZero_ = keepV1TrailingZero(context_.config);
}

void AgentEvents::stop() {
    timer_.stop();
    queue_.clear();
    informs_.clear();
    managers_.clear();  // their endpoints, and the requests awaiting answers
    events_.clear();
    trapPositions_.clear();
    v1Traps_.clear();
    notifications_.clear();
    trapFile_.clear();
    trapFileName_.clear();
    mib_.reset();
    noManagerSaid_ = false;
    agent_ = nullptr;
}

void AgentEvents::schedule() {
    timer_.stop();
    if (agent_ == nullptr || queue_.empty()) {
        return;
    }
    const uint64_t now = context_.loop.clock().monotonicMs();
    const uint64_t due = queue_.begin()->first;
    const uint64_t wait = due > now ? std::min<uint64_t>(due - now, kMaxEventWaitMs) : 0;
    timer_ = context_.loop.startTimer(static_cast<uint32_t>(wait), [this] { tick(); });
}

void AgentEvents::tick() {
    timer_.stop();
    const uint64_t now = context_.loop.clock().monotonicMs();
    while (agent_ != nullptr && !queue_.empty() && queue_.begin()->first <= now) {
        const auto [due, index] = *queue_.begin();
        queue_.erase(queue_.begin());
        if (const uint32_t every = events_[index].everySeconds; every > 0) {
            const uint64_t period = uint64_t{every} * 1000;
            uint64_t next = due + period;
            if (next <= now) {
                next += ((now - next) / period + 1) * period;  // late: once, then on period
            }
            queue_.emplace(next, index);
        }
        run(index);
    }
    schedule();
}

void AgentEvents::run(std::size_t index) {
    if (!agent_->serving()) {
        return;
    }
    const store::ScheduledEvent& event = events_[index];
    if (Result set = agent_->store().setFromText(event.target, event.value); !set) {
        // The trap would tell the managers of a change that did not happen.
        line(formatText(kEventNotSetFormat, event.line, event.name.c_str(),
                        phrase(set.text()).c_str()));
        return;
    }
    line(formatText(kEventSetFormat, event.line, event.name.c_str(), event.value.c_str()));
    if (!event.trap.empty()) {
        sendTrap(index);
    }
}

void AgentEvents::sendTrap(std::size_t index) {
    if (!trapPositions_[index]) {
        return;  // no trap file, or not in it: the start said so
    }
    if (managers_.empty()) {
        if (!noManagerSaid_) {
            noManagerSaid_ = true;
            line(kEventNoManagerText);
        }
        return;
    }
    const store::ScheduledEvent& event = events_[index];
    const uint32_t stamp = agent_->upTimeTicks();
    std::string sentTo;
    std::vector<std::string> failures;
    for (std::size_t manager = 0; manager < managers_.size(); ++manager) {
        const std::string& name = managers_[manager].destination.name;
        if (Result sent = sendTo(index, manager, stamp); !sent) {
            failures.push_back(formatText(kEventTrapNotSentFormat, event.line, event.trap.c_str(),
                                          name.c_str(), phrase(sent.text()).c_str()));
            continue;
        }
        sentTo += (sentTo.empty() ? "" : ", ") + name;
    }
    if (!sentTo.empty()) {
        line(formatText(kEventTrapSentFormat, event.line, event.trap.c_str(), sentTo.c_str()));
    }
    for (const std::string& failure : failures) {
        line(failure);
    }
}

Result AgentEvents::sendTo(std::size_t index, std::size_t manager, uint32_t stamp) {
    const TrapDestination& to = managers_[manager].destination;
    RequestClient& client = *managers_[manager].client;
    const traps::TrapKind kind = to.kind;
    // An inform carries what a notification does.
    Prepared& prepared = kind == traps::TrapKind::V1Trap ? v1Traps_[index] : notifications_[index];
    if (!prepared.outcome) {
        prepared.outcome = traps::prepareTrap(trapFile_, *trapPositions_[index], mib_.get(), kind,
                                              keepTrailingZero_, prepared.trap);
    }
    if (const Result& outcome = *prepared.outcome; !outcome) {
        return outcome.text().empty() ? Result::failure(kTrapLineIncompleteText) : outcome;
    }
    if (!client.isOpen()) {
        const IpVersion version =
            to.address.family() == AF_INET6 ? IpVersion::IPv6 : IpVersion::IPv4;
        if (Result opened = client.open(version); !opened) {
            return opened;
        }
    }
    const bool inform = kind == traps::TrapKind::Inform;
    if (inform && informs_.size() >= kMaxEventInforms) {
        return Result::failuref(kEventInformsWaitingFormat, informs_.size());
    }
    const int32_t requestId = inform ? static_cast<int32_t>(context_.requestIds.take()) : 1;
    std::unique_ptr<snmp::Pdu> pdu;
    if (Result built = traps::buildTrapPdu(prepared.trap, kind, to.community, agentAddr_, stamp,
                                           requestId, pdu);
        !built) {
        return built;
    }
    if (inform) {
        if (Result sent = client.send_new_request(std::move(pdu)); !sent) {
            return sent;
        }
        const store::ScheduledEvent& event = events_[index];
        informs_.emplace(requestId, Inform{event.line, event.trap, manager});
        return {};
    }
    uint8_t message[snmp::kMaxMessageSize];
    uint32_t size = sizeof message;
    if (Result encoded = snmp::SnmpEncodeMsg(pdu.get(), message, &size); !encoded) {
        return encoded;
    }
    if (!client.sendToPeer(message, size, to.port)) {
        return Result::failure(kSendErrorText);
    }
    return {};
}

void AgentEvents::informEnded(int32_t requestId, InformEnd end) {
    const auto found = informs_.find(requestId);
    if (found == informs_.end()) {
        return;  // answered twice, or of an earlier run
    }
    const Inform inform = std::move(found->second);
    informs_.erase(found);
    Manager& manager = managers_[inform.manager];
    const char* name = manager.destination.name.c_str();
    switch (end) {
        case InformEnd::Acknowledged:
            manager.client->removePending(manager.client->findPending(requestId));
            line(
                formatText(kEventInformAcknowledgedFormat, inform.line, inform.trap.c_str(), name));
            break;
        case InformEnd::TimedOut:
            line(formatText(kEventInformUnacknowledgedFormat, inform.line, inform.trap.c_str(),
                            name, static_cast<int>(manager.client->settings().retries)));
            break;
        case InformEnd::Dropped:
            // Its retransmission could not be sent; the client's line gave the reason.
            line(formatText(kEventTrapNotSentFormat, inform.line, inform.trap.c_str(), name,
                            phrase(kSendErrorText).c_str()));
            break;
    }
}

}  // namespace korvimo::app
