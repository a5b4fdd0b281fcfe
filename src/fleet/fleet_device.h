// FleetDevice: one simulated device of a fleet, an Agent with a status list of its own whose
// lines go out prefixed with the device's name, and what the fleets around it share: the
// statistics lines and the loaded control files.
//
//   FleetDevice device(loop, &config, "127.0.0.1:1161", print, stopRequested);
//   ... device.agent's start steps, or attach ...
//   print(deviceStatisticsLine("Device 127.0.0.1:1161", device.agent.statistics()));
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agent/agent.h"
#include "app/core/configuration.h"
#include "app/core/event_loop.h"
#include "app/core/main_status.h"
#include "app/core/status_list.h"
#include "store/variable_store.h"

namespace korvimo::fleet {

// Where a fleet's lines go: the command line prints them.
using LinePrinter = std::function<void(std::string_view line)>;

// "Device %s: %s": a line of one device (its load messages, a failed start, refusals).
inline constexpr const char* kDeviceLineFormat = "Device %s: %s";
// A device's statistics, and the fleet's in total.
inline constexpr const char* kDeviceStatisticsFormat =
    "%s: GetRequests %llu, GetNextRequests %llu, GetBulkRequests %llu, SetRequests %llu, "
    "InPkts %llu, OutPkts %llu, InBadVersions %llu, InBadCommunityNames %llu";
inline constexpr const char* kTotalStatisticsFormat = "Total of %zu devices";

// The counters summed over many devices, which pass what one device counts.
struct FleetStatistics {
    uint64_t GetRequests = 0;
    uint64_t GetNextRequests = 0;
    uint64_t GetBulkRequests = 0;
    uint64_t SetRequests = 0;
    uint64_t InPkts = 0;
    uint64_t OutPkts = 0;
    uint64_t InBadVersions = 0;
    uint64_t InBadCommunityNames = 0;

    void add(const AgentStatistics& s);
};

std::string deviceStatisticsLine(std::string_view who, const FleetStatistics& statistics);

// What the process lends a fleet; all of it outlives the fleet.
struct FleetServices {
    EventLoop& loop;
    const Configuration* config = nullptr;
    std::string installDir;
    // The compiled MIBs a control file's descriptors are mapped through; may be null.
    std::shared_ptr<const mibinfo::MibInfo> mibInfo;
    // Lines of starting and loading, failures and statistics: each is printed.
    LinePrinter print;
    // Lines that datagrams cause while the devices serve (malformed ones, say), which a flood
    // may repeat without end: printed as the process limits them.
    LinePrinter noise;
    // Polled while a control file loads; true gives the load up.
    std::function<bool()> stopRequested;
    // Where the control files are relative to (as `agent --file` takes them).
    std::string startDirectory;
};

struct FleetDevice {
    // services: the fleet's, which outlives its devices. reply: the endpoint the device
    // answers through when another owner reads its requests.
    FleetDevice(const FleetServices& services, std::string name,
                const AgentEndpoint* reply = nullptr);
    FleetDevice(const FleetDevice&) = delete;
    FleetDevice& operator=(const FleetDevice&) = delete;

    // A line about this device ("Device NAME: text").
    std::string line(std::string_view text) const;

    // The last start steps, once the agent has its settings (and endpoint): the debug log
    // logName of the home when the settings ask for one, then the loaded file attached with
    // the device's own seed, then serving. The failure's text is the device's line to print.
    Result serve(const FleetServices& services,
                 std::shared_ptr<const store::LoadedControlFile> loaded, uint32_t seed,
                 const std::string& logName);

    std::string name;
    StatusList status;
    Agent agent;
};

// Said once per control file whose %event lines a fleet does not run (its devices serve
// the values alone).
inline constexpr const char* kEventsNotRunFormat =
    "its %zu %%event line(s) are not run in a fleet: korvan-cli agent runs them.";

// The control files of a fleet, each loaded once however many devices serve it. A file that
// fails to load fails every device of it with the same reason, without being loaded again.
class LoadedFiles {
  public:
    explicit LoadedFiles(const FleetServices& services) : services_(services) {}

    // The loaded file at path (absolute); null with the failure's text when it does not load.
    // The load's messages are printed once, naming the file. A walk file (.snmprec, .walk)
    // is turned into a control file in memory first, every value served as recorded.
    std::shared_ptr<const store::LoadedControlFile> get(const std::string& path,
                                                        std::string& failure);
    // Control files loaded so far (each a parse of its file).
    std::size_t loads() const { return loads_; }
    // The seed of a device's generator, told by its name from the others': the same for it in
    // every run when RANDOMSEED asks for it (the loaded file's fixedSeed), else drawn from the
    // time and the process once for the fleet.
    uint32_t seedFor(const store::LoadedControlFile& loaded, std::string_view name);

  private:
    struct Entry {
        std::shared_ptr<const store::LoadedControlFile> loaded;
        std::string failure;
    };

    const FleetServices& services_;
    std::map<std::string, Entry> files_;
    std::size_t loads_ = 0;
    std::optional<uint32_t> seedBase_;
};

// Whether a path names a walk file: a recording served as recorded.
bool isWalkFile(std::string_view path);

// A path of this process's own in the home's agent directory for an attribute file that is
// made and removed again at once (a fleet's loads keep only their index in memory, and must
// not take the file a single agent of the same home writes).
std::string scratchAttributePath(const std::string& installDir);

}  // namespace korvimo::fleet
