// AgentSettings: what one simulated agent was started with, as the agent start took it from
// the window's form or the command line: its communities, the SNMP versions it answers, the
// family of its endpoint, whether it keeps a debug log, and the size of its largest Response
// (MAXMSGSIZE, which the agent's load takes from korvan.ini).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "app/core/configuration.h"
#include "app/core/fixed_text.h"
#include "app/core/startup_settings.h"
#include "base/text.h"
#include "snmp/message.h"

namespace korvimo {

// The largest Response when MAXMSGSIZE does not say otherwise, and the least it may say: the
// size every SNMP entity must accept.
inline constexpr uint32_t kDefaultMaxMessageSize = snmp::kMaxMessageSize;
inline constexpr uint32_t kLeastMaxMessageSize = 484;

// A largest Response brought into the range MAXMSGSIZE may give: below kLeastMaxMessageSize
// it is that least size, above snmp::kMaxDatagramSize that largest one.
inline uint32_t clampMaxMessageSize(long size) {
    return static_cast<uint32_t>(
        std::clamp<long>(size, kLeastMaxMessageSize, snmp::kMaxDatagramSize));
}

// A MAXMSGSIZE value read as every numeric setting is: no number, or one below 1, gives the
// default; any other is clamped (clampMaxMessageSize).
inline uint32_t maxMessageSizeFromText(std::string_view text) {
    const long number = readSettingNumber(text);
    return number < 1 ? kDefaultMaxMessageSize : clampMaxMessageSize(number);
}

// The agent's port as AGENTPORT gives it: a whole decimal number from 0 to 65535, blanks
// around it allowed; empty text gives 0 (the default port). Anything else ("abc", "0x3f41",
// "16191xyz", "70000") gives nothing: the start refuses it rather than bind a port the text
// does not say.
inline std::optional<long> agentPortFromText(std::string_view text) {
    text = trimBlanks(text);
    if (text.empty()) {
        return 0L;
    }
    long port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        port = port * 10 + (c - '0');
        if (port > 65535) {
            return std::nullopt;
        }
    }
    return port;
}

struct AgentSettings {
    // Accepted for Get, GetNext and GetBulk.
    FixedText<kCommunityCapacity> readCommunity;
    // Accepted for Set (and for reading too).
    FixedText<kCommunityCapacity> writeCommunity;
    // The request's community chose this agent among others behind one endpoint, so it is
    // accepted whatever it is, for reading and for Set.
    bool communityChosen = false;
    VersionMode versionMode = VersionMode::Bilingual;
    IpVersion ipVersion = IpVersion::IPv4;
    bool debugMode = false;
    bool timestamp = false;  // debug-log records start with the date and time
    // The largest Response it sends: a bigger answer goes out as tooBig, and a GetBulk
    // answer stops short of it.
    uint32_t maxMessageSize = kDefaultMaxMessageSize;
};

}  // namespace korvimo
