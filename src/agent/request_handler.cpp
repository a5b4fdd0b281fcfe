#include "agent/request_handler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "agent/debug_log.h"
#include "agent/message_sending.h"
#include "app/core/main_status.h"
#include "app/core/status_list.h"
#include "snmp/ber.h"
#include "store/variable_store.h"

namespace korvimo {

namespace {

bool isV1(const snmp::Pdu& request) {
    return request.version == snmp::kVersion1;
}

// The largest answer the settings allow, however they were filled.
uint32_t settingsLimit(const AgentSettings& settings) {
    return clampMaxMessageSize(settings.maxMessageSize);
}

// Whole-text comparison of a received community with a configured one.
template <std::size_t N>
bool sameCommunity(const snmp::Octets& received, const FixedText<N>& configured) {
    return received.bytes.size() == configured.size() &&
           (configured.size() == 0 ||
            std::memcmp(received.bytes.data(), configured.c_str(), configured.size()) == 0);
}

}  // namespace

bool RequestHandler::onRequest(const snmp::Pdu& request, const SocketAddress& from) {
    if (!serving_) {
        return false;
    }
    try {
        handleRequest(request, from);
    } catch (const std::bad_alloc&) {
        // Out of memory while building the answer: the request goes unanswered, and the
        // agent serves the next one.
    }
    return true;
}

void RequestHandler::refuseVersion(int32_t version) {
    ++parts_.statistics.InBadVersions;
    if (parts_.settings.debugMode) {
        char text[128];
        std::snprintf(text, sizeof text, kInvalidVersionLogText, static_cast<int>(version));
        parts_.log.append(text);
    }
}

void RequestHandler::onOtherVersion(int32_t version) {
    if (serving_) {
        ++parts_.statistics.InPkts;
        refuseVersion(version);
        parts_.refresh.request();
    }
}

bool RequestHandler::admitted(const snmp::Pdu& request) {
    const AgentSettings& settings = parts_.settings;
    const uint32_t version = request.version;
    const bool versionRefused = !(version == snmp::kVersion1 && answersV1(settings.versionMode)) &&
                                !(version == snmp::kVersion2c && answersV2c(settings.versionMode));
    if (versionRefused) {
        refuseVersion(static_cast<int32_t>(version));
        return false;
    }

    const bool communityAccepted =
        settings.communityChosen ||
        (request.type == snmp::kPduSetRequest
             ? sameCommunity(request.community, settings.writeCommunity)
             : sameCommunity(request.community, settings.readCommunity) ||
                   sameCommunity(request.community, settings.writeCommunity));
    if (!communityAccepted) {
        ++parts_.statistics.InBadCommunityNames;
        if (settings.debugMode) {
            // Shown as text, as far as its first zero byte.
            const auto& bytes = request.community.bytes;
            const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
            const std::string community(bytes.begin(), end);
            char text[snmp::kMaxCommunity + 64];
            std::snprintf(text, sizeof text, kInvalidCommunityLogText, community.c_str());
            parts_.log.append(text);
        }
        return false;
    }
    return true;
}

uint32_t RequestHandler::answerLimit() const {
    const uint32_t limit = settingsLimit(parts_.settings);
    return reply_ != nullptr ? std::min(limit, reply_->limit()) : limit;
}

bool RequestHandler::onV3Message(const uint8_t* bytes, std::size_t length,
                                 const SocketAddress& from) {
    if (!serving_) {
        return false;
    }
    if (security_ == nullptr || !answersV3(parts_.settings.versionMode)) {
        onOtherVersion(static_cast<int32_t>(snmp::kVersion3));
        return true;
    }
    AgentStatistics& statistics = parts_.statistics;
    ++statistics.InPkts;
    const store::VariableStore::Request timing = parts_.store.beginRequest();
    try {
        const V3Security::Outcome outcome =
            security_->receive(bytes, length, v3_, [&](const uint8_t* report, std::size_t size) {
                return parts_.endpoint.send(report, size, from);
            });
        if (outcome != V3Security::Outcome::Serve) {
            if (outcome == V3Security::Outcome::Reported) {
                ++statistics.OutPkts;
            }
            if (parts_.settings.debugMode) {
                char text[300];
                std::snprintf(
                    text, sizeof text, kV3RefusedLogText, v3_.reason.c_str(),
                    outcome == V3Security::Outcome::Reported ? "Report sent" : "Message dropped");
                parts_.log.append(text);
            }
            parts_.refresh.request();
            return true;
        }
        // The answer goes out at the request's level while it is served, and only then.
        struct Unwrap {
            const V3Security::Reply*& reply;
            ~Unwrap() { reply = nullptr; }
        } unwrap{reply_};
        reply_ = &v3_.reply;
        serve(v3_.pdu, from);
    } catch (const std::bad_alloc&) {
        // As for any request: unanswered, and the next one is served.
    }
    return true;
}

bool RequestHandler::handleRequest(const snmp::Pdu& request, const SocketAddress& from) {
    AgentStatistics& statistics = parts_.statistics;
    ++statistics.InPkts;
    const store::VariableStore::Request timing = parts_.store.beginRequest();

    if (!admitted(request)) {
        parts_.refresh.request();
        return false;
    }
    return serve(request, from);
}

bool RequestHandler::serve(const snmp::Pdu& request, const SocketAddress& from) {
    AgentStatistics& statistics = parts_.statistics;
    // The answer's list is the handler's own, emptied for each request: its storage stays.
    snmp::VarBindList& list = answer_;
    list.items.clear();

    Failure failure;
    const V3Security::Reply* reply = reply_;
    if (reply != nullptr && reply->belowUserLevel()) {
        // The user's level is the least its requests may come at.
        failure = {snmp::kAuthorizationError, 0};
    } else if (reply != nullptr && request.type == snmp::kPduSetRequest &&
               !reply->user()->config.readWrite) {
        ++statistics.SetRequests;
        failure = {snmp::kNoAccess, request.varBinds.items.empty() ? 0 : 1};
    } else {
        switch (request.type) {
            case snmp::kPduGetRequest:
                ++statistics.GetRequests;
                failure = serveGet(request, list);
                break;
            case snmp::kPduGetNextRequest:
                ++statistics.GetNextRequests;
                failure = serveGetNext(request, list);
                break;
            case snmp::kPduSetRequest:
                ++statistics.SetRequests;
                failure = serveSet(request, list);
                break;
            case snmp::kPduGetBulkRequest:
                ++statistics.GetBulkRequests;
                failure = serveGetBulk(request, list);
                break;
            default:
                return false;  // the message flow passes requests only
        }
    }

    DebugLog* log = parts_.settings.debugMode ? &parts_.log : nullptr;
    if (log != nullptr) {
        if (reply != nullptr) {
            char text[kV3RequestLogSize];
            std::snprintf(text, sizeof text, kV3RequestLogText, reply->user()->config.name.c_str(),
                          snmp::securityLevelWord(reply->level()), reply->contextName().c_str());
            log->append(text);
        }
        log->dumpPdu(request);
    }
    if (!send(request, failure, from, log)) {
        parts_.status.append(kSendResponseFailedReport);
        return false;
    }
    ++statistics.OutPkts;
    ++statistics.Responses;
    if (log != nullptr) {
        log->append("\r\n");
    }
    parts_.refresh.request();
    return true;
}

Result RequestHandler::send(const snmp::Pdu& request, Failure failure, const SocketAddress& from,
                            DebugLog* log) {
    snmp::VarBindList& list = answer_;
    // The answer to a failed request carries the request's own bindings instead; a tooBig
    // one carries them in SNMPv1 only.
    auto failedAnswer = [&] {
        if (failure.status == snmp::kTooBig && !isV1(request)) {
            list.items.clear();
        } else if (failure.status != snmp::kNoError) {
            list.items = request.varBinds.items;
        }
    };
    failedAnswer();
    const uint32_t limit = answerLimit();
    if (message_.size() != limit) {
        message_.resize(limit);
    }
    bool tooBig = false;
    Result sent = sendResponse(request, parts_.endpoint, failure.status, failure.index, list, from,
                               log, message_, &tooBig, reply_);
    if (!sent && tooBig && failure.status != snmp::kTooBig) {
        failure = {snmp::kTooBig, 0};
        failedAnswer();
        sent = sendResponse(request, parts_.endpoint, failure.status, failure.index, list, from,
                            log, message_, &tooBig, reply_);
    }
    if (!sent && tooBig && !list.items.empty()) {
        // Not even the request's bindings fit (a request larger than the largest answer).
        list.items.clear();
        sent = sendResponse(request, parts_.endpoint, failure.status, failure.index, list, from,
                            log, message_, &tooBig, reply_);
    }
    return sent;
}

bool RequestHandler::nextServable(const snmp::Pdu& request, const snmp::ObjectId& from,
                                  snmp::ObjectId& name, store::AttributeInfo& found) {
    store::VariableStore& store = parts_.store;
    if (!store.nextAttribute(from, name, found)) {
        return false;
    }
    while (isV1(request) && found.syntax == snmp::kTagCounter64) {
        skipped_.ids = name.ids;
        if (!store.nextAttribute(skipped_, name, found)) {
            return false;
        }
    }
    return true;
}

RequestHandler::Found RequestHandler::next(const snmp::Pdu& request, const snmp::ObjectId& from,
                                           snmp::ObjectId& name, store::AttributeInfo& found,
                                           snmp::SyntaxValue& engineValue) {
    const bool inStore = nextServable(request, from, name, found);
    if (security_ == nullptr || !security_->nextObject(from, engineName_, engineValue)) {
        return inStore ? Found::Store : Found::None;
    }
    // The control file's own variable of the same name is served before the engine's.
    if (inStore && snmp::compareOid(name, engineName_) <= 0) {
        return Found::Store;
    }
    name = engineName_;
    return Found::Engine;
}

RequestHandler::Failure RequestHandler::serveGet(const snmp::Pdu& request,
                                                 snmp::VarBindList& list) {
    store::VariableStore& store = parts_.store;
    const auto& bindings = request.varBinds.items;
    list.items.reserve(bindings.size());
    store::AttributeInfo found;
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        const int32_t number = static_cast<int32_t>(i + 1);
        const bool readable = store.lookupAttribute(bindings[i].name, found) &&
                              store::isReadable(found.access) &&
                              !(isV1(request) && found.syntax == snmp::kTagCounter64);
        if (!readable && security_ != nullptr &&
            security_->lookupObject(bindings[i].name, engineValue_)) {
            snmp::VarBind& answer = list.items.emplace_back();
            answer.name = bindings[i].name;
            answer.value = engineValue_;
            continue;
        }
        if (!readable) {
            if (isV1(request)) {
                return {snmp::kNoSuchName, number};
            }
            snmp::VarBind& answer = list.items.emplace_back();
            answer.name = bindings[i].name;
            answer.value.syntax = snmp::kTagNoSuchInstance;
            continue;
        }
        snmp::VarBind& answer = list.items.emplace_back();
        answer.name = bindings[i].name;
        if (!store.makeValue(answer.value, found)) {
            return {snmp::kGenErr, number};
        }
    }
    return {};
}

RequestHandler::Failure RequestHandler::serveGetNext(const snmp::Pdu& request,
                                                     snmp::VarBindList& list) {
    store::VariableStore& store = parts_.store;
    const auto& bindings = request.varBinds.items;
    list.items.reserve(bindings.size());
    store::AttributeInfo found;
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        const int32_t number = static_cast<int32_t>(i + 1);
        snmp::VarBind& answer = list.items.emplace_back();
        const Found result = next(request, bindings[i].name, answer.name, found, answer.value);
        if (result == Found::None) {
            if (isV1(request)) {
                return {snmp::kNoSuchName, number};
            }
            answer.name = bindings[i].name;
            answer.value.syntax = snmp::kTagEndOfMibView;
            continue;
        }
        if (result == Found::Store && !store.makeValue(answer.value, found)) {
            return {snmp::kGenErr, number};
        }
    }
    return {};
}

RequestHandler::Failure RequestHandler::serveSet(const snmp::Pdu& request,
                                                 snmp::VarBindList& list) {
    store::VariableStore& store = parts_.store;
    const auto& bindings = request.varBinds.items;
    const bool v1 = isV1(request);
    store::AttributeInfo found;
    // A row the store would not create: noSuchName in SNMPv1; in SNMPv2c resourceUnavailable
    // when the dynamic-instance reserve is spent, otherwise the status given.
    auto creationRefused = [v1](bool reserveSpent, int32_t status, int32_t number) {
        return Failure{
            v1 ? snmp::kNoSuchName : (reserveSpent ? snmp::kResourceUnavailable : status), number};
    };

    // Check pass: nothing is changed until every binding passed.
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        const int32_t number = static_cast<int32_t>(i + 1);
        const snmp::VarBind& binding = bindings[i];
        bool created = false;
        if (!store.lookupAttribute(binding.name, found)) {
            bool reserveSpent = false;
            if (!store.createRow(binding.name, store::RowMode::Check, request, found,
                                 &reserveSpent)) {
                return creationRefused(reserveSpent, snmp::kNoAccess, number);
            }
            created = true;
        }
        if (!store::isWritable(found.access)) {
            return {v1 ? snmp::kNoSuchName : snmp::kNotWritable, number};
        }
        if (binding.value.syntax != found.syntax) {
            return {v1 ? snmp::kBadValue : snmp::kWrongType, number};
        }
        // A value whose encoding the decoder refused is never applied (RFC 3416 wrongEncoding).
        if (binding.valueUndecoded) {
            return {v1 ? snmp::kBadValue : snmp::kWrongEncoding, number};
        }
        // A refusal always comes with its SNMPv2 status.
        int32_t status = snmp::kNoError;
        if (!store.checkSet(binding, found, created, request, status)) {
            return {v1 ? snmp::kBadValue : status, number};
        }
    }

    // The answer carries the request's bindings: when it cannot go, nothing is set.
    // An SNMPv3 answer is the PDU of an SNMPv2c one (counted with its small message header)
    // in the SNMPv3 form.
    const uint32_t answerSize =
        reply_ != nullptr
            ? snmp::encodedMessageSize(snmp::kVersion2c, {}, request.requestId, snmp::kNoError, 0,
                                       request.varBinds) +
                  reply_->overhead()
            : snmp::encodedMessageSize(request.version, request.community, request.requestId,
                                       snmp::kNoError, 0, request.varBinds);
    if (answerSize > answerLimit()) {
        return {snmp::kTooBig, 0};
    }

    // Set pass: bindings set before a failure stay set.
    list.items.reserve(bindings.size());
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        const int32_t number = static_cast<int32_t>(i + 1);
        const snmp::VarBind& binding = bindings[i];
        bool reserveSpent = false;
        if (!store.lookupAttribute(binding.name, found) &&
            !store.createRow(binding.name, store::RowMode::Create, request, found, &reserveSpent)) {
            return creationRefused(reserveSpent, snmp::kNoCreation, number);
        }
        if (!store.storeSet(binding, found) || !store.applySet(binding)) {
            return {snmp::kGenErr, number};
        }
        list.items.push_back(binding);
    }
    return {};
}

RequestHandler::Failure RequestHandler::serveGetBulk(const snmp::Pdu& request,
                                                     snmp::VarBindList& list) {
    store::VariableStore& store = parts_.store;
    const auto& bindings = request.varBinds.items;
    const std::size_t count = bindings.size();
    const std::size_t nonRepeaters =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(request.errorStatus, 0)), count);
    const uint32_t maxRepetitions = static_cast<uint32_t>(std::max(request.errorIndex, 0));
    const uint32_t limit = answerLimit();
    uint32_t estimate =
        (reply_ != nullptr ? reply_->overhead() : request.community.length()) + kBulkHeaderEstimate;
    // Bindings the answer can hold at most (each takes at least nine bytes).
    list.items.reserve(limit / 9 + 1);
    store::AttributeInfo found;

    enum class Step { Appended, Full, Failed };
    // One candidate, made like a GetNext answer from the name `from`, and appended unless it
    // brings the estimate to the limit.
    auto candidate = [&](const snmp::ObjectId& from) {
        snmp::VarBind& answer = list.items.emplace_back();
        const Found result = next(request, from, answer.name, found, answer.value);
        if (result == Found::None) {
            answer.name = from;
            answer.value.syntax = snmp::kTagEndOfMibView;
        } else if (result == Found::Store && !store.makeValue(answer.value, found)) {
            list.items.pop_back();
            return Step::Failed;
        }
        const uint32_t size = snmp::encodedVarBindSize(answer.name, answer.value, limit);
        // A binding the encoder would refuse cannot be sent; it ends the answer like one
        // that does not fit.
        estimate += size != 0 ? size : limit;
        if (estimate >= limit) {
            list.items.pop_back();
            return Step::Full;
        }
        return Step::Appended;
    };

    for (std::size_t i = 0; i < nonRepeaters; ++i) {
        if (estimate >= limit) {
            return {};
        }
        const Step step = candidate(bindings[i].name);
        if (step == Step::Failed) {
            return {snmp::kGenErr, static_cast<int32_t>(i + 1)};
        }
        if (step == Step::Full) {
            return {};
        }
    }
    if (maxRepetitions == 0) {
        return {};
    }

    std::size_t first = list.items.size();  // first binding of the latest repetition
    std::size_t repeaters = 0;              // R: bindings appended in the first repetition
    for (std::size_t i = nonRepeaters; i < count; ++i) {
        if (estimate >= limit) {
            return {};
        }
        const Step step = candidate(bindings[i].name);
        if (step == Step::Failed) {
            return {snmp::kGenErr, static_cast<int32_t>(i + 1)};
        }
        if (step == Step::Full) {
            return {};
        }
        ++repeaters;
    }
    for (uint32_t repetition = 2; repetition <= maxRepetitions && repeaters > 0; ++repetition) {
        const std::size_t previous = first;
        first = list.items.size();
        for (std::size_t k = 0; k < repeaters; ++k) {
            if (estimate >= limit) {
                return {};
            }
            from_.ids = list.items[previous + k].name.ids;
            const Step step = candidate(from_);
            if (step == Step::Failed) {
                return {snmp::kGenErr, static_cast<int32_t>(nonRepeaters + k + 1)};
            }
            if (step == Step::Full) {
                return {};
            }
        }
    }
    return {};
}

}  // namespace korvimo
