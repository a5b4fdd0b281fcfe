// Loading and lookups of the variable store on generated control files of 10,000, 100,000
// and 1,000,000 attributes: half written out one line each (scalars and table instances, as
// learned files are), half as instance ranges of tables, with every behaviour mixed in.
//
//   bench_store_lookup            the three sizes in turn
//   bench_store_lookup 250000     one size
//
// For each size: load time, peak resident memory after loading, the attribute file's size,
// and lookups per second: Get (lookupAttribute + makeValue) and GetNext (nextAttribute +
// makeValue) of names picked at random, and GetNext walking the whole store in order.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "store/store_bench_setup.h"
#include "store/variable_store.h"

using korvimo::snmp::ObjectId;
using korvimo::snmp::SyntaxValue;
using korvimo::store::AttributeInfo;
using korvimo::store::VariableStore;
using namespace korvimo::store::bench;

namespace {

constexpr uint64_t kOperations = 1000000;
constexpr int kColumns = 10;

// One written-out line of behaviour k (scalars of part one).
void writeScalar(FILE* out, uint64_t module, int k) {
    const char* base = "1.3.6.1.4.1.99999.1";
    const unsigned m = static_cast<unsigned>(module);
    switch (k % 13) {
        case 0:
            std::fprintf(out, "%s.%u.%d.0, Integer, RO, fixed(%d)\r\n", base, m, k, k);
            break;
        case 1:
            std::fprintf(out, "%s.%u.%d.0, OctetString, RO, fixed(Simulated value %u)\r\n", base, m,
                         k, m);
            break;
        case 2:
            std::fprintf(out, "%s.%u.%d.0, OctetString, RW, lastset(abc%u)\r\n", base, m, k, m);
            break;
        case 3:
            std::fprintf(out, "%s.%u.%d.0, Integer, RO, random(500, 10, 1)\r\n", base, m, k);
            break;
        case 4:
            std::fprintf(out, "%s.%u.%d.0, Counter, RO, randomup(0, 100)\r\n", base, m, k);
            break;
        case 5:
            std::fprintf(out, "%s.%u.%d.0, TimeTicks, RO, clock(0)\r\n", base, m, k);
            break;
        case 6:
            std::fprintf(out, "%s.%u.%d.0, Integer, RO, sequential(1, 100)\r\n", base, m, k);
            break;
        case 7:
            std::fprintf(out, "%s.%u.%d.0, Gauge, RO, seqinc(0, 5, 1000)\r\n", base, m, k);
            break;
        case 8:
            std::fprintf(out, "%s.%u.%d.0, Integer, RO, seqtimeinc(0, 1, 1000)\r\n", base, m, k);
            break;
        case 9:
            std::fprintf(out, "%s.%u.%d.0, Integer, RW, r_lastset(1, 10, 5)\r\n", base, m, k);
            break;
        case 10:
            std::fprintf(out, "%s.%u.%d.0, Counter64, RO, randomup(0, 1000)\r\n", base, m, k);
            break;
        case 11:
            std::fprintf(out, "%s.%u.%d.0, IpAddress, RO, fixed(10.0.%u.1)\r\n", base, m, k,
                         m % 256);
            break;
        default:
            std::fprintf(out, "%s.%u.%d.0, ObjectID, RO, fixed(1.3.6.1.4.1.99999.%u)\r\n", base, m,
                         k, m);
            break;
    }
}

void writeColumn(FILE* out, uint64_t table, int column, uint64_t rows) {
    static const char* const kKinds[] = {
        "Integer, RO, rangeinst(12)",      "OctetString, RO, fixed(row of a table)",
        "Counter, RO, randomup(0, 50)",    "Gauge, RO, random(100, 5)",
        "TimeTicks, RO, clock(100)",       "OctetString, RW, lastset(0x0a0b0c)",
        "Integer, RW, r_lastset(0, 9, 3)", "Integer, RO, sequential(0, 9)",
        "IpAddress, RO, fixed(192.0.2.7)", "Counter64, RO, randomup(5)",
    };
    std::fprintf(out, "1.3.6.1.4.1.99999.2.%" PRIu64 ".1.%d.[1-%" PRIu64 "], %s\r\n", table, column,
                 rows, kKinds[(column - 1) % kColumns]);
}

void generate(FILE* out, uint64_t attributes) {
    std::fprintf(out, "# Generated for the store benchmark\r\n");
    const uint64_t lines = attributes / 2;
    for (uint64_t i = 0; i < lines; ++i) {
        writeScalar(out, i / 20 + 1, static_cast<int>(i % 20) + 1);
    }
    const uint64_t ranged = attributes - lines;
    const uint64_t tables = ranged / 10000 > 0 ? ranged / 10000 : 1;
    const uint64_t rows = ranged / (tables * kColumns);
    for (uint64_t t = 1; t <= tables; ++t) {
        for (int c = 1; c <= kColumns; ++c) {
            writeColumn(out, t, c, rows);
        }
    }
}

void run(uint64_t attributes) {
    BenchInstallation home;
    home.writeControl([attributes](FILE* out) { generate(out, attributes); });
    const long before = peakMegabytes();
    VariableStore store;
    bool loaded = false;
    const double loadSeconds = timeSeconds([&] { loaded = store.loadControlFile(home.inputs); });
    if (!loaded) {
        std::fprintf(stderr, "loading %" PRIu64 " attributes failed\n", attributes);
        std::exit(1);
    }
    const long peak = peakMegabytes();
    const auto fileBytes = std::filesystem::file_size(
        std::filesystem::path(home.dir()) / "agent" / "tempfile");

    const auto& file = store.attributeFile();
    Picker picker(12345);
    std::vector<ObjectId> targets(std::min<uint64_t>(200000, file.size()));
    for (ObjectId& target : targets) {
        const auto id = file.identifier(picker.below(file.size()));
        target.ids.assign(id.begin(), id.end());
    }

    SyntaxValue value;
    AttributeInfo found;
    ObjectId successor;
    uint64_t hits = 0;
    const double lookupSeconds = timeSeconds([&] {
        for (uint64_t i = 0; i < kOperations; ++i) {
            hits += store.lookupAttribute(targets[i % targets.size()], found);
        }
    });
    const double getSeconds = timeGets(store, targets, kOperations, hits);
    const double nextSeconds = timeGetNexts(store, targets, kOperations, hits);
    ObjectId cursor;
    const double walkSeconds = timeSeconds([&] {
        cursor.ids = {0};
        for (uint64_t i = 0; i < kOperations; ++i) {
            if (!store.nextAttribute(cursor, successor, found)) {
                cursor.ids = {0};
                continue;
            }
            hits += store.makeValue(value, found);
            std::swap(cursor, successor);
        }
    });
    if (hits < 3 * kOperations) {
        std::fprintf(stderr, "lookups missed: %" PRIu64 "\n", hits);
        std::exit(1);
    }
    auto rate = [](double seconds) { return static_cast<double>(kOperations) / seconds / 1e6; };
    std::printf("%9" PRIu64
                " attributes: load %.2f s, peak %ld MB (%ld MB before), "
                "attribute file %.1f MB\n",
                attributes, loadSeconds, peak, before, static_cast<double>(fileBytes) / 1e6);
    std::printf(
        "           lookupAttribute %.2f M/s, Get %.2f M/s, GetNext %.2f M/s, "
        "GetNext walk %.2f M/s\n",
        rate(lookupSeconds), rate(getSeconds), rate(nextSeconds), rate(walkSeconds));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        run(std::strtoull(argv[1], nullptr, 10));
        return 0;
    }
    for (uint64_t attributes : {10000ull, 100000ull, 1000000ull}) {
        run(attributes);
    }
    return 0;
}
