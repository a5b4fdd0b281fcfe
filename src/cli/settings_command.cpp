#include "cli/settings_command.h"

#include <filesystem>
#include <iomanip>
#include <system_error>

#include "app/core/configuration.h"
#include "app/core/startup_settings.h"

namespace korvimo::cli {

namespace {

const char* versionName(VersionMode mode) {
    switch (mode) {
        case VersionMode::SNMPv1:
            return "SNMPv1";
        case VersionMode::SNMPv2C:
            return "SNMPv2C";
        case VersionMode::SNMPv3:
            return "SNMPv3";
        case VersionMode::All:
            return "All (SNMPv1, SNMPv2C and SNMPv3)";
        case VersionMode::Bilingual:
            break;
    }
    return "Bilingual";
}

const char* yesNo(bool flag) {
    return flag ? "YES" : "NO";
}

}  // namespace

int runSettings(std::ostream& out) {
    Configuration config(kConfigFileName);
    const StartupSettings settings = readStartupSettings(config);

    std::error_code error;
    std::filesystem::path file = std::filesystem::absolute(config.path(), error);
    auto row = [&out](const char* name) -> std::ostream& {
        return out << std::left << std::setw(24) << name;
    };
    row("Configuration file:") << (error ? config.path() : file.string()) << "\n";
    row("Installation directory:") << settings.installDir.view() << "\n";
    row("Time-out:") << settings.timeoutMs << " ms\n";
    row("Retries:") << settings.retries << "\n";
    row("Read community:") << settings.readCommunity.view() << "\n";
    row("Write community:") << settings.writeCommunity.view() << "\n";
    row("SNMP version:") << versionName(settings.versionMode) << "\n";
    row("Transport:") << (settings.ipVersion == IpVersion::IPv6 ? "IPv6" : "IPv4") << "\n";
    row("Debug mode:") << yesNo(settings.debugMode) << "\n";
    row("Time stamps:") << yesNo(settings.timestamp) << "\n";
    row("Skip instances:") << yesNo(settings.skipInstance) << "\n";
    row("Walk type:") << static_cast<int>(settings.walkType) << "\n";
    return out.good() ? 0 : 1;
}

}  // namespace korvimo::cli
