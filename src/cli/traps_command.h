// `korvan-cli traps`: the Generate Traps dialog without a window. It loads a trap file as the
// dialog's Enter does, selects traps by position (or all), and sends them to a manager as
// SNMPv1 Traps, SNMPv2c or SNMPv3 notifications or informs, one per 5 ms as the dialog does, or
// repeated and paced as a storm; every status line is printed as it is appended, then a
// summary. SIGINT or SIGTERM stops a transmission as the dialog's Close does.
//
//   korvan-cli --home build/home traps --file default.trp --manager 127.0.0.1:1162 --all
//
//   TrapsOptions options;
//   std::string error;
//   if (!parseTrapsOptions(args, options, error)) { std::cerr << error; return 2; }
//   return runTraps(options, std::cout);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/core/startup_settings.h"
#include "snmp/usm_user.h"
#include "traps/trap_message.h"

namespace korvimo::cli {

// The summary printed at the end: sent, skipped, (informs) acknowledged and unacknowledged,
// the seconds from Send to the end, and the traps a second (left out when no millisecond
// passed, which makes no rate).
inline constexpr const char* kTrapsSummaryFormat =
    "Sent %llu trap(s), skipped %llu, in %.2f s (%llu traps/s).";
inline constexpr const char* kInformsSummaryFormat =
    "Sent %llu trap(s), skipped %llu, acknowledged %llu, unacknowledged %llu, in %.2f s "
    "(%llu traps/s).";
inline constexpr const char* kTrapsSummaryNoRateFormat =
    "Sent %llu trap(s), skipped %llu, in %.2f s.";
inline constexpr const char* kInformsSummaryNoRateFormat =
    "Sent %llu trap(s), skipped %llu, acknowledged %llu, unacknowledged %llu, in %.2f s.";

struct TrapsOptions {
    std::string file;
    std::optional<std::string> manager;  // the address part of --manager
    std::optional<uint16_t> port;        // its port, when it gives one
    std::optional<std::string> community;
    traps::TrapKind kind = traps::TrapKind::V1Trap;
    std::vector<std::size_t> selected;  // empty with all
    bool all = false;
    bool list = false;
    uint64_t count = 1;
    std::optional<uint32_t> rate;
    std::optional<uint32_t> timeoutMs;
    std::optional<int32_t> retries;
    std::optional<IpVersion> transport;
    // SNMPv3: the user of --v3-user, or the name of --user looked up in --users (else
    // <home>/bin/users.conf), and the traps' engine ID of --engine-id.
    std::optional<snmp::UsmUser> v3User;
    std::optional<std::string> userName;
    std::optional<std::string> usersFile;
    std::optional<std::vector<uint8_t>> engineId;
    bool help = false;
    // Where the program was started: --file may be relative to it.
    std::string startDirectory;
};

// Reads the command's arguments; false with a one-line reason on a usage error.
bool parseTrapsOptions(const std::vector<std::string>& args, TrapsOptions& options,
                       std::string& error);

// "HOST", "HOST:PORT", "[IPv6]", "[IPv6]:PORT" or a bare IPv6 address (no port). False with a
// reason when the text is empty or its port is no UDP port.
bool splitManager(const std::string& text, std::string& host, std::optional<uint16_t>& port,
                  std::string& error);

void printTrapsUsage(std::ostream& out);

// Runs the command in the current directory (the home's bin). 0 when every selected trap was
// sent (and every inform acknowledged), 1 otherwise.
int runTraps(const TrapsOptions& options, std::ostream& out);

}  // namespace korvimo::cli
