// Create Variables from MIB run back to back (as korvan-cli create-vars runs it) with 10 rows
// per table: over the mibinfo.out of every public MIB module (kmx + zorlet), and over a
// generated mibinfo.out of 100,000 objects in tables of ten columns, with and without the
// dynamic row templates.
//
//   bench_create_vars            both
//   bench_create_vars 500000     the generated file with that many objects
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/core/clock.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/create_variables.h"
#include "zorlet/bench_process.h"

namespace {

using namespace korvimo;

constexpr int kRuns = 5;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Tables of ten columns (an Integer index, strings, counters, a writable column), a scalar
// after each.
void writeGenerated(const std::string& path, uint64_t objects) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return;
    }
    const char* kinds[] = {"Integer      RO C1 (1,2147483647)", "OctetString  RO C (0,255) d",
                           "Counter      RO C",                 "Gauge        RO C",
                           "Integer      RW C (1,3) e",         "TimeTicks    RO C",
                           "IpAddress    RO C",                 "Counter64    RO C",
                           "OctetString  RO C (6,6) p",         "ObjectID     RO C"};
    uint64_t written = 0;
    for (uint64_t t = 1; written < objects; ++t) {
        std::fprintf(out, "%%ei   1.3.6.1.4.1.99999.%" PRIu64 ".1 [bench%" PRIu64 "c1]\r\n", t, t);
        for (int c = 1; c <= 10 && written < objects; ++c, ++written) {
            std::fprintf(out, "1.3.6.1.4.1.99999.%" PRIu64 ".1.%-7d bench%" PRIu64 "c%-12d %s\r\n",
                         t, c, t, c, kinds[c - 1]);
        }
        if (written < objects) {
            std::fprintf(out, "1.3.6.1.4.1.99999.%" PRIu64 ".2         bench%" PRIu64
                              "s             Counter      RO S\r\n",
                         t, t);
            ++written;
        }
    }
    std::fclose(out);
}

// The median seconds of kRuns creations in home, and the size of the file made.
double timeCreation(const std::string& home, bool templates, std::size_t& bytes) {
    Configuration config(home + "/bin/korvan.ini");
    config.ensureFile();
    config.writePlain(ConfigKey::INSTALLDIR, home);
    EpollEventLoop loop(SystemClock::instance());
    app::HomeMibInfo mibInfo;
    mibInfo.current(config);  // read once, as a window that has used it before
    Busy busy = Busy::Idle;
    std::vector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
        app::CreateVariables create({config, loop, mibInfo, busy});
        create.dialogStart();
        create.form().file = "bench";
        create.form().rows = "10";
        create.form().templates = templates;
        seconds.push_back(bench::timeSeconds([&] {
            if (create.start()) {
                create.runToEnd();
            }
        }));
        if (!create.completed()) {
            std::printf("  the creation did not complete\n");
        }
    }
    bytes = std::filesystem::file_size(home + "/agent/bench.ctl");
    std::sort(seconds.begin(), seconds.end());
    return seconds[kRuns / 2];
}

std::string makeHome(const char* name) {
    const std::string home = (std::filesystem::temp_directory_path() / name).string();
    std::filesystem::remove_all(home);
    for (const char* sub : {"bin", "agent", "mibs"}) {
        std::filesystem::create_directories(home + "/" + sub);
    }
    return home;
}

void report(const char* what, const std::string& home) {
    for (const bool templates : {false, true}) {
        std::size_t bytes = 0;
        const double seconds = timeCreation(home, templates, bytes);
        std::printf("  %s, rows 10%s: median %.3f s (%d runs), %.1f MB written\n", what,
                    templates ? ", templates" : "", seconds, kRuns, bytes / 1e6);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t generated = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
    std::printf("Create Variables from MIB, steps back to back\n");

    const std::string mibs = KORVIMO_MIB_SOURCE_DIR;
    if (argc <= 1 && std::filesystem::is_directory(mibs)) {
        const std::string home = makeHome("korvimo-bench-create-vars-public");
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(mibs)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path().string());
            }
        }
        std::sort(files.begin(), files.end());
        const std::string dir = home + "/mibs";
        std::string m1;
        for (std::size_t n = 1; n <= files.size(); ++n) {
            bench::runQuietly(KORVIMO_HOME_DIR "/bin/kmx",
                              {"-o", "t" + std::to_string(n), "-e", "e" + std::to_string(n),
                               files[n - 1]},
                              dir);
            m1 += readAll(dir + "/t" + std::to_string(n));
        }
        std::ofstream(dir + "/m1", std::ios::binary) << m1;
        bench::runQuietly(KORVIMO_HOME_DIR "/bin/zorlet", {"m1", "mibinfo.out", "merr"}, dir);
        char what[64];
        std::snprintf(what, sizeof what, "%zu public modules", files.size());
        report(what, home);
        std::filesystem::remove_all(home);
    }

    const std::string home = makeHome("korvimo-bench-create-vars-generated");
    writeGenerated(home + "/mibs/mibinfo.out", generated);
    char what[64];
    std::snprintf(what, sizeof what, "%" PRIu64 " generated objects", generated);
    report(what, home);
    std::filesystem::remove_all(home);
    return 0;
}
