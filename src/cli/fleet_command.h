// `korvan-cli fleet`: many simulated devices served from one process and one event loop,
// until SIGINT or SIGTERM; then it prints the statistics of every device that received
// anything and their total, stops them all, and exits 0.
//
//   korvan-cli fleet --devices devices.txt
//   korvan-cli fleet --clone demo.ctl --count 1000 --first-address 127.0.1.1 --port 1161
//   korvan-cli fleet --data-dir recordings --address 127.0.0.1 --port 1161
//
// It takes the options of `agent` (communities, versions, transport, debug mode, statistics
// interval) as the defaults of every device. A device that cannot start prints one line
// naming it; the others serve. Exit status: 0 after a stop by signal, 1 when no device could
// start (or the devices file or directory could not be read), 2 on a usage error.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/agent_command.h"

namespace korvimo::cli {

struct FleetOptions {
    std::optional<std::string> devicesFile;  // --devices
    std::optional<std::string> cloneFile;    // --clone
    std::size_t count = 0;                   // --count
    std::optional<std::string> firstAddress;
    std::optional<std::string> dataDirectory;  // --data-dir
    // The agent's options: the devices' defaults, --port and --address.
    AgentOptions agent;
    bool help = false;
};

bool parseFleetOptions(const std::vector<std::string>& args, FleetOptions& options,
                       std::string& error);
void printFleetUsage(std::ostream& out);

int runFleet(const FleetOptions& options, std::ostream& out);

}  // namespace korvimo::cli
