#include "fleet/fleet_device.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "app/agent_start.h"
#include "base/regular_file.h"
#include "base/text.h"

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

FleetDevice::FleetDevice(EventLoop& loop, const Configuration* config, std::string deviceName,
                         const LinePrinter& print, std::function<bool()> stopRequested,
                         const AgentEndpoint* reply)
    : name(std::move(deviceName)),
      agent({loop, status, config, nullptr, std::move(stopRequested), reply, false}) {
    // Lines are printed as they come; the list keeps only the last.
    status.setLineLimit(1, 0);
    status.onChange([this, &print](const StatusList::Change& change) {
        if (change.kind == StatusList::ChangeKind::Appended) {
            print(line(change.text));
        }
    });
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
    UniqueFd file;
    if (Result opened = openRegularFile(path, file); !opened) {
        entry.failure =
            withReason(Result::failuref(kCannotOpenControlFileText, path.c_str()), opened).text();
        failure = entry.failure;
        return nullptr;
    }
    const std::string shown = path;
    store::LoadInputs inputs;
    inputs.controlFile = file.get();
    inputs.attributeFilePath = scratchAttributePath(services_.installDir);
    inputs.mibInfo = services_.mibInfo;
    inputs.clock = &services_.loop.clock();
    inputs.startTime = services_.loop.clock().calendarSeconds();
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
    }
    failure = entry.failure;
    return entry.loaded;
}

}  // namespace korvimo::fleet
