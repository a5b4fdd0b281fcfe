// Reading a walk file: a generated walk of 100,000 lines with the mix of types an agent's
// interface, address and host tables give (strings, hex dumps, integers, counters, gauges,
// time ticks, addresses, object identifiers), parsed whole.
//
//   bench_walk_file
//
// Prints the median time of three runs and the lines read per second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "create/walk_file.h"

namespace {

std::string walkText(std::size_t lines) {
    std::string text;
    text.reserve(lines * 64);
    for (std::size_t i = 0; i < lines; ++i) {
        const std::string index = std::to_string(i / 10 + 1);
        switch (i % 10) {
            case 0:
                text += ".1.3.6.1.2.1.2.2.1.2." + index + " = STRING: \"eth" + index + "\"\n";
                break;
            case 1:
                text += ".1.3.6.1.2.1.2.2.1.3." + index + " = INTEGER: 6\n";
                break;
            case 2:
                text += ".1.3.6.1.2.1.2.2.1.5." + index + " = Gauge32: 1000000000\n";
                break;
            case 3:
                text += ".1.3.6.1.2.1.2.2.1.6." + index + " = Hex-STRING: 00 16 3E 12 34 56 \n";
                break;
            case 4:
                text += ".1.3.6.1.2.1.2.2.1.8." + index + " = INTEGER: up(1)\n";
                break;
            case 5:
                text += ".1.3.6.1.2.1.2.2.1.9." + index + " = Timeticks: (" + index + "00) 0:00:0" +
                        index.substr(0, 1) + ".00\n";
                break;
            case 6:
                text += ".1.3.6.1.2.1.2.2.1.10." + index + " = Counter32: 38492" + index + "\n";
                break;
            case 7:
                text +=
                    ".1.3.6.1.2.1.31.1.1.1.6." + index + " = Counter64: 98234092834" + index + "\n";
                break;
            case 8:
                text += ".1.3.6.1.2.1.4.20.1.1.10.0." + std::to_string(i % 250) +
                        ".1 = IpAddress: 10.0." + std::to_string(i % 250) + ".1\n";
                break;
            default:
                text += ".1.3.6.1.2.1.2.2.1.22." + index + " = OID: .0.0\n";
                break;
        }
    }
    return text;
}

}  // namespace

int main() {
    constexpr std::size_t kLines = 100000;
    const std::string text = walkText(kLines);
    std::vector<double> seconds;
    std::size_t records = 0;
    std::size_t problems = 0;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const korvimo::create::WalkContents walk = korvimo::create::parseWalk(text);
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        records = walk.records.size();
        problems = walk.problems.size();
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[1];
    std::printf("parseWalk: %zu lines (%zu bytes), %zu bindings, %zu problems\n", kLines,
                text.size(), records, problems);
    std::printf("median of 3: %.1f ms, %.0f lines/s\n", median * 1000.0,
                static_cast<double>(kLines) / median);
    return problems == 0 && records == kLines ? 0 : 1;
}
