#include "fleet/fleet.h"

#include <climits>
#include <cstdlib>

#include "app/agent_start.h"
#include "base/text.h"

namespace korvimo::fleet {

namespace {

// The name a control file is shared under: its real path when it resolves.
std::string sharedPath(const std::string& path) {
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) != nullptr ? std::string(real) : path;
}

}  // namespace

Fleet::Fleet(Services services) : services_(std::move(services)), files_(services_) {}

Fleet::~Fleet() {
    stop();
}

bool Fleet::start(const DeviceSpec& spec, const DeviceDefaults& defaults, std::string_view origin) {
    std::string who = deviceName(spec);
    if (spec.line > 0) {
        who += formatText(" (%s line %zu)", std::string(origin).c_str(), spec.line);
    }
    auto device = std::make_unique<FleetDevice>(services_, std::move(who));
    auto fail = [&](std::string_view text) {
        services_.print(device->line(text));
        ++failed_;
        return false;
    };

    const std::string name =
        app::controlFileOption(spec.controlFile, services_.installDir, services_.startDirectory);
    std::string failure;
    std::shared_ptr<const store::LoadedControlFile> loaded =
        files_.get(sharedPath(app::controlFilePath(services_.installDir, name)), failure);
    if (loaded == nullptr) {
        return fail(failure);
    }

    Agent& agent = device->agent;
    AgentSettings& settings = agent.settings();
    const std::string read = spec.readCommunity.value_or(defaults.readCommunity);
    const std::string write = spec.writeCommunity.value_or(defaults.writeCommunity);
    for (const std::string* community : {&read, &write}) {
        if (Result fits = app::checkCommunity(*community); !fits) {
            return fail(fits.text());
        }
    }
    settings.readCommunity = read;
    settings.writeCommunity = write;
    settings.versionMode = spec.version.value_or(defaults.version);
    settings.ipVersion = spec.transport;
    settings.debugMode = defaults.debug;
    settings.timestamp = defaults.timestamp;
    // The endpoint first: a device whose port is taken must not empty the debug log of the
    // device that has it.
    if (Result opened = agent.openEndpoint({std::to_string(spec.port), spec.address, ""});
        !opened) {
        return fail(opened.text());
    }
    if (answersV3(settings.versionMode)) {
        if (defaults.engines == nullptr || defaults.v3Users == nullptr) {
            return fail("SNMPv3 is not set up for this fleet.");
        }
        if (Result enabled =
                agent.enableV3(defaults.engines->start(deviceName(spec)), defaults.v3Users,
                               app::agentContextName(spec.controlFile));
            !enabled) {
            return fail(enabled.text());
        }
    }
    const std::string address = shownAddress(spec.address, spec.transport);
    const uint32_t seed = files_.seedFor(*loaded, device->name);
    if (Result served = device->serve(
            services_, std::move(loaded), seed,
            formatText(kDeviceDebugLogFormat, address.c_str(), static_cast<unsigned>(spec.port)));
        !served) {
        return fail(served.text());
    }
    devices_.push_back(std::move(device));
    return true;
}

std::string Fleet::summaryLine() const {
    return formatText(kFleetSummaryFormat, devices_.size(), failed_);
}

FleetStatistics Fleet::total() const {
    FleetStatistics total;
    for (const auto& device : devices_) {
        total.add(device->agent.statistics());
    }
    return total;
}

void Fleet::printStatistics() const {
    for (const auto& device : devices_) {
        const AgentStatistics& s = device->agent.statistics();
        if (s.InPkts > 0) {
            FleetStatistics one;
            one.add(s);
            services_.print(deviceStatisticsLine("Device " + device->name, one));
        }
    }
    services_.print(
        deviceStatisticsLine(formatText(kTotalStatisticsFormat, devices_.size()), total()));
}

void Fleet::stop() {
    for (const auto& device : devices_) {
        device->agent.stop();
    }
    devices_.clear();  // each agent releases what it holds as it goes
}

}  // namespace korvimo::fleet
