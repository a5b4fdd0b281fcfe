// `korvan-cli agent`: the simulated agent without a window. It starts the agent as the main
// window's "Start" would, with the values the window would show (the heads of the INPUTFILE,
// RCOMMUNITY and WCOMMUNITY histories, SNMPVER, IPV6SUPPORT, DEBUGMODE), each overridable by
// an option, prints every status line as it is appended, and runs until SIGINT or SIGTERM;
// then it prints the statistics, stops as "Stop" does and exits 0. SIGHUP reloads the control
// file (a stop and a start with the same settings; the statistics count on). The control
// file's scheduled events run while the agent serves (AgentEvents), their traps going to the
// TRAPDEST managers or to those of --trap-dest. A failed start prints its lines and exits 1;
// a usage error exits 2. Unlike the window's Start, it writes nothing back to korvan.ini
// unless --save asks it to.
//
//   korvan-cli --home build/home agent --address 127.0.0.1 --port 1161
//
//   AgentOptions options;
//   std::string error;
//   if (!parseAgentOptions(args, options, error)) { std::cerr << error; return 2; }
//   return runAgent(options, std::cout);
#pragma once

#include <signal.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/agent_events.h"
#include "app/agent_start.h"
#include "app/command_line.h"
#include "base/unique_fd.h"

namespace korvimo::cli {

// The line printed once the agent listens: the address display and the UDP port.
inline constexpr const char* kListeningFormat = "Agent IP Address: %s (UDP port %u)";
// A reload whose start failed leaves the agent stopped, waiting for the next SIGHUP.
inline constexpr const char* kReloadFailedText =
    "The agent did not start again and is stopped. Correct what the lines above name (the "
    "control file, the users file) and send SIGHUP again, or end with SIGINT or SIGTERM.";

struct AgentOptions {
    std::optional<std::string> file;
    std::optional<std::string> readCommunity;
    std::optional<std::string> writeCommunity;
    std::optional<VersionMode> version;
    app::UserSources v3Users;  // --users and --v3-user
    std::optional<IpVersion> transport;
    std::optional<bool> debug;
    std::optional<uint16_t> port;
    std::optional<std::string> address;
    unsigned statsInterval = 0;  // seconds; 0: statistics only at stop
    bool save = false;           // write the settings used back to korvan.ini
    bool help = false;
    // --trap-dest: the managers of the events' traps instead of TRAPDEST, as given and read.
    std::vector<std::string> trapDestTexts;
    std::vector<app::TrapDestination> trapDests;
    // Where the program was started: --file may be relative to it.
    std::string startDirectory;
};

// Reads the command's arguments; false with a one-line reason on a usage error.
bool parseAgentOptions(const std::vector<std::string>& args, AgentOptions& options,
                       std::string& error);

void printAgentUsage(std::ostream& out);

// The agent's options, which other commands take too, and one of them read into options
// (false with a one-line reason).
extern const std::vector<const char*> kAgentFlags;
extern const std::vector<const char*> kAgentValued;
bool readAgentOption(const app::CommandLineOption& option, AgentOptions& options,
                     std::string& error);

// The control file --file names (see app::controlFileOption).
using app::controlFileOption;

// Blocks the signals the agent command handles (SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGUSR1),
// giving their set; korvan-cli calls it as soon as it knows the command, so that none of them
// acts before the agent watches them.
bool blockAgentSignals(sigset_t& signals);
// Those signals blocked and delivered on a descriptor for the event loop to watch, as every
// long-running command takes them; invalid, with the reason on standard error, when that
// cannot be done.
UniqueFd openSignalDescriptor();
// Reads every signal waiting on the descriptor, for the commands other than the agent; true
// when one asks to stop (SIGINT, SIGTERM, SIGQUIT, and SIGHUP: the terminal went away).
bool readStopSignals(int signalFd);

// Whether a stop signal (SIGINT, SIGTERM, SIGQUIT) waits in the blocked set, for a long load
// to give up; it stays there for the signal descriptor.
bool stopSignalPending();

// A path given on the command line, relative ones taken from where the program started.
std::string fromStartDirectory(const std::string& path, const std::string& startDirectory);

// Runs the agent in the current directory (the home's bin) until SIGINT or SIGTERM.
int runAgent(const AgentOptions& options, std::ostream& out);

}  // namespace korvimo::cli
