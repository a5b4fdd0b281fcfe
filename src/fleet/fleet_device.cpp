#include "fleet/fleet_device.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/agent_start.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "create/learning.h"
#include "create/walk_file.h"

namespace korvimo::fleet {

void FleetStatistics::add(const AgentStatistics& s) {
    GetRequests += s.GetRequests;
    GetNextRequests += s.GetNextRequests;
    GetBulkRequests += s.GetBulkRequests;
    SetRequests += s.SetRequests;
    InPkts += s.InPkts;
    OutPkts += s.OutPkts;
    InBadVersions += s.InBadVersions;
    InBadCommunityNames += s.InBadCommunityNames;
}

std::string deviceStatisticsLine(std::string_view who, const FleetStatistics& s) {
    using ull = unsigned long long;
    char line[512];
    std::snprintf(line, sizeof line, kDeviceStatisticsFormat, std::string(who).c_str(),
                  static_cast<ull>(s.GetRequests), static_cast<ull>(s.GetNextRequests),
                  static_cast<ull>(s.GetBulkRequests), static_cast<ull>(s.SetRequests),
                  static_cast<ull>(s.InPkts), static_cast<ull>(s.OutPkts),
                  static_cast<ull>(s.InBadVersions), static_cast<ull>(s.InBadCommunityNames));
    return line;
}

FleetDevice::FleetDevice(const FleetServices& services, std::string deviceName,
                         const AgentEndpoint* reply)
    : name(std::move(deviceName)),
      agent(
          {services.loop, status, services.config, nullptr, services.stopRequested, reply, false}) {
    // Lines are printed as they come; the list keeps only the last.
    status.setLineLimit(1, 0);
    status.onChange([this, &services](const StatusList::Change& change) {
        if (change.kind == StatusList::ChangeKind::Appended) {
            (agent.serving() ? services.noise : services.print)(line(change.text));
        }
    });
}

bool isWalkFile(std::string_view path) {
    return path.ends_with(".snmprec") || path.ends_with(".walk");
}

uint32_t LoadedFiles::seedFor(const store::LoadedControlFile& loaded, std::string_view name) {
    if (!seedBase_) {
        seedBase_ = loaded.fixedSeed()
                        ? store::kFixedSeed
                        : static_cast<uint32_t>(services_.loop.clock().calendarSeconds()) ^
                              (static_cast<uint32_t>(::getpid()) << 16);
    }
    uint32_t hash = 2166136261u;  // FNV-1a
    for (const char c : name) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    }
    return *seedBase_ ^ hash;
}

Result FleetDevice::serve(const FleetServices& services,
                          std::shared_ptr<const store::LoadedControlFile> loaded, uint32_t seed,
                          const std::string& logName) {
    if (agent.settings().debugMode) {
        if (Result opened = agent.openDebugLog(services.installDir + logName, logName); !opened) {
            return opened;
        }
        agent.useMibInfo(services.mibInfo);
    }
    if (!agent.attach(std::move(loaded), services.loop.clock().calendarSeconds(), seed)) {
        return Result::failure(app::kLoadFailedText);
    }
    agent.serve();
    return {};
}

std::string FleetDevice::line(std::string_view text) const {
    return formatText(kDeviceLineFormat, name.c_str(), std::string(text).c_str());
}

std::string scratchAttributePath(const std::string& installDir) {
    static std::atomic<unsigned long> made{0};
    return installDir + app::kAttributeFileName + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(made.fetch_add(1));
}

std::shared_ptr<const store::LoadedControlFile> LoadedFiles::get(const std::string& path,
                                                                 std::string& failure) {
    if (auto known = files_.find(path); known != files_.end()) {
        failure = known->second.failure;
        return known->second.loaded;
    }
    Entry& entry = files_[path];
    auto fail = [&](const Result& reason) {
        entry.failure =
            withReason(Result::failuref(kCannotOpenControlFileText, path.c_str()), reason).text();
        failure = entry.failure;
        return nullptr;
    };
    UniqueFd file;
    if (isWalkFile(path)) {
        // A recording: its control file is made in memory, every value as recorded.
        create::WalkContents walk;
        if (Result read = create::readWalkFile(path, walk); !read) {
            return fail(read);
        }
        create::LearnedWalk::Settings learned;
        learned.mib = services_.mibInfo.get();
        learned.replay = create::Replay::Static;
        std::string text;
        create::ImportSummary summary;
        create::importWalk(walk, path, learned, text, summary, [&](std::string_view problem) {
            services_.print(path + ": " + std::string(problem));
        });
        file.reset(::memfd_create("korvimo-recorded", MFD_CLOEXEC));
        const int failed = file ? writeAll(file.get(), text) : errno;
        if (failed != 0) {
            return fail(Result::failure(std::strerror(failed)));
        }
    } else if (Result opened = openRegularFile(path, file); !opened) {
        return fail(opened);
    }
    const std::string shown = path;
    store::LoadInputs inputs;
    inputs.controlFile = file.get();
    inputs.attributeFilePath = scratchAttributePath(services_.installDir);
    inputs.mibInfo = services_.mibInfo;
    inputs.clock = &services_.loop.clock();
    inputs.startMs = services_.loop.clock().monotonicMs();
    inputs.config = services_.config;
    inputs.report = [&](const char* line) { services_.print(shown + ": " + line); };
    inputs.messageBox = [&](const char*, const char* text) {
        services_.print(shown + ": " + text);
    };
    inputs.stopRequested = services_.stopRequested;
    ++loads_;
    entry.loaded = store::LoadedControlFile::load(inputs);
    ::unlink(inputs.attributeFilePath.c_str());
    if (entry.loaded == nullptr) {
        entry.failure = app::kLoadFailedText;
    } else if (const std::size_t events = entry.loaded->events().events.size(); events > 0) {
        services_.print(shown + ": " + formatText(kEventsNotRunFormat, events));
    }
    failure = entry.failure;
    return entry.loaded;
}

}  // namespace korvimo::fleet
