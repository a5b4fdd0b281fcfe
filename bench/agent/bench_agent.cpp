// The simulated agent under load, side by side with Net-SNMP's snmpd in the same run.
//
// The agent (started by the main window's logic, on a thread of its own) serves a
// generated control file of 10,000 attributes; snmpd serves its own system group. One load
// generator drives both: a window of requests outstanding over a few UDP sockets, each
// answer sending the next request. It measures Get and GetNext answers per second for both,
// the time of a full bulk walk of the 10,000 attributes (with its own GetBulk requests, and
// with Net-SNMP's snmpbulkwalk for reference), and the allocations the agent thread makes
// per request and per answered binding, with the debug log off.
//
//   build/bench/bench_agent [seconds per measurement]
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "agent/agent_bench_load.h"
#include "agent/agent_bench_setup.h"
#include "snmp/ber.h"
#include "snmp/message.h"

// --- Allocation count of the agent thread ----------------------------------------------------

// The replacements below pair operator new with malloc and operator delete with free, which
// g++ cannot see through once the standard allocators are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<uint64_t> agentAllocations{0};
thread_local bool countAllocations = false;
}  // namespace

void* operator new(std::size_t size) {
    if (countAllocations) {
        agentAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace korvimo;
using bench::Generator;
using bench::secondsSince;
using bench::SteadyClock;

constexpr int kAttributes = 10000;
constexpr const char* kCommunity = bench::kBenchCommunity;
constexpr const char* kTableRoot = bench::kBenchTableRoot;

std::string controlFile() {
    return bench::tenThousandAttributes("generated for the agent benchmark");
}

// --- The load generator --------------------------------------------------------------------

using bench::encodeTemplate;
using bench::oid;
using bench::Template;

// Answers per second to requests from the templates, the window full, for `seconds`.
double rate(Generator& generator, std::vector<Template> templates, double seconds,
            uint64_t* errors) {
    bench::TemplateLoad load(std::move(templates));
    bench::Tally tally;
    const double perSecond = generator.rate(load, seconds, &tally);
    *errors += tally.errors;
    return perSecond;
}

// Sends count requests from the template one at a time, each after the previous answer;
// the answers received, and in *bindings the bindings they carried.
int sequential(Generator& generator, const Template& t, int count, uint64_t* bindings) {
    generator.drain();
    const int fd = generator.socket();
    std::vector<uint8_t> message = t.bytes;
    uint8_t buffer[2048];
    snmp::Pdu answer;
    int answered = 0;
    *bindings = 0;
    for (int i = 0; i < count; ++i) {
        message[t.idOffset + 3] = static_cast<uint8_t>(i);
        ::send(fd, message.data(), message.size(), 0);
        pollfd p{fd, POLLIN, 0};
        ssize_t n = 0;
        if (::poll(&p, 1, 1000) > 0 && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            ++answered;
            if (snmp::decodeMessage(buffer, static_cast<uint32_t>(n), &answer)) {
                *bindings += answer.varBinds.count();
            }
        }
    }
    return answered;
}

// A GetBulk walk of the subtree under root, one request at a time; the number of bindings
// walked, and the requests it took. The caller drains the sockets first (drain), outside its
// timing.
int bulkWalk(Generator& generator, const std::string& root, int maxRepetitions, int* requests) {
    const int fd = generator.socket();
    const snmp::ObjectId top = oid(root);
    snmp::ObjectId from = top;
    int walked = 0;
    *requests = 0;
    uint8_t buffer[2048];
    snmp::Octets community;
    community.bytes.assign(kCommunity, kCommunity + std::strlen(kCommunity));
    for (int guard = 0; guard < 100000; ++guard) {
        auto list = snmp::SnmpCreateVbl();
        snmp::SnmpAddVb(list.get(), &from, nullptr);
        auto pdu = snmp::SnmpCreateBPdu(snmp::kVersion2c, &community, snmp::kPduGetBulkRequest,
                                        guard + 1, 0, maxRepetitions, std::move(list));
        uint8_t out[snmp::kMaxMessageSize];
        uint32_t size = sizeof out;
        if (!snmp::SnmpEncodeMsg(pdu.get(), out, &size)) {
            size = 0;
        }
        ::send(fd, out, size, 0);
        ++*requests;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) {
            return -1;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        snmp::Pdu answer;
        if (n <= 0 || !snmp::decodeMessage(buffer, static_cast<uint32_t>(n), &answer) ||
            answer.varBinds.count() == 0) {
            return -1;
        }
        for (const snmp::VarBind& b : answer.varBinds.items) {
            if (b.value.syntax == snmp::kTagEndOfMibView || !snmp::isOidPrefix(top, b.name)) {
                return walked;
            }
            ++walked;
            from = b.name;
        }
    }
    return walked;
}

std::vector<Template> systemGroup(uint32_t type) {
    std::vector<Template> templates;
    // sysDescr to sysLocation: snmpd without a configuration has no sysServices.0.
    for (int i = 1; i <= 6; ++i) {
        const std::string name = "1.3.6.1.2.1.1." + std::to_string(i) + ".0";
        templates.push_back(encodeTemplate(type, {name}));
    }
    return templates;
}

bool answers(Generator& generator) {
    uint64_t errors = 0;
    return rate(generator, {encodeTemplate(snmp::kPduGetRequest, {"1.3.6.1.2.1.1.1.0"})}, 0.1,
                &errors) > 0 &&
           errors == 0;
}

double commandMs(const std::string& command) {
    const auto start = SteadyClock::now();
    const int status = std::system(command.c_str());
    const double ms = secondsSince(start) * 1000.0;
    return status == 0 ? ms : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    ::signal(SIGPIPE, SIG_IGN);

    const bench::TempDir temp;
    if (!bench::makeBenchHome(temp, controlFile(), "bench_agent")) {
        return 1;
    }
    const std::string& dir = temp.path();

    // Only the serving is counted, not the start.
    bench::AgentThread agent(dir, {}, [](bool serving) { countAllocations = serving; });
    if (!agent.running()) {
        std::fprintf(stderr, "bench_agent: the agent did not start: %s\n", agent.failure().c_str());
        return 1;
    }
    bench::Snmpd snmpd(dir, bench::freeLoopbackPort(),
                       std::string("rocommunity ") + kCommunity + " 127.0.0.1\n");
    Generator toAgent(agent.port());
    Generator toSnmpd(snmpd.port());
    bool snmpdUp = false;
    for (int attempt = 0; attempt < 50 && !snmpdUp; ++attempt) {
        snmpdUp = answers(toSnmpd);
    }

    std::printf(
        "Agent benchmark: %d attributes, %d requests outstanding over %d sockets, "
        "%.1f s per measurement\n\n",
        kAttributes, bench::kWindow, bench::kSockets, seconds);

    // Warm both up, then measure.
    uint64_t errors = 0;
    rate(toAgent, systemGroup(snmp::kPduGetRequest), 0.3, &errors);
    errors = 0;
    double cpu = agent.cpuSeconds();
    const double agentGet = rate(toAgent, systemGroup(snmp::kPduGetRequest), seconds, &errors);
    const double getCpuUs = (agent.cpuSeconds() - cpu) * 1e6 / (agentGet * seconds);
    const uint64_t agentGetErrors = errors;
    errors = 0;
    cpu = agent.cpuSeconds();
    const double agentNext = rate(toAgent, systemGroup(snmp::kPduGetNextRequest), seconds, &errors);
    const double nextCpuUs = (agent.cpuSeconds() - cpu) * 1e6 / (agentNext * seconds);
    const uint64_t agentNextErrors = errors;

    double snmpdGet = 0;
    double snmpdNext = 0;
    uint64_t snmpdErrors = 0;
    if (snmpdUp) {
        rate(toSnmpd, systemGroup(snmp::kPduGetRequest), 0.3, &snmpdErrors);
        snmpdErrors = 0;
        snmpdGet = rate(toSnmpd, systemGroup(snmp::kPduGetRequest), seconds, &snmpdErrors);
        snmpdNext = rate(toSnmpd, systemGroup(snmp::kPduGetNextRequest), seconds, &snmpdErrors);
    }

    std::printf("%-22s %12s %12s %8s\n", "", "Korvimo", "snmpd", "ratio");
    auto row = [](const char* what, double ours, double theirs) {
        if (theirs > 0) {
            std::printf("%-22s %12.0f %12.0f %7.1fx\n", what, ours, theirs, ours / theirs);
        } else {
            std::printf("%-22s %12.0f %12s %8s\n", what, ours, "-", "-");
        }
    };
    row("Get answers/s", agentGet, snmpdGet);
    row("GetNext answers/s", agentNext, snmpdNext);
    std::printf("Agent thread CPU per answer: Get %.2f us, GetNext %.2f us\n", getCpuUs, nextCpuUs);
    if (agentGetErrors + agentNextErrors + snmpdErrors > 0) {
        std::printf("(answers with an error or an exception: Korvimo %llu, snmpd %llu)\n",
                    static_cast<unsigned long long>(agentGetErrors + agentNextErrors),
                    static_cast<unsigned long long>(snmpdErrors));
    }
    if (!snmpdUp) {
        std::printf("(snmpd did not answer; is it installed?)\n");
    }

    // The bulk walk, best of five.
    int requests = 0;
    int walked = 0;
    double bestWalkMs = 1e9;
    for (int run = 0; run < 5; ++run) {
        toAgent.drain();
        const auto start = SteadyClock::now();
        walked = bulkWalk(toAgent, "1.3.6.1", 10000, &requests);
        bestWalkMs = std::min(bestWalkMs, secondsSince(start) * 1000.0);
    }
    const std::string target = "127.0.0.1:" + std::to_string(agent.port());
    const std::string walkCommand =
        "snmpbulkwalk -v2c -c bench -m '' -On -t 2 -r 0 %s " + target + " 1.3.6.1 > /dev/null 2>&1";
    char command[512];
    std::snprintf(command, sizeof command, walkCommand.c_str(), "-Cr50");
    const double netSnmpWalk50 = commandMs(command);
    std::snprintf(command, sizeof command, walkCommand.c_str(), "");
    const double netSnmpWalkDefault = commandMs(command);

    std::printf("\nBulk walk of 1.3.6.1 (%d bindings):\n", walked);
    std::printf("  load generator, GetBulk as large as fits: %8.1f ms (%d requests)\n", bestWalkMs,
                requests);
    std::printf("  snmpbulkwalk -Cr50 (process included):    %8.1f ms\n", netSnmpWalk50);
    std::printf("  snmpbulkwalk -Cr10 (process included):    %8.1f ms\n", netSnmpWalkDefault);

    // Allocations of the agent thread, one request at a time: per Get of one binding (the
    // whole path: the event loop's turn, decoding, the answer, sending), and per further
    // binding of a GetBulk answer, from two answer sizes.
    struct Allocations {
        double perRequest = 0;
        double bindingsPerAnswer = 0;
    };
    auto allocationsPerRequest = [&](const Template& t) {
        constexpr int kCount = 2000;
        const uint64_t before = agentAllocations.load();
        uint64_t bindings = 0;
        const int answered = std::max(sequential(toAgent, t, kCount, &bindings), 1);
        return Allocations{static_cast<double>(agentAllocations.load() - before) / answered,
                           static_cast<double>(bindings) / answered};
    };
    const std::string column = std::string(kTableRoot) + ".2";
    const Allocations get =
        allocationsPerRequest(encodeTemplate(snmp::kPduGetRequest, {"1.3.6.1.2.1.1.5.0"}));
    const Allocations next =
        allocationsPerRequest(encodeTemplate(snmp::kPduGetNextRequest, {column}));
    const Allocations bulkSmall =
        allocationsPerRequest(encodeTemplate(snmp::kPduGetBulkRequest, {column}, 0, 1));
    const Allocations bulkFull =
        allocationsPerRequest(encodeTemplate(snmp::kPduGetBulkRequest, {column}, 0, 1000));
    std::printf(
        "\nAllocations on the agent thread per request, one request at a time "
        "(debug log off):\n");
    std::printf("  Get of one OctetString binding, whole path:   %.2f\n", get.perRequest);
    std::printf("  GetNext of one OctetString binding:           %.2f\n", next.perRequest);
    std::printf("  GetBulk answering %2.0f binding:                %.2f\n",
                bulkSmall.bindingsPerAnswer, bulkSmall.perRequest);
    std::printf("  GetBulk answering %2.0f bindings (a full one):  %.2f\n",
                bulkFull.bindingsPerAnswer, bulkFull.perRequest);
    std::printf("  so per further answered OctetString binding:  %.2f (its name and its octets)\n",
                (bulkFull.perRequest - bulkSmall.perRequest) /
                    std::max(bulkFull.bindingsPerAnswer - bulkSmall.bindingsPerAnswer, 1.0));

    std::printf("\nGoals: Get at least 4x snmpd: %s; bulk walk under 50 ms: %s\n",
                snmpdGet > 0 ? (agentGet >= 4 * snmpdGet ? "met" : "NOT met") : "unknown",
                bestWalkMs < 50.0 && walked >= kAttributes ? "met" : "NOT met");

    return 0;
}
