// The message a trap of a trap file goes out as: an SNMPv1 Trap, an SNMPv2c SNMPv2-Trap or an
// SNMPv2c InformRequest, or the same two PDUs in SNMPv3 messages as a user (V3Notifier).
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
// An SNMPv2c or SNMPv3 notification or inform carries sysUpTime.0 (TimeTicks, the time-stamp) and
// snmpTrapOID.0 (that identifier) before the "%V" bindings; an SNMPv1 Trap carries the "%V"
// bindings alone, with generic 7 sent as 6.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"
#include "snmp/usm.h"
#include "traps/trap_file.h"

namespace korvimo::traps {

// How a trap goes out.
enum class TrapKind {
    V1Trap,          // SNMPv1 Trap-PDU
    Notification,    // SNMPv2c SNMPv2-Trap (tag 0xA7, request-id 1)
    Inform,          // SNMPv2c InformRequest (tag 0xA6, a fresh request-id), answered by a Response
    V3Notification,  // SNMPv2-Trap in an SNMPv3 message: we are its authoritative engine
    V3Inform,        // InformRequest in an SNMPv3 message, to the receiver's (discovered) engine
};

inline bool isInform(TrapKind kind) {
    return kind == TrapKind::Inform || kind == TrapKind::V3Inform;
}
inline bool isV3(TrapKind kind) {
    return kind == TrapKind::V3Notification || kind == TrapKind::V3Inform;
}

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
// and the request-id of an inform. trap must have been prepared for kind. The PDU of an SNMPv3
// kind has version kVersion3 and no community: V3Notifier wraps it. Failure texts are those
// of sendTrap ("SnmpCreateOctets() community failed.", "SnmpCreateTPdu() failed").
Result buildTrapPdu(const PreparedTrap& trap, TrapKind kind, std::string_view community,
                    const uint8_t agentAddr[4], uint32_t timeStamp, int32_t requestId,
                    std::unique_ptr<snmp::Pdu>& pdu);

// An SNMPv3 answer to a notification sender: a Response or a Report, read and, when
// authenticated, checked with the user's keys.
struct V3Answer {
    snmp::V3Message message;
    snmp::SecurityLevel level = snmp::SecurityLevel::NoAuthNoPriv;
    snmp::Pdu pdu;
};

// The SNMPv3 side of a notification sender (RFC 3414): one user, its keys localised to the
// authoritative engine of its messages (our own for traps, the receiver's for informs), and
// that engine's boots and time as we reckon them: the time last learnt plus the seconds since.
//
//   V3Notifier notifier;
//   if (Result r = notifier.setUser(user); !r) ...                 // the costly hashing
//   if (Result r = notifier.setEngine(ourId, boots, 0, nowMs); !r) ... // localised keys
//   uint32_t size = sizeof out;
//   Result r = notifier.encode(*pdu, msgId, false, nowMs, out, &size);
//
// Informs first learn the receiver's engine with encodeDiscovery (RFC 3414 4): its Report
// gives the engine ID, boots and time that setEngine takes.
class V3Notifier {
  public:
    Result setUser(const snmp::UsmUser& user);
    const snmp::UsmUser& user() const { return keys_.config; }

    // The authoritative engine; its time was time at nowMs. Fails for an ID of other than 5 to
    // 32 octets, or when the keys cannot be localised.
    Result setEngine(std::span<const uint8_t> engineId, uint32_t boots, uint32_t time,
                     uint64_t nowMs);
    bool hasEngine() const { return hasEngine_; }
    const std::vector<uint8_t>& engineId() const { return engineId_; }
    uint32_t boots() const { return boots_; }
    uint32_t engineTime(uint64_t nowMs) const;
    // The boots and time of an authenticated message of the engine: taken when they are later
    // than ours (RFC 3414 3.2 7b), or always with force (a notInTimeWindows Report).
    void observe(uint32_t boots, uint32_t time, uint64_t nowMs, bool force);

    // pdu (its type, request-id and bindings) in a message at the user's level, with the
    // engine as contextEngineID and an empty contextName. *size is the capacity in and the
    // length out.
    Result encode(const snmp::Pdu& pdu, int32_t msgId, bool reportable, uint64_t nowMs,
                  uint8_t* out, uint32_t* size);
    // The discovery request: noAuthNoPriv, reportable, without engine ID or user name,
    // carrying an empty Get of requestId.
    static Result encodeDiscovery(int32_t msgId, int32_t requestId, uint8_t* out, uint32_t* size);

    // Reads an answer in bytes (its digest zeroed in turn while checked): an unauthenticated
    // one as it stands, an authenticated one only from the engine, for the user, with a
    // digest (and a ciphertext) made with the user's keys. The failure tells why.
    Result open(uint8_t* bytes, uint32_t length, V3Answer& answer);

  private:
    snmp::UserKeys keys_;
    snmp::LocalizedUser localized_;
    bool hasEngine_ = false;
    std::vector<uint8_t> engineId_;
    uint32_t boots_ = 0;
    uint32_t time_ = 0;
    uint64_t timeAtMs_ = 0;
    snmp::SaltSource salts_;
    std::vector<uint8_t> plain_;
};

// The counter a Report names in its first binding: "usmStatsUnknownUserNames" and the other
// usmStats counters by name, any other as its dotted name, "an empty Report" without one.
std::string reportedCounter(const snmp::Pdu& report);
// The usmStats counter of a Report (its first binding is usmStats.N.0), or none.
bool reportedUsmStat(const snmp::Pdu& report, snmp::UsmReport& which);

}  // namespace korvimo::traps
