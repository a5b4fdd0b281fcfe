#include "fleet/community_devices.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/request_handler.h"
#include "app/agent_start.h"
#include "base/regular_file.h"
#include "base/text.h"

namespace korvimo::fleet {

namespace {

// The kinds of file a device may be recorded in, the first preferred.
constexpr std::string_view kRecordedSuffixes[] = {".ctl", ".snmprec", ".walk"};

int suffixRank(std::string_view path) {
    for (int i = 0; i < 3; ++i) {
        if (path.ends_with(kRecordedSuffixes[i])) {
            return i;
        }
    }
    return 3;
}

std::string_view communityOf(const snmp::Pdu& request) {
    return {reinterpret_cast<const char*>(request.community.bytes.data()),
            request.community.bytes.size()};
}

// A community as a log shows it: as far as its first zero byte.
std::string shownCommunity(std::string_view community) {
    return std::string(community.substr(0, community.find('\0')));
}

}  // namespace

CommunityDevices::CommunityDevices(Services services)
    : services_(std::move(services)),
      files_(services_),
      endpoint_(services_.loop,
                {[this](const snmp::Pdu& request, const SocketAddress& from) {
                     onRequest(request, from);
                 },
                 [this](std::string_view why) { services_.noise(why); },
                 [this](int32_t version) {
                     ++refused_.InPkts;
                     ++refused_.InBadVersions;
                     if (debug_) {
                         log_.append(formatText(kInvalidVersionLogText, static_cast<int>(version)));
                     }
                 }}) {}

CommunityDevices::~CommunityDevices() {
    stop();
}

Result CommunityDevices::scan(const std::string& directory) {
    struct stat info {};
    const int failed = ::stat(directory.c_str(), &info) != 0 ? errno
                       : !S_ISDIR(info.st_mode)              ? ENOTDIR
                                                             : 0;
    if (failed != 0) {
        return Result::failuref("Cannot read the directory %s: %s", directory.c_str(),
                                std::strerror(failed));
    }
    for (const std::string& entry : listDirectory(directory)) {
        const int rank = suffixRank(entry);
        if (rank == 3 || entry.starts_with('.')) {
            continue;
        }
        const std::string name = entry.substr(0, entry.size() - kRecordedSuffixes[rank].size());
        const std::string path = directory + "/" + entry;
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        Recorded& recorded = recordings_[name];
        if (recorded.path.empty() || rank < suffixRank(recorded.path)) {
            recorded.path = path;
        }
    }
    if (recordings_.empty()) {
        return Result::failuref(kNoRecordedDevicesFormat, directory.c_str());
    }
    return {};
}

void CommunityDevices::setDefaults(VersionMode version, bool debug, bool timestamp) {
    version_ = version;
    debug_ = debug;
    timestamp_ = timestamp;
}

Result CommunityDevices::open(const AgentAddress& where, IpVersion transport) {
    transport_ = transport;
    if (Result opened = openAgentEndpoint(endpoint_, transport, where); !opened || !debug_) {
        return opened;
    }
    const std::string log =
        formatText(kDeviceDebugLogFormat, shownAddress(where.address, transport).c_str(),
                   static_cast<unsigned>(endpoint_.port()));
    return openDebugLogFile(
        log_, services_.config, services_.installDir + log, log,
        [this](const char* line) { services_.print(line); }, timestamp_, services_.loop.clock());
}

FleetDevice* CommunityDevices::deviceFor(std::string_view community) {
    auto found = recordings_.find(community);
    if (found == recordings_.end()) {
        // NAME@N: the file of NAME when NAME@N has none.
        const std::size_t at = community.rfind('@');
        if (at == std::string_view::npos || at == 0) {
            return nullptr;
        }
        found = recordings_.find(community.substr(0, at));
        if (found == recordings_.end()) {
            return nullptr;
        }
    }
    Recorded& recorded = found->second;
    if (recorded.device == nullptr && (recorded.failed || !load(found->first, recorded))) {
        return nullptr;
    }
    return recorded.device.get();
}

bool CommunityDevices::load(const std::string& name, Recorded& recorded) {
    auto device = std::make_unique<FleetDevice>(services_, name, &endpoint_);
    auto fail = [&](std::string_view text) {
        services_.print(device->line(text));
        recorded.failed = true;
        return false;
    };
    // Recordings of one file (links to it) share its load.
    char real[PATH_MAX];
    std::string failure;
    std::shared_ptr<const store::LoadedControlFile> loaded = files_.get(
        ::realpath(recorded.path.c_str(), real) != nullptr ? std::string(real) : recorded.path,
        failure);
    if (loaded == nullptr) {
        return fail(failure);
    }
    AgentSettings& settings = device->agent.settings();
    settings.communityChosen = true;
    settings.versionMode = version_;
    settings.ipVersion = transport_;
    settings.debugMode = debug_;
    settings.timestamp = timestamp_;
    const uint32_t seed = files_.seedFor(*loaded, name);
    if (Result served = device->serve(services_, std::move(loaded), seed,
                                      formatText(kNamedDebugLogFormat, name.c_str()));
        !served) {
        return fail(served.text());
    }
    const std::size_t slash = recorded.path.rfind('/');
    services_.print(device->line(
        formatText(kDeviceLoadedFormat,
                   recorded.path.c_str() + (slash == std::string::npos ? 0 : slash + 1))));
    recorded.device = std::move(device);
    ++loadedCount_;
    return true;
}

void CommunityDevices::onRequest(const snmp::Pdu& request, const SocketAddress& from) {
    FleetDevice* device = deviceFor(communityOf(request));
    if (device == nullptr) {
        refuse(request);
        return;
    }
    device->agent.handle(request, from);
}

void CommunityDevices::refuse(const snmp::Pdu& request) {
    ++refused_.InPkts;
    ++refused_.InBadCommunityNames;
    if (debug_) {
        log_.append(
            formatText(kInvalidCommunityLogText, shownCommunity(communityOf(request)).c_str()));
    }
}

FleetStatistics CommunityDevices::total() const {
    FleetStatistics total;
    total.add(refused_);
    for (const auto& [name, recorded] : recordings_) {
        if (recorded.device != nullptr) {
            total.add(recorded.device->agent.statistics());
        }
    }
    return total;
}

void CommunityDevices::printStatistics() const {
    std::vector<const FleetDevice*> devices;
    for (const auto& [name, recorded] : recordings_) {
        if (recorded.device != nullptr && recorded.device->agent.statistics().InPkts > 0) {
            devices.push_back(recorded.device.get());
        }
    }
    std::sort(devices.begin(), devices.end(),
              [](const FleetDevice* a, const FleetDevice* b) { return a->name < b->name; });
    for (const FleetDevice* device : devices) {
        FleetStatistics one;
        one.add(device->agent.statistics());
        services_.print(deviceStatisticsLine("Device " + device->name, one));
    }
    if (refused_.InPkts > 0) {
        FleetStatistics refused;
        refused.add(refused_);
        services_.print(deviceStatisticsLine(kRefusedStatisticsWho, refused));
    }
    services_.print(
        deviceStatisticsLine(formatText(kTotalStatisticsFormat, loadedCount_), total()));
}

void CommunityDevices::stop() {
    endpoint_.close();
    for (auto& [name, recorded] : recordings_) {
        if (recorded.device != nullptr) {
            recorded.device->agent.stop();
            recorded.device.reset();
        }
    }
    log_.close();
}

}  // namespace korvimo::fleet
