// zorlet on a synthetic compiler output of 100,000 object lines: 2,000 tables of 50 columns
// in shuffled order, named relative to their entries, with a mix of base types, common
// conventions and an enumerated type of the input, plus index lines and traps. Reports the
// time of the whole program run (console output discarded) and of the in-process build.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "zorlet/bench_process.h"
#include "zorlet/compiler_output.h"
#include "zorlet/crlf_writer.h"
#include "zorlet/mib_info_builder.h"
#include "zorlet/run_report.h"

namespace {

constexpr int kTables = 2000;
constexpr int kColumns = 50;
constexpr int kRuns = 5;

const char* const kSyntaxes[] = {"Integer32", "DisplayString", "Counter32", "TruthValue",
                                 "Colour",    "RowStatus",     "Gauge32",   "InterfaceIndex"};

std::string makeInput() {
    std::vector<std::string> objects;
    objects.reserve(kTables * kColumns);
    std::string head =
        "%MODULENAME BENCH-MIB\n%tc Colour Integer32 (1,3) e\n%es Colour red 1\n"
        "%es Colour green 2\n%es Colour blue 3\n%en 1.3.6.1.4.1.99999 bench\n";
    std::string tail;
    for (int t = 1; t <= kTables; ++t) {
        std::string table = "benchTable" + std::to_string(t);
        std::string entry = "benchEntry" + std::to_string(t);
        head += "%en bench." + std::to_string(t) + " " + table + "\n";
        head += "%en " + table + ".1 " + entry + "\n";
        tail += "%ei " + entry + " [" + entry + "c1]\n";
        for (int c = 1; c <= kColumns; ++c) {
            std::string name = entry + "c" + std::to_string(c);
            const char* syntax = kSyntaxes[(t + c) % std::size(kSyntaxes)];
            objects.push_back(entry + "." + std::to_string(c) + " " + name + " " + syntax +
                              (c == 1 ? " RO C1\n" : " RW C\n"));
        }
        if (t % 20 == 0) {
            tail += "%trap benchTrap" + std::to_string(t) + " bench.0." + std::to_string(t) +
                    " 7 " + std::to_string(t) + "\n%tvar benchTrap" + std::to_string(t) + " " +
                    entry + "c2\n";
        }
    }
    std::mt19937 random(12345);
    std::shuffle(objects.begin(), objects.end(), random);
    std::string text = head;
    for (const std::string& o : objects) {
        text += o;
    }
    return text + tail;
}

class SilentReport : public korvimo::zorlet::RunReport {
  public:
    void progress(int, std::string_view) override {}
    void error(std::string_view) override { ++errors; }
    int errors = 0;
};

}  // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() / "korvimo-bench-zorlet").string();
    std::filesystem::create_directories(dir);
    std::string input = makeInput();
    std::ofstream(dir + "/m1", std::ios::binary) << input;

    const std::string zorlet = KORVIMO_HOME_DIR "/bin/zorlet";
    std::vector<double> program;
    for (int i = 0; i < kRuns; ++i) {
        program.push_back(korvimo::bench::timeSeconds([&] {
            korvimo::bench::runQuietly(zorlet, {"m1", "mibinfo.out", "merr"}, dir);
        }));
    }
    std::vector<double> inProcess;
    int errors = 0;
    std::size_t outputBytes = 0;
    for (int i = 0; i < kRuns; ++i) {
        inProcess.push_back(korvimo::bench::timeSeconds([&] {
            korvimo::zorlet::CompilerOutput compiled(input);
            korvimo::zorlet::MibInfoBuilder builder(compiled);
            korvimo::zorlet::CrLfWriter out;
            SilentReport report;
            builder.build(out, report);
            errors = report.errors;
            outputBytes = out.text().size();
        }));
    }
    std::sort(program.begin(), program.end());
    std::sort(inProcess.begin(), inProcess.end());
    std::size_t objectLines = 0;
    std::ifstream result(dir + "/mibinfo.out");
    for (std::string line; std::getline(result, line);) {
        objectLines += !line.empty() && line[0] != '%';
    }
    std::printf("zorlet, %d object lines (%zu written, %d errors, %zu bytes of mibinfo.out)\n",
                kTables * kColumns, objectLines, errors, outputBytes);
    std::printf("  program run:  median %.3f s, best %.3f s (%d runs)\n", program[kRuns / 2],
                program[0], kRuns);
    std::printf("  in process:   median %.3f s, best %.3f s\n", inProcess[kRuns / 2], inProcess[0]);
    std::filesystem::remove_all(dir);
    return objectLines == static_cast<std::size_t>(kTables * kColumns) && errors == 0 ? 0 : 1;
}
