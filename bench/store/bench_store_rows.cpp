// Dynamic rows of the variable store: a dynamic table of 100,000 instances listed in the
// control file (25,000 rows of four columns) beside a static table of the same shape and
// values, and rows created and destroyed by Set.
//
//   bench_store_rows
//
// Get (lookupAttribute + makeValue) and GetNext (nextAttribute + makeValue) of names picked
// at random in each table, and a GetNext walk through each, in lookups per second; then the
// time to create and destroy 1,000 and 10,000 rows by RowStatus Sets (createAndGo with the
// required columns, then destroy), run as the request handler runs a Set.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "store/store_bench_setup.h"
#include "store/variable_store.h"

using korvimo::snmp::ObjectId;
using korvimo::snmp::Pdu;
using korvimo::snmp::SyntaxValue;
using korvimo::snmp::VarBind;
using korvimo::store::AttributeInfo;
using korvimo::store::RowMode;
using korvimo::store::VariableStore;
using namespace korvimo::store::bench;

namespace {

constexpr uint32_t kRows = 25000;
constexpr uint64_t kOperations = 1000000;
// Rows alive at once while creating and destroying; the dynamic-instance reserve holds them.
constexpr uint32_t kBatch = 500;

const std::vector<uint32_t> kDynamicEntry = {1, 3, 6, 1, 4, 1, 99, 1, 1};
const std::vector<uint32_t> kStaticEntry = {1, 3, 6, 1, 4, 1, 99, 2, 1};

void writeMibInfo(FILE* out) {
    std::fprintf(out,
                 "1.3.6.1.4.1.99.1.1.1      tIndex     Integer      RO C1\r\n"
                 "1.3.6.1.4.1.99.1.1.2      tName      OctetString  RC C (0,32) d\r\n"
                 "1.3.6.1.4.1.99.1.1.3      tValue     Integer      RC C\r\n"
                 "1.3.6.1.4.1.99.1.1.4      tStatus    Integer      RC C (1,6) r\r\n"
                 "%%ei   1.3.6.1.4.1.99.1.1   \"tIndex\"\r\n");
}

void writeControl(FILE* out) {
    std::fprintf(out,
                 "%%drow  tEntry  rowstatus\r\n"
                 "%%dcol  tIndex   NotReq Integer     RO  dfixed(0)\r\n"
                 "%%dcol  tName    Req    OctetString RC  lastset(none)\r\n"
                 "%%dcol  tValue   Req    Integer     RC  lastset(0)\r\n"
                 "%%dcol  tStatus  NotReq Integer     RC  rowstatus(1)\r\n");
    const char* columns[4] = {"Integer, RO, rangeinst(11)", "OctetString, RC, lastset(row)",
                              "Integer, RC, lastset(7)", "Integer, RC, rowstatus(1)"};
    for (int c = 1; c <= 4; ++c) {
        std::fprintf(out, "1.3.6.1.4.1.99.1.1.%d.[1-%u], %s\r\n", c, kRows, columns[c - 1]);
    }
    for (int c = 1; c <= 4; ++c) {
        std::fprintf(out, "1.3.6.1.4.1.99.2.1.%d.[1-%u], %s\r\n", c, kRows, columns[c - 1]);
    }
}

std::vector<ObjectId> pickNames(const std::vector<uint32_t>& entry, Picker& picker) {
    std::vector<ObjectId> names(100000);
    for (ObjectId& name : names) {
        name.ids = entry;
        name.ids.push_back(static_cast<uint32_t>(picker.below(4) + 1));
        name.ids.push_back(static_cast<uint32_t>(picker.below(kRows) + 1));
    }
    return names;
}

struct Rates {
    double get;
    double next;
    double walk;
};

Rates measure(VariableStore& store, const std::vector<uint32_t>& entry) {
    Picker picker(7);
    const std::vector<ObjectId> names = pickNames(entry, picker);
    SyntaxValue value;
    AttributeInfo found;
    ObjectId successor;
    uint64_t hits = 0;
    const double getSeconds = timeGets(store, names, kOperations, hits);
    const double nextSeconds = timeGetNexts(store, names, kOperations, hits);
    ObjectId cursor;
    uint64_t walked = 0;
    const double walkSeconds = timeSeconds([&] {
        while (walked < kOperations) {
            cursor.ids = entry;
            while (walked < kOperations && store.nextAttribute(cursor, successor, found) &&
                   successor.ids.size() > entry.size() &&
                   std::equal(entry.begin(), entry.end(), successor.ids.begin())) {
                hits += store.makeValue(value, found);
                std::swap(cursor, successor);
                ++walked;
            }
        }
    });
    if (hits < 3 * kOperations) {
        std::fprintf(stderr, "lookups missed: %" PRIu64 "\n", hits);
        std::exit(1);
    }
    const auto ops = static_cast<double>(kOperations);
    return {ops / getSeconds / 1e6, ops / nextSeconds / 1e6, ops / walkSeconds / 1e6};
}

VarBind bindingOf(uint32_t column, uint32_t row, const SyntaxValue& value) {
    VarBind binding;
    binding.name.ids = kDynamicEntry;
    binding.name.ids.push_back(column);
    binding.name.ids.push_back(row);
    binding.value = value;
    return binding;
}

// One Set request as the handler runs it: the check pass, then the set pass.
bool runSet(VariableStore& store, const Pdu& request) {
    store.clearRequestMemo();
    for (const VarBind& binding : request.varBinds.items) {
        AttributeInfo found;
        bool created = false;
        if (!store.lookupAttribute(binding.name, found)) {
            if (!store.createRow(binding.name, RowMode::Check, request, found)) {
                return false;
            }
            created = true;
        }
        int32_t status = 0;
        if (!store.checkSet(binding, found, created, request, status)) {
            return false;
        }
    }
    for (const VarBind& binding : request.varBinds.items) {
        AttributeInfo found;
        if ((!store.lookupAttribute(binding.name, found) &&
             !store.createRow(binding.name, RowMode::Create, request, found)) ||
            !store.storeSet(binding, found) || !store.applySet(binding)) {
            return false;
        }
    }
    return true;
}

double createAndDestroy(VariableStore& store, uint32_t rows) {
    SyntaxValue go;
    go.syntax = korvimo::snmp::kTagInteger;
    go.number = 4;
    SyntaxValue destroy = go;
    destroy.number = 6;
    SyntaxValue name;
    name.syntax = korvimo::snmp::kTagOctetString;
    name.octets.bytes = {'n', 'e', 'w'};
    SyntaxValue number = go;
    number.number = 42;
    Pdu create;
    Pdu remove;
    remove.varBinds.items.resize(1);
    return timeSeconds([&] {
        for (uint32_t done = 0; done < rows; done += kBatch) {
            const uint32_t first = kRows + 1 + done;
            for (uint32_t row = first; row < first + kBatch; ++row) {
                create.varBinds.items = {bindingOf(4, row, go), bindingOf(2, row, name),
                                         bindingOf(3, row, number)};
                if (!runSet(store, create)) {
                    std::fprintf(stderr, "creating row %u failed\n", row);
                    std::exit(1);
                }
            }
            for (uint32_t row = first; row < first + kBatch; ++row) {
                remove.varBinds.items[0] = bindingOf(4, row, destroy);
                if (!runSet(store, remove)) {
                    std::fprintf(stderr, "destroying row %u failed\n", row);
                    std::exit(1);
                }
            }
        }
    });
}

}  // namespace

int main() {
    BenchInstallation home;
    home.writeMibInfo(writeMibInfo);
    home.writeControl(writeControl);
    home.writeIni("DYNINSTSIZE=2500\r\n");
    VariableStore store;
    bool loaded = false;
    const double loadSeconds = timeSeconds([&] { loaded = store.loadControlFile(home.inputs); });
    if (!loaded || store.rows().listedCount() != 4 * kRows) {
        std::fprintf(stderr, "loading failed\n");
        return 1;
    }
    std::printf(
        "dynamic table of %zu listed instances beside a static table of %u attributes: "
        "load %.2f s, peak %ld MB\n",
        store.rows().listedCount(), store.staticCount(), loadSeconds, peakMegabytes());
    const Rates statics = measure(store, kStaticEntry);
    const Rates dynamics = measure(store, kDynamicEntry);
    std::printf("  static table:  Get %.2f M/s, GetNext %.2f M/s, GetNext walk %.2f M/s\n",
                statics.get, statics.next, statics.walk);
    std::printf(
        "  dynamic table: Get %.2f M/s, GetNext %.2f M/s, GetNext walk %.2f M/s "
        "(%.0f%%, %.0f%%, %.0f%% of static)\n",
        dynamics.get, dynamics.next, dynamics.walk, 100 * dynamics.get / statics.get,
        100 * dynamics.next / statics.next, 100 * dynamics.walk / statics.walk);
    const double small = createAndDestroy(store, 1000);
    const double large = createAndDestroy(store, 10000);
    std::printf(
        "  create + destroy by Set: 1,000 rows %.3f s (%.1f us a row), 10,000 rows %.3f s "
        "(%.1f us a row), ratio %.1f\n",
        small, small * 1e6 / 1000, large, large * 1e6 / 10000, large / small);
    return 0;
}
