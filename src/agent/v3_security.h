// V3Security: an agent's SNMPv3 engine. It takes each SNMPv3 message the agent's endpoint
// receives through the User-based Security Model (RFC 3414 3.2) and either hands the request
// it carries to the agent, or answers it with a Report: engine ID discovery
// (usmStatsUnknownEngineIDs), a message outside the time window (usmStatsNotInTimeWindows,
// sent authenticated so the manager can trust our clock), an unknown user, a level the user
// does not have, a wrong digest, a message that does not decrypt, and a context the agent
// does not serve (snmpUnknownContexts). The agent's Responses to SNMPv3 requests are wrapped
// here too, at the request's level.
//
//   V3Security security({engineId, boots}, users, "demo", clock);
//   if (Result r = security.start(); !r) ...          // keys localised to the engine
//   V3Security::Request request;
//   switch (security.receive(bytes, length, request, send)) {
//       case V3Security::Outcome::Serve: ... answer request.pdu; wrap with request.reply ...
//   }
//
// The engine's objects are the agent's MIB objects too: snmpEngineID, snmpEngineBoots,
// snmpEngineTime and snmpEngineMaxMessageSize (SNMP-FRAMEWORK-MIB), snmpUnknownSecurityModels,
// snmpInvalidMsgs and snmpUnknownPDUHandlers (SNMP-MPD-MIB), snmpUnknownContexts
// (SNMP-TARGET-MIB) and the six usmStats counters (SNMP-USER-BASED-SM-MIB).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/message_sending.h"
#include "app/core/clock.h"
#include "base/result.h"
#include "snmp/message.h"
#include "snmp/usm.h"

namespace korvimo {

// What identifies an engine across restarts: its ID and how often it has started.
struct EngineIdentity {
    std::vector<uint8_t> engineId;
    uint32_t boots = 1;
};

// The users an agent (or many) accept, their pass phrases hashed once.
struct PreparedUsers {
    std::vector<snmp::UserKeys> users;
};
// Prepares users (the costly key derivation); fails with the first failure, naming the user.
Result prepareUsers(const std::vector<snmp::UsmUser>& users, PreparedUsers& prepared);

// Counters of the engine, served as MIB objects.
struct V3Counters {
    uint32_t usmStats[7] = {};  // by snmp::UsmReport, 1 to 6
    uint32_t unknownSecurityModels = 0;
    uint32_t invalidMsgs = 0;
    uint32_t unknownPduHandlers = 0;
    uint32_t unknownContexts = 0;
};

class V3Security {
  public:
    V3Security(EngineIdentity engine, std::shared_ptr<const PreparedUsers> users,
               std::string contextName, const Clock& clock, uint32_t maxMessageSize);

    // Localises every user's keys to the engine and starts the engine's clock.
    Result start();

    // How a request answered at the level it came is wrapped: kept from receive() to the
    // Response.
    class Reply final : public MessageWrapper {
      public:
        Result wrap(const snmp::Pdu& response, uint8_t* out, uint32_t* size,
                    bool* tooBig) const override;
        // Octets the wrapping adds around the PDU, at most.
        uint32_t overhead() const override;
        uint32_t limit() const override { return maxSize_; }
        const snmp::LocalizedUser* user() const { return user_; }
        // The request came at a lower level than its user's: it is refused as not authorized.
        bool belowUserLevel() const { return belowUserLevel_; }
        snmp::SecurityLevel level() const { return level_; }
        // The context as the request named it (shown as text).
        std::string contextName() const {
            return std::string(contextName_.bytes.begin(), contextName_.bytes.end());
        }

      private:
        friend class V3Security;
        // How the answer goes out: the request's level, user and msgID, the engine's now.
        snmp::OutgoingSecurity outgoing() const;
        V3Security* engine_ = nullptr;
        const snmp::LocalizedUser* user_ = nullptr;
        snmp::SecurityLevel level_ = snmp::SecurityLevel::NoAuthNoPriv;
        bool belowUserLevel_ = false;
        int32_t msgId_ = 0;
        uint32_t maxSize_ = 0;
        snmp::Octets contextEngineId_;
        snmp::Octets contextName_;
    };

    enum class Outcome {
        Serve,     // request.pdu is a request to answer, wrapped with request.reply
        Reported,  // a Report went out
        Dropped,   // nothing is answered (see the counters and the reason)
    };
    struct Request {
        snmp::Pdu pdu;
        Reply reply;
        // Why a message was dropped or reported, for the debug log.
        std::string reason;
    };
    // Sends the datagram of a Report back to where the message came from.
    using Send = std::function<bool(const uint8_t* bytes, std::size_t length)>;

    Outcome receive(const uint8_t* bytes, std::size_t length, Request& request, const Send& send);

    // The engine's objects: an exact name, and the first one after from.
    bool lookupObject(const snmp::ObjectId& name, snmp::SyntaxValue& value) const;
    bool nextObject(const snmp::ObjectId& from, snmp::ObjectId& name,
                    snmp::SyntaxValue& value) const;

    const std::vector<uint8_t>& engineId() const { return engine_.engineId; }
    uint32_t boots() const { return engine_.boots; }
    uint32_t engineTime() const;
    const V3Counters& counters() const { return counters_; }
    std::size_t userCount() const { return localized_.size(); }

  private:
    const snmp::LocalizedUser* findUser(const snmp::Octets& name) const;
    void objectValue(std::size_t index, snmp::SyntaxValue& value) const;
    // Sends a Report of one counter at level (with user's keys when it asks authentication).
    bool report(const snmp::V3Message& message, snmp::SecurityLevel level,
                const snmp::LocalizedUser* user, const snmp::Octets& userName, int32_t requestId,
                const snmp::Octets& contextName, const uint32_t* counterOid,
                std::size_t counterOidLength, uint32_t counter, const Send& send);
    bool usmReport(const snmp::V3Message& message, snmp::UsmReport which, snmp::SecurityLevel level,
                   const snmp::LocalizedUser* user, std::optional<int32_t> requestId,
                   const Send& send);

    EngineIdentity engine_;
    std::shared_ptr<const PreparedUsers> users_;
    std::vector<snmp::LocalizedUser> localized_;
    std::string contextName_;
    const Clock& clock_;
    uint32_t maxMessageSize_;
    uint64_t startMs_ = 0;
    V3Counters counters_;
    snmp::SaltSource salts_;
    std::vector<uint8_t> received_;  // the message as received, its digest zeroed in turn
    std::vector<uint8_t> plain_;     // the decrypted scoped PDU
    std::vector<uint8_t> out_;       // a Report
};

}  // namespace korvimo
