// Fleet: many simulated devices in one process and one event loop, each on its own address
// and port, with its own communities, value state (counters, clocks since its own start,
// values set, rows made) and statistics. Devices that serve one control file share its
// loaded, read-only part (see store::LoadedControlFile); a Set on one is never seen on
// another.
//
//   Fleet fleet({loop, &config, installDir, mibInfo, print, stopRequested});
//   for (const DeviceSpec& spec : devices) fleet.start(spec, defaults, "devices.txt");
//   print(fleet.summaryLine());                    // "Fleet: 3 devices serving, 1 failed."
//   ... the devices answer through the loop ...
//   fleet.printStatistics();
//   fleet.stop();
//
// A device that cannot start (its control file missing or not loading, its port taken, its
// debug log not writable) prints one line naming it and is left out; the others serve.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/snmpv3_setup.h"
#include "fleet/devices_file.h"
#include "fleet/fleet_device.h"

namespace korvimo::fleet {

inline constexpr const char* kFleetSummaryFormat = "Fleet: %zu devices serving, %zu failed.";
// The debug log of a device, in the home: agent/debug-<address>-<port>.out.
inline constexpr const char* kDeviceDebugLogFormat = "/agent/debug-%s-%u.out";

// What a device line leaves out.
struct DeviceDefaults {
    std::string readCommunity;
    std::string writeCommunity;
    VersionMode version = VersionMode::Bilingual;
    bool debug = false;
    bool timestamp = false;  // debug-log records start with the date and time
    // For devices that answer SNMPv3: their users, and the engines file their engines start
    // from (none: such a device fails).
    std::shared_ptr<const PreparedUsers> v3Users;
    app::EngineBook* engines = nullptr;
};

class Fleet {
  public:
    using Services = FleetServices;

    explicit Fleet(Services services);
    ~Fleet();
    Fleet(const Fleet&) = delete;
    Fleet& operator=(const Fleet&) = delete;

    // Starts one device; origin names where it was listed ("devices.txt") for its failure
    // line. False when it failed (printed, counted).
    bool start(const DeviceSpec& spec, const DeviceDefaults& defaults, std::string_view origin);

    std::size_t serving() const { return devices_.size(); }
    std::size_t failed() const { return failed_; }
    // Control files parsed so far.
    std::size_t loads() const { return files_.loads(); }
    std::string summaryLine() const;

    // A line per device that received anything, then the total of every device.
    void printStatistics() const;
    FleetStatistics total() const;

    // Every device stops answering and lets its endpoint, log and store go.
    void stop();

    FleetDevice& device(std::size_t i) { return *devices_[i]; }

  private:
    Services services_;
    LoadedFiles files_;
    std::vector<std::unique_ptr<FleetDevice>> devices_;
    std::size_t failed_ = 0;
};

}  // namespace korvimo::fleet
