#include "snmp/usm.h"

#include <cstring>

namespace korvimo::snmp {

namespace {

uint32_t paddedLength(PrivProtocol protocol, uint32_t length) {
    return protocol == PrivProtocol::Des ? (length + 7) / 8 * 8 : length;
}

void putBigEndian32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

// The USM parameters of an outgoing message, without its scoped PDU. They are the thread's
// own and reused, so that sending allocates nothing once their sizes are reached.
UsmParameters& outgoingParameters(const OutgoingSecurity& security, const uint8_t* salt) {
    thread_local UsmParameters usm;
    usm.engineId.bytes.assign(security.engineId.begin(), security.engineId.end());
    usm.boots = static_cast<int32_t>(security.boots);
    usm.time = static_cast<int32_t>(security.time);
    if (security.user != nullptr) {
        usm.userName.bytes.assign(security.user->config.name.begin(),
                                  security.user->config.name.end());
    } else {
        usm.userName.bytes.assign(security.userName.begin(), security.userName.end());
    }
    const bool auth = security.level != SecurityLevel::NoAuthNoPriv && security.user != nullptr;
    usm.authParams.bytes.assign(auth ? digestSize(security.user->config.auth) : 0, 0);
    if (salt != nullptr) {
        usm.privParams.bytes.assign(salt, salt + kSaltSize);
    } else {
        usm.privParams.bytes.clear();
    }
    return usm;
}

V3Header outgoingHeader(const OutgoingSecurity& security) {
    V3Header header;
    header.msgId = security.msgId;
    header.maxSize = security.maxSize;
    header.flags = flagsOfLevel(security.level, security.reportable);
    header.securityModel = kSecurityModelUsm;
    return header;
}

}  // namespace

Result prepareUserKeys(const UsmUser& user, UserKeys& keys) {
    keys = UserKeys{};
    keys.config = user;
    if (user.auth == AuthProtocol::None) {
        return {};
    }
    if (Result r = passwordToKey(user.auth, user.authPass, keys.authKu); !r) {
        return r;
    }
    if (user.priv == PrivProtocol::None) {
        return {};
    }
    return passwordToKey(user.auth, user.privPass, keys.privKu);
}

Result localizeUser(const UserKeys& keys, std::span<const uint8_t> engineId,
                    LocalizedUser& localized) {
    localized = LocalizedUser{};
    localized.config = keys.config;
    const UsmUser& user = keys.config;
    if (user.auth == AuthProtocol::None) {
        return {};
    }
    if (Result r = localizeKey(user.auth, keys.authKu, engineId, localized.authKey); !r) {
        return r;
    }
    if (user.priv == PrivProtocol::None) {
        return {};
    }
    LocalizedKey kul;
    if (Result r = localizeKey(user.auth, keys.privKu, engineId, kul); !r) {
        return r;
    }
    return privacyKey(user.auth, user.priv, kul, localized.privKey);
}

Result localizeUser(const UsmUser& user, std::span<const uint8_t> engineId,
                    LocalizedUser& localized) {
    UserKeys keys;
    if (Result r = prepareUserKeys(user, keys); !r) {
        return r;
    }
    return localizeUser(keys, engineId, localized);
}

bool levelFromFlags(uint8_t flags, SecurityLevel& level) {
    const bool auth = (flags & kFlagAuth) != 0;
    const bool priv = (flags & kFlagPriv) != 0;
    if (priv && !auth) {
        return false;
    }
    level = priv ? SecurityLevel::AuthPriv
                 : (auth ? SecurityLevel::AuthNoPriv : SecurityLevel::NoAuthNoPriv);
    return true;
}

uint8_t flagsOfLevel(SecurityLevel level, bool reportable) {
    uint8_t flags = reportable ? kFlagReportable : 0;
    if (level != SecurityLevel::NoAuthNoPriv) {
        flags |= kFlagAuth;
    }
    if (level == SecurityLevel::AuthPriv) {
        flags |= kFlagPriv;
    }
    return flags;
}

SaltSource::SaltSource() {
    uint8_t start[8] = {};
    if (randomBytes(start, sizeof start)) {
        std::memcpy(&counter_, start, sizeof counter_);
    }
}

void SaltSource::next(PrivProtocol protocol, uint32_t engineBoots, uint8_t salt[kSaltSize]) {
    const uint64_t value = counter_++;
    if (protocol == PrivProtocol::Des) {
        putBigEndian32(salt, engineBoots);
        putBigEndian32(salt + 4, static_cast<uint32_t>(value));
    } else {
        putBigEndian32(salt, static_cast<uint32_t>(value >> 32));
        putBigEndian32(salt + 4, static_cast<uint32_t>(value));
    }
}

uint32_t secureMessageSize(const OutgoingSecurity& security, uint32_t scopedLength) {
    const bool priv = security.level == SecurityLevel::AuthPriv && security.user != nullptr;
    const uint8_t salt[kSaltSize] = {};
    const UsmParameters& usm = outgoingParameters(security, priv ? salt : nullptr);
    const uint32_t length =
        priv ? paddedLength(security.user->config.priv, scopedLength) : scopedLength;
    return encodedV3MessageSize(outgoingHeader(security), usm, length, priv);
}

Result encodeSecureMessage(const OutgoingSecurity& security, const Octets& contextEngineId,
                           const Octets& contextName, const Pdu& pdu, uint8_t* out,
                           uint32_t* size) {
    const LocalizedUser* user = security.user;
    const bool auth = security.level != SecurityLevel::NoAuthNoPriv;
    const bool priv = security.level == SecurityLevel::AuthPriv;
    if (auth && (user == nullptr || user->config.auth == AuthProtocol::None)) {
        return Result::failure("The user has no authentication key for this security level.");
    }
    if (priv && (user->config.priv == PrivProtocol::None || security.salts == nullptr)) {
        return Result::failure("The user has no privacy key for this security level.");
    }

    // The scoped PDU, with room for the padding of a DES block.
    thread_local std::vector<uint8_t> scoped;
    if (scoped.size() < *size + 8) {
        scoped.resize(*size + 8);
    }
    uint32_t scopedLength = *size;
    if (Result r = encodeScopedPdu(contextEngineId, contextName, pdu, scoped.data(), &scopedLength);
        !r) {
        return r;
    }
    uint8_t salt[kSaltSize] = {};
    if (priv) {
        const PrivProtocol protocol = user->config.priv;
        const uint32_t padded = paddedLength(protocol, scopedLength);
        std::memset(scoped.data() + scopedLength, 0, padded - scopedLength);
        scopedLength = padded;
        security.salts->next(protocol, security.boots, salt);
        if (Result r = encrypt(protocol, user->privKey, salt, security.boots, security.time,
                               scoped.data(), scopedLength);
            !r) {
            return r;
        }
    }

    const UsmParameters& usm = outgoingParameters(security, priv ? salt : nullptr);
    uint32_t authOffset = 0;
    if (Result r = encodeV3Message(outgoingHeader(security), usm, {scoped.data(), scopedLength},
                                   priv, out, size, &authOffset);
        !r) {
        return r;
    }
    if (auth) {
        uint8_t digest[kMaxDigestSize];
        if (Result r = authenticate(user->config.auth, user->authKey, out, *size, digest); !r) {
            return r;
        }
        std::memcpy(out + authOffset, digest, digestSize(user->config.auth));
    }
    return {};
}

OpenFailure openSecureMessage(uint8_t* bytes, uint32_t length, const V3Message& message,
                              SecurityLevel level, const LocalizedUser* user,
                              std::vector<uint8_t>& plain, Octets& contextEngineId,
                              Octets& contextName, Pdu* pdu, Result* text) {
    const bool auth = level != SecurityLevel::NoAuthNoPriv;
    const bool priv = level == SecurityLevel::AuthPriv;
    if (auth) {
        if (user == nullptr || user->config.auth == AuthProtocol::None) {
            return OpenFailure::WrongDigest;
        }
        const std::size_t size = digestSize(user->config.auth);
        if (message.authLength != size || message.authOffset + size > length) {
            return OpenFailure::WrongDigest;
        }
        uint8_t received[kMaxDigestSize];
        std::memcpy(received, bytes + message.authOffset, size);
        std::memset(bytes + message.authOffset, 0, size);
        uint8_t computed[kMaxDigestSize];
        const Result r = authenticate(user->config.auth, user->authKey, bytes, length, computed);
        std::memcpy(bytes + message.authOffset, received, size);
        if (!r || !sameDigest(received, computed, size)) {
            return OpenFailure::WrongDigest;
        }
    }

    if (priv != message.encrypted) {
        // A plaintext scoped PDU at authPriv, or an encrypted one without privacy.
        return priv ? OpenFailure::DecryptionError : OpenFailure::Malformed;
    }
    const uint8_t* scoped = bytes + message.scopedOffset;
    uint32_t scopedLength = message.scopedLength;
    if (priv) {
        const PrivProtocol protocol = user->config.priv;
        if (protocol == PrivProtocol::None || message.usm.privParams.length() != kSaltSize ||
            (protocol == PrivProtocol::Des && scopedLength % 8 != 0)) {
            return OpenFailure::DecryptionError;
        }
        plain.assign(scoped, scoped + scopedLength);
        if (Result r = decrypt(protocol, user->privKey, message.usm.privParams.bytes.data(),
                               static_cast<uint32_t>(message.usm.boots),
                               static_cast<uint32_t>(message.usm.time), plain.data(), scopedLength);
            !r) {
            return OpenFailure::DecryptionError;
        }
        scoped = plain.data();
    }
    if (Result r = decodeScopedPdu(scoped, scopedLength, contextEngineId, contextName, pdu); !r) {
        if (text != nullptr) {
            *text = std::move(r);
        }
        // Ciphertext that does not decrypt to a scoped PDU was made with another key.
        return priv ? OpenFailure::DecryptionError : OpenFailure::Malformed;
    }
    return OpenFailure::None;
}

}  // namespace korvimo::snmp
