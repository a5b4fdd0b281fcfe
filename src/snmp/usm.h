// The User-based Security Model's processing of a message (RFC 3414 3.1 and 3.2) for any
// engine: an agent answering requests, or a notification sender whose informs are answered.
//
// Sending: the scoped PDU is encoded, encrypted when the level asks privacy, wrapped in the
// message, and the digest written into it.
//
//   LocalizedUser user;
//   if (Result r = localizeUser(config, engineId, user); !r) ...
//   OutgoingSecurity out{header, engineId, boots, time, &user, level, &salts};
//   uint32_t size = capacity;
//   Result r = encodeSecureMessage(out, contextEngineId, contextName, pdu, buffer, &size);
//
// Receiving: openSecureMessage checks the digest of a decoded message with the user's key,
// decrypts its scoped PDU and decodes it; the time window and the user lookup are the
// caller's, because they differ between an authoritative engine and one that is not.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "snmp/message.h"
#include "snmp/usm_crypto.h"
#include "snmp/usm_user.h"
#include "snmp/v3_message.h"

namespace korvimo::snmp {

// The usmStats counters (1.3.6.1.6.3.15.1.1.N.0), by N.
enum class UsmReport : uint32_t {
    UnsupportedSecLevels = 1,
    NotInTimeWindows = 2,
    UnknownUserNames = 3,
    UnknownEngineIds = 4,
    WrongDigests = 5,
    DecryptionErrors = 6,
};
inline constexpr uint32_t kUsmStatsPrefix[] = {1, 3, 6, 1, 6, 3, 15, 1, 1};

// The time window of RFC 3414 3.2 7: 150 seconds either way; boots at its maximum stops
// every authenticated message.
inline constexpr int32_t kTimeWindow = 150;
inline constexpr int32_t kMaxEngineBoots = 2147483647;

// A user with its keys localised to one engine.
struct LocalizedUser {
    UsmUser config;
    LocalizedKey authKey;  // Kul of the authentication pass phrase
    LocalizedKey privKey;  // privacyKey() of the privacy pass phrase's Kul
};

// A user's keys before localisation (Ku of each pass phrase): the costly step, made once
// for a user whatever the number of engines it is localised to.
struct UserKeys {
    UsmUser config;
    LocalizedKey authKu;
    LocalizedKey privKu;
};
Result prepareUserKeys(const UsmUser& user, UserKeys& keys);

Result localizeUser(const UserKeys& keys, std::span<const uint8_t> engineId,
                    LocalizedUser& localized);
// Both steps.
Result localizeUser(const UsmUser& user, std::span<const uint8_t> engineId,
                    LocalizedUser& localized);

// The level a message's flags ask; false for the one combination that is none (privacy
// without authentication).
bool levelFromFlags(uint8_t flags, SecurityLevel& level);
uint8_t flagsOfLevel(SecurityLevel level, bool reportable);

// Salts of one sending engine: a 64-bit counter started at a random value (RFC 3826 3.1.1.1;
// DES takes boots and the counter's low half, RFC 3414 8.1.1.1).
class SaltSource {
  public:
    SaltSource();
    void next(PrivProtocol protocol, uint32_t engineBoots, uint8_t salt[kSaltSize]);

  private:
    uint64_t counter_ = 0;
};

struct OutgoingSecurity {
    int32_t msgId = 0;
    int32_t maxSize = 0;
    bool reportable = false;
    SecurityLevel level = SecurityLevel::NoAuthNoPriv;
    // The authoritative engine: the sender of a Response, Report or Trap, the receiver of a
    // request or inform.
    std::span<const uint8_t> engineId;
    uint32_t boots = 0;
    uint32_t time = 0;
    // The user; its keys are used as level asks. With none, userName names the user of a
    // noAuthNoPriv message (a Report to an unknown user, a discovery request).
    const LocalizedUser* user = nullptr;
    std::span<const uint8_t> userName;
    SaltSource* salts = nullptr;  // needed for privacy
};

// The whole message; *size is the capacity in and the length out. Fails when it does not
// fit (the caller may then answer tooBig) or the cryptography fails.
Result encodeSecureMessage(const OutgoingSecurity& security, const Octets& contextEngineId,
                           const Octets& contextName, const Pdu& pdu, uint8_t* out, uint32_t* size);
// Octets of a message encodeSecureMessage would write for a scoped PDU of scopedLength octets
// (with privacy, the ciphertext's padding included).
uint32_t secureMessageSize(const OutgoingSecurity& security, uint32_t scopedLength);

// Why a received message is refused.
enum class OpenFailure { None, WrongDigest, DecryptionError, Malformed };

// Checks and opens a decoded message at level (levelFromFlags of its flags) with user's keys
// (none at noAuthNoPriv): the digest (the message's authentication parameters are zeroed in
// bytes while it is computed, and put back), then the decryption into plain, then the scoped
// PDU. A failure of the last step is Malformed, and text tells why.
OpenFailure openSecureMessage(uint8_t* bytes, uint32_t length, const V3Message& message,
                              SecurityLevel level, const LocalizedUser* user,
                              std::vector<uint8_t>& plain, Octets& contextEngineId,
                              Octets& contextName, Pdu* pdu, Result* text = nullptr);

}  // namespace korvimo::snmp
