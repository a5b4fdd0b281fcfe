// The settings a program takes from korvan.ini when it starts, and the names of the choices
// they hold.
//
// The main window reads them at window start (and so does `korvan-cli`): they fill its form
// and give every agent and tool its defaults. Reading them creates korvan.ini with its
// defaults when it is missing.
//
//   Configuration config(kConfigFileName);
//   const StartupSettings settings = readStartupSettings(config);
//   if (settings.versionMode == VersionMode::SNMPv1) ...
#pragma once

#include <cstdint>

#include "app/core/configuration.h"
#include "app/core/fixed_text.h"

namespace korvimo {

// Which SNMP versions the agent answers (SNMPVER: "SNMPv1", "SNMPv2C", "SNMPv3", "ALL" for
// the three together, else "BILINGUAL" for SNMPv1 and SNMPv2c).
enum class VersionMode { SNMPv1, SNMPv2C, Bilingual, SNMPv3, All };

// Whether a mode answers SNMPv1, SNMPv2c and SNMPv3 requests.
inline bool answersV1(VersionMode mode) {
    return mode == VersionMode::SNMPv1 || mode == VersionMode::Bilingual ||
           mode == VersionMode::All;
}
inline bool answersV2c(VersionMode mode) {
    return mode == VersionMode::SNMPv2C || mode == VersionMode::Bilingual ||
           mode == VersionMode::All;
}
inline bool answersV3(VersionMode mode) {
    return mode == VersionMode::SNMPv3 || mode == VersionMode::All;
}
// The family of the agent's endpoint and of the tools' endpoints (IPV6SUPPORT "YES": IPv6).
enum class IpVersion { IPv4, IPv6 };

// Capacities of the texts taken from the settings.
inline constexpr std::size_t kCommunityCapacity = 49;
inline constexpr std::size_t kInstallDirCapacity = 99;

struct StartupSettings {
    FixedText<kInstallDirCapacity> installDir{".."};  // INSTALLDIR when it holds a value
    uint32_t timeoutMs = 0;                       // the first TIMEOUT value, in seconds, times 1000
    int32_t retries = 0;                          // the first RETRIES value
    // The first RCOMMUNITY and WCOMMUNITY values; empty when longer than kCommunityCapacity.
    FixedText<kCommunityCapacity> readCommunity;
    FixedText<kCommunityCapacity> writeCommunity;
    bool timestamp = false;                        // TIMESTAMP is "YES"
    bool skipInstance = false;                     // SKIPINST is "YES"
    bool debugMode = false;                        // DEBUGMODE is "YES"
    IpVersion ipVersion = IpVersion::IPv4;
    uint8_t walkType = 1;  // 2 when SKIPWALKTYPE is "NEXTOID"
    VersionMode versionMode = VersionMode::Bilingual;
};

// Reads the start-up settings, creating the file with its defaults first when it is missing.
StartupSettings readStartupSettings(Configuration& config);

// The SNMPVER word a version mode is written as, and the mode a word is read as.
const char* versionModeWord(VersionMode mode);
VersionMode versionModeFromWord(std::string_view word);

}  // namespace korvimo
