#include "agent/v3_security.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "snmp/ber.h"

namespace korvimo {

namespace {

// The engine's objects, in order. Each is its name's last sub-identifiers after
// 1.3.6.1.6.3 and what it serves.
enum class EngineValue {
    EngineId,
    Boots,
    Time,
    MaxMessageSize,
    UnknownSecurityModels,
    InvalidMsgs,
    UnknownPduHandlers,
    UnavailableContexts,
    UnknownContexts,
    UsmStat,
};

struct EngineObject {
    uint32_t tail[6];
    uint32_t tailLength;
    EngineValue value;
    uint32_t usmStat;
};

constexpr uint32_t kSnmpModules[] = {1, 3, 6, 1, 6, 3};

constexpr EngineObject kEngineObjects[] = {
    {{10, 2, 1, 1, 0}, 5, EngineValue::EngineId, 0},
    {{10, 2, 1, 2, 0}, 5, EngineValue::Boots, 0},
    {{10, 2, 1, 3, 0}, 5, EngineValue::Time, 0},
    {{10, 2, 1, 4, 0}, 5, EngineValue::MaxMessageSize, 0},
    {{11, 2, 1, 1, 0}, 5, EngineValue::UnknownSecurityModels, 0},
    {{11, 2, 1, 2, 0}, 5, EngineValue::InvalidMsgs, 0},
    {{11, 2, 1, 3, 0}, 5, EngineValue::UnknownPduHandlers, 0},
    {{12, 1, 4, 0}, 4, EngineValue::UnavailableContexts, 0},
    {{12, 1, 5, 0}, 4, EngineValue::UnknownContexts, 0},
    {{15, 1, 1, 1, 0}, 5, EngineValue::UsmStat, 1},
    {{15, 1, 1, 2, 0}, 5, EngineValue::UsmStat, 2},
    {{15, 1, 1, 3, 0}, 5, EngineValue::UsmStat, 3},
    {{15, 1, 1, 4, 0}, 5, EngineValue::UsmStat, 4},
    {{15, 1, 1, 5, 0}, 5, EngineValue::UsmStat, 5},
    {{15, 1, 1, 6, 0}, 5, EngineValue::UsmStat, 6},
};

// The objects' names, made once.
const std::vector<snmp::ObjectId>& objectNames() {
    static const std::vector<snmp::ObjectId> names = [] {
        std::vector<snmp::ObjectId> made;
        for (const EngineObject& object : kEngineObjects) {
            snmp::ObjectId& name = made.emplace_back();
            name.ids.assign(std::begin(kSnmpModules), std::end(kSnmpModules));
            name.ids.insert(name.ids.end(), object.tail, object.tail + object.tailLength);
        }
        return made;
    }();
    return names;
}

constexpr uint32_t kUnknownContextsOid[] = {1, 3, 6, 1, 6, 3, 12, 1, 5, 0};
constexpr uint32_t kUnknownPduHandlersOid[] = {1, 3, 6, 1, 6, 3, 11, 2, 1, 3, 0};

bool sameBytes(const snmp::Octets& octets, const std::vector<uint8_t>& bytes) {
    return octets.bytes == bytes;
}

bool sameText(const snmp::Octets& octets, const std::string& text) {
    return octets.length() == text.size() &&
           (text.empty() || std::memcmp(octets.bytes.data(), text.data(), text.size()) == 0);
}

// Whether a PDU of this type may be answered by a Report: Responses, Reports and traps never
// are (RFC 3412 7.1, the Unconfirmed Class).
bool confirmedClass(uint32_t type) {
    return type != snmp::kPduResponse && type != snmp::kPduReport && type != snmp::kPduTrap &&
           type != snmp::kPduSnmpV2Trap;
}

// The request-id a Report answering the message carries: its plaintext scoped PDU's, or 0 when
// there is none to read; nothing when that PDU is of a type no Report may answer.
std::optional<int32_t> plaintextRequestId(const uint8_t* bytes, const snmp::V3Message& message) {
    if (message.encrypted) {
        return 0;
    }
    snmp::Octets contextEngineId;
    snmp::Octets name;
    snmp::Pdu pdu;
    if (!snmp::decodeScopedPdu(bytes + message.scopedOffset, message.scopedLength, contextEngineId,
                               name, &pdu)) {
        return 0;
    }
    if (!confirmedClass(pdu.type)) {
        return std::nullopt;
    }
    return pdu.requestId;
}

int levelRank(snmp::SecurityLevel level) {
    return static_cast<int>(level);
}

}  // namespace

Result prepareUsers(const std::vector<snmp::UsmUser>& users, PreparedUsers& prepared) {
    prepared.users.clear();
    prepared.users.reserve(users.size());
    for (const snmp::UsmUser& user : users) {
        snmp::UserKeys keys;
        if (Result r = snmp::prepareUserKeys(user, keys); !r) {
            return Result::failuref("User [%s]: %s", user.name.c_str(), r.c_str());
        }
        prepared.users.push_back(std::move(keys));
    }
    return {};
}

V3Security::V3Security(EngineIdentity engine, std::shared_ptr<const PreparedUsers> users,
                       std::string contextName, const Clock& clock, uint32_t maxMessageSize)
    : engine_(std::move(engine)),
      users_(std::move(users)),
      contextName_(std::move(contextName)),
      clock_(clock),
      maxMessageSize_(maxMessageSize) {}

Result V3Security::start() {
    localized_.clear();
    if (users_ != nullptr) {
        localized_.reserve(users_->users.size());
        for (const snmp::UserKeys& keys : users_->users) {
            snmp::LocalizedUser user;
            if (Result r = snmp::localizeUser(keys, engine_.engineId, user); !r) {
                return Result::failuref("User [%s]: %s", keys.config.name.c_str(), r.c_str());
            }
            localized_.push_back(std::move(user));
        }
    }
    startMs_ = clock_.monotonicMs();
    return {};
}

uint32_t V3Security::engineTime() const {
    const uint64_t seconds = (clock_.monotonicMs() - startMs_) / 1000;
    return static_cast<uint32_t>(std::min<uint64_t>(seconds, snmp::kMaxEngineBoots));
}

const snmp::LocalizedUser* V3Security::findUser(const snmp::Octets& name) const {
    for (const snmp::LocalizedUser& user : localized_) {
        if (sameText(name, user.config.name)) {
            return &user;
        }
    }
    return nullptr;
}

bool V3Security::report(const snmp::V3Message& message, snmp::SecurityLevel level,
                        const snmp::LocalizedUser* user, const snmp::Octets& userName,
                        int32_t requestId, const snmp::Octets& contextName,
                        const uint32_t* counterOid, std::size_t counterOidLength, uint32_t counter,
                        const Send& send) {
    snmp::Pdu pdu;
    pdu.version = snmp::kVersion3;
    pdu.type = snmp::kPduReport;
    pdu.requestId = requestId;
    snmp::VarBind& binding = pdu.varBinds.items.emplace_back();
    binding.name.ids.assign(counterOid, counterOid + counterOidLength);
    binding.value.syntax = snmp::kTagCounter;
    binding.value.number = counter;

    snmp::OutgoingSecurity security;
    security.msgId = message.header.msgId;
    security.maxSize = static_cast<int32_t>(snmp::kMaxDatagramSize);
    security.reportable = false;
    security.level = level;
    security.engineId = engine_.engineId;
    security.boots = engine_.boots;
    security.time = engineTime();
    security.user = level == snmp::SecurityLevel::NoAuthNoPriv ? nullptr : user;
    security.userName = {userName.bytes.data(), userName.bytes.size()};
    security.salts = &salts_;
    snmp::Octets contextEngineId;
    contextEngineId.bytes = engine_.engineId;
    if (out_.size() < snmp::kMaxMessageSize) {
        out_.resize(snmp::kMaxMessageSize);
    }
    uint32_t size = static_cast<uint32_t>(out_.size());
    if (!snmp::encodeSecureMessage(security, contextEngineId, contextName, pdu, out_.data(),
                                   &size)) {
        return false;
    }
    return send(out_.data(), size);
}

bool V3Security::usmReport(const snmp::V3Message& message, snmp::UsmReport which,
                           snmp::SecurityLevel level, const snmp::LocalizedUser* user,
                           std::optional<int32_t> requestId, const Send& send) {
    const uint32_t n = static_cast<uint32_t>(which);
    ++counters_.usmStats[n];
    if ((message.header.flags & snmp::kFlagReportable) == 0 || !requestId) {
        return false;
    }
    uint32_t oid[11];
    std::copy(std::begin(snmp::kUsmStatsPrefix), std::end(snmp::kUsmStatsPrefix), oid);
    oid[9] = n;
    oid[10] = 0;
    static const snmp::Octets noContext;
    return report(message, level, user, message.usm.userName, *requestId, noContext, oid, 11,
                  counters_.usmStats[n], send);
}

V3Security::Outcome V3Security::receive(const uint8_t* bytes, std::size_t length, Request& request,
                                        const Send& send) {
    request.reason.clear();
    if (length == 0) {
        ++counters_.invalidMsgs;
        request.reason = "Empty message";
        return Outcome::Dropped;
    }
    if (length > received_.size()) {
        received_.resize(length);
    }
    std::memcpy(received_.data(), bytes, length);
    uint8_t* message_bytes = received_.data();
    const uint32_t size = static_cast<uint32_t>(length);

    snmp::V3Message message;
    if (Result r = snmp::decodeV3Message(message_bytes, size, message); !r) {
        ++counters_.invalidMsgs;
        request.reason = r.text();
        return Outcome::Dropped;
    }
    if (message.header.securityModel != snmp::kSecurityModelUsm) {
        ++counters_.unknownSecurityModels;
        request.reason = "Unknown security model";
        return Outcome::Dropped;
    }
    snmp::SecurityLevel level;
    if (!snmp::levelFromFlags(message.header.flags, level)) {
        ++counters_.invalidMsgs;
        request.reason = "Privacy without authentication";
        return Outcome::Dropped;
    }
    auto reported = [](bool sent) { return sent ? Outcome::Reported : Outcome::Dropped; };

    if (!sameBytes(message.usm.engineId, engine_.engineId)) {
        request.reason = "Unknown engine ID";
        return reported(usmReport(message, snmp::UsmReport::UnknownEngineIds,
                                  snmp::SecurityLevel::NoAuthNoPriv, nullptr,
                                  plaintextRequestId(message_bytes, message), send));
    }
    const snmp::LocalizedUser* user = findUser(message.usm.userName);
    if (user == nullptr) {
        request.reason = "Unknown user name";
        return reported(usmReport(message, snmp::UsmReport::UnknownUserNames,
                                  snmp::SecurityLevel::NoAuthNoPriv, nullptr,
                                  plaintextRequestId(message_bytes, message), send));
    }
    if (levelRank(level) > levelRank(user->config.level())) {
        request.reason = "Unsupported security level";
        return reported(usmReport(message, snmp::UsmReport::UnsupportedSecLevels,
                                  snmp::SecurityLevel::NoAuthNoPriv, nullptr,
                                  plaintextRequestId(message_bytes, message), send));
    }

    snmp::Octets contextEngineId;
    snmp::Octets contextName;
    Result why;
    const snmp::OpenFailure opened =
        snmp::openSecureMessage(message_bytes, size, message, level, user, plain_, contextEngineId,
                                contextName, &request.pdu, &why);
    if (opened == snmp::OpenFailure::WrongDigest) {
        request.reason = "Wrong digest";
        return reported(usmReport(message, snmp::UsmReport::WrongDigests,
                                  snmp::SecurityLevel::NoAuthNoPriv, nullptr,
                                  plaintextRequestId(message_bytes, message), send));
    }
    if (level != snmp::SecurityLevel::NoAuthNoPriv) {
        const int64_t ours = engineTime();
        const bool inWindow = engine_.boots < static_cast<uint32_t>(snmp::kMaxEngineBoots) &&
                              static_cast<uint32_t>(message.usm.boots) == engine_.boots &&
                              std::abs(message.usm.time - ours) <= snmp::kTimeWindow;
        if (!inWindow) {
            request.reason = "Not in time window";
            return reported(usmReport(
                message, snmp::UsmReport::NotInTimeWindows, snmp::SecurityLevel::AuthNoPriv, user,
                opened != snmp::OpenFailure::None  ? std::optional<int32_t>(0)
                : confirmedClass(request.pdu.type) ? std::optional<int32_t>(request.pdu.requestId)
                                                   : std::nullopt,
                send));
        }
    }
    if (opened == snmp::OpenFailure::DecryptionError) {
        request.reason = "Decryption error";
        return reported(usmReport(message, snmp::UsmReport::DecryptionErrors,
                                  snmp::SecurityLevel::NoAuthNoPriv, nullptr, 0, send));
    }
    if (opened != snmp::OpenFailure::None) {
        ++counters_.invalidMsgs;
        request.reason = why.text();
        return Outcome::Dropped;
    }

    const uint32_t type = request.pdu.type;
    if (type != snmp::kPduGetRequest && type != snmp::kPduGetNextRequest &&
        type != snmp::kPduGetBulkRequest && type != snmp::kPduSetRequest) {
        request.reason = "Not a request";
        return Outcome::Dropped;
    }
    const bool reportable = (message.header.flags & snmp::kFlagReportable) != 0;
    if (contextEngineId.length() != 0 && !sameBytes(contextEngineId, engine_.engineId)) {
        ++counters_.unknownPduHandlers;
        request.reason = "Unknown context engine ID";
        return reportable
                   ? reported(report(message, level, user, message.usm.userName,
                                     request.pdu.requestId, contextName, kUnknownPduHandlersOid,
                                     std::size(kUnknownPduHandlersOid),
                                     counters_.unknownPduHandlers, send))
                   : Outcome::Dropped;
    }
    if (contextName.length() != 0 && !sameText(contextName, contextName_)) {
        ++counters_.unknownContexts;
        request.reason = "Unknown context";
        return reportable ? reported(report(message, level, user, message.usm.userName,
                                            request.pdu.requestId, contextName, kUnknownContextsOid,
                                            std::size(kUnknownContextsOid),
                                            counters_.unknownContexts, send))
                          : Outcome::Dropped;
    }

    Reply& reply = request.reply;
    reply.engine_ = this;
    reply.user_ = user;
    reply.level_ = level;
    reply.belowUserLevel_ = levelRank(level) < levelRank(user->config.level());
    reply.msgId_ = message.header.msgId;
    reply.maxSize_ = static_cast<uint32_t>(message.header.maxSize);
    reply.contextEngineId_.bytes = engine_.engineId;
    reply.contextName_ = std::move(contextName);
    return Outcome::Serve;
}

snmp::OutgoingSecurity V3Security::Reply::outgoing() const {
    snmp::OutgoingSecurity security;
    security.msgId = msgId_;
    security.maxSize = static_cast<int32_t>(snmp::kMaxDatagramSize);
    security.level = level_;
    security.engineId = engine_->engine_.engineId;
    security.boots = engine_->engine_.boots;
    security.time = engine_->engineTime();
    security.user = user_;
    security.salts = &engine_->salts_;
    return security;
}

uint32_t V3Security::Reply::overhead() const {
    snmp::OutgoingSecurity security = outgoing();
    security.time = snmp::kMaxEngineBoots;  // the widest the time may take
    // The message around an empty scoped PDU, the scoped PDU's own header and context, and a
    // DES block's padding.
    return snmp::secureMessageSize(security, 0) + 4 + snmp::tlvSize(contextEngineId_.length()) +
           snmp::tlvSize(contextName_.length()) + 8;
}

Result V3Security::Reply::wrap(const snmp::Pdu& response, uint8_t* out, uint32_t* size,
                               bool* tooBig) const {
    if (tooBig != nullptr) {
        *tooBig = false;
    }
    const snmp::OutgoingSecurity security = outgoing();
    const uint32_t capacity = std::min(*size, maxSize_);
    uint32_t length = capacity;
    Result r =
        snmp::encodeSecureMessage(security, contextEngineId_, contextName_, response, out, &length);
    if (!r) {
        if (tooBig != nullptr) {
            const uint32_t scoped = snmp::encodedScopedPduSize(
                contextEngineId_, contextName_, response.requestId, response.errorStatus,
                response.errorIndex, response.varBinds);
            *tooBig = scoped == 0 || snmp::secureMessageSize(security, scoped) > capacity;
        }
        return r;
    }
    *size = length;
    return {};
}

bool V3Security::lookupObject(const snmp::ObjectId& name, snmp::SyntaxValue& value) const {
    const std::vector<snmp::ObjectId>& names = objectNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (compareOid(names[i], name) == 0) {
            objectValue(i, value);
            return true;
        }
    }
    return false;
}

bool V3Security::nextObject(const snmp::ObjectId& from, snmp::ObjectId& name,
                            snmp::SyntaxValue& value) const {
    // Everything lies under 1.3.6.1.6.3: nothing follows a name beyond it.
    static const snmp::ObjectId modules{{std::begin(kSnmpModules), std::end(kSnmpModules)}};
    if (compareOid(from, modules, 6) > 0) {
        return false;
    }
    const std::vector<snmp::ObjectId>& names = objectNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (compareOid(names[i], from) > 0) {
            objectValue(i, value);
            name.ids = names[i].ids;
            return true;
        }
    }
    return false;
}

void V3Security::objectValue(std::size_t index, snmp::SyntaxValue& value) const {
    const EngineObject& object = kEngineObjects[index];
    value = snmp::SyntaxValue{};
    value.syntax = snmp::kTagCounter;
    switch (object.value) {
        case EngineValue::EngineId:
            value.syntax = snmp::kTagOctetString;
            value.octets.bytes = engine_.engineId;
            break;
        case EngineValue::Boots:
            value.syntax = snmp::kTagInteger;
            value.number = engine_.boots;
            break;
        case EngineValue::Time:
            value.syntax = snmp::kTagInteger;
            value.number = engineTime();
            break;
        case EngineValue::MaxMessageSize:
            value.syntax = snmp::kTagInteger;
            value.number = maxMessageSize_;
            break;
        case EngineValue::UnknownSecurityModels:
            value.number = counters_.unknownSecurityModels;
            break;
        case EngineValue::InvalidMsgs:
            value.number = counters_.invalidMsgs;
            break;
        case EngineValue::UnknownPduHandlers:
            value.number = counters_.unknownPduHandlers;
            break;
        case EngineValue::UnavailableContexts:
            value.number = 0;
            break;
        case EngineValue::UnknownContexts:
            value.number = counters_.unknownContexts;
            break;
        case EngineValue::UsmStat:
            value.number = counters_.usmStats[object.usmStat];
            break;
    }
}

}  // namespace korvimo
