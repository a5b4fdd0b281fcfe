// Loading and lookups of mibinfo.out on generated files shaped like zorlet's output: tables
// of 20 columns (object lines with their enumeration lines), the name section, then index,
// trap and trap variable lines. Sizes are counted in lines.
//
//   bench_mibinfo             100,000 and 1,000,000 lines
//   bench_mibinfo 250000      one size
//
// For each size: the load time (read, split and index) and the lookups per second of
// descriptor mapping, of nameOf on instance names, and of index clauses.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "mibinfo/descriptor_mapper.h"
#include "mibinfo/mib_info.h"

using korvimo::mibinfo::DescriptorMapper;
using korvimo::mibinfo::MibInfo;

namespace {

constexpr int kColumns = 20;
constexpr uint64_t kLookups = 1000000;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes about `lines` lines; gives the number of tables.
uint64_t writeFile(const std::string& path, uint64_t lines) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    // Per table: 20 object lines, 4 enumeration lines, 2 name lines, 1 index line, 1 trap
    // line and 2 trap variable lines.
    const uint64_t tables = lines / (kColumns + 4 + 2 + 1 + 1 + 2) + 1;
    for (uint64_t t = 1; t <= tables; ++t) {
        for (int c = 1; c <= kColumns; ++c) {
            std::fprintf(out, "1.3.6.1.4.1.99999.%" PRIu64 ".1.%-7d bench%" PRIu64 "c%-12d %s\r\n",
                         t, c, t, c,
                         c == 2 ? "Integer      RO C  (1,3) e" : "OctetString  RW C  (0,255) d");
            if (c == 2) {
                for (int e = 1; e <= 4; ++e) {
                    std::fprintf(out, "%%ev                 bench%" PRIu64 "c2  value%d %d\r\n", t,
                                 e, e);
                }
            }
        }
    }
    for (uint64_t t = 1; t <= tables; ++t) {
        std::fprintf(
            out, "%%en          1.3.6.1.4.1.99999.%-30" PRIu64 " benchTable%" PRIu64 "\r\n", t, t);
        std::fprintf(out,
                     "%%en          1.3.6.1.4.1.99999.%" PRIu64 ".1%-28s benchEntry%" PRIu64 "\r\n",
                     t, "", t);
    }
    for (uint64_t t = 1; t <= tables; ++t) {
        std::fprintf(out, "%%ei   1.3.6.1.4.1.99999.%" PRIu64 ".1  \"bench%" PRIu64 "c1\"\r\n", t,
                     t);
        std::fprintf(
            out, "%%trap      benchTrap%-8" PRIu64 " 1.3.6.1.4.1.99999.0.%-10" PRIu64 " 7 0\r\n", t,
            t);
        std::fprintf(out, "%%tvar benchTrap%" PRIu64 " bench%" PRIu64 "c1\r\n", t, t);
        std::fprintf(out, "%%tvar benchTrap%" PRIu64 " bench%" PRIu64 "c2\r\n", t, t);
    }
    std::fclose(out);
    return tables;
}

void run(uint64_t lines) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "korvimo-bench-mibinfo.out").string();
    const uint64_t tables = writeFile(path, lines);
    const auto size = std::filesystem::file_size(path);

    auto start = std::chrono::steady_clock::now();
    const auto mib = MibInfo::load(path);
    const double loadSeconds = secondsSince(start);
    if (mib == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", path.c_str());
        std::exit(1);
    }

    std::mt19937_64 random(5);
    std::vector<std::string> names;
    std::vector<std::string> numerics;
    std::vector<std::string> entries;
    for (int i = 0; i < 1024; ++i) {
        const uint64_t t = random() % tables + 1;
        const int c = static_cast<int>(random() % kColumns) + 1;
        names.push_back("bench" + std::to_string(t) + "c" + std::to_string(c) + ".7");
        numerics.push_back("1.3.6.1.4.1.99999." + std::to_string(t) + ".1." + std::to_string(c) +
                           ".7.1.2.3");
        entries.push_back("1.3.6.1.4.1.99999." + std::to_string(t) + ".1");
    }
    DescriptorMapper mapper(*mib);
    std::string out;
    uint64_t found = 0;
    start = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < kLookups; ++i) {
        found += mapper.map(names[i % names.size()], out);
    }
    const double mapRate = static_cast<double>(kLookups) / secondsSince(start);
    start = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < kLookups; ++i) {
        found += mib->nameOf(numerics[i % numerics.size()], out);
    }
    const double nameRate = static_cast<double>(kLookups) / secondsSince(start);
    std::string_view clause;
    start = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < kLookups; ++i) {
        found += mib->indexClause(entries[i % entries.size()], clause);
    }
    const double indexRate = static_cast<double>(kLookups) / secondsSince(start);

    std::printf(
        "%9zu lines (%5.1f MB): load %7.1f ms; lookups per second: map %.2fM, nameOf %.2fM, "
        "index clause %.2fM%s\n",
        mib->records().size(), static_cast<double>(size) / 1e6, loadSeconds * 1e3, mapRate / 1e6,
        nameRate / 1e6, indexRate / 1e6, found == 3 * kLookups ? "" : " (lookups failed!)");
    std::filesystem::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        run(std::strtoull(argv[1], nullptr, 10));
        return 0;
    }
    run(100000);
    run(1000000);
    return 0;
}
