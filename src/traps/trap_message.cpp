#include "traps/trap_message.h"

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
    const uint32_t type = kind == TrapKind::V1Trap         ? snmp::kPduTrap
                          : kind == TrapKind::Notification ? snmp::kPduSnmpV2Trap
                                                           : snmp::kPduInformRequest;
    return makeTrapPdu(std::move(list), community, type, trap.v1Enterprise, agentAddr, timeStamp,
                       trap.definition.generic, trap.definition.specific,
                       kind == TrapKind::Inform ? requestId : 1, pdu);
}

}  // namespace korvimo::traps
