// Agent: one simulated SNMP agent. It owns everything that agent needs while it runs: its
// request endpoint, the variable store loaded from its control file, its statistics and
// their display, its settings (communities, versions, transport), its debug log and the
// request handler that answers on it. Several agents can run on one event loop, each on
// its own address and port, none aware of another; nothing in an agent reaches a window.
//
// A start runs in steps, so that a front end can put its own work between them (the main
// window writes korvan.ini between the first steps, and shows a line before the load). Each
// step's failure text is the status line to show:
//
//   Agent agent({loop, status, &config, messageBox});
//   agent.settings().readCommunity = "public";          // and the rest of the settings
//   Result r = agent.openControlFile(home + "/agent/demo.ctl");
//   if (r) r = agent.openDebugLog(home + "/agent/debug.out", "/agent/debug.out");  // debug mode
//   if (r) r = agent.openEndpoint({"1161", "127.0.0.1", ""});
//   if (r) agent.useMibInfo(library.current());       // mibinfo.out, for descriptor names
//   if (r && agent.load(startTime, home + "/agent/tempfile")) agent.serve();
//   ... the agent answers through the event loop ...
//   agent.stop();                                      // statistics shown, requests ignored
//   agent.release();                                   // endpoint, store, files: all closed
//
// A failed start leaves open what it opened until release(). The status list given is the
// agent's main status list: its load messages, its statistics at lines 1 to 3 while it runs,
// and the reasons datagrams were refused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agent/agent_endpoint.h"
#include "agent/agent_settings.h"
#include "agent/debug_log.h"
#include "agent/request_handler.h"
#include "agent/statistics_refresh.h"
#include "agent/v3_security.h"
#include "app/core/event_loop.h"
#include "app/core/main_status.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "mibinfo/mib_info.h"
#include "store/variable_store.h"

namespace korvimo {

class Configuration;
class StatusList;

// Status lines of the start steps.
inline constexpr const char* kCannotOpenControlFileText =
    "Cannot open SNMP Variable file [%s] for reading.";
inline constexpr const char* kCannotOpenDebugLogText =
    "Cannot open [%s] for writing. Check permissions.";
inline constexpr const char* kInvalidIpxAddressText =
    "Invalid IPX address specified(%s). Must be in the format 0x01020304010203040506";
inline constexpr const char* kIpxSocketFailedText =
    "%s: Cannot open SNMP request socket for IPX(%d).";
inline constexpr const char* kAgentSocketFailedText = "%s: Cannot open SNMP request socket(%d).";
inline constexpr const char* kInvalidAgentAddressText =
    "Invalid agent IP address specified(%s). Must be a numeric address of the chosen transport";
inline constexpr const char* kInvalidAgentPortText =
    "Invalid agent port specified(%s). Must be a number from 0 to 65535";

// Where an agent listens, as the settings write it: AGENTPORT, AGENTIP, AGENTIPXADDR.
struct AgentAddress {
    std::string port;     // decimal; empty: 161 (0x900F on IPX)
    std::string address;  // numeric address of the agent's transport; empty: every address
    std::string ipx;      // octet text of 10 bytes; when not empty the agent listens on IPX
};

// Opens an agent's debug log: its size limit DEBUGMAXSIZE of config (none: the default), its
// write failures reported through report, its records time-stamped on clock when timestamp
// asks. A log open already (kept by a reload) is kept. shownName is how the failure line names
// the log ("/agent/debug.out").
Result openDebugLogFile(DebugLog& log, const Configuration* config, const std::string& path,
                        std::string_view shownName, std::function<void(const char* line)> report,
                        bool timestamp, const Clock& clock);

// Opens an agent's request endpoint at the address (its texts checked as the settings write
// them), with the start step's failure texts.
Result openAgentEndpoint(AgentEndpoint& endpoint, IpVersion ipVersion, const AgentAddress& where);

class Agent {
  public:
    // What the process lends the agent; all of it outlives the agent.
    struct Services {
        EventLoop& loop;
        StatusList& status;
        // CACHESIZE, DYNINSTSIZE, RANDOMSEED and MAXMSGSIZE of loading; none: their defaults.
        const Configuration* config = nullptr;
        // Shows a titled message; none: it becomes a status line. setMessageBox changes it.
        std::function<void(const char* title, const char* text)> messageBox;
        // Polled while the control file loads; true stops the load, which then fails.
        std::function<bool()> stopRequested;
        // Where the answers go out when the agent's requests come from an endpoint that
        // another owner reads and hands to handle() (devices told apart by community behind
        // one port); none: the agent's own endpoint.
        const AgentEndpoint* replyEndpoint = nullptr;
        // Whether the statistics lines of the status list are redrawn as requests come in;
        // a process serving thousands of agents prints their statistics by itself instead.
        bool showStatistics = true;
    };

    explicit Agent(Services services);
    ~Agent();
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    void setMessageBox(std::function<void(const char* title, const char* text)> messageBox) {
        services_.messageBox = std::move(messageBox);
    }

    AgentSettings& settings() { return settings_; }
    const AgentSettings& settings() const { return settings_; }

    // The start steps, in the order a start takes them.
    Result openControlFile(const std::string& path);
    // shownName is how the failure line names the log ("/agent/debug.out"). A log that is
    // open already (kept by unload) is kept.
    Result openDebugLog(const std::string& path, std::string_view shownName);
    // Opens the endpoint on the settings' transport, unless it is open already.
    Result openEndpoint(const AgentAddress& where);
    // mibinfo.out (kept until release), for descriptor names in the control file and the
    // debug log; null when there is none.
    void useMibInfo(std::shared_ptr<const mibinfo::MibInfo> mibInfo);
    // Loads the control file, writing the attribute file at attributeFilePath; its messages
    // go to the status list. startTime (calendar seconds) is when the agent started. With a
    // configuration, MAXMSGSIZE becomes settings().maxMessageSize first.
    bool load(int64_t startTime, const std::string& attributeFilePath);
    // Instead of the control file and the load: serves a control file loaded once for many
    // agents (see store::VariableStore::attach), its values its own from startTime on, its
    // generator seeded with seed. False when memory runs out or loaded cannot be attached.
    bool attach(std::shared_ptr<const store::LoadedControlFile> loaded, int64_t startTime,
                std::optional<uint32_t> seed);
    // SNMPv3 for this start: the engine's identity (its boots already counted for this
    // start), its users and the context it serves (besides the empty one). Until it is
    // enabled, and after unload, SNMPv3 messages are refused as of an unknown version.
    Result enableV3(EngineIdentity engine, std::shared_ptr<const PreparedUsers> users,
                    std::string contextName);
    void disableV3();
    const V3Security* security() const { return security_.get(); }
    // Zeroes the statistics and starts answering.
    void serve();
    // A request read by another owner's endpoint (see Services::replyEndpoint); false when
    // the agent does not serve.
    bool handle(const snmp::Pdu& request, const SocketAddress& from) {
        return handler_.onRequest(request, from);
    }
    // After serve(): counts on from earlier statistics (a reload keeps the counts).
    void resumeStatistics(const AgentStatistics& earlier) { statistics_ = earlier; }

    // Stops answering; the statistics lines show the last request.
    void stop();
    // Closes the endpoint, the store, the control file and the debug log, and lets
    // mibinfo.out go.
    void release();
    // As release(), but the endpoint and the debug log stay open: a reload takes the start
    // steps again (which keep both), so what arrives while it loads waits in the socket and the
    // log goes on.
    void unload();

    bool serving() const { return handler_.serving(); }
    // Whether the process asks the agent to give up (a load then stops short).
    bool stopRequested() const { return services_.stopRequested && services_.stopRequested(); }
    bool controlFileOpen() const { return controlFile_.valid(); }
    const Clock& clock() const { return services_.loop.clock(); }
    int64_t startTime() const { return startTime_; }
    // The start on the loop clock's monotonic milliseconds, taken with startTime: what the
    // agent's TimeTicks (sysUpTime, clocks, trap time-stamps) count from.
    uint64_t startMs() const { return startMs_; }
    // Hundredths of a second since the start, in 32 bits as TimeTicks carry them.
    uint32_t upTimeTicks() const;

    const AgentStatistics& statistics() const { return statistics_; }
    AgentEndpoint& endpoint() { return endpoint_; }
    const AgentEndpoint& endpoint() const { return endpoint_; }
    store::VariableStore& store() { return store_; }
    StatisticsRefresh& statisticsRefresh() { return refresh_; }
    DebugLog& debugLog() { return log_; }

    // A message for the user: in the message box when there is one, else on the status list.
    void showMessage(const char* title, const char* text);

  private:
    // MAXMSGSIZE of the configuration, read at every start.
    void readMaxMessageSize();

    Services services_;
    AgentSettings settings_;
    AgentStatistics statistics_;
    UniqueFd controlFile_;
    std::shared_ptr<const mibinfo::MibInfo> mibInfo_;
    store::VariableStore store_;
    DebugLog log_;
    StatisticsRefresh refresh_;
    AgentEndpoint endpoint_;
    RequestHandler handler_;
    std::unique_ptr<V3Security> security_;
    int64_t startTime_ = 0;
    uint64_t startMs_ = 0;
};

}  // namespace korvimo
