// What the store benchmarks share: a throw-away agent installation, control files generated
// line by line straight to disk, the inputs to load them with, timing and peak memory.
//
//   BenchInstallation home;
//   home.writeControl([](FILE* out) { std::fputs("1.3.6.1.1, Integer, RO, fixed(1)\r\n", out); });
//   VariableStore store;
//   double seconds = timeSeconds([&] { store.loadControlFile(home.inputs); });
//   std::printf("%ld MB\n", peakMegabytes());
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/configuration.h"
#include "base/unique_fd.h"
#include "mibinfo/mib_info.h"
#include "store/variable_store.h"

namespace korvimo::store::bench {

class BenchInstallation {
  public:
    BenchInstallation() {
        char pattern[] = "/tmp/korvimo-store-bench-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        std::filesystem::create_directories(dir_ + "/agent");
        inputs.attributeFilePath = dir_ + "/agent/tempfile";
    }
    ~BenchInstallation() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    BenchInstallation(const BenchInstallation&) = delete;
    BenchInstallation& operator=(const BenchInstallation&) = delete;

    // Writes the control file through the generator and opens it for the next load.
    void writeControl(const std::function<void(FILE*)>& generate) {
        write(dir_ + "/agent/bench.ctl", generate);
        controlFile_.reset(::open((dir_ + "/agent/bench.ctl").c_str(), O_RDONLY | O_CLOEXEC));
        inputs.controlFile = controlFile_.get();
    }
    const std::string& dir() const { return dir_; }
    // korvan.ini with the given lines in its KORVAN section, used by the next load.
    void writeIni(const std::string& lines) {
        const std::string path = dir_ + "/korvan.ini";
        write(path, [&lines](FILE* out) { std::fprintf(out, "[KORVAN]\r\n%s", lines.c_str()); });
        config_ = std::make_unique<Configuration>(path);
        inputs.config = config_.get();
    }
    void writeMibInfo(const std::function<void(FILE*)>& generate) {
        write(dir_ + "/mibinfo.out", generate);
        inputs.mibInfo = mibinfo::MibInfo::load(dir_ + "/mibinfo.out");
    }

    LoadInputs inputs;

  private:
    static void write(const std::string& path, const std::function<void(FILE*)>& generate) {
        FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) {
            std::perror(path.c_str());
            std::exit(1);
        }
        generate(out);
        std::fclose(out);
    }

    std::string dir_;
    std::unique_ptr<Configuration> config_;
    UniqueFd controlFile_;
};

inline double timeSeconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The process's peak resident memory so far.
inline long peakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Seconds for `operations` Gets (lookupAttribute + makeValue) of the names in turn, and for
// as many GetNexts (nextAttribute + makeValue); every answer found adds 1 to hits.
inline double timeGets(VariableStore& store, const std::vector<snmp::ObjectId>& names,
                       uint64_t operations, uint64_t& hits) {
    snmp::SyntaxValue value;
    AttributeInfo found;
    return timeSeconds([&] {
        for (uint64_t i = 0; i < operations; ++i) {
            if (store.lookupAttribute(names[i % names.size()], found)) {
                hits += store.makeValue(value, found);
            }
        }
    });
}
inline double timeGetNexts(VariableStore& store, const std::vector<snmp::ObjectId>& names,
                           uint64_t operations, uint64_t& hits) {
    snmp::SyntaxValue value;
    AttributeInfo found;
    snmp::ObjectId successor;
    return timeSeconds([&] {
        for (uint64_t i = 0; i < operations; ++i) {
            if (store.nextAttribute(names[i % names.size()], successor, found)) {
                hits += store.makeValue(value, found);
            }
        }
    });
}

// A small deterministic generator for picking names.
class Picker {
  public:
    explicit Picker(uint64_t seed) : state_(seed) {}
    uint64_t below(uint64_t n) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_ % n;
    }

  private:
    uint64_t state_;
};

}  // namespace korvimo::store::bench
