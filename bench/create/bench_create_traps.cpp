// Trap file creation (korvan-cli create-traps, the standard traps included) over two homes:
// the mibinfo.out of every public MIB module, compiled with kmx and zorlet when they are
// built, and a synthetic one of 100,000 object lines and 10,000 traps of 3 variables each.
//
//   bench_create_traps
//
// For each home: the time of a run back to back (as the command line runs it, mibinfo.out
// read and indexed included), and of a run paced on the event loop as the dialog runs it
// (a tick every 5 ms, steps for up to 4 ms of it).
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/core/clock.h"
#include "app/core/epoll_event_loop.h"
#include "app/create_traps.h"
#include "zorlet/bench_process.h"

using namespace korvimo;

namespace {

constexpr int kRuns = 3;
constexpr int kObjects = 100000;
constexpr int kTraps = 10000;
constexpr int kVariablesPerTrap = 3;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A home in dir: bin/korvan.ini naming it, agent/ and mibs/.
void makeHome(const std::string& dir) {
    for (const char* sub : {"bin", "agent", "mibs"}) {
        std::filesystem::create_directories(dir + "/" + sub);
    }
    Configuration config(dir + "/bin/korvan.ini");
    config.ensureFile();
    config.writePlain(ConfigKey::INSTALLDIR, dir);
}

bool compilePublicMibs(const std::string& dir) {
    const std::string mibs = KORVIMO_MIB_SOURCE_DIR;
    const std::string kmx = std::string(KORVIMO_HOME_DIR) + "/bin/kmx";
    const std::string zorlet = std::string(KORVIMO_HOME_DIR) + "/bin/zorlet";
    if (!std::filesystem::is_directory(mibs) || !std::filesystem::exists(kmx) ||
        !std::filesystem::exists(zorlet)) {
        return false;
    }
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(mibs)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    const std::string work = dir + "/mibs";
    std::string m1;
    std::string list = "MIB files compiled:\r\n";
    for (std::size_t n = 0; n < files.size(); ++n) {
        bench::runQuietly(kmx, {"-o", "t", "-e", "e", files[n]}, work);
        m1 += readAll(work + "/t");
        list += files[n] + "\r\n";
    }
    writeAll(work + "/m1", m1);
    writeAll(work + "/miblist.lst", list);
    bench::runQuietly(zorlet, {"m1", "mibinfo.out", "merr"}, work);
    return std::filesystem::exists(work + "/mibinfo.out");
}

void writeSynthetic(const std::string& dir) {
    std::string text;
    text.reserve(16u << 20);
    char line[256];
    for (int n = 0; n < kObjects; ++n) {
        std::snprintf(line, sizeof line, "1.3.6.1.4.1.99999.%d.%-10d bench%-17d %s\r\n", n / 20,
                      n % 20, n,
                      n % 2 == 0 ? "Integer      RW C  (1,3) e" : "OctetString  RO C  (0,255) d");
        text += line;
    }
    for (int t = 0; t < kTraps; ++t) {
        if (t % 2 == 0) {
            std::snprintf(line, sizeof line,
                          "%%trap       benchTrap%-7d 1.3.6.1.4.1.99999.0.%d 7 %d\r\n", t, t, t);
        } else {
            std::snprintf(line, sizeof line, "%%trap       benchTrap%-7d bench%d 6 %d\r\n", t,
                          t * 7 % kObjects, t);
        }
        text += line;
        for (int v = 0; v < kVariablesPerTrap; ++v) {
            std::snprintf(line, sizeof line, "%%tvar benchTrap%d bench%d\r\n", t,
                          (t * 13 + v * 101) % kObjects);
            text += line;
        }
    }
    writeAll(dir + "/mibs/mibinfo.out", text);
    writeAll(dir + "/mibs/miblist.lst", "MIB files compiled:\r\nBENCH-MIB\r\n");
}

// One run; false when it did not complete.
bool createOnce(const std::string& dir, bool paced, double& seconds, std::size_t& bytes) {
    Configuration config(dir + "/bin/korvan.ini");
    EpollEventLoop loop(SystemClock::instance());
    app::HomeMibInfo mibInfo;  // fresh: mibinfo.out read and indexed in the time
    Busy busy = Busy::Idle;
    app::CreateTraps create({config, loop, mibInfo, busy});
    create.dialogStart();
    create.form().trapFile = "bench.trp";
    create.form().includeStandardTraps = true;
    const auto start = std::chrono::steady_clock::now();
    if (!create.start()) {
        return false;
    }
    if (paced) {
        while (create.running()) {
            loop.runOnce(100);
        }
    } else {
        create.runToEnd();
    }
    seconds = secondsSince(start);
    bytes = static_cast<std::size_t>(std::filesystem::file_size(create.outputPath()));
    return create.completed();
}

void report(const char* name, const std::string& dir) {
    for (const bool paced : {false, true}) {
        double best = 1e9;
        std::size_t bytes = 0;
        for (int run = 0; run < kRuns; ++run) {
            double seconds = 0;
            if (!createOnce(dir, paced, seconds, bytes)) {
                std::printf("%s: the creation did not complete\n", name);
                return;
            }
            best = std::min(best, seconds);
        }
        std::printf("%-28s %-14s %8.3f s  (%zu bytes written, best of %d)\n", name,
                    paced ? "paced 4/5 ms" : "back to back", best, bytes, kRuns);
    }
}

}  // namespace

int main() {
    const std::string root =
        (std::filesystem::temp_directory_path() / "korvimo-bench-create-traps").string();
    std::filesystem::remove_all(root);
    const std::string mibs = root + "/public";
    const std::string synthetic = root + "/synthetic";
    makeHome(mibs);
    makeHome(synthetic);
    if (compilePublicMibs(mibs)) {
        report("public MIB modules", mibs);
    } else {
        std::printf("public MIB modules: skipped (no modules, or kmx and zorlet not built)\n");
    }
    writeSynthetic(synthetic);
    report("100,000 objects, 10,000 traps", synthetic);
    std::filesystem::remove_all(root);
    return 0;
}
