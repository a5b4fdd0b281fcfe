// AgentSettings: what one simulated agent was started with, as the agent start took it from
// the window's form or the command line: its communities, the SNMP versions it answers, the
// family of its endpoint, and whether it keeps a debug log.
#pragma once

#include "app/core/fixed_text.h"
#include "app/core/startup_settings.h"

namespace korvimo {

struct AgentSettings {
    // Accepted for Get, GetNext and GetBulk.
    FixedText<kCommunityCapacity> readCommunity;
    // Accepted for Set (and for reading too).
    FixedText<kCommunityCapacity> writeCommunity;
    VersionMode versionMode = VersionMode::Bilingual;
    IpVersion ipVersion = IpVersion::IPv4;
    bool debugMode = false;
    bool timestamp = false;  // debug-log records start with the date and time
};

}  // namespace korvimo
