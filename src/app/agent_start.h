// The agent start of the main window's Start, which `korvan-cli agent` runs too: the steps,
// their status lines, and what they write back to korvan.ini, in their order.
//
//   MainWindowForm form = ...;                 // the window's choices
//   const StartOutcome outcome =
//       startAgent(agent, config, mibInfo, form, overrides, status, repaint);
//   if (outcome.started) ...                   // "Agent has been started."
//
// The steps: the installation directory; the control file, <home>/agent/<name> (a failure
// shows its line and "Please Learn SNMP variables or Create variables from MIB."); its name
// and the communities to the front of their histories, the communities into the agent;
// DEBUGMODE and, with debug mode on, the debug log <home>/agent/debug.out; SNMPVER; the
// endpoint from AGENTPORT, AGENTIP and AGENTIPXADDR (or the overrides); the start time;
// "Initializing Agent..." and a repaint; mibinfo.out and the load; when the version mode
// answers SNMPv3, the users and the engine identity of the endpoint; and at last "Agent has
// been started." on a cleared list (the engine's line, v3StartedLine, is the front end's to
// show: the statistics lines take the places below that one). Each failure ends the sequence with
// its line; what was opened stays open until the agent is released.
//
// The sequence uses the home's one debug log and attribute file: it starts the one agent of a
// window or of `korvan-cli agent`. Agents of their own in one home take paths of their own
// through the Agent's steps.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agent/agent.h"
#include "app/core/configuration.h"
#include "app/core/startup_settings.h"
#include "app/core/status_list.h"
#include "app/snmpv3_setup.h"
#include "mibinfo/mib_info_library.h"

namespace korvimo::app {

inline constexpr const char* kLearnOrCreateText =
    "Please Learn SNMP variables or Create variables from MIB.";
inline constexpr const char* kInitializingText = "Initializing Agent...";
inline constexpr const char* kLoadFailedText =
    "Syntax Error or unable to open temp file, allocate memory";
inline constexpr const char* kAgentStartedText = "Agent has been started.";
inline constexpr const char* kAgentStoppedText = "Agent has been stopped.";

// The control file, relative to the installation directory, the debug log and the attribute
// file the load writes.
inline constexpr const char* kAgentDirectory = "/agent/";
inline constexpr const char* kMibInfoPath = "/mibs/mibinfo.out";
inline constexpr const char* kDebugLogName = "/agent/debug.out";
inline constexpr const char* kAttributeFileName = "/agent/tempfile";

// Longest text taken from the form for the control file name.
inline constexpr std::size_t kControlFileTextLimit = 499;

// A community longer than the agent holds (kCommunityCapacity) is refused where it is given,
// never cut: the cut text would be admitted and the community given refused. %zu: its length,
// then the capacity.
inline constexpr const char* kCommunityTooLongFormat =
    "Community too long (%zu characters): at most %zu are allowed.";
Result checkCommunity(std::string_view community);

// What the form shows and the user edits.
struct MainWindowForm {
    std::string controlFile;  // "SNMP Attributes FIle:", relative to <installDir>/agent/
    std::string readCommunity;
    std::string writeCommunity;
    VersionMode version = VersionMode::Bilingual;
    IpVersion transport = IpVersion::IPv4;
    bool debugMode = false;
    // Where SNMPv3 users come from besides <home>/bin/users.conf (the command line's).
    UserSources v3Users;
};

// AGENTPORT and AGENTIP for one run, not written (korvan-cli's --port and --address).
struct EndpointOverride {
    std::optional<uint16_t> port;
    std::optional<std::string> address;
};

// Whether a start writes what it used back to korvan.ini: the window's Start does; korvan-cli
// only when asked (--save), so that a one-off option does not stick.
enum class WriteBack { Settings, Nothing };

struct StartOutcome {
    bool started = false;
    // The control file opened, so its name and the communities went to their histories.
    bool historiesPushed = false;
    // The line of a change of korvan.ini that could not be written, as appended to the status
    // list (which a successful start then clears); empty when every write went through.
    std::string configWriteFailure;
};

// The address display's form for an IPX agent address, and the display when the local IPv4
// address cannot be found.
inline constexpr const char* kIpxAddressDisplayFormat = "(IPX) %s";
inline constexpr const char* kNoLocalAddressText = "localhost";

// A listening address as shown: the address, or "0.0.0.0" / "::" for every address.
std::string shownAddress(const std::string& address, IpVersion transport);
// An agent endpoint as the system names it (in a fleet's lines and in the engines file):
// "127.0.0.1:1161", "[::1]:1161", "0.0.0.0:1161" or "[::]:1161" for every address.
std::string endpointName(const std::string& address, IpVersion transport, uint16_t port);

// The SNMPv3 context an agent serves besides the empty one: its control file's name
// without directory and extension ("demo" for demo.ctl).
std::string agentContextName(const std::string& controlFile);

// The control file a form's text names: an absolute path as it stands, anything else a name
// in <installDir>/agent/.
std::string controlFilePath(const std::string& installDir, const std::string& name);

// The control file a command line's --file names, as the start takes it: an absolute path as
// it stands; a name in <installDir>/agent/ when that file exists; else, when it names an
// existing file relative to startDirectory, that file's absolute path; else the name as given
// (so the start reports it as a name in <installDir>/agent/).
std::string controlFileOption(const std::string& given, const std::string& installDir,
                              const std::string& startDirectory);

// The agent settings the start-up settings give (communities, versions, debug mode, time
// stamps, transport).
void applyStartupSettings(AgentSettings& agent, const StartupSettings& settings);

// The form as korvan.ini fills it: the heads of the INPUTFILE, RCOMMUNITY and WCOMMUNITY
// histories, SNMPVER, DEBUGMODE and the transport.
MainWindowForm formFromSettings(const Configuration& config, const StartupSettings& settings);

// Choosing a transport: IPV6SUPPORT remembers it.
void rememberTransport(Configuration& config, IpVersion transport);

// The agent's own address as the window shows it: the local address of the transport
// (kNoLocalAddressText when IPv4 has none), or the override's address, or AGENTIP when it is
// present and not empty, or "(IPX) ..." when AGENTIP is absent and AGENTIPXADDR set.
std::string agentAddressText(const Configuration& config, IpVersion transport,
                             const EndpointOverride& override);

// The port the agent start would listen on, as the window shows it beside the address: the
// override's port, else AGENTPORT, with 0 or none giving the default (161; on IPX, when
// AGENTIPXADDR is set, the socket number 0x900F, shown in hexadecimal as IPX numbers are).
// Empty when AGENTPORT is no port number (agentPortFromText), which the start refuses.
std::string agentPortText(const Configuration& config, const EndpointOverride& override);

// mibinfo.out of the home that korvan.ini names now, shared by whatever asks for it.
class HomeMibInfo {
  public:
    std::shared_ptr<const mibinfo::MibInfo> current(const Configuration& config);

  private:
    std::unique_ptr<mibinfo::MibInfoLibrary> library_;
};

// Runs the start sequence. The form's control file text becomes what was taken (cut to its
// limit); a community longer than kCommunityCapacity fails the start (checkCommunity). A
// control file given with an absolute path is opened there, not in <installDir>/agent/.
// korvan.ini that exists but cannot be read fails the start with its line; a change of it
// that cannot be written is reported once ("Cannot write <path>: <reason>").
StartOutcome startAgent(Agent& agent, Configuration& config, HomeMibInfo& mibInfo,
                        MainWindowForm& form, const EndpointOverride& override, StatusList& status,
                        const std::function<void()>& repaint,
                        WriteBack writeBack = WriteBack::Settings);

}  // namespace korvimo::app
