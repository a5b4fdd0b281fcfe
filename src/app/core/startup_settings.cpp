#include "app/core/startup_settings.h"

#include <algorithm>
#include <climits>
#include <string>

namespace korvimo {

StartupSettings readStartupSettings(Configuration& config) {
    StartupSettings settings;
    settings.installDir = installDirectory(config);

    config.ensureFile();

    // A negative time-out would wrap to weeks and a huge one past 32 bits: both are held to
    // what the field can carry.
    const long seconds = readSettingNumber(config.readHistoryHead(ConfigKey::TIMEOUT));
    const long long ms = std::max(0L, seconds) * 1000LL;
    settings.timeoutMs = static_cast<uint32_t>(std::min<long long>(ms, UINT32_MAX));
    settings.retries =
        static_cast<int32_t>(readSettingNumber(config.readHistoryHead(ConfigKey::RETRIES)));

    // A community longer than the field holds is not taken: cut, it would be a different
    // community. The agent start refuses it with its line.
    auto community = [&config](ConfigKey key, FixedText<kCommunityCapacity>& field) {
        const std::string head = config.readHistoryHead(key);
        if (head.size() <= kCommunityCapacity) {
            field = head;
        }
    };
    community(ConfigKey::RCOMMUNITY, settings.readCommunity);
    community(ConfigKey::WCOMMUNITY, settings.writeCommunity);

    auto isYes = [&config](ConfigKey key) {
        std::string value;
        return config.readPlain(key, value) && value == "YES";
    };
    settings.timestamp = isYes(ConfigKey::TIMESTAMP);
    settings.skipInstance = isYes(ConfigKey::SKIPINST);
    settings.debugMode = isYes(ConfigKey::DEBUGMODE);
    settings.ipVersion = isYes(ConfigKey::IPV6SUPPORT) ? IpVersion::IPv6 : IpVersion::IPv4;

    std::string walk;
    config.readPlain(ConfigKey::SKIPWALKTYPE, walk);
    settings.walkType = walk == "NEXTOID" ? 2 : 1;

    std::string version;
    config.readPlain(ConfigKey::SNMPVER, version);
    settings.versionMode = versionModeFromWord(version);
    return settings;
}

const char* versionModeWord(VersionMode mode) {
    switch (mode) {
        case VersionMode::SNMPv1:
            return "SNMPv1";
        case VersionMode::SNMPv2C:
            return "SNMPv2C";
        case VersionMode::SNMPv3:
            return "SNMPv3";
        case VersionMode::All:
            return "ALL";
        case VersionMode::Bilingual:
            break;
    }
    return "BILINGUAL";
}

VersionMode versionModeFromWord(std::string_view word) {
    if (word == "SNMPv1") {
        return VersionMode::SNMPv1;
    }
    if (word == "SNMPv2C") {
        return VersionMode::SNMPv2C;
    }
    if (word == "SNMPv3") {
        return VersionMode::SNMPv3;
    }
    if (word == "ALL") {
        return VersionMode::All;
    }
    return VersionMode::Bilingual;
}

}  // namespace korvimo
