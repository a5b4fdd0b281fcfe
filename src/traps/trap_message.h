// The message a trap of a trap file goes out as: an SNMPv1 Trap, an SNMPv2c SNMPv2-Trap or an
// SNMPv2c InformRequest.
//
// A trap is prepared once (its definition, its "%V" bindings, its notification identifier)
// and each send then only builds the message around it, so that sending the same trap many
// times costs neither the file nor mibinfo.out again.
//
//   PreparedTrap trap;
//   if (Result r = prepareTrap(file, position, mib, TrapKind::Notification, keepV1Zero, trap);
//       !r) skip(r.text());
//   std::unique_ptr<snmp::Pdu> pdu;
//   Result r = buildTrapPdu(trap, TrapKind::Notification, "public", agentAddr,
//                           uptimeSeconds * 100, 0, pdu);
//
// Notification identifiers, by generic code:
//   7                  <enterprise>.<specific>   (a notification defined the SNMPv2 way)
//   6, and above 7     <enterprise>.0.<specific> (an enterprise-specific SNMPv1 trap)
//   below 6            1.3.6.1.6.3.1.1.5.<generic + 1> (coldStart .1 ... egpNeighborLoss .6)
// An SNMPv2c notification or inform carries sysUpTime.0 (TimeTicks, the time-stamp) and
// snmpTrapOID.0 (that identifier) before the "%V" bindings; an SNMPv1 Trap carries the "%V"
// bindings alone, with generic 7 sent as 6.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/result.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"
#include "traps/trap_file.h"

namespace korvimo::traps {

// How a trap goes out.
enum class TrapKind {
    V1Trap,        // SNMPv1 Trap-PDU
    Notification,  // SNMPv2c SNMPv2-Trap (tag 0xA7, request-id 1)
    Inform,        // SNMPv2c InformRequest (tag 0xA6, a fresh request-id), answered by a Response
};

inline constexpr const char* kStandardNotificationPrefix = "1.3.6.1.6.3.1.1.5";

struct PreparedTrap {
    TrapDefinition definition;
    snmp::VarBindList bindings;     // of its "%V" lines, in file order
    snmp::ObjectId notificationId;  // sent as snmpTrapOID.0 (a notification or inform)
    snmp::ObjectId v1Enterprise;    // the enterprise of its SNMPv1 Trap
};

// The notification identifier text of a definition (table above).
std::string notificationIdentifier(const TrapDefinition& trap);

// The enterprise an SNMPv1 Trap carries: for generic 7, unless keepTrailingZero (the
// SV2TOV1TRAPNOZERO setting "NO"), an enterprise of three or more characters ending in ".0"
// loses it, so that a notification's ...enterprise.0.n comes back as enterprise, 6, n.
std::string v1EnterpriseText(const TrapDefinition& trap, bool keepTrailingZero);

// Prepares the trap at position to go out as kind: of the two identifiers only the one that
// kind sends is made (an SNMPv1 Trap's enterprise, or a notification's or inform's
// notification identifier), so a trap is refused only for what it carries. Fails with an
// empty text when the file has no such "%T" line or one of its fields is missing (the trap is
// skipped without a message), with the binding's text when a "%V" line does not make a
// binding, and with "SnmpStrToOid() trap enterprise failed." when that identifier is none.
Result prepareTrap(const TrapFile& file, std::size_t position, const mibinfo::MibInfo* mib,
                   TrapKind kind, bool keepTrailingZero, PreparedTrap& trap);

// The message of one send of trap: community, the agent address of an SNMPv1 Trap (4 bytes,
// network order), the time-stamp in hundredths of a second (sysUpTime.0 of a notification),
// and the request-id of an inform. trap must have been prepared for kind. Failure texts are those
// of sendTrap
// ("SnmpCreateOctets() community failed.", "SnmpCreateTPdu() failed").
Result buildTrapPdu(const PreparedTrap& trap, TrapKind kind, std::string_view community,
                    const uint8_t agentAddr[4], uint32_t timeStamp, int32_t requestId,
                    std::unique_ptr<snmp::Pdu>& pdu);

}  // namespace korvimo::traps
