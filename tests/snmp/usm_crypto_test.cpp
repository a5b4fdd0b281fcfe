#include "snmp/usm_crypto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "snmp/codec_bytes.h"

namespace korvimo::snmp {
namespace {

using testing::hexBytes;

// The engine ID and pass phrase of RFC 3414 A.3.
const std::vector<uint8_t> kEngineId = hexBytes("00 00 00 00 00 00 00 00 00 00 00 02");
constexpr char kPassPhrase[] = "maplesyrup";

std::vector<uint8_t> bytesOf(const LocalizedKey& key) {
    return {key.bytes, key.bytes + key.length};
}

LocalizedKey keyOf(const std::string& hex) {
    const std::vector<uint8_t> bytes = hexBytes(hex);
    LocalizedKey key;
    std::memcpy(key.bytes, bytes.data(), bytes.size());
    key.length = bytes.size();
    return key;
}

// MD5 and SHA-1 from RFC 3414 A.3; the SHA-2 values computed independently with Python's
// hashlib.
TEST(UsmCrypto, KeysFromPassPhraseAndEngine) {
    const struct {
        AuthProtocol protocol;
        const char* ku;
        const char* kul;
    } kCases[] = {
        {AuthProtocol::Md5, "9f af 32 83 88 4e 92 83 4e bc 98 47 d8 ed d9 63",
         "52 6f 5e ed 9f cc e2 6f 89 64 c2 93 07 87 d8 2b"},
        {AuthProtocol::Sha1, "9f b5 cc 03 81 49 7b 37 93 52 89 39 ff 78 8d 5d 79 14 52 11",
         "66 95 fe bc 92 88 e3 62 82 23 5f c7 15 1f 12 84 97 b3 8f 3f"},
        {AuthProtocol::Sha224, "282a5867ee9aac639ad59df9572c7d3ac0fbc13a905b6df07dbbf00b",
         "0bd8827c6e29f8065e08e09237f177e410f69b90e1782be682075674"},
        {AuthProtocol::Sha256, "ab51014d1e077f6017df2b12bee5f5aa72993177e9bb569c4dff5a4ca0b4afac",
         "8982e0e549e866db361a6b625d84cccc11162d453ee8ce3a6445c2d6776f0f8b"},
        {AuthProtocol::Sha512,
         "7e4396de5aadc77be853819b98c9406265b3a9c37cc3176569847a4e4f6fba63"
         "dd3a73d04924d31a63f95a601f9385af6be4ed1b37f87d040f7c6ed6f8d38a91",
         "22a5a36cedfcc085807a128d7bc6c2382167ad6c0dbc5fdff856740f3d84c099"
         "ad1ea87a8db096714d9788bd544047c9021e4229ce27e4c0a69250adfcffbb0b"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(authProtocolWord(c.protocol));
        LocalizedKey ku;
        LocalizedKey kul;
        ASSERT_TRUE(passwordToKey(c.protocol, kPassPhrase, ku));
        EXPECT_EQ(bytesOf(ku), hexBytes(c.ku));
        EXPECT_EQ(ku.length, hashSize(c.protocol));
        ASSERT_TRUE(localizeKey(c.protocol, ku, kEngineId, kul));
        EXPECT_EQ(bytesOf(kul), hexBytes(c.kul));
        LocalizedKey both;
        ASSERT_TRUE(localizedKey(c.protocol, kPassPhrase, kEngineId, both));
        EXPECT_EQ(bytesOf(both), hexBytes(c.kul));
    }
    LocalizedKey key;
    EXPECT_FALSE(passwordToKey(AuthProtocol::Sha1, "", key));
    EXPECT_FALSE(passwordToKey(AuthProtocol::None, kPassPhrase, key));
}

// A localised key shorter than the cipher's key grows by the hash of itself as it stands
// (expected values from Python's hashlib).
TEST(UsmCrypto, PrivacyKeyTruncatesOrExtends) {
    const LocalizedKey sha1Kul = keyOf("6695febc9288e36282235fc7151f128497b38f3f");
    const LocalizedKey md5Kul = keyOf("526f5eed9fcce26f8964c2930787d82b");
    LocalizedKey key;
    ASSERT_TRUE(privacyKey(AuthProtocol::Sha1, PrivProtocol::Des, sha1Kul, key));
    EXPECT_EQ(bytesOf(key), hexBytes("6695febc9288e36282235fc7151f1284"));
    ASSERT_TRUE(privacyKey(AuthProtocol::Sha1, PrivProtocol::Aes256, sha1Kul, key));
    EXPECT_EQ(bytesOf(key),
              hexBytes("6695febc9288e36282235fc7151f128497b38f3f505e07eb9af25568fa1f5dbe"));
    ASSERT_TRUE(privacyKey(AuthProtocol::Md5, PrivProtocol::Aes192, md5Kul, key));
    EXPECT_EQ(bytesOf(key), hexBytes("526f5eed9fcce26f8964c2930787d82bfa24a92467426c2f"));
    EXPECT_FALSE(privacyKey(AuthProtocol::Sha1, PrivProtocol::None, sha1Kul, key));
}

// HMAC-SHA-256 truncated to 24 octets (expected value from Python's hmac). The second and
// third messages check that a thread's kept key is replaced and taken up again correctly.
TEST(UsmCrypto, AuthenticateTruncatesHmac) {
    const LocalizedKey sha256Kul =
        keyOf("8982e0e549e866db361a6b625d84cccc11162d453ee8ce3a6445c2d6776f0f8b");
    const LocalizedKey other = keyOf("0102030405060708090a0b0c0d0e0f10");
    uint8_t message[100];
    for (std::size_t i = 0; i < sizeof message; ++i) {
        message[i] = static_cast<uint8_t>(i);
    }
    const std::vector<uint8_t> expected =
        hexBytes("d36977b076b1ca1c07aefdc22ba659ad9cc49c70817d1b8c");
    ASSERT_EQ(digestSize(AuthProtocol::Sha256), expected.size());
    for (const LocalizedKey* key : {&sha256Kul, &sha256Kul, &other, &sha256Kul}) {
        uint8_t digest[kMaxDigestSize] = {};
        ASSERT_TRUE(authenticate(AuthProtocol::Sha256, *key, message, sizeof message, digest));
        EXPECT_EQ(sameDigest(digest, expected.data(), expected.size()), key == &sha256Kul);
        EXPECT_EQ(digest[expected.size()], 0) << "wrote past the digest";
    }
}

// Known answers from the openssl command line and Python's cryptography module; round trips
// of every cipher.
TEST(UsmCrypto, CiphersMatchKnownAnswersAndRoundTrip) {
    const LocalizedKey sha1Kul = keyOf("6695febc9288e36282235fc7151f128497b38f3f");
    const uint8_t salt[kSaltSize] = {1, 2, 3, 4, 5, 6, 7, 8};

    // AES-128: IV 00000005 0012d687 0102030405060708.
    std::string text = "Korvimo AES-CFB known answer, 45 octets long";
    std::vector<uint8_t> data(text.begin(), text.end());
    LocalizedKey key;
    ASSERT_TRUE(privacyKey(AuthProtocol::Sha1, PrivProtocol::Aes128, sha1Kul, key));
    ASSERT_TRUE(encrypt(PrivProtocol::Aes128, key, salt, 5, 1234567, data.data(), data.size()));
    EXPECT_EQ(data, hexBytes("e5cd49194a5eff8283a3215d42028dcbff20024ce0c517eaa3ce8cbe86d0"
                             "7fc79179175345f4b2b2e8abec88"));

    // DES: key 526f5eed9fcce26f, IV 8866c1970281df23 (pre-IV 8964c2930787d82b XOR the salt).
    const LocalizedKey md5Kul = keyOf("526f5eed9fcce26f8964c2930787d82b");
    text = "DES-CBC 16 bytes";
    data.assign(text.begin(), text.end());
    ASSERT_TRUE(privacyKey(AuthProtocol::Md5, PrivProtocol::Des, md5Kul, key));
    ASSERT_TRUE(encrypt(PrivProtocol::Des, key, salt, 0, 0, data.data(), data.size()));
    EXPECT_EQ(data, hexBytes("16c5899b6208fb58343e4663e33d71f1"));
    EXPECT_FALSE(encrypt(PrivProtocol::Des, key, salt, 0, 0, data.data(), 12));

    for (PrivProtocol priv :
         {PrivProtocol::Des, PrivProtocol::Aes128, PrivProtocol::Aes192, PrivProtocol::Aes256}) {
        SCOPED_TRACE(privProtocolWord(priv));
        ASSERT_TRUE(privacyKey(AuthProtocol::Sha1, priv, sha1Kul, key));
        std::vector<uint8_t> plain(priv == PrivProtocol::Des ? 64 : 61);
        for (std::size_t i = 0; i < plain.size(); ++i) {
            plain[i] = static_cast<uint8_t>(i * 7);
        }
        data = plain;
        ASSERT_TRUE(encrypt(priv, key, salt, 3, 99, data.data(), data.size()));
        EXPECT_NE(data, plain);
        ASSERT_TRUE(decrypt(priv, key, salt, 3, 99, data.data(), data.size()));
        EXPECT_EQ(data, plain);
        LocalizedKey shortKey = key;
        shortKey.length = privKeySize(priv) - 1;
        EXPECT_FALSE(encrypt(priv, shortKey, salt, 3, 99, data.data(), data.size()));
    }
}

TEST(UsmCrypto, ProtocolWords) {
    for (AuthProtocol auth :
         {AuthProtocol::None, AuthProtocol::Md5, AuthProtocol::Sha1, AuthProtocol::Sha224,
          AuthProtocol::Sha256, AuthProtocol::Sha384, AuthProtocol::Sha512}) {
        AuthProtocol read = AuthProtocol::Md5;
        EXPECT_TRUE(authProtocolFromWord(authProtocolWord(auth), read));
        EXPECT_EQ(read, auth);
    }
    for (PrivProtocol priv : {PrivProtocol::None, PrivProtocol::Des, PrivProtocol::Aes128,
                              PrivProtocol::Aes192, PrivProtocol::Aes256}) {
        PrivProtocol read = PrivProtocol::Des;
        EXPECT_TRUE(privProtocolFromWord(privProtocolWord(priv), read));
        EXPECT_EQ(read, priv);
    }
    AuthProtocol auth = AuthProtocol::None;
    EXPECT_TRUE(authProtocolFromWord("sha1", auth));
    EXPECT_EQ(auth, AuthProtocol::Sha1);
    EXPECT_TRUE(authProtocolFromWord("sha-512", auth));
    EXPECT_EQ(auth, AuthProtocol::Sha512);
    EXPECT_FALSE(authProtocolFromWord("SHA256", auth));
    PrivProtocol priv = PrivProtocol::None;
    EXPECT_TRUE(privProtocolFromWord("aes-128", priv));
    EXPECT_EQ(priv, PrivProtocol::Aes128);
    EXPECT_FALSE(privProtocolFromWord("3DES", priv));
    EXPECT_STREQ(authProtocolWord(AuthProtocol::Sha1), "SHA");
    EXPECT_STREQ(privProtocolWord(PrivProtocol::Aes128), "AES");
}

}  // namespace
}  // namespace korvimo::snmp
