// libFuzzer target for SNMPv3 messages as an agent's engine receives them. Each input goes to
// the engine as it came (unknown engines and users, Reports, digests that cannot match); and,
// when it reads as an SNMPv3 message of one of the engine's users, a second time re-made as
// that user would have sent it: the engine's boots and time, and the right digest, so that
// decryption and the scoped PDU behind them are reached with whatever the input holds there.
// A request that comes through must be one the agent serves, and its answer must wrap.
//
//   fuzz_v3_message -max_total_time=600 corpus/      (corpus: a copy of tests/fuzz/corpus/v3)
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "agent/v3_security.h"
#include "app/core/clock.h"
#include "fuzz_require.h"
#include "snmp/usm.h"

using namespace korvimo;
using korvimo::fuzz::require;

namespace {

// The engine's ID is the one the seeds were captured against.
const std::vector<uint8_t> kEngineId = {0x80, 0x00, 0x00, 0x00, 0x05, 0x01, 0x02,
                                        0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

struct Engine {
    Engine() {
        std::vector<snmp::UsmUser> users;
        const char* lines[] = {"plain none", "auth SHA fuzz-auth-phrase",
                               "priv SHA-256 fuzz-auth-phrase AES fuzz-priv-phrase rw",
                               "des MD5 fuzz-auth-phrase DES fuzz-priv-phrase",
                               "aes256 SHA-512 fuzz-auth-phrase AES-256 fuzz-priv-phrase"};
        for (const char* line : lines) {
            snmp::UsmUser user;
            bool isUser = false;
            require(snmp::parseUserLine(line, user, &isUser).ok() && isUser);
            users.push_back(user);
            snmp::LocalizedUser localized;
            require(snmp::localizeUser(user, kEngineId, localized).ok());
            localizedUsers.push_back(localized);
        }
        auto prepared = std::make_shared<PreparedUsers>();
        require(prepareUsers(users, *prepared).ok());
        security = std::make_unique<V3Security>(EngineIdentity{kEngineId, 1}, prepared, "demo",
                                                clock, snmp::kMaxDatagramSize);
        require(security->start().ok());
    }

    ManualClock clock;
    std::vector<snmp::LocalizedUser> localizedUsers;
    std::unique_ptr<V3Security> security;
};

void serve(Engine& engine, const uint8_t* data, size_t size) {
    V3Security::Request request;
    const V3Security::Outcome outcome =
        engine.security->receive(data, size, request, [](const uint8_t* bytes, std::size_t length) {
            snmp::V3Message report;
            require(length > 0 &&
                    snmp::decodeV3Message(bytes, static_cast<uint32_t>(length), report).ok());
            return true;
        });
    if (outcome != V3Security::Outcome::Serve) {
        return;
    }
    const uint32_t type = request.pdu.type;
    require(type == snmp::kPduGetRequest || type == snmp::kPduGetNextRequest ||
            type == snmp::kPduGetBulkRequest || type == snmp::kPduSetRequest);
    snmp::Pdu response = request.pdu;
    response.type = snmp::kPduResponse;
    static uint8_t out[snmp::kMaxDatagramSize];
    uint32_t length = sizeof out;
    bool tooBig = false;
    const Result wrapped = request.reply.wrap(response, out, &length, &tooBig);
    require(wrapped.ok() || tooBig || !wrapped.text().empty());
}

// The input re-made as the named user of the engine would send it, when it reads as an
// authenticated SNMPv3 message of one of them.
bool remake(const Engine& engine, const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    snmp::V3Message message;
    if (!snmp::decodeV3Message(data, static_cast<uint32_t>(size), message) ||
        (message.header.flags & snmp::kFlagAuth) == 0) {
        return false;
    }
    const snmp::LocalizedUser* user = nullptr;
    for (const snmp::LocalizedUser& candidate : engine.localizedUsers) {
        if (message.usm.userName.bytes ==
            std::vector<uint8_t>(candidate.config.name.begin(), candidate.config.name.end())) {
            user = &candidate;
        }
    }
    if (user == nullptr || user->config.auth == snmp::AuthProtocol::None) {
        return false;
    }
    snmp::UsmParameters usm = message.usm;
    usm.engineId.bytes = kEngineId;
    usm.boots = 1;
    usm.time = 0;
    usm.authParams.bytes.assign(snmp::digestSize(user->config.auth), 0);
    out.resize(size + 256);
    uint32_t length = static_cast<uint32_t>(out.size());
    uint32_t authOffset = 0;
    if (!snmp::encodeV3Message(message.header, usm,
                               {data + message.scopedOffset, message.scopedLength},
                               message.encrypted, out.data(), &length, &authOffset)) {
        return false;
    }
    out.resize(length);
    uint8_t digest[snmp::kMaxDigestSize];
    require(
        snmp::authenticate(user->config.auth, user->authKey, out.data(), out.size(), digest).ok());
    std::memcpy(out.data() + authOffset, digest, snmp::digestSize(user->config.auth));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Engine engine;
    serve(engine, data, size);
    std::vector<uint8_t> remade;
    if (remake(engine, data, size, remade)) {
        serve(engine, remade.data(), remade.size());
    }
    return 0;
}
