// Many simulated devices over one control file: the demo router file loaded once, then
// 10,000 stores attached to that load, against as many stores each loading the file itself.
//
//   bench_store_fleet             10,000 attached stores, 100 stores loading their own
//   bench_store_fleet 50000       another count of attached stores
//
// For each way: the time per store and the resident memory each adds, and a walk of the
// last store made (its names and a Get of each), so that every store is known to serve.
#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/core/clock.h"
#include "base/unique_fd.h"
#include "mibinfo/mib_info.h"
#include "store/store_bench_setup.h"
#include "store/variable_store.h"

using korvimo::ManualClock;
using korvimo::UniqueFd;
using korvimo::snmp::ObjectId;
using korvimo::snmp::SyntaxValue;
using korvimo::store::AttributeInfo;
using korvimo::store::LoadedControlFile;
using korvimo::store::VariableStore;
using namespace korvimo::store::bench;

namespace {

constexpr uint32_t kOwnLoads = 100;

// Resident memory now, in bytes.
long residentBytes() {
    long pages = 0;
    long resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
        resident = 0;
    }
    if (statm != nullptr) {
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Names a walk of the store visits, each with a Get of its value.
uint32_t walk(VariableStore& store) {
    ObjectId name;
    name.ids = {0};
    ObjectId successor;
    AttributeInfo found;
    SyntaxValue value;
    uint32_t names = 0;
    while (names < 100000 && store.nextAttribute(name, successor, found)) {
        store.makeValue(value, found);
        name = successor;
        ++names;
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    const long devices = argc > 1 ? std::atol(argv[1]) : 10000;
    if (devices < 1) {
        std::fprintf(stderr, "usage: bench_store_fleet [devices]\n");
        return 2;
    }
    BenchInstallation home;
    const std::string control = KORVIMO_SOURCE_DIR "/home/agent/demo.ctl";
    UniqueFd controlFile(::open(control.c_str(), O_RDONLY | O_CLOEXEC));
    home.inputs.controlFile = controlFile.get();
    home.inputs.mibInfo =
        korvimo::mibinfo::MibInfo::load(KORVIMO_SOURCE_DIR "/home/mibs/mibinfo.out");
    ManualClock clock;
    home.inputs.clock = &clock;
    home.inputs.startMs = clock.monotonicMs();
    home.inputs.report = [](const char*) {};

    std::shared_ptr<const LoadedControlFile> loaded;
    const long beforeLoad = residentBytes();
    const double loadSeconds = timeSeconds([&] { loaded = LoadedControlFile::load(home.inputs); });
    if (loaded == nullptr) {
        std::fprintf(stderr, "%s did not load\n", control.c_str());
        return 1;
    }
    std::printf("%s: %u attributes, loaded in %.3f ms, %ld kB\n", control.c_str(),
                loaded->staticCount(), loadSeconds * 1e3, (residentBytes() - beforeLoad) / 1024);

    std::vector<VariableStore> attached(static_cast<std::size_t>(devices));
    const long beforeAttach = residentBytes();
    bool ok = true;
    const double attachSeconds = timeSeconds([&] {
        for (std::size_t i = 0; i < attached.size(); ++i) {
            ok = attached[i].attach(loaded, &clock, clock.monotonicMs()) && ok;
        }
    });
    const long attachBytes = residentBytes() - beforeAttach;
    std::printf("attached %ld stores: %.2f us and %ld bytes each; the last walks %u names%s\n",
                devices, attachSeconds * 1e6 / static_cast<double>(devices), attachBytes / devices,
                walk(attached.back()), ok ? "" : " (an attach failed)");

    std::vector<VariableStore> own(kOwnLoads);
    const long beforeOwn = residentBytes();
    const double ownSeconds = timeSeconds([&] {
        for (uint32_t i = 0; i < kOwnLoads; ++i) {
            home.inputs.attributeFilePath = home.dir() + "/agent/tempfile" + std::to_string(i);
            ok = own[i].loadControlFile(home.inputs) && ok;
        }
    });
    std::printf(
        "%u stores loading their own: %.2f us and %ld bytes each; the last walks %u names%s\n",
        kOwnLoads, ownSeconds * 1e6 / kOwnLoads, (residentBytes() - beforeOwn) / kOwnLoads,
        walk(own.back()), ok ? "" : " (a load failed)");
    return ok ? 0 : 1;
}
