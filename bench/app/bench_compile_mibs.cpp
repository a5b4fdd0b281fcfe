// MIB compilation of every public MIB module (78 files) as the Compile MIBs dialog and
// korvan-cli compile run it: app::CompileMibs writes the batch and runs it beside an epoll
// event loop, its lines arriving through the loop. Beside it, in the same run, the pipeline
// run by hand: kmx per file, the outputs concatenated, zorlet. The difference is what the
// controller costs (the script, the lines through the loop, the outcome's counting). Three
// runs of each; the medians and their ratio are printed.
//
//   bench_compile_mibs
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/compile_mibs.h"
#include "app/core/clock.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/main_status.h"
#include "zorlet/bench_process.h"

namespace {

using namespace korvimo;

constexpr int kRuns = 3;
// A run that has not ended by then is reported as failed.
constexpr uint64_t kRunLimitMs = 120000;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A home whose mibs directory holds a copy of every file of the public modules' folder.
std::string makeHome(const std::vector<std::string>& files) {
    const std::string home =
        (std::filesystem::temp_directory_path() / "korvimo-bench-compile-mibs").string();
    std::filesystem::remove_all(home);
    for (const char* sub : {"bin", "agent", "mibs", "hand"}) {
        std::filesystem::create_directories(home + "/" + sub);
    }
    for (const std::string& file : files) {
        std::filesystem::copy_file(
            file, home + "/mibs/" + std::filesystem::path(file).filename().string());
    }
    return home;
}

// One compilation through the controller, from Compile to its outcome line.
double timeController(Configuration& config, bool& completed, std::size_t& objects) {
    EpollEventLoop loop(SystemClock::instance());
    Busy busy = Busy::Idle;
    app::CompileMibs compile({config, loop, busy, KORVIMO_HOME_DIR "/bin"});
    compile.dialogStart();
    const std::vector<std::string> selected = compile.mibs();
    bool finished = false;
    compile.onFinished = [&finished] { finished = true; };
    const uint64_t start = SystemClock::instance().monotonicMs();
    const double seconds = bench::timeSeconds([&] {
        if (!compile.compile(selected)) {
            return;
        }
        while (!finished && SystemClock::instance().monotonicMs() - start < kRunLimitMs) {
            loop.runOnce(100);
        }
    });
    compile.onFinished = nullptr;
    completed = compile.completed();
    objects = compile.outcome().objects;
    compile.close();
    return seconds;
}

// The same compilation by hand, in a directory of its own.
double timeByHand(const std::vector<std::string>& files, const std::string& dir) {
    return bench::timeSeconds([&] {
        std::string m1;
        for (std::size_t n = 1; n <= files.size(); ++n) {
            const std::string t = "t" + std::to_string(n);
            bench::runQuietly(KORVIMO_HOME_DIR "/bin/kmx",
                              {"-o", t, "-e", "e" + std::to_string(n), files[n - 1]}, dir);
            m1 += readAll(dir + "/" + t);
        }
        std::ofstream(dir + "/m1", std::ios::binary) << m1;
        bench::runQuietly(KORVIMO_HOME_DIR "/bin/zorlet", {"m1", "mibinfo.out", "merr"}, dir);
    });
}

}  // namespace

int main() {
    std::printf(
        "MIB compilation of the public modules: CompileMibs beside an event loop, and "
        "kmx + zorlet by hand\n");
    const std::string source = KORVIMO_MIB_SOURCE_DIR;
    if (!std::filesystem::is_directory(source) ||
        !std::filesystem::exists(KORVIMO_HOME_DIR "/bin/kmx")) {
        std::printf("  skipped: no MIB modules in %s, or kmx is not built\n", source.c_str());
        return 0;
    }
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(source)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    const std::string home = makeHome(files);
    Configuration config(home + "/bin/korvan.ini");
    config.ensureFile();
    config.writePlain(ConfigKey::INSTALLDIR, home);
    config.writePlain(ConfigKey::MIBEXTENSION, "txt");
    config.writePlain(ConfigKey::SPLITMIBFILES, "NO");

    std::vector<double> controller;
    std::vector<double> byHand;
    for (int run = 0; run < kRuns; ++run) {
        bool completed = false;
        std::size_t objects = 0;
        controller.push_back(timeController(config, completed, objects));
        if (!completed) {
            std::printf("  run %d: the compilation did not complete\n", run + 1);
        } else if (run == 0) {
            std::printf("  %zu files, %zu objects in mibinfo.out\n", files.size(), objects);
        }
        byHand.push_back(timeByHand(files, home + "/hand"));
    }
    const double dialog = median(controller);
    const double hand = median(byHand);
    std::printf("  CompileMibs (dialog, korvan-cli compile): median %.3f s (%d runs)\n", dialog,
                kRuns);
    std::printf("  kmx per file, cat, zorlet by hand:        median %.3f s (%d runs)\n", hand,
                kRuns);
    std::printf("  ratio: %.2f\n", hand > 0 ? dialog / hand : 0.0);
    std::filesystem::remove_all(home);
    return 0;
}
