// Importing a walk file: a generated walk of 100,000 lines in identifier order, as a walk of an
// agent's interface, address and interface-extension tables gives it (strings, integers,
// gauges, hex dumps, time ticks, counters, object identifiers, addresses, 64-bit counters),
// read and turned into a control file with the name lookup of a mibinfo.out that covers those
// objects among 5,000 others.
//
//   bench_walk_import
//
// Prints the median time of three runs of reading, of importing, and of both, and the lines
// per second of both together.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "create/learning.h"
#include "create/walk_file.h"

namespace {

constexpr std::size_t kRows = 10000;

struct Column {
    const char* identifier;
    const char* descriptor;
    const char* mibType;
    const char* access;
};

constexpr Column kColumns[] = {
    {"1.3.6.1.2.1.2.2.1.2", "ifDescr", "OctetString", "RO"},
    {"1.3.6.1.2.1.2.2.1.3", "ifType", "Integer", "RO"},
    {"1.3.6.1.2.1.2.2.1.5", "ifSpeed", "Gauge", "RO"},
    {"1.3.6.1.2.1.2.2.1.6", "ifPhysAddress", "OctetString", "RO"},
    {"1.3.6.1.2.1.2.2.1.7", "ifAdminStatus", "Integer", "RW"},
    {"1.3.6.1.2.1.2.2.1.9", "ifLastChange", "TimeTicks", "RO"},
    {"1.3.6.1.2.1.2.2.1.10", "ifInOctets", "Counter", "RO"},
    {"1.3.6.1.2.1.2.2.1.22", "ifSpecific", "ObjectID", "RO"},
    {"1.3.6.1.2.1.4.20.1.1", "ipAdEntAddr", "IpAddress", "RO"},
    {"1.3.6.1.2.1.31.1.1.1.6", "ifHCInOctets", "Counter64", "RO"},
};

std::string walkText() {
    std::string text;
    text.reserve(std::size(kColumns) * kRows * 64);
    for (std::size_t c = 0; c < std::size(kColumns); ++c) {
        const std::string column = std::string(".") + kColumns[c].identifier + ".";
        for (std::size_t row = 1; row <= kRows; ++row) {
            const std::string index = std::to_string(row);
            switch (c) {
                case 0:
                    text += column + index + " = STRING: \"eth" + index + "\"\n";
                    break;
                case 1:
                    text += column + index + " = INTEGER: ethernetCsmacd(6)\n";
                    break;
                case 2:
                    text += column + index + " = Gauge32: 1000000000\n";
                    break;
                case 3:
                    text += column + index + " = Hex-STRING: 00 16 3E 12 34 56 \n";
                    break;
                case 4:
                    text += column + index + " = INTEGER: up(1)\n";
                    break;
                case 5:
                    text += column + index + " = Timeticks: (" + index + "00) 0:00:01.00\n";
                    break;
                case 6:
                    text += column + index + " = Counter32: 38492" + index + "\n";
                    break;
                case 7:
                    text += column + index + " = OID: .0.0\n";
                    break;
                case 8: {
                    // 10.0.a.b in identifier order.
                    const std::string address = "10.0." + std::to_string((row - 1) / 250) + "." +
                                                std::to_string((row - 1) % 250 + 1);
                    text += column + address + " = IpAddress: " + address + "\n";
                    break;
                }
                default:
                    text += column + index + " = Counter64: 98234092834" + index + "\n";
                    break;
            }
        }
    }
    return text;
}

std::string mibinfoText() {
    std::string text = "-- synthetic mibinfo.out\n";
    for (const Column& column : kColumns) {
        text += std::string(column.identifier) + " " + column.descriptor + " " + column.mibType +
                " " + column.access + " C\n";
    }
    for (std::size_t i = 1; i <= 5000; ++i) {
        text += "1.3.6.1.4.1.99999." + std::to_string(i) + " filler" + std::to_string(i) +
                " Integer RW S (0,100)\n";
    }
    return text;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time of the process: on a machine shared with other work the wall time says
// little.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    using namespace korvimo::create;
    const std::string text = walkText();
    const auto mib = korvimo::mibinfo::MibInfo::fromText(mibinfoText());
    std::vector<double> parseSeconds;
    std::vector<double> importSeconds;
    std::vector<double> totalSeconds;
    std::vector<double> cpuTotal;
    ImportSummary summary;
    std::size_t written = 0;
    for (int run = 0; run < 3; ++run) {
        const double cpuStart = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const WalkContents walk = parseWalk(text);
        const double parsed = secondsSince(start);
        uint32_t lookup = 0;
        std::string out;
        importWalk(walk, "bench.walk", {mib.get(), nullptr, Replay::Moving, false, {}, &lookup},
                   out, summary, nullptr);
        const double total = secondsSince(start);
        cpuTotal.push_back(cpuSeconds() - cpuStart);
        parseSeconds.push_back(parsed);
        importSeconds.push_back(total - parsed);
        totalSeconds.push_back(total);
        written = out.size();
    }
    const double lines = static_cast<double>(summary.lines);
    std::printf("walk of %zu lines (%zu bytes): %zu written, %zu skipped, %zu bytes out\n",
                summary.lines, text.size(), summary.written, summary.skipped, written);
    std::printf("median of 3: parse %.1f ms, import %.1f ms, both %.1f ms: %.0f lines/s\n",
                median(parseSeconds) * 1000.0, median(importSeconds) * 1000.0,
                median(totalSeconds) * 1000.0, lines / median(totalSeconds));
    std::printf("processor time of both: %.1f ms: %.0f lines/s\n", median(cpuTotal) * 1000.0,
                lines / median(cpuTotal));
    return summary.written == std::size(kColumns) * kRows && summary.skipped == 0 ? 0 : 1;
}
