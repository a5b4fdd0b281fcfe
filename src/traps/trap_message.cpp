#include "traps/trap_message.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "agent/message_sending.h"
#include "base/text.h"

namespace korvimo::traps {

std::string notificationIdentifier(const TrapDefinition& trap) {
    if (trap.generic == 7) {
        return formatText("%s.%d", trap.enterprise.c_str(), trap.specific);
    }
    if (trap.generic >= 6) {
        return formatText("%s.0.%d", trap.enterprise.c_str(), trap.specific);
    }
    return formatText("%s.%d", kStandardNotificationPrefix, trap.generic + 1);
}

std::string v1EnterpriseText(const TrapDefinition& trap, bool keepTrailingZero) {
    const std::string& enterprise = trap.enterprise;
    if (trap.generic == 7 && !keepTrailingZero && enterprise.size() >= 3 &&
        enterprise.ends_with(".0")) {
        return enterprise.substr(0, enterprise.size() - 2);
    }
    return enterprise;
}

Result prepareTrap(const TrapFile& file, std::size_t position, const mibinfo::MibInfo* mib,
                   TrapKind kind, bool keepTrailingZero, PreparedTrap& trap) {
    trap = PreparedTrap{};
    if (!file.definition(position, trap.definition)) {
        return Result::failure("");
    }
    if (Result bound = file.appendBindings(trap.definition.name, mib, trap.bindings); !bound) {
        return bound;
    }
    const bool converted =
        kind == TrapKind::V1Trap
            ? snmp::SnmpStrToOid(v1EnterpriseText(trap.definition, keepTrailingZero).c_str(),
                                 &trap.v1Enterprise) != 0
            : snmp::SnmpStrToOid(notificationIdentifier(trap.definition).c_str(),
                                 &trap.notificationId) != 0;
    if (!converted) {
        return Result::failure(kTrapEnterpriseFailedText);
    }
    return {};
}

Result buildTrapPdu(const PreparedTrap& trap, TrapKind kind, std::string_view community,
                    const uint8_t agentAddr[4], uint32_t timeStamp, int32_t requestId,
                    std::unique_ptr<snmp::Pdu>& pdu) {
    std::unique_ptr<snmp::VarBindList> list = snmp::SnmpCreateVbl();
    if (list == nullptr) {
        return Result::failure(kCreateVblFailedText);
    }
    if (kind != TrapKind::V1Trap) {
        // The two names every notification begins with, made once for the process.
        static const snmp::ObjectId upTimeName{{1, 3, 6, 1, 2, 1, 1, 3, 0}};
        static const snmp::ObjectId trapOidName{{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}};
        snmp::SyntaxValue upTime;
        upTime.syntax = snmp::kTagTimeTicks;
        upTime.number = timeStamp;
        snmp::SyntaxValue trapOid;
        trapOid.syntax = snmp::kTagObjectId;
        trapOid.oid = trap.notificationId;
        if (!snmp::SnmpAddVb(list.get(), &upTimeName, &upTime) ||
            !snmp::SnmpAddVb(list.get(), &trapOidName, &trapOid)) {
            return Result::failure(kAddVbFailedText);
        }
    }
    for (const snmp::VarBind& binding : trap.bindings.items) {
        if (!snmp::SnmpAddVb(list.get(), &binding.name, &binding.value)) {
            return Result::failure(kAddVbFailedText);
        }
    }
    const uint32_t type = kind == TrapKind::V1Trap ? snmp::kPduTrap
                          : isInform(kind)         ? snmp::kPduInformRequest
                                                   : snmp::kPduSnmpV2Trap;
    if (Result made =
            makeTrapPdu(std::move(list), isV3(kind) ? std::string_view() : community, type,
                        trap.v1Enterprise, agentAddr, timeStamp, trap.definition.generic,
                        trap.definition.specific, isInform(kind) ? requestId : 1, pdu);
        !made) {
        return made;
    }
    if (isV3(kind)) {
        pdu->version = snmp::kVersion3;
    }
    return {};
}

Result V3Notifier::setUser(const snmp::UsmUser& user) {
    hasEngine_ = false;
    engineId_.clear();
    return snmp::prepareUserKeys(user, keys_);
}

Result V3Notifier::setEngine(std::span<const uint8_t> engineId, uint32_t boots, uint32_t time,
                             uint64_t nowMs) {
    if (engineId.size() < 5 || engineId.size() > snmp::kMaxEngineId) {
        hasEngine_ = false;
        return Result::failuref("an engine ID has 5 to %u octets, not %zu", snmp::kMaxEngineId,
                                engineId.size());
    }
    if (!hasEngine_ ||
        !std::equal(engineId.begin(), engineId.end(), engineId_.begin(), engineId_.end())) {
        hasEngine_ = false;
        if (Result r = snmp::localizeUser(keys_, engineId, localized_); !r) {
            return r;
        }
        engineId_.assign(engineId.begin(), engineId.end());
    }
    hasEngine_ = true;
    boots_ = boots;
    time_ = time;
    timeAtMs_ = nowMs;
    return {};
}

uint32_t V3Notifier::engineTime(uint64_t nowMs) const {
    const uint64_t seconds = time_ + (nowMs >= timeAtMs_ ? (nowMs - timeAtMs_) / 1000 : 0);
    return static_cast<uint32_t>(std::min<uint64_t>(seconds, snmp::kMaxEngineBoots));
}

void V3Notifier::observe(uint32_t boots, uint32_t time, uint64_t nowMs, bool force) {
    if (force || boots > boots_ || (boots == boots_ && time > engineTime(nowMs))) {
        boots_ = boots;
        time_ = time;
        timeAtMs_ = nowMs;
    }
}

Result V3Notifier::encode(const snmp::Pdu& pdu, int32_t msgId, bool reportable, uint64_t nowMs,
                          uint8_t* out, uint32_t* size) {
    if (!hasEngine_) {
        return Result::failure("no SNMPv3 engine to send to");
    }
    snmp::OutgoingSecurity security;
    security.msgId = msgId;
    security.maxSize = static_cast<int32_t>(snmp::kMaxDatagramSize);
    security.reportable = reportable;
    security.level = keys_.config.level();
    security.engineId = engineId_;
    security.boots = boots_;
    security.time = engineTime(nowMs);
    security.user = &localized_;
    security.salts = &salts_;
    snmp::Octets contextEngineId;
    contextEngineId.bytes = engineId_;
    static const snmp::Octets noContext;
    return snmp::encodeSecureMessage(security, contextEngineId, noContext, pdu, out, size);
}

Result V3Notifier::encodeDiscovery(int32_t msgId, int32_t requestId, uint8_t* out, uint32_t* size) {
    snmp::Pdu probe;
    probe.version = snmp::kVersion3;
    probe.type = snmp::kPduGetRequest;
    probe.requestId = requestId;
    snmp::OutgoingSecurity security;
    security.msgId = msgId;
    security.maxSize = static_cast<int32_t>(snmp::kMaxDatagramSize);
    security.reportable = true;
    security.level = snmp::SecurityLevel::NoAuthNoPriv;
    static const snmp::Octets empty;
    return snmp::encodeSecureMessage(security, empty, empty, probe, out, size);
}

Result V3Notifier::open(uint8_t* bytes, uint32_t length, V3Answer& answer) {
    answer = V3Answer{};
    snmp::V3Message& message = answer.message;
    if (Result r = snmp::decodeV3Message(bytes, length, message); !r) {
        return r;
    }
    if (message.header.securityModel != snmp::kSecurityModelUsm) {
        return Result::failuref("SNMPv3 answer of security model %d, not the USM",
                                message.header.securityModel);
    }
    if (!snmp::levelFromFlags(message.header.flags, answer.level)) {
        return Result::failure("SNMPv3 answer with privacy but no authentication");
    }
    const snmp::LocalizedUser* user = nullptr;
    if (answer.level != snmp::SecurityLevel::NoAuthNoPriv) {
        const std::string& name = keys_.config.name;
        const snmp::Octets& userName = message.usm.userName;
        if (!hasEngine_ || message.usm.engineId.bytes != engineId_) {
            return Result::failure("SNMPv3 answer from an engine we do not send to");
        }
        if (userName.length() != name.size() ||
            !std::equal(name.begin(), name.end(), userName.bytes.begin())) {
            return Result::failure("SNMPv3 answer for another user");
        }
        user = &localized_;
    }
    snmp::Octets contextEngineId;
    snmp::Octets contextName;
    Result text;
    switch (snmp::openSecureMessage(bytes, length, message, answer.level, user, plain_,
                                    contextEngineId, contextName, &answer.pdu, &text)) {
        case snmp::OpenFailure::None:
            return {};
        case snmp::OpenFailure::WrongDigest:
            return Result::failure("SNMPv3 answer with a wrong digest");
        case snmp::OpenFailure::DecryptionError:
            return Result::failure("SNMPv3 answer that does not decrypt");
        case snmp::OpenFailure::Malformed:
            break;
    }
    return text ? Result::failure("SNMPv3 answer with a malformed scoped PDU") : text;
}

bool reportedUsmStat(const snmp::Pdu& report, snmp::UsmReport& which) {
    if (report.varBinds.items.empty()) {
        return false;
    }
    const std::vector<uint32_t>& ids = report.varBinds.items.front().name.ids;
    constexpr std::size_t prefix = std::size(snmp::kUsmStatsPrefix);
    if (ids.size() != prefix + 2 || ids[prefix + 1] != 0 || ids[prefix] < 1 || ids[prefix] > 6 ||
        !std::equal(std::begin(snmp::kUsmStatsPrefix), std::end(snmp::kUsmStatsPrefix),
                    ids.begin())) {
        return false;
    }
    which = static_cast<snmp::UsmReport>(ids[prefix]);
    return true;
}

std::string reportedCounter(const snmp::Pdu& report) {
    static const char* const kNames[] = {
        "",
        "usmStatsUnsupportedSecLevels",
        "usmStatsNotInTimeWindows",
        "usmStatsUnknownUserNames",
        "usmStatsUnknownEngineIDs",
        "usmStatsWrongDigests",
        "usmStatsDecryptionErrors",
    };
    snmp::UsmReport which;
    if (reportedUsmStat(report, which)) {
        return kNames[static_cast<uint32_t>(which)];
    }
    if (report.varBinds.items.empty()) {
        return "an empty Report";
    }
    std::string dotted;
    for (const uint32_t id : report.varBinds.items.front().name.ids) {
        dotted += (dotted.empty() ? "" : ".") + std::to_string(id);
    }
    return dotted;
}

}  // namespace korvimo::traps
