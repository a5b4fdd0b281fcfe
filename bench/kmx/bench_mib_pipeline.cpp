// The whole MIB pipeline over every public MIB module: kmx on each file (in name order, as
// the compilation list holds them), the outputs concatenated into m1, zorlet on m1.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zorlet/bench_process.h"

namespace {

constexpr int kRuns = 3;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main() {
    const std::string mibs = KORVIMO_MIB_SOURCE_DIR;
    if (!std::filesystem::is_directory(mibs)) {
        std::printf("MIB pipeline: skipped, no MIB modules in %s\n", mibs.c_str());
        return 0;
    }
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(mibs)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    std::string dir = (std::filesystem::temp_directory_path() / "korvimo-bench-pipeline").string();
    std::filesystem::create_directories(dir);
    const std::string kmx = KORVIMO_HOME_DIR "/bin/kmx";
    const std::string zorlet = KORVIMO_HOME_DIR "/bin/zorlet";

    std::vector<double> total;
    std::vector<double> compile;
    std::size_t objects = 0;
    for (int run = 0; run < kRuns; ++run) {
        double kmxSeconds = 0;
        double all = korvimo::bench::timeSeconds([&] {
            kmxSeconds = korvimo::bench::timeSeconds([&] {
                for (std::size_t n = 1; n <= files.size(); ++n) {
                    korvimo::bench::runQuietly(kmx,
                                               {"-o", "t" + std::to_string(n), "-e",
                                                "e" + std::to_string(n), files[n - 1]},
                                               dir);
                }
            });
            std::ofstream m1(dir + "/m1", std::ios::binary);
            for (std::size_t n = 1; n <= files.size(); ++n) {
                m1 << readAll(dir + "/t" + std::to_string(n));
            }
            m1.close();
            korvimo::bench::runQuietly(zorlet, {"m1", "mibinfo.out", "merr"}, dir);
        });
        total.push_back(all);
        compile.push_back(kmxSeconds);
    }
    std::ifstream result(dir + "/mibinfo.out");
    for (std::string line; std::getline(result, line);) {
        objects += !line.empty() && line[0] != '%';
    }
    std::sort(total.begin(), total.end());
    std::sort(compile.begin(), compile.end());
    std::printf("MIB pipeline, %zu modules -> %zu objects in mibinfo.out\n", files.size(), objects);
    std::printf("  kmx + zorlet: median %.3f s, best %.3f s (%d runs); kmx alone median %.3f s\n",
                total[kRuns / 2], total[0], kRuns, compile[kRuns / 2]);
    std::filesystem::remove_all(dir);
    return objects > 0 ? 0 : 1;
}
