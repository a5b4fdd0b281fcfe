// libFuzzer target for control files, the text users write by hand and tools write for them.
// Every input is loaded as a control file against a small mibinfo.out; a loaded file is then
// walked with GetNext (values made at advancing times) and its scheduled events are run. A
// load either fails with its lines said, or serves: nothing may crash, hang or leak.
//
//   fuzz_control_file -max_total_time=600 corpus/
//   (corpus: a copy of tests/fuzz/corpus/control_file)
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/core/clock.h"
#include "base/unique_fd.h"
#include "fuzz_require.h"
#include "mibinfo/mib_info.h"
#include "store/variable_store.h"

using namespace korvimo;
using korvimo::fuzz::require;

namespace {

constexpr const char* kMib =
    "1.3.6.1.2.1.1.1 sysDescr OctetString RO S (0,255) d\r\n"
    "1.3.6.1.2.1.1.3 sysUpTime TimeTicks RO S\r\n"
    "1.3.6.1.2.1.1.5 sysName OctetString RW S (0,255) d\r\n"
    "1.3.6.1.2.1.2.2.1.8 ifOperStatus Integer RO C (1,7) e\r\n"
    "1.3.6.1.2.1.2.2.1.10 ifInOctets Counter RO C\r\n"
    "1.3.6.1.2.1.31.1.1.1.6 ifHCInOctets Counter64 RO C\r\n";

// A directory of this process for the attribute file.
const std::string& workDirectory() {
    static const std::string dir = [] {
        std::string path = std::filesystem::temp_directory_path().string() + "/korvimo-fuzz-ctl-" +
                           std::to_string(::getpid());
        std::filesystem::create_directories(path);
        return path;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::shared_ptr<const mibinfo::MibInfo> mib = mibinfo::MibInfo::fromText(kMib);
    UniqueFd file(::memfd_create("control", MFD_CLOEXEC));
    require(file.get() >= 0);
    require(size == 0 || ::write(file.get(), data, size) == static_cast<ssize_t>(size));

    ManualClock clock;
    store::LoadInputs inputs;
    inputs.controlFile = file.get();
    inputs.attributeFilePath = workDirectory() + "/tempfile";
    inputs.mibInfo = mib;
    inputs.clock = &clock;
    inputs.startMs = clock.monotonicMs();
    std::size_t lines = 0;
    inputs.report = [&lines](const char* line) {
        require(line != nullptr);
        ++lines;
    };
    inputs.messageBox = [&lines](const char*, const char*) { ++lines; };
    store::VariableStore store;
    if (!store.loadControlFile(inputs)) {
        require(lines > 0 || size == 0 || !store.loaded());
        return 0;
    }
    snmp::ObjectId name;
    name.ids = {0};
    snmp::ObjectId successor;
    store::AttributeInfo found;
    for (int i = 0; i < 300 && store.nextAttribute(name, successor, found); ++i) {
        const auto request = store.beginRequest();
        snmp::SyntaxValue value;
        require(store.makeValue(value, found));
        name = successor;
        clock.advanceMs(997);
    }
    const std::size_t events = store.events().events.size();
    for (std::size_t i = 0; i < events && i < 20; ++i) {
        const store::ScheduledEvent& event = store.events().events[i];
        (void)store.setFromText(event.target, event.value);
    }
    return 0;
}
