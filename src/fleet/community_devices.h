// CommunityDevices: the recorded devices of a directory behind one endpoint, a request's
// community naming its device. Community "edge-router" selects edge-router.ctl of the
// directory; a community "NAME@N" selects NAME@N's file when there is one, else NAME's (the
// per-VLAN communities some switches answer to), which is then the same device. Besides
// control files, walk files (NAME.snmprec, and NAME.walk as the command-line tools print a
// walk with numeric names) are served directly, as static replays of what was recorded; of
// one name, the control file comes first, then .snmprec, then .walk.
//
// The directory is read at the start. A device is loaded on its first request and kept, so
// a request to the 700th device costs the first nothing; its value state, rows and
// statistics are its own, while recordings that are one file (links to it) share its load.
// A community that names no file is refused as a wrong community is (counted in
// InBadCommunityNames, unanswered); so is one whose file does not load, after one line saying
// why, until the fleet is started again. Every community that names a device may also Set.
//
//   CommunityDevices devices({loop, &config, installDir, mibInfo, print, stopRequested});
//   if (Result r = devices.scan("/srv/recordings"); !r) ...
//   if (Result r = devices.open({"1161", "127.0.0.1", ""}, IpVersion::IPv4); !r) ...
//   ... requests arrive through the loop ...
//   devices.printStatistics();
//   devices.stop();
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "agent/agent_endpoint.h"
#include "agent/debug_log.h"
#include "fleet/fleet.h"
#include "fleet/fleet_device.h"

namespace korvimo::fleet {

inline constexpr const char* kNoRecordedDevicesFormat =
    "No control files (.ctl) or walk files (.snmprec, .walk) in %s.";
inline constexpr const char* kCommunityDevicesFormat =
    "Serving %zu recorded devices of %s by community on %s (UDP port %u).";
inline constexpr const char* kDeviceLoadedFormat = "serving %s";
// The debug log of a device chosen by community: agent/debug-<name>.out.
inline constexpr const char* kNamedDebugLogFormat = "/agent/debug-%s.out";
// What the endpoint itself refused: communities that name no device, other SNMP versions.
inline constexpr const char* kRefusedStatisticsWho = "Refused by community or version";

class CommunityDevices {
  public:
    using Services = FleetServices;

    explicit CommunityDevices(Services services);
    ~CommunityDevices();
    CommunityDevices(const CommunityDevices&) = delete;
    CommunityDevices& operator=(const CommunityDevices&) = delete;

    // Reads the directory's file names. Fails when it cannot be read or holds no device.
    Result scan(const std::string& directory);
    // The versions each device answers and its debug log (with the endpoint's own, of the
    // communities it refuses).
    void setDefaults(VersionMode version, bool debug, bool timestamp);
    // Opens the endpoint every device answers on.
    Result open(const AgentAddress& where, IpVersion transport);

    std::size_t recorded() const { return recordings_.size(); }
    std::size_t loaded() const { return loadedCount_; }
    AgentEndpoint& endpoint() { return endpoint_; }

    // The device a community selects, loaded when it is not yet; null when none (or it does
    // not load).
    FleetDevice* deviceFor(std::string_view community);

    void printStatistics() const;
    FleetStatistics total() const;
    // Every device stops answering; the endpoint closes.
    void stop();

  private:
    struct Recorded {
        std::string path;
        std::unique_ptr<FleetDevice> device;  // once loaded
        bool failed = false;                  // its load failed: refused from then on
    };

    void onRequest(const snmp::Pdu& request, const SocketAddress& from);
    void refuse(const snmp::Pdu& request);
    bool load(const std::string& name, Recorded& recorded);

    Services services_;
    VersionMode version_ = VersionMode::Bilingual;
    bool debug_ = false;
    bool timestamp_ = false;
    IpVersion transport_ = IpVersion::IPv4;
    // Found by the request's community without making a string of it.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };
    std::unordered_map<std::string, Recorded, NameHash, std::equal_to<>> recordings_;
    LoadedFiles files_;
    std::size_t loadedCount_ = 0;
    AgentStatistics refused_;
    DebugLog log_;
    AgentEndpoint endpoint_;
};

}  // namespace korvimo::fleet
