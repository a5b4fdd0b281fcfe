// SNMPv3 messages on the wire (RFC 3412 6, RFC 3414 2.4): the header data, the User-based
// Security Model's msgSecurityParameters, and the scoped PDU, plaintext or encrypted.
//
//   SNMPv3Message ::= SEQUENCE { msgVersion INTEGER (3), msgGlobalData HeaderData,
//                                msgSecurityParameters OCTET STRING, msgData ScopedPduData }
//   HeaderData ::= SEQUENCE { msgID, msgMaxSize INTEGER, msgFlags OCTET STRING (SIZE(1)),
//                             msgSecurityModel INTEGER }
//   UsmSecurityParameters ::= SEQUENCE { msgAuthoritativeEngineID OCTET STRING,
//                             msgAuthoritativeEngineBoots, msgAuthoritativeEngineTime INTEGER,
//                             msgUserName, msgAuthenticationParameters,
//                             msgPrivacyParameters OCTET STRING }
//   ScopedPduData ::= CHOICE { plaintext ScopedPDU, encryptedPDU OCTET STRING }
//   ScopedPDU ::= SEQUENCE { contextEngineID, contextName OCTET STRING, data PDU }
//
// Decoding reads the message without copying its scoped PDU: it tells where the
// authentication parameters and the scoped PDU lie, so that the security model checks the
// digest over the bytes as received and decrypts in place.
//
//   V3Message message;
//   if (Result r = decodeV3Message(bytes, length, message); !r) drop(r.text());
//   ... verify, decrypt ...
//   Octets contextEngineId, contextName;
//   Pdu pdu;
//   Result r = decodeScopedPdu(plain, plainLength, contextEngineId, contextName, &pdu);
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "snmp/message.h"

namespace korvimo::snmp {

inline constexpr uint32_t kVersion3 = 3;
inline constexpr uint32_t kPduReport = 0xA8;
inline constexpr int32_t kSecurityModelUsm = 3;

// msgFlags bits.
inline constexpr uint8_t kFlagAuth = 0x01;
inline constexpr uint8_t kFlagPriv = 0x02;
inline constexpr uint8_t kFlagReportable = 0x04;

// SnmpEngineID, SnmpAdminString and the USM's parameter fields have bounded sizes; longer
// fields fail the decoding (RFC 3411 5: 5 to 32 octets for an engine ID, which may also be
// empty in a discovery request).
inline constexpr uint32_t kMaxEngineId = 32;
inline constexpr uint32_t kMaxAdminString = 255;
inline constexpr uint32_t kMaxUsmParameter = 64;

struct V3Header {
    int32_t msgId = 0;
    int32_t maxSize = 0;
    uint8_t flags = 0;
    int32_t securityModel = kSecurityModelUsm;
};

struct UsmParameters {
    Octets engineId;
    int32_t boots = 0;
    int32_t time = 0;
    Octets userName;
    Octets authParams;  // the digest as received (decoding) or zeros of its length (encoding)
    Octets privParams;  // the salt, or empty
};

struct V3Message {
    V3Header header;
    UsmParameters usm;  // read only when header.securityModel is kSecurityModelUsm
    // Where the content of msgAuthenticationParameters lies in the message (0, 0 when empty).
    uint32_t authOffset = 0;
    uint32_t authLength = 0;
    // The scoped PDU: with encrypted, the content of the encryptedPDU OCTET STRING; without,
    // the whole plaintext ScopedPDU SEQUENCE (tag and length included).
    bool encrypted = false;
    uint32_t scopedOffset = 0;
    uint32_t scopedLength = 0;
};

// Whether bytes begin as an SNMPv3 message does (a SEQUENCE whose first element is the INTEGER
// 3), whatever follows: what goes to decodeV3Message rather than decodeMessage, which may
// refuse it or read it as a community message of version 3.
inline bool isV3Message(const uint8_t* bytes, uint32_t length) {
    int32_t version = 0;
    return peekMessageVersion(bytes, length, version) && version == static_cast<int32_t>(kVersion3);
}

// Reads an SNMPv3 message: version 3, its header, its USM parameters when the security model
// is USM (others leave usm empty), and the place of its scoped PDU. Takes any bytes: nothing
// is read outside them. Fails with the reason for anything that is no such message.
Result decodeV3Message(const uint8_t* bytes, uint32_t length, V3Message& message);

// Reads a ScopedPDU SEQUENCE at the start of bytes; what follows it (the padding of a
// decrypted DES block) is passed over. pdu gets version kVersion3, no community, and the
// PDU's type, request-id, error fields (or GetBulk's) and bindings, decoded as decodeMessage
// decodes them.
Result decodeScopedPdu(const uint8_t* bytes, uint32_t length, Octets& contextEngineId,
                       Octets& contextName, Pdu* pdu);

// The ScopedPDU of pdu (its type, request-id, error fields and bindings; never a v1 Trap).
// *size is the capacity in and the length out.
Result encodeScopedPdu(const Octets& contextEngineId, const Octets& contextName, const Pdu& pdu,
                       uint8_t* out, uint32_t* size);
// Octets encodeScopedPdu writes for these fields with a PDU of these bindings.
uint32_t encodedScopedPduSize(const Octets& contextEngineId, const Octets& contextName,
                              int32_t requestId, int32_t errorStatus, int32_t errorIndex,
                              const VarBindList& list);

// A whole message around scoped, which is a plaintext ScopedPDU (encrypted false) or the
// ciphertext that goes into encryptedPDU. usm.authParams is written as given (zeros while
// the digest is computed); *authOffset tells where its content went. *size is the capacity in
// and the length out.
Result encodeV3Message(const V3Header& header, const UsmParameters& usm,
                       std::span<const uint8_t> scoped, bool encrypted, uint8_t* out,
                       uint32_t* size, uint32_t* authOffset);
// Octets encodeV3Message would write (the message's overhead beyond scoped is this minus
// scoped's length).
uint32_t encodedV3MessageSize(const V3Header& header, const UsmParameters& usm,
                              uint32_t scopedLength, bool encrypted);

}  // namespace korvimo::snmp
