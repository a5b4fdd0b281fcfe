// libFuzzer target for the import of walk files, the surface that takes whatever text a
// capture someone sent holds. Every input is read as a walk file and imported as a control
// file against a small mibinfo.out with learn.def overrides. Nothing is dropped unsaid: every
// binding read is written or skipped, and every skipped one is told; each variable line of the
// output ends in CR LF and holds no other line end.
//
//   fuzz_import_walk -max_total_time=600 corpus/   (corpus: a copy of tests/fuzz/corpus/import_walk)
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "create/learning.h"
#include "create/walk_file.h"
#include "fuzz_require.h"
#include "mibinfo/mib_info.h"

using namespace korvimo;
using korvimo::fuzz::require;

namespace {

constexpr const char* kMib =
    "1.3.6.1.2.1.1.1 sysDescr OctetString RO S (0,255) d\r\n"
    "1.3.6.1.2.1.1.3 sysUpTime TimeTicks RO S\r\n"
    "1.3.6.1.2.1.1.5 sysName OctetString RW S (0,255) d\r\n"
    "1.3.6.1.2.1.2.2.1.7 ifAdminStatus Integer RW C (1,3) e\r\n"
    "1.3.6.1.2.1.2.2.1.9 ifStatus Integer RC C r\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::shared_ptr<const mibinfo::MibInfo> mib = mibinfo::MibInfo::fromText(kMib);
    static const create::OverrideTable overrides = [] {
        create::OverrideTable table;
        table.parse("sysName lastset(%s)\nifStatus.1 fixed(1)\n");
        return table;
    }();

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const create::WalkContents walk = create::parseWalk(text);
    create::LearnedWalk::Settings settings;
    settings.mib = mib.get();
    settings.overrides = &overrides;
    std::string out;
    create::ImportSummary summary;
    std::size_t told = 0;
    create::importWalk(walk, "fuzz.walk", settings, out, summary,
                       [&told](std::string_view line) {
                           require(!line.empty());
                           ++told;
                       });
    require(summary.read == walk.records.size() + walk.problems.size());
    require(summary.read == summary.written + summary.skipped);
    require(told == summary.skipped);
    // Every line of the output ends in CR LF; no line end stands alone inside one.
    for (std::size_t at = 0; at < out.size();) {
        const std::size_t end = out.find('\n', at);
        require(end != std::string::npos && end > at && out[end - 1] == '\r');
        require(out.substr(at, end - 1 - at).find('\r') == std::string::npos);
        at = end + 1;
    }
    return 0;
}
