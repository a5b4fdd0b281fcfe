// The cryptography of the User-based Security Model: keys from pass phrases and their
// localisation to an engine (RFC 3414 A.2, RFC 7860 for the SHA-2 family), the HMAC digests
// that authenticate a message, and the ciphers that keep its scoped PDU private (DES-CBC of
// RFC 3414 8, AES-CFB128 of RFC 3826 with 192- and 256-bit keys made by extending the
// localised key with its own hash).
//
//   LocalizedKey key;
//   if (Result r = localizedKey(AuthProtocol::Sha256, "pass phrase", engineId, key); !r) ...
//   uint8_t digest[kMaxDigestSize];
//   authenticate(AuthProtocol::Sha256, key, message, length, digest);  // digestSize() bytes
//
// Every operation is built on OpenSSL's libcrypto; none allocates on the message path beyond
// what libcrypto does for one cipher or MAC context, which is kept per thread.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/result.h"

namespace korvimo::snmp {

enum class AuthProtocol { None, Md5, Sha1, Sha224, Sha256, Sha384, Sha512 };
enum class PrivProtocol { None, Des, Aes128, Aes192, Aes256 };

// The longest hash output (SHA-512) and the longest digest a message carries (HMAC-SHA-512's
// truncation to 48 octets, RFC 7860).
inline constexpr std::size_t kMaxKeySize = 64;
inline constexpr std::size_t kMaxDigestSize = 48;
// msgPrivacyParameters: the salt of DES and of AES.
inline constexpr std::size_t kSaltSize = 8;

// Octets of the protocol's hash (16 for MD5, 20 for SHA-1, 28, 32, 48, 64), 0 for None: the
// length of a localised key.
std::size_t hashSize(AuthProtocol protocol);
// Octets of msgAuthenticationParameters: 12 for MD5 and SHA-1, 16, 24, 32, 48 for SHA-224 to
// SHA-512 (RFC 7860 table), 0 for None.
std::size_t digestSize(AuthProtocol protocol);
// Octets of key the cipher takes: 16 for DES (key and pre-IV), 16, 24, 32 for AES.
std::size_t privKeySize(PrivProtocol protocol);

// The words of the users file and of the command line: "none", "MD5", "SHA", "SHA-224",
// "SHA-256", "SHA-384", "SHA-512"; "none", "DES", "AES", "AES-192", "AES-256". Case does not
// matter; "SHA1" and "AES-128" are taken too. False for any other word.
bool authProtocolFromWord(std::string_view word, AuthProtocol& protocol);
bool privProtocolFromWord(std::string_view word, PrivProtocol& protocol);
// The canonical word of each ("none", "MD5", "SHA", ..., "AES", "AES-192", ...).
const char* authProtocolWord(AuthProtocol protocol);
const char* privProtocolWord(PrivProtocol protocol);

// A key of up to kMaxKeySize octets.
struct LocalizedKey {
    uint8_t bytes[kMaxKeySize] = {};
    std::size_t length = 0;

    std::span<const uint8_t> span() const { return {bytes, length}; }
};

// Ku: the hash of the pass phrase repeated to 1,048,576 octets (RFC 3414 A.2.1, A.2.2; the
// same with the SHA-2 hashes, RFC 7860 9.3). Fails for an empty pass phrase or None.
Result passwordToKey(AuthProtocol protocol, std::string_view passPhrase, LocalizedKey& key);
// Kul = H(Ku || engineID || Ku) (RFC 3414 2.6).
Result localizeKey(AuthProtocol protocol, const LocalizedKey& ku, std::span<const uint8_t> engineId,
                   LocalizedKey& kul);
// Both steps.
Result localizedKey(AuthProtocol protocol, std::string_view passPhrase,
                    std::span<const uint8_t> engineId, LocalizedKey& kul);
// The privacy key of a user whose localised privacy key (made with its authentication
// protocol) is kul: its first privKeySize(priv) octets, after extending kul as long as it is
// too short by appending H(kul) to it (H the authentication protocol's hash, applied to the
// whole key as it stands), as AES-192 and AES-256 need with MD5 and SHA-1. Fails when priv is
// None.
Result privacyKey(AuthProtocol auth, PrivProtocol priv, const LocalizedKey& kul, LocalizedKey& key);

// HMAC of the whole message with the localised key, truncated to digestSize(protocol) octets
// written to digest. The message's msgAuthenticationParameters must hold zeros while it is
// computed (RFC 3414 6.3.1, 7.3.1).
Result authenticate(AuthProtocol protocol, const LocalizedKey& kul, const uint8_t* message,
                    std::size_t length, uint8_t* digest);

// Encrypts or decrypts in place; length must be a multiple of 8 for DES (a caller pads the
// plaintext to it), any for AES. key is privacyKey(); salt the 8 octets of
// msgPrivacyParameters; for AES, the engine's boots and time form the IV with the salt
// (RFC 3826 3.1.2.1), for DES the IV is the key's last 8 octets XOR the salt (RFC 3414 8.1.1.1).
Result encrypt(PrivProtocol protocol, const LocalizedKey& key, const uint8_t salt[kSaltSize],
               uint32_t engineBoots, uint32_t engineTime, uint8_t* data, std::size_t length);
Result decrypt(PrivProtocol protocol, const LocalizedKey& key, const uint8_t salt[kSaltSize],
               uint32_t engineBoots, uint32_t engineTime, uint8_t* data, std::size_t length);

// Constant-time comparison of two digests of equal length.
bool sameDigest(const uint8_t* a, const uint8_t* b, std::size_t length);

// Random octets from libcrypto's generator (salts, engine IDs); false when it fails.
bool randomBytes(uint8_t* out, std::size_t length);

}  // namespace korvimo::snmp
