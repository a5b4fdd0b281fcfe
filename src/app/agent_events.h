// AgentEvents: the scheduled events of a running agent's control file ("%event" lines, see
// store/scheduled_events.h) made on the event loop: at each event's time a Set of its
// attribute, and when the event names a trap, that trap of the "%trapfile" sent to every
// manager of the TRAPDEST history. The main window and `korvan-cli agent` drive it alike.
//
//   AgentEvents events({config, loop, window.status(), requestIds, mibInfo});
//   if (agent started) events.start(agent);      // "Events: 2 scheduled (trap file x.trp)."
//   ... the loop runs: "Event (line 7): ifOperStatus.3 set to 2." and its trap's lines ...
//   events.stop();                               // before the agent stops, reloads or goes
//
// A manager is "ADDRESS[:PORT] VERSION [COMMUNITY]": a numeric IPv4 or IPv6 address (IPv6
// with a port in brackets, "[::1]:1162"), the port 162 when none is given, VERSION v1 (an
// SNMPv1 Trap), v2c (an SNMPv2c notification) or inform (an SNMPv2c InformRequest, sent
// again every TIMEOUT1 seconds up to RETRIES1 transmissions), and the community "public"
// when none is given. TRAPDEST1, TRAPDEST2, ... up to the first absent one are the managers;
// an invalid one gives one status line at the start and is left out.
//
// Choices where the rules leave room:
//   - One timer serves every event: it waits for the earliest due one, with no tick between.
//     Events due at the same time run in file order. A loop that was held up runs each late
//     event once and keeps its period from then on: missed runs are not made up in a burst.
//   - An event whose Set is refused sends no trap: the managers would hear of a change that
//     did not happen. The refusal has its line.
//   - The trap file is read once per start; a trap it does not hold gives one line at the
//     start, and its event then only sets.
//   - Each manager has a client endpoint of its own (of the manager's IP version), opened at
//     its first trap; one that cannot be opened is tried again at the next trap.
//   - The SNMPv1 Traps' agent address is looked up once per start.
//   - At most kMaxEventInforms informs await their answers: a further inform is not sent,
//     with a line, so that neither short periods nor long time-outs grow memory without end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "agent/agent.h"
#include "agent/endpoints.h"
#include "agent/request_client.h"
#include "app/agent_start.h"
#include "app/core/configuration.h"
#include "app/core/event_loop.h"
#include "app/core/status_list.h"
#include "base/result.h"
#include "mibinfo/mib_info.h"
#include "store/scheduled_events.h"
#include "traps/trap_file.h"
#include "traps/trap_message.h"

namespace korvimo::app {

// Status lines.
inline constexpr const char* kEventsScheduledFormat = "Events: %zu scheduled (trap file %s).";
inline constexpr const char* kEventSetFormat = "Event (line %ld): %s set to %s.";
inline constexpr const char* kEventNotSetFormat = "Event (line %ld): %s not set: %s.";
inline constexpr const char* kEventTrapSentFormat = "Event (line %ld): trap %s sent to %s.";
inline constexpr const char* kEventTrapNotSentFormat =
    "Event (line %ld): trap %s not sent to %s: %s.";
inline constexpr const char* kEventInformAcknowledgedFormat =
    "Event (line %ld): inform %s acknowledged by %s.";
inline constexpr const char* kEventInformUnacknowledgedFormat =
    "Event (line %ld): inform %s unacknowledged by %s after %d transmission(s).";
inline constexpr const char* kEventTrapUnknownFormat =
    "Event (line %ld): trap %s is not in trap file %s.";
inline constexpr const char* kEventNoManagerText =
    "Event traps: no TRAPDEST manager in korvan.ini.";
// A TRAPDEST value that is no manager: the key (TRAPDEST2), the value, why.
inline constexpr const char* kInvalidTrapDestFormat = "Invalid %s [%s]: %s.";
// Why an inform was not sent: this many await their answers.
inline constexpr const char* kEventInformsWaitingFormat = "%zu informs await their answers";

inline constexpr std::size_t kMaxEventInforms = 1000;
// The longest wait of the events' timer; a later event is waited for in steps of this.
inline constexpr uint32_t kMaxEventWaitMs = 3600u * 1000u;

// One manager of the events' traps.
struct TrapDestination {
    SocketAddress address;  // numeric; its port is not used
    uint16_t port = kTrapReceivePort;
    traps::TrapKind kind = traps::TrapKind::Notification;  // V1Trap, Notification or Inform
    std::string community = "public";
    std::string name;  // as status lines show it: "127.0.0.1:162", "[::1]:1162"
};

// Reads "ADDRESS[:PORT] VERSION [COMMUNITY]"; fails with why (a phrase without its end).
Result parseTrapDestination(std::string_view text, TrapDestination& destination);

// The managers of TRAPDEST1, TRAPDEST2, ... up to the first absent one; each invalid one is
// left out with its kInvalidTrapDestFormat line in invalid.
std::vector<TrapDestination> trapDestinations(const Configuration& config,
                                              std::vector<std::string>& invalid);

struct AgentEventsContext {
    Configuration& config;
    EventLoop& loop;
    StatusList& status;  // the agent's main status list
    RequestIdSequence& requestIds;
    HomeMibInfo& mibInfo;  // for the descriptors of the trap file's "%V" lines
};

class AgentEvents {
  public:
    explicit AgentEvents(AgentEventsContext context) : context_(context) {}
    ~AgentEvents() { stop(); }
    AgentEvents(const AgentEvents&) = delete;
    AgentEvents& operator=(const AgentEvents&) = delete;

    // After a successful start of agent (and of each reload): schedules the events its control
    // file holds. managers, when given, stand for this run instead of the TRAPDEST history.
    // An agent without events gives no line and starts nothing.
    void start(Agent& agent, std::optional<std::vector<TrapDestination>> managers = std::nullopt);
    // Before the agent stops, reloads or is released: the timer, the client endpoints and the
    // informs awaiting their answers all end.
    void stop();

    bool running() const { return agent_ != nullptr; }
    std::size_t pendingInforms() const { return informs_.size(); }

  private:
    struct Manager {
        TrapDestination destination;
        std::unique_ptr<RequestClient> client;
    };
    // An event's trap, prepared at its first send of a run (SNMPv1 and SNMPv2c apart).
    struct Prepared {
        std::optional<Result> outcome;  // none: not prepared yet
        traps::PreparedTrap trap;
    };
    struct Inform {
        long line = 0;
        std::string trap;
        std::size_t manager = 0;
    };
    enum class InformEnd { Acknowledged, TimedOut, Dropped };

    void readTrapFile();
    void readManagers(std::optional<std::vector<TrapDestination>> given);
    void schedule();
    void tick();
    void run(std::size_t index);
    void sendTrap(std::size_t index);
    Result sendTo(std::size_t index, std::size_t manager, uint32_t stamp);
    void informEnded(int32_t requestId, InformEnd end);
    void line(const std::string& text) { context_.status.append(text); }

    AgentEventsContext context_;
    Agent* agent_ = nullptr;
    std::vector<store::ScheduledEvent> events_;
    // By event: the position of its trap in the trap file, when it has one there.
    std::vector<std::optional<std::size_t>> trapPositions_;
    std::vector<Prepared> v1Traps_;
    std::vector<Prepared> notifications_;
    // Due times (loop clock milliseconds) with the event, earliest first.
    std::set<std::pair<uint64_t, std::size_t>> queue_;
    Timer timer_;

    std::string trapFileName_;  // as written; empty: none
    traps::TrapFile trapFile_;
    std::shared_ptr<const mibinfo::MibInfo> mib_;
    std::vector<Manager> managers_;
    bool noManagerSaid_ = false;
    uint8_t agentAddr_[4] = {0, 0, 0, 0};
    bool keepTrailingZero_ = false;
    std::unordered_map<int32_t, Inform> informs_;
};

}  // namespace korvimo::app
