// SNMPv3 under load: the simulated agent answering authPriv Gets of one user (SHA-256 and
// AES-128) beside Net-SNMP's snmpd with the same user, and beside its own SNMPv2c answers, in
// the same run.
//
// One load generator drives both: a window of requests outstanding over a few UDP sockets.
// For SNMPv3 it first discovers the engine (a reportable noAuthNoPriv Get with no engine ID
// and no user; the Report tells the engine ID, its boots and time), localises the user's keys
// to it, and then builds every request in full: a Get of sysDescr.0, encrypted and
// authenticated, with a msgID of its own and the engine's time as it runs. An answer counts
// when its msgID is one outstanding and it is no Report (at authPriv a Response comes back
// encrypted; the Reports these requests could meet come back without privacy). The first
// answer of each run, and one in every kCheckEvery after, is opened (digest, decryption,
// scoped PDU) and must be a Response without error. The generator's cryptography costs the
// same for both agents.
//
//   build/bench/bench_v3 [seconds per measurement]
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "agent/agent_bench_load.h"
#include "agent/agent_bench_setup.h"
#include "snmp/ber.h"
#include "snmp/message.h"
#include "snmp/usm.h"
#include "snmp/v3_message.h"

namespace {

using namespace korvimo;
using bench::Generator;
using bench::secondsSince;
using bench::SteadyClock;

constexpr const char* kUser = "benchuser";
constexpr const char* kAuthPass = "bench-auth-phrase";
constexpr const char* kPrivPass = "bench-priv-phrase";
constexpr const char* kVariable = "1.3.6.1.2.1.1.1.0";  // sysDescr.0, which both serve
constexpr uint64_t kCheckEvery = 4096;

snmp::UsmUser benchUser() {
    snmp::UsmUser user;
    user.name = kUser;
    user.auth = snmp::AuthProtocol::Sha256;
    user.authPass = kAuthPass;
    user.priv = snmp::PrivProtocol::Aes128;
    user.privPass = kPrivPass;
    return user;
}

double threadCpuSeconds() {
    timespec used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

// The authoritative engine a manager talks to, as its Reports tell it.
struct Engine {
    std::vector<uint8_t> id;
    uint32_t boots = 0;
    uint32_t time = 0;
    SteadyClock::time_point told;  // when time was read
};

snmp::Pdu getRequest(int32_t requestId) {
    snmp::Pdu pdu;
    pdu.version = snmp::kVersion3;
    pdu.type = snmp::kPduGetRequest;
    pdu.requestId = requestId;
    pdu.varBinds.items.emplace_back().name = bench::oid(kVariable);
    return pdu;
}

// Opens an authPriv answer and checks it is a Response without error whose binding is no
// exception; empty when it is, else why not.
std::string checkAnswer(uint8_t* bytes, std::size_t length, const snmp::V3Message& message,
                        const snmp::LocalizedUser& user) {
    snmp::SecurityLevel level;
    if (!snmp::levelFromFlags(message.header.flags, level) ||
        level != snmp::SecurityLevel::AuthPriv) {
        return "not authPriv";
    }
    std::vector<uint8_t> plain;
    snmp::Octets contextEngineId;
    snmp::Octets contextName;
    snmp::Pdu pdu;
    Result why;
    const snmp::OpenFailure opened =
        snmp::openSecureMessage(bytes, static_cast<uint32_t>(length), message, level, &user, plain,
                                contextEngineId, contextName, &pdu, &why);
    if (opened == snmp::OpenFailure::WrongDigest) {
        return "wrong digest";
    }
    if (opened == snmp::OpenFailure::DecryptionError) {
        return "decryption error";
    }
    if (opened != snmp::OpenFailure::None) {
        return std::string("malformed: ") + why.c_str();
    }
    if (pdu.type != snmp::kPduResponse) {
        return "PDU type " + std::to_string(pdu.type);
    }
    if (pdu.errorStatus != 0) {
        return "error status " + std::to_string(pdu.errorStatus);
    }
    if (pdu.varBinds.count() != 1 || pdu.varBinds.items[0].value.syntax >= snmp::kTagNoSuchObject) {
        return "no value";
    }
    return {};
}

// Sends a datagram over fd and waits up to timeoutMs for one back; empty on timeout.
std::vector<uint8_t> exchange(int fd, const uint8_t* bytes, std::size_t length, int timeoutMs) {
    ::send(fd, bytes, length, 0);
    pollfd p{fd, POLLIN, 0};
    uint8_t buffer[2048];
    ssize_t n = 0;
    if (::poll(&p, 1, timeoutMs) <= 0 || (n = ::recv(fd, buffer, sizeof buffer, 0)) <= 0) {
        return {};
    }
    return {buffer, buffer + n};
}

// Discovers the engine at the other end of generator's socket (RFC 3414 4) and localises
// user's keys to it: a reportable noAuthNoPriv Get with no engine ID and no user brings a
// Report with the engine ID, boots and time; then authPriv Gets with them until one is
// answered, taking boots and time from an authenticated Report (notInTimeWindows) when the
// discovery did not tell them.
Result discover(Generator& generator, const snmp::UsmUser& user, Engine& engine,
                snmp::LocalizedUser& localized) {
    generator.drain();
    const int fd = generator.socket();
    uint8_t out[snmp::kMaxMessageSize];
    const snmp::Octets none;
    snmp::V3Message message;
    std::vector<uint8_t> answer;
    int32_t msgId = 1;
    for (int attempt = 0; attempt < 50 && engine.id.empty(); ++attempt, ++msgId) {
        snmp::OutgoingSecurity security;
        security.msgId = msgId;
        security.maxSize = static_cast<int32_t>(snmp::kMaxDatagramSize);
        security.reportable = true;
        security.level = snmp::SecurityLevel::NoAuthNoPriv;
        snmp::Pdu pdu = getRequest(msgId);
        pdu.varBinds.items.clear();
        uint32_t size = sizeof out;
        if (Result r = snmp::encodeSecureMessage(security, none, none, pdu, out, &size); !r) {
            return r;
        }
        answer = exchange(fd, out, size, 200);
        if (!answer.empty() &&
            snmp::decodeV3Message(answer.data(), static_cast<uint32_t>(answer.size()), message) &&
            message.header.msgId == msgId && message.usm.engineId.length() > 0) {
            engine.id = message.usm.engineId.bytes;
            engine.boots = static_cast<uint32_t>(message.usm.boots);
            engine.time = static_cast<uint32_t>(message.usm.time);
            engine.told = SteadyClock::now();
        }
    }
    if (engine.id.empty()) {
        return Result::failure("no Report to the discovery request");
    }
    if (Result r = snmp::localizeUser(user, engine.id, localized); !r) {
        return r;
    }
    snmp::SaltSource salts;
    const snmp::Octets contextEngineId{engine.id};
    std::string last = "no answer";
    for (int attempt = 0; attempt < 10; ++attempt, ++msgId) {
        snmp::OutgoingSecurity security;
        security.msgId = msgId;
        security.maxSize = static_cast<int32_t>(snmp::kMaxDatagramSize);
        security.reportable = true;
        security.level = snmp::SecurityLevel::AuthPriv;
        security.engineId = engine.id;
        security.boots = engine.boots;
        security.time = engine.time + static_cast<uint32_t>(secondsSince(engine.told));
        security.user = &localized;
        security.salts = &salts;
        uint32_t size = sizeof out;
        if (Result r = snmp::encodeSecureMessage(security, contextEngineId, none, getRequest(msgId),
                                                 out, &size);
            !r) {
            return r;
        }
        answer = exchange(fd, out, size, 500);
        if (answer.empty() ||
            !snmp::decodeV3Message(answer.data(), static_cast<uint32_t>(answer.size()), message) ||
            message.header.msgId != msgId) {
            continue;
        }
        if ((message.header.flags & snmp::kFlagPriv) != 0) {
            last = checkAnswer(answer.data(), answer.size(), message, localized);
            if (last.empty()) {
                return {};
            }
            continue;
        }
        last = "a Report";
        if ((message.header.flags & snmp::kFlagAuth) != 0) {
            engine.boots = static_cast<uint32_t>(message.usm.boots);
            engine.time = static_cast<uint32_t>(message.usm.time);
            engine.told = SteadyClock::now();
        }
    }
    return Result::failuref("authPriv Get not answered: %s", last.c_str());
}

// authPriv Gets of kVariable to a discovered engine, each built in full with a msgID (and
// request-id) of its own, the engine's time moving on with ours.
class V3GetLoad final : public bench::Load {
  public:
    V3GetLoad(const Engine& engine, const snmp::LocalizedUser& user)
        : engine_(engine), user_(user), pdu_(getRequest(0)) {
        contextEngineId_.bytes = engine.id;
        security_.maxSize = static_cast<int32_t>(snmp::kMaxDatagramSize);
        security_.reportable = true;
        security_.level = snmp::SecurityLevel::AuthPriv;
        security_.engineId = engine_.id;
        security_.boots = engine_.boots;
        security_.user = &user_;
        security_.salts = &salts_;
    }

    std::size_t next(uint8_t* out, std::size_t capacity) override {
        const int32_t id = nextId_++;
        security_.msgId = id;
        security_.time = engine_.time + static_cast<uint32_t>(secondsSince(engine_.told));
        pdu_.requestId = id;
        uint32_t size = static_cast<uint32_t>(capacity);
        if (!snmp::encodeSecureMessage(security_, contextEngineId_, contextName_, pdu_, out,
                                       &size)) {
            return 0;
        }
        outstanding_[static_cast<uint32_t>(id) % kSlots] = id;
        return size;
    }

    Answer take(uint8_t* in, std::size_t length) override {
        if (!snmp::decodeV3Message(in, static_cast<uint32_t>(length), message_)) {
            return Answer::Stray;
        }
        const int32_t id = message_.header.msgId;
        int32_t& slot = outstanding_[static_cast<uint32_t>(id) % kSlots];
        if (id <= 0 || slot != id) {
            return Answer::Stray;
        }
        slot = 0;
        if ((message_.header.flags & snmp::kFlagPriv) == 0) {
            return Answer::Refused;
        }
        if (taken_++ % kCheckEvery == 0) {
            ++checked_;
            const std::string why = checkAnswer(in, length, message_, user_);
            if (!why.empty()) {
                if (firstFailure_.empty()) {
                    firstFailure_ = why;
                }
                return Answer::Error;
            }
        }
        return Answer::Good;
    }

    uint64_t checked() const { return checked_; }
    const std::string& firstFailure() const { return firstFailure_; }

  private:
    static constexpr uint32_t kSlots = 4096;  // msgIDs remembered, well above the window

    const Engine& engine_;
    const snmp::LocalizedUser& user_;
    snmp::Pdu pdu_;
    snmp::Octets contextEngineId_;
    snmp::Octets contextName_;
    snmp::OutgoingSecurity security_;
    snmp::SaltSource salts_;
    snmp::V3Message message_;
    int32_t nextId_ = 1000;
    int32_t outstanding_[kSlots] = {};
    uint64_t taken_ = 0;
    uint64_t checked_ = 0;
    std::string firstFailure_;
};

// One measurement: answers per second, the CPU time per answer of the agent measured and of
// the generator, and what the answers held.
struct Measured {
    double perSecond = 0;
    double agentCpuUs = 0;
    double generatorCpuUs = 0;
    bench::Tally tally;
    uint64_t checked = 0;
    std::string failure;
};

using CpuSeconds = std::function<double()>;

Measured measure(Generator& generator, bench::Load& load, double seconds,
                 const CpuSeconds& agentCpu) {
    Measured m;
    const double agentBefore = agentCpu();
    const double generatorBefore = threadCpuSeconds();
    m.perSecond = generator.rate(load, seconds, &m.tally);
    const double answers = std::max<double>(static_cast<double>(m.tally.answered), 1.0);
    m.agentCpuUs = (agentCpu() - agentBefore) * 1e6 / answers;
    m.generatorCpuUs = (threadCpuSeconds() - generatorBefore) * 1e6 / answers;
    return m;
}

Measured measureV2c(Generator& generator, double seconds, const CpuSeconds& agentCpu) {
    bench::TemplateLoad warm({bench::encodeTemplate(snmp::kPduGetRequest, {kVariable})});
    generator.rate(warm, 0.3);
    bench::TemplateLoad load({bench::encodeTemplate(snmp::kPduGetRequest, {kVariable})});
    return measure(generator, load, seconds, agentCpu);
}

Measured measureV3(Generator& generator, const Engine& engine, const snmp::LocalizedUser& user,
                   double seconds, const CpuSeconds& agentCpu) {
    V3GetLoad warm(engine, user);
    generator.rate(warm, 0.3);
    V3GetLoad load(engine, user);
    Measured m = measure(generator, load, seconds, agentCpu);
    m.checked = load.checked();
    m.failure = load.firstFailure();
    return m;
}

bool v2cAnswers(Generator& generator) {
    bench::TemplateLoad load({bench::encodeTemplate(snmp::kPduGetRequest, {kVariable})});
    bench::Tally tally;
    return generator.rate(load, 0.1, &tally) > 0 && tally.errors == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    ::signal(SIGPIPE, SIG_IGN);

    const bench::TempDir temp;
    if (!bench::makeBenchHome(
            temp, bench::tenThousandAttributes("generated for the SNMPv3 benchmark"), "bench_v3")) {
        return 1;
    }
    const std::string& dir = temp.path();
    const std::string userLine =
        std::string(kUser) + " SHA-256 \"" + kAuthPass + "\" AES \"" + kPrivPass + "\"";

    int status = 0;
    bench::AgentThread agent(dir, [&userLine](app::MainWindowForm& form) {
        form.version = VersionMode::All;
        form.v3Users.userLines = {userLine};
    });
    if (!agent.running()) {
        std::fprintf(stderr, "bench_v3: the agent did not start: %s\n", agent.failure().c_str());
        return 1;
    }
    bench::Snmpd snmpd(dir, bench::freeLoopbackPort(),
                       std::string("rocommunity ") + bench::kBenchCommunity +
                           " 127.0.0.1\ncreateUser " + kUser + " SHA-256 \"" + kAuthPass +
                           "\" AES \"" + kPrivPass + "\"\nrouser " + kUser + " priv\n");
    Generator toAgent(agent.port());
    Generator toSnmpd(snmpd.port());

    const snmp::UsmUser user = benchUser();
    Engine agentEngine;
    snmp::LocalizedUser agentUser;
    if (Result r = discover(toAgent, user, agentEngine, agentUser); !r) {
        std::fprintf(stderr, "bench_v3: the agent's SNMPv3: %s\n", r.c_str());
        status = 1;
    }
    bool snmpdUp = false;
    for (int attempt = 0; attempt < 50 && !snmpdUp; ++attempt) {
        snmpdUp = v2cAnswers(toSnmpd);
    }
    Engine snmpdEngine;
    snmp::LocalizedUser snmpdUser;
    bool snmpdV3 = false;
    if (snmpdUp) {
        if (Result r = discover(toSnmpd, user, snmpdEngine, snmpdUser); !r) {
            std::printf("(snmpd's SNMPv3: %s)\n", r.c_str());
        } else {
            snmpdV3 = true;
        }
    }

    std::printf(
        "SNMPv3 benchmark: Get of sysDescr.0, user %s SHA-256 + AES-128 at authPriv, "
        "%d requests outstanding over %d sockets, %.1f s per measurement\n\n",
        kUser, bench::kWindow, bench::kSockets, seconds);

    const CpuSeconds agentCpu = [&agent] { return agent.cpuSeconds(); };
    const CpuSeconds snmpdCpu = [&snmpd] { return snmpd.cpuSeconds(); };
    Measured ours2c = measureV2c(toAgent, seconds, agentCpu);
    Measured ours3;
    if (status == 0) {
        ours3 = measureV3(toAgent, agentEngine, agentUser, seconds, agentCpu);
    }
    Measured theirs3;
    Measured theirs2c;
    if (snmpdV3) {
        theirs3 = measureV3(toSnmpd, snmpdEngine, snmpdUser, seconds, snmpdCpu);
    }
    if (snmpdUp) {
        theirs2c = measureV2c(toSnmpd, seconds, snmpdCpu);
    }

    std::printf("%-30s %12s %12s %8s\n", "", "Korvimo", "snmpd", "ratio");
    // ratio: ours over theirs for a rate, theirs over ours for a cost (so that above 1 is
    // Korvimo ahead either way), none for the generator.
    enum class Ratio { Rate, Cost, None };
    auto row = [](const char* what, double ours, double theirs, Ratio ratio) {
        const int decimals = ratio == Ratio::Rate ? 0 : 2;
        std::printf("%-30s %12.*f", what, decimals, ours);
        if (theirs <= 0) {
            std::printf(" %12s %8s\n", "-", "-");
        } else if (ratio == Ratio::None || ours <= 0) {
            std::printf(" %12.*f\n", decimals, theirs);
        } else {
            std::printf(" %12.*f %7.1fx\n", decimals, theirs,
                        ratio == Ratio::Rate ? ours / theirs : theirs / ours);
        }
    };
    row("SNMPv2c Get answers/s", ours2c.perSecond, theirs2c.perSecond, Ratio::Rate);
    row("SNMPv3 authPriv Get answers/s", ours3.perSecond, theirs3.perSecond, Ratio::Rate);
    row("CPU us per v2c answer", ours2c.agentCpuUs, theirs2c.agentCpuUs, Ratio::Cost);
    row("CPU us per v3 answer", ours3.agentCpuUs, theirs3.agentCpuUs, Ratio::Cost);
    row("  generator's, per v3 answer", ours3.generatorCpuUs, theirs3.generatorCpuUs, Ratio::None);
    std::printf(
        "(CPU: the agent's thread, snmpd's process at the kernel's tick, the generator's "
        "thread; for CPU the ratio is snmpd's over Korvimo's)\n\n");

    auto checks = [](const char* who, const Measured& m) {
        std::printf(
            "%s: %llu authPriv answers opened and checked, %llu failed%s%s; "
            "%llu Reports\n",
            who, static_cast<unsigned long long>(m.checked),
            static_cast<unsigned long long>(m.tally.errors),
            m.failure.empty() ? "" : ", first: ", m.failure.c_str(),
            static_cast<unsigned long long>(m.tally.refused));
    };
    checks("Korvimo", ours3);
    if (snmpdV3) {
        checks("snmpd  ", theirs3);
    }
    if (ours2c.tally.errors + theirs2c.tally.errors > 0) {
        std::printf("(SNMPv2c answers with an error or an exception: Korvimo %llu, snmpd %llu)\n",
                    static_cast<unsigned long long>(ours2c.tally.errors),
                    static_cast<unsigned long long>(theirs2c.tally.errors));
    }
    if (!snmpdUp) {
        std::printf("(snmpd did not answer; is it installed?)\n");
    }

    std::printf("\nKorvimo v3 / snmpd v3:     %.2f\n",
                theirs3.perSecond > 0 ? ours3.perSecond / theirs3.perSecond : 0.0);
    std::printf("Korvimo v3 / Korvimo v2c:  %.2f\n",
                ours2c.perSecond > 0 ? ours3.perSecond / ours2c.perSecond : 0.0);
    std::printf("Goal: SNMPv3 Get at least 3x snmpd: %s\n",
                theirs3.perSecond > 0
                    ? (ours3.perSecond >= 3 * theirs3.perSecond ? "met" : "NOT met")
                    : "unknown");
    if (ours3.checked == 0 || ours3.tally.errors > 0) {
        status = 1;
    }
    return status;
}
