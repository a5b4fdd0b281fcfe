#include "snmp/usm_crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>
#include <initializer_list>

#include "base/text.h"

namespace korvimo::snmp {

namespace {

constexpr std::size_t kAuthCount = 7;  // AuthProtocol::None .. Sha512
constexpr std::size_t kPrivCount = 5;  // PrivProtocol::None .. Aes256

// RFC 3414 A.2: the pass phrase is repeated to this many octets and hashed.
constexpr std::size_t kPassPhraseStream = 1048576;
constexpr std::size_t kPassPhraseChunk = 64;

std::size_t authIndex(AuthProtocol protocol) {
    return static_cast<std::size_t>(protocol);
}

std::size_t privIndex(PrivProtocol protocol) {
    return static_cast<std::size_t>(protocol);
}

// libcrypto's names of the hashes and ciphers; nullptr for None.
const char* digestName(AuthProtocol protocol) {
    switch (protocol) {
        case AuthProtocol::Md5:
            return "MD5";
        case AuthProtocol::Sha1:
            return "SHA1";
        case AuthProtocol::Sha224:
            return "SHA2-224";
        case AuthProtocol::Sha256:
            return "SHA2-256";
        case AuthProtocol::Sha384:
            return "SHA2-384";
        case AuthProtocol::Sha512:
            return "SHA2-512";
        case AuthProtocol::None:
            break;
    }
    return nullptr;
}

const char* cipherName(PrivProtocol protocol) {
    switch (protocol) {
        case PrivProtocol::Des:
            // Single DES is only in libcrypto's legacy provider, which may be missing and,
            // once loaded, changes the whole process's providers. Triple DES (EDE) whose
            // three keys are the same key is single DES: E_K(D_K(E_K(x))) = E_K(x).
            return "DES-EDE3-CBC";
        case PrivProtocol::Aes128:
            return "AES-128-CFB";
        case PrivProtocol::Aes192:
            return "AES-192-CFB";
        case PrivProtocol::Aes256:
            return "AES-256-CFB";
        case PrivProtocol::None:
            break;
    }
    return nullptr;
}

// The hashes, the HMAC contexts and the cipher contexts of one thread, fetched and made the
// first time the thread needs each and reused for every later message.
class ThreadCrypto {
  public:
    ThreadCrypto() = default;
    ThreadCrypto(const ThreadCrypto&) = delete;
    ThreadCrypto& operator=(const ThreadCrypto&) = delete;

    ~ThreadCrypto() {
        for (EVP_MD*& md : digests_) {
            EVP_MD_free(md);
        }
        EVP_MD_CTX_free(digestContext_);
        for (Hmac& hmac : hmacs_) {
            EVP_MAC_CTX_free(hmac.context);
            OPENSSL_cleanse(hmac.key, sizeof hmac.key);
        }
        EVP_MAC_free(mac_);
        for (EVP_CIPHER_CTX*& context : ciphers_) {
            EVP_CIPHER_CTX_free(context);
        }
    }

    // A digest context set to start hashing with protocol's hash; nullptr when it cannot be.
    EVP_MD_CTX* startDigest(AuthProtocol protocol) {
        const EVP_MD* md = digest(protocol);
        if (md == nullptr) {
            return nullptr;
        }
        if (digestContext_ == nullptr) {
            digestContext_ = EVP_MD_CTX_new();
        }
        if (digestContext_ == nullptr || EVP_DigestInit_ex2(digestContext_, md, nullptr) != 1) {
            return nullptr;
        }
        return digestContext_;
    }

    // An HMAC context of protocol's hash set up with key; nullptr when it cannot be. The key
    // of the last call is kept, so that the next message of the same user costs no key setup.
    EVP_MAC_CTX* startHmac(AuthProtocol protocol, const uint8_t* key, std::size_t length) {
        Hmac& hmac = hmacs_[authIndex(protocol)];
        if (hmac.context == nullptr) {
            const char* name = digestName(protocol);
            if (name == nullptr) {
                return nullptr;
            }
            if (mac_ == nullptr) {
                mac_ = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
                if (mac_ == nullptr) {
                    return nullptr;
                }
            }
            hmac.context = EVP_MAC_CTX_new(mac_);
            const OSSL_PARAM params[] = {
                OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(name), 0),
                OSSL_PARAM_construct_end()};
            if (hmac.context == nullptr || EVP_MAC_CTX_set_params(hmac.context, params) != 1) {
                EVP_MAC_CTX_free(hmac.context);
                hmac.context = nullptr;
                return nullptr;
            }
        }
        const bool sameKey =
            hmac.keyed && hmac.keyLength == length && CRYPTO_memcmp(hmac.key, key, length) == 0;
        if (sameKey) {
            if (EVP_MAC_init(hmac.context, nullptr, 0, nullptr) == 1) {
                return hmac.context;
            }
        }
        hmac.keyed = false;
        if (EVP_MAC_init(hmac.context, key, length, nullptr) != 1) {
            return nullptr;
        }
        std::memcpy(hmac.key, key, length);
        hmac.keyLength = length;
        hmac.keyed = true;
        return hmac.context;
    }

    // A cipher context of protocol's cipher set up with key and iv for encrypt (true) or
    // decrypt; nullptr when it cannot be, with unavailable set when libcrypto lacks the cipher.
    EVP_CIPHER_CTX* startCipher(PrivProtocol protocol, const uint8_t* key, const uint8_t* iv,
                                bool encrypt, bool& unavailable) {
        EVP_CIPHER_CTX*& context = ciphers_[privIndex(protocol)];
        unavailable = false;
        if (context == nullptr && !makeCipherContext(protocol, context)) {
            unavailable = true;
            return nullptr;
        }
        // The context keeps its cipher: only the key and IV change from one message to the
        // next.
        if (EVP_CipherInit_ex2(context, nullptr, key, iv, encrypt ? 1 : 0, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(context, 0) != 1) {
            return nullptr;
        }
        return context;
    }

  private:
    struct Hmac {
        EVP_MAC_CTX* context = nullptr;
        uint8_t key[kMaxKeySize] = {};
        std::size_t keyLength = 0;
        bool keyed = false;
    };

    const EVP_MD* digest(AuthProtocol protocol) {
        EVP_MD*& md = digests_[authIndex(protocol)];
        if (md == nullptr) {
            if (const char* name = digestName(protocol); name != nullptr) {
                md = EVP_MD_fetch(nullptr, name, nullptr);
            }
        }
        return md;
    }

    static bool makeCipherContext(PrivProtocol protocol, EVP_CIPHER_CTX*& context) {
        const char* name = cipherName(protocol);
        if (name == nullptr) {
            return false;
        }
        EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
        if (cipher == nullptr) {
            ERR_clear_error();
            return false;
        }
        context = EVP_CIPHER_CTX_new();
        const bool made = context != nullptr &&
                          EVP_CipherInit_ex2(context, cipher, nullptr, nullptr, 1, nullptr) == 1;
        // The context holds its own reference to the cipher.
        EVP_CIPHER_free(cipher);
        if (!made) {
            EVP_CIPHER_CTX_free(context);
            context = nullptr;
        }
        return made;
    }

    EVP_MD* digests_[kAuthCount] = {};
    EVP_MD_CTX* digestContext_ = nullptr;
    EVP_MAC* mac_ = nullptr;
    Hmac hmacs_[kAuthCount];
    EVP_CIPHER_CTX* ciphers_[kPrivCount] = {};
};

ThreadCrypto& threadCrypto() {
    thread_local ThreadCrypto crypto;
    return crypto;
}

bool validKey(const LocalizedKey& key) {
    return key.length > 0 && key.length <= kMaxKeySize;
}

// H(parts...) into out, which must hold hashSize(protocol) octets.
Result hashInto(AuthProtocol protocol, std::initializer_list<std::span<const uint8_t>> parts,
                uint8_t* out) {
    EVP_MD_CTX* context = threadCrypto().startDigest(protocol);
    if (context == nullptr) {
        ERR_clear_error();
        return Result::failure("hash not available");
    }
    for (std::span<const uint8_t> part : parts) {
        if (EVP_DigestUpdate(context, part.data(), part.size()) != 1) {
            ERR_clear_error();
            return Result::failure("hash failed");
        }
    }
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, out, &length) != 1 || length != hashSize(protocol)) {
        ERR_clear_error();
        return Result::failure("hash failed");
    }
    return {};
}

Result crypt(PrivProtocol protocol, const LocalizedKey& key, const uint8_t salt[kSaltSize],
             uint32_t engineBoots, uint32_t engineTime, uint8_t* data, std::size_t length,
             bool encrypting) {
    const char* failed = encrypting ? "encryption failed" : "decryption failed";
    const std::size_t keySize = privKeySize(protocol);
    if (keySize == 0) {
        return Result::failure("no privacy protocol");
    }
    if (key.length < keySize || key.length > kMaxKeySize) {
        return Result::failure("privacy key too short");
    }
    if (length > static_cast<std::size_t>(INT_MAX)) {
        return Result::failure(failed);
    }
    uint8_t iv[16] = {};
    // The key as the cipher takes it: for DES, its first 8 octets three times.
    uint8_t desKey[24];
    const uint8_t* cipherKey = key.bytes;
    if (protocol == PrivProtocol::Des) {
        if (length % 8 != 0) {
            return Result::failure("DES data length is not a multiple of 8");
        }
        // RFC 3414 8.1.1.1: the last 8 octets of the key are the pre-IV.
        for (std::size_t i = 0; i < 8; ++i) {
            iv[i] = static_cast<uint8_t>(key.bytes[8 + i] ^ salt[i]);
        }
        for (std::size_t i = 0; i < sizeof desKey; i += 8) {
            std::memcpy(desKey + i, key.bytes, 8);
        }
        cipherKey = desKey;
    } else {
        // RFC 3826 3.1.2.1: boots and time, most significant octet first, then the salt.
        for (std::size_t i = 0; i < 4; ++i) {
            iv[i] = static_cast<uint8_t>(engineBoots >> (24 - 8 * i));
            iv[4 + i] = static_cast<uint8_t>(engineTime >> (24 - 8 * i));
        }
        std::memcpy(iv + 8, salt, kSaltSize);
    }
    bool unavailable = false;
    EVP_CIPHER_CTX* context =
        threadCrypto().startCipher(protocol, cipherKey, iv, encrypting, unavailable);
    if (cipherKey == desKey) {
        OPENSSL_cleanse(desKey, sizeof desKey);
    }
    if (context == nullptr) {
        ERR_clear_error();
        return unavailable
                   ? Result::failuref("%s not available in libcrypto", privProtocolWord(protocol))
                   : Result::failure(failed);
    }
    int written = 0;
    int finished = 0;
    if (EVP_CipherUpdate(context, data, &written, data, static_cast<int>(length)) != 1 ||
        EVP_CipherFinal_ex(context, data + written, &finished) != 1 ||
        static_cast<std::size_t>(written) + static_cast<std::size_t>(finished) != length) {
        ERR_clear_error();
        return Result::failure(failed);
    }
    return {};
}

}  // namespace

std::size_t hashSize(AuthProtocol protocol) {
    switch (protocol) {
        case AuthProtocol::Md5:
            return 16;
        case AuthProtocol::Sha1:
            return 20;
        case AuthProtocol::Sha224:
            return 28;
        case AuthProtocol::Sha256:
            return 32;
        case AuthProtocol::Sha384:
            return 48;
        case AuthProtocol::Sha512:
            return 64;
        case AuthProtocol::None:
            break;
    }
    return 0;
}

std::size_t digestSize(AuthProtocol protocol) {
    switch (protocol) {
        case AuthProtocol::Md5:
        case AuthProtocol::Sha1:
            return 12;
        case AuthProtocol::Sha224:
            return 16;
        case AuthProtocol::Sha256:
            return 24;
        case AuthProtocol::Sha384:
            return 32;
        case AuthProtocol::Sha512:
            return 48;
        case AuthProtocol::None:
            break;
    }
    return 0;
}

std::size_t privKeySize(PrivProtocol protocol) {
    switch (protocol) {
        case PrivProtocol::Des:
        case PrivProtocol::Aes128:
            return 16;
        case PrivProtocol::Aes192:
            return 24;
        case PrivProtocol::Aes256:
            return 32;
        case PrivProtocol::None:
            break;
    }
    return 0;
}

bool authProtocolFromWord(std::string_view word, AuthProtocol& protocol) {
    static constexpr struct {
        const char* word;
        AuthProtocol protocol;
    } kWords[] = {{"none", AuthProtocol::None},      {"MD5", AuthProtocol::Md5},
                  {"SHA", AuthProtocol::Sha1},       {"SHA1", AuthProtocol::Sha1},
                  {"SHA-224", AuthProtocol::Sha224}, {"SHA-256", AuthProtocol::Sha256},
                  {"SHA-384", AuthProtocol::Sha384}, {"SHA-512", AuthProtocol::Sha512}};
    for (const auto& entry : kWords) {
        if (equalsIgnoringCase(word, entry.word)) {
            protocol = entry.protocol;
            return true;
        }
    }
    return false;
}

bool privProtocolFromWord(std::string_view word, PrivProtocol& protocol) {
    static constexpr struct {
        const char* word;
        PrivProtocol protocol;
    } kWords[] = {{"none", PrivProtocol::None},      {"DES", PrivProtocol::Des},
                  {"AES", PrivProtocol::Aes128},     {"AES-128", PrivProtocol::Aes128},
                  {"AES-192", PrivProtocol::Aes192}, {"AES-256", PrivProtocol::Aes256}};
    for (const auto& entry : kWords) {
        if (equalsIgnoringCase(word, entry.word)) {
            protocol = entry.protocol;
            return true;
        }
    }
    return false;
}

const char* authProtocolWord(AuthProtocol protocol) {
    switch (protocol) {
        case AuthProtocol::Md5:
            return "MD5";
        case AuthProtocol::Sha1:
            return "SHA";
        case AuthProtocol::Sha224:
            return "SHA-224";
        case AuthProtocol::Sha256:
            return "SHA-256";
        case AuthProtocol::Sha384:
            return "SHA-384";
        case AuthProtocol::Sha512:
            return "SHA-512";
        case AuthProtocol::None:
            break;
    }
    return "none";
}

const char* privProtocolWord(PrivProtocol protocol) {
    switch (protocol) {
        case PrivProtocol::Des:
            return "DES";
        case PrivProtocol::Aes128:
            return "AES";
        case PrivProtocol::Aes192:
            return "AES-192";
        case PrivProtocol::Aes256:
            return "AES-256";
        case PrivProtocol::None:
            break;
    }
    return "none";
}

Result passwordToKey(AuthProtocol protocol, std::string_view passPhrase, LocalizedKey& key) {
    key = LocalizedKey{};
    if (protocol == AuthProtocol::None) {
        return Result::failure("no authentication protocol");
    }
    if (passPhrase.empty()) {
        return Result::failure("empty pass phrase");
    }
    EVP_MD_CTX* context = threadCrypto().startDigest(protocol);
    if (context == nullptr) {
        ERR_clear_error();
        return Result::failure("hash not available");
    }
    uint8_t chunk[kPassPhraseChunk];
    std::size_t next = 0;
    bool hashed = true;
    for (std::size_t count = 0; count < kPassPhraseStream && hashed; count += sizeof chunk) {
        for (uint8_t& octet : chunk) {
            octet = static_cast<uint8_t>(passPhrase[next]);
            next = next + 1 == passPhrase.size() ? 0 : next + 1;
        }
        hashed = EVP_DigestUpdate(context, chunk, sizeof chunk) == 1;
    }
    OPENSSL_cleanse(chunk, sizeof chunk);
    unsigned int length = 0;
    if (!hashed || EVP_DigestFinal_ex(context, key.bytes, &length) != 1 ||
        length != hashSize(protocol)) {
        ERR_clear_error();
        key = LocalizedKey{};
        return Result::failure("hash failed");
    }
    key.length = length;
    return {};
}

Result localizeKey(AuthProtocol protocol, const LocalizedKey& ku, std::span<const uint8_t> engineId,
                   LocalizedKey& kul) {
    if (protocol == AuthProtocol::None) {
        return Result::failure("no authentication protocol");
    }
    if (!validKey(ku)) {
        return Result::failure("no key to localise");
    }
    LocalizedKey localized;
    if (Result r = hashInto(protocol, {ku.span(), engineId, ku.span()}, localized.bytes); !r) {
        return r;
    }
    localized.length = hashSize(protocol);
    kul = localized;
    return {};
}

Result localizedKey(AuthProtocol protocol, std::string_view passPhrase,
                    std::span<const uint8_t> engineId, LocalizedKey& kul) {
    LocalizedKey ku;
    Result r = passwordToKey(protocol, passPhrase, ku);
    if (r) {
        r = localizeKey(protocol, ku, engineId, kul);
    }
    OPENSSL_cleanse(ku.bytes, sizeof ku.bytes);
    return r;
}

Result privacyKey(AuthProtocol auth, PrivProtocol priv, const LocalizedKey& kul,
                  LocalizedKey& key) {
    const std::size_t needed = privKeySize(priv);
    if (needed == 0) {
        return Result::failure("no privacy protocol");
    }
    if (!validKey(kul)) {
        return Result::failure("no key for privacy");
    }
    // Grows by one hash at a time while shorter than needed (at most 32 octets): it never
    // holds more than needed plus one hash.
    uint8_t extended[kMaxKeySize + kMaxKeySize] = {};
    std::memcpy(extended, kul.bytes, kul.length);
    std::size_t length = kul.length;
    const std::size_t step = hashSize(auth);
    while (length < needed) {
        if (step == 0) {
            return Result::failure("privacy key too short");
        }
        if (Result r =
                hashInto(auth, {std::span<const uint8_t>(extended, length)}, extended + length);
            !r) {
            OPENSSL_cleanse(extended, sizeof extended);
            return r;
        }
        length += step;
    }
    key = LocalizedKey{};
    std::memcpy(key.bytes, extended, needed);
    key.length = needed;
    OPENSSL_cleanse(extended, sizeof extended);
    return {};
}

Result authenticate(AuthProtocol protocol, const LocalizedKey& kul, const uint8_t* message,
                    std::size_t length, uint8_t* digest) {
    if (protocol == AuthProtocol::None) {
        return Result::failure("no authentication protocol");
    }
    if (!validKey(kul)) {
        return Result::failure("no authentication key");
    }
    EVP_MAC_CTX* context = threadCrypto().startHmac(protocol, kul.bytes, kul.length);
    uint8_t full[EVP_MAX_MD_SIZE];
    std::size_t fullLength = 0;
    if (context == nullptr || EVP_MAC_update(context, message, length) != 1 ||
        EVP_MAC_final(context, full, &fullLength, sizeof full) != 1 ||
        fullLength < digestSize(protocol)) {
        ERR_clear_error();
        return Result::failure("HMAC failed");
    }
    std::memcpy(digest, full, digestSize(protocol));
    return {};
}

Result encrypt(PrivProtocol protocol, const LocalizedKey& key, const uint8_t salt[kSaltSize],
               uint32_t engineBoots, uint32_t engineTime, uint8_t* data, std::size_t length) {
    return crypt(protocol, key, salt, engineBoots, engineTime, data, length, true);
}

Result decrypt(PrivProtocol protocol, const LocalizedKey& key, const uint8_t salt[kSaltSize],
               uint32_t engineBoots, uint32_t engineTime, uint8_t* data, std::size_t length) {
    return crypt(protocol, key, salt, engineBoots, engineTime, data, length, false);
}

bool sameDigest(const uint8_t* a, const uint8_t* b, std::size_t length) {
    return CRYPTO_memcmp(a, b, length) == 0;
}

bool randomBytes(uint8_t* out, std::size_t length) {
    while (length > 0) {
        const int chunk = length > 65536 ? 65536 : static_cast<int>(length);
        if (RAND_bytes(out, chunk) != 1) {
            ERR_clear_error();
            return false;
        }
        out += chunk;
        length -= static_cast<std::size_t>(chunk);
    }
    return true;
}

}  // namespace korvimo::snmp
