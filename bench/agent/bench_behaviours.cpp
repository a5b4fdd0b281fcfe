// The counter behaviours under load, side by side in one run: an agent serving 48 instances
// each of randomup and rate counters (Counter and Counter64) and of low32 views of the rate
// Counter64s.
//
// Gets of 10 bindings of one behaviour, the behaviours taking turns round after round so that
// a change in the machine's load falls on each of them alike: answers per second and the
// agent thread's CPU time per answer. Then the store alone, without the network: nanoseconds
// per lookupAttribute + makeValue of each behaviour, 10 bindings a request as the agent reads
// them, best of the rounds.
//
//   build/bench/bench_behaviours [seconds per measurement] [rounds]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/agent_bench_load.h"
#include "agent/agent_bench_setup.h"
#include "app/core/clock.h"
#include "base/unique_fd.h"
#include "snmp/ber.h"
#include "snmp/message.h"
#include "store/variable_store.h"

namespace {

using namespace korvimo;
using bench::encodeTemplate;
using bench::Generator;
using bench::Template;

constexpr int kInstances = 48;
constexpr int kBindings = 10;  // per Get
constexpr const char* kRoot = "1.3.6.1.4.1.32473.9.1";

// The columns under kRoot, in the order of the control file.
struct Column {
    int number;
    const char* label;
    const char* syntax;
    std::string expression;
};

std::vector<Column> columns() {
    return {
        {1, "randomup Counter", "Counter", "randomup(0, 15000, 500)"},
        {2, "randomup Counter64", "Counter64", "randomup(0, 15000, 500)"},
        {3, "rate Counter", "Counter", "rate(0, 1200000, 10)"},
        {4, "rate Counter64", "Counter64", "rate(0, 1200000, 10)"},
        {5, "low32 of rate Counter64", "Counter", std::string("low32(") + kRoot + ".4.%d)"},
    };
}

std::string controlFile() {
    std::string text = "# Counter behaviours, generated for the behaviours benchmark\r\n";
    char line[256];
    for (const Column& c : columns()) {
        std::snprintf(line, sizeof line, "%s.%d.[1-%d], %s, RO, %s\r\n", kRoot, c.number,
                      kInstances, c.syntax, c.expression.c_str());
        text += line;
    }
    return text;
}

std::string instance(int column, int index) {
    return std::string(kRoot) + "." + std::to_string(column) + "." + std::to_string(index);
}

// Gets of kBindings consecutive instances of the columns, from starts spread over all 48.
std::vector<Template> gets(const std::vector<int>& ofColumns) {
    std::vector<Template> templates;
    for (int start = 1; start + kBindings - 1 <= kInstances; start += kBindings - 1) {
        for (int column : ofColumns) {
            std::vector<std::string> names;
            for (int i = 0; i < kBindings; ++i) {
                names.push_back(instance(column, start + i));
            }
            templates.push_back(encodeTemplate(snmp::kPduGetRequest, names));
        }
    }
    return templates;
}

// Whether one Get of each template is answered with a counter in every binding.
bool answeredWithCounters(Generator& generator, const std::vector<Template>& templates) {
    generator.drain();
    const int fd = generator.socket();
    uint8_t buffer[2048];
    snmp::Pdu answer;
    for (const Template& t : templates) {
        ::send(fd, t.bytes.data(), t.bytes.size(), 0);
        pollfd p{fd, POLLIN, 0};
        ssize_t n = 0;
        if (::poll(&p, 1, 1000) <= 0 || (n = ::recv(fd, buffer, sizeof buffer, 0)) <= 0 ||
            !snmp::decodeMessage(buffer, static_cast<uint32_t>(n), &answer) ||
            answer.errorStatus != 0 || answer.varBinds.count() != kBindings) {
            return false;
        }
        for (const snmp::VarBind& b : answer.varBinds.items) {
            if (b.value.syntax != snmp::kTagCounter && b.value.syntax != snmp::kTagCounter64) {
                return false;
            }
        }
    }
    return true;
}

// What the Gets of one behaviour added up to over the rounds.
struct Kind {
    const char* name;
    std::vector<Template> templates;
    double seconds = 0;
    double cpuSeconds = 0;
    uint64_t answered = 0;
    uint64_t errors = 0;

    double perSecond() const { return seconds > 0 ? static_cast<double>(answered) / seconds : 0; }
    double cpuMicroseconds() const {
        return answered > 0 ? cpuSeconds * 1e6 / static_cast<double>(answered) : 0;
    }
};

// Answers per second to the kind's Gets for `seconds`, the window full; the totals of the
// kind count them when `count` is set.
double measure(bench::AgentThread& agent, Generator& generator, Kind& kind, double seconds,
               bool count) {
    bench::TemplateLoad load(kind.templates);
    bench::Tally tally;
    const double cpu = agent.cpuSeconds();
    const double perSecond = generator.rate(load, seconds, &tally);
    if (count) {
        // The answers counted over the measured time, the agent's CPU over the same span
        // (with the generator's 50 ms drain: the agent is idle then).
        kind.seconds += static_cast<double>(tally.answered) / std::max(perSecond, 1e-9);
        kind.cpuSeconds += agent.cpuSeconds() - cpu;
        kind.answered += tally.answered;
        kind.errors += tally.errors;
    }
    return perSecond;
}

// --- The store alone -------------------------------------------------------------------------

// Nanoseconds per lookupAttribute + makeValue of the column's instances, taken in turn,
// kBindings to a request.
double storeNanoseconds(store::VariableStore& store, int column) {
    constexpr uint32_t kValues = 2000000;
    std::vector<snmp::ObjectId> names;
    for (int i = 1; i <= kInstances; ++i) {
        names.push_back(bench::oid(instance(column, i)));
    }
    store::AttributeInfo found;
    snmp::SyntaxValue value;
    uint64_t sum = 0;
    const auto start = bench::SteadyClock::now();
    for (uint32_t done = 0; done < kValues; done += kBindings) {
        auto request = store.beginRequest();
        for (uint32_t i = 0; i < kBindings; ++i) {
            if (store.lookupAttribute(names[(done + i) % kInstances], found)) {
                store.makeValue(value, found);
                sum += value.number + value.counter64;
            }
        }
    }
    const double seconds = bench::secondsSince(start);
    if (sum == 0) {
        std::printf("(%s: no values)\n", instance(column, 1).c_str());
    }
    return seconds * 1e9 / kValues;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (seconds <= 0 || rounds < 1 || rounds > 100) {
        std::fprintf(stderr, "usage: bench_behaviours [seconds per measurement] [rounds]\n");
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);

    const bench::TempDir temp;
    if (!bench::makeBenchHome(temp, controlFile(), "bench_behaviours")) {
        return 1;
    }
    const std::string& dir = temp.path();
    bench::AgentThread agent(dir);
    if (!agent.running()) {
        std::fprintf(stderr, "bench_behaviours: the agent did not start: %s\n",
                     agent.failure().c_str());
        return 1;
    }
    Generator generator(agent.port());

    Kind kinds[] = {{"randomup", gets({1, 2})}, {"rate", gets({3, 4})}, {"low32", gets({5})}};
    for (Kind& kind : kinds) {
        if (!answeredWithCounters(generator, kind.templates)) {
            std::fprintf(stderr, "bench_behaviours: the %s Gets are not answered with counters\n",
                         kind.name);
            return 1;
        }
    }

    std::printf(
        "Behaviours benchmark: %d instances of each, Gets of %d bindings (Counter and Counter64 "
        "in turn; low32 views of Counter64), %d requests outstanding over %d sockets, %d rounds "
        "of %.1f s\n\n",
        kInstances, kBindings, bench::kWindow, bench::kSockets, rounds, seconds);

    for (Kind& kind : kinds) {
        measure(agent, generator, kind, 0.3, false);  // warm-up
    }
    std::printf("%-8s", "round");
    for (const Kind& kind : kinds) {
        std::printf(" %14s/s", kind.name);
    }
    std::printf("\n");
    for (int round = 1; round <= rounds; ++round) {
        std::printf("%-8d", round);
        for (Kind& kind : kinds) {
            std::printf(" %16.0f", measure(agent, generator, kind, seconds, true));
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    std::printf("%-8s", "all");
    for (const Kind& kind : kinds) {
        std::printf(" %16.0f", kind.perSecond());
    }
    std::printf("\n%-8s", "CPU/Get");
    for (const Kind& kind : kinds) {
        std::printf(" %13.2f us", kind.cpuMicroseconds());
    }
    std::printf("\n");
    uint64_t errors = 0;
    for (const Kind& kind : kinds) {
        errors += kind.errors;
    }
    if (errors > 0) {
        std::printf("(answers with an error or an exception: %llu)\n",
                    static_cast<unsigned long long>(errors));
    }
    const Kind& randomup = kinds[0];
    const Kind& rate = kinds[1];
    const double answersRatio = rate.perSecond() / std::max(randomup.perSecond(), 1e-9);
    const double cpuRatio = rate.cpuMicroseconds() / std::max(randomup.cpuMicroseconds(), 1e-9);
    std::printf("rate/randomup: answers/s %.3f, agent CPU per Get %.3f\n", answersRatio, cpuRatio);

    // The store alone, on a load of its own of the same file.
    store::LoadInputs inputs;
    UniqueFd control(::open((dir + "/agent/bench.ctl").c_str(), O_RDONLY | O_CLOEXEC));
    inputs.controlFile = control.get();
    inputs.attributeFilePath = dir + "/agent/store-tempfile";
    inputs.clock = &SystemClock::instance();
    std::string report;
    inputs.report = [&report](const char* line) { report += std::string(line) + "\n"; };
    store::VariableStore store;
    if (!store.loadControlFile(inputs)) {
        std::fprintf(stderr, "bench_behaviours: the store did not load:\n%s", report.c_str());
        return 1;
    }
    const std::vector<Column> storeColumns = columns();
    std::vector<double> best(storeColumns.size(), 1e18);
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t c = 0; c < storeColumns.size(); ++c) {
            best[c] = std::min(best[c], storeNanoseconds(store, storeColumns[c].number));
        }
    }
    std::printf(
        "\nStore alone, ns per lookupAttribute + makeValue (%d to a request, best of %d):\n",
        kBindings, rounds);
    for (std::size_t c = 0; c < storeColumns.size(); ++c) {
        std::printf("  %-24s %6.1f ns   %s\n", storeColumns[c].label, best[c],
                    storeColumns[c].expression.c_str());
    }

    const bool met = rate.cpuMicroseconds() <= randomup.cpuMicroseconds() && best[2] <= best[0] &&
                     best[3] <= best[1];
    std::printf(
        "\nGoal: a rate Get costs no more than a randomup Get (agent CPU per Get, store "
        "time per value): %s\n",
        met ? "met" : "NOT met");
    return 0;
}
