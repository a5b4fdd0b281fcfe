// GenerateTraps: the logic of the Generate Traps dialog without any window system. The
// desktop dialog and `korvan-cli traps` drive it alike: load a trap file, pick traps, give
// the manager and a community, choose how they go out, and send; the selected traps then go
// out one per tick of a 5 ms timer from the client endpoint, while whatever else the event
// loop serves (the agent) goes on.
//
//   GenerateTraps traps({config, loop, requestIds, mibInfo, &window.agent()});
//   traps.dialogStart();                        // histories, client endpoint
//   traps.form().trapFile = "default.trp";
//   if (traps.load()) {                         // the trap list, TRAPFILE pushed
//       traps.form().manager = "127.0.0.1";
//       traps.form().selected = {0, 2, 5};
//       traps.send();                           // "Trap(s) Transmission Started."
//   }
//   ... the loop runs; status() gets "Processing <name>" per trap, then
//   "Trap(s) Transmission Completed." ...
//   traps.close();
//
// The dialog does not take `busy`: it may run while the agent runs. The version choice lives
// as long as this object, so a dialog opened again shows the one last used.
//
// Choices where the rules leave room:
//   - "Send" while a transmission runs is refused with kAlreadySendingText; the one running
//     goes on.
//   - The selection is a list of positions of any length.
//   - The trap file is read once per load (and again by the first Send after a completed
//     transmission); each trap is prepared once per transmission, so sending trap n reads
//     neither the file nor mibinfo.out again.
//   - The agent address of SNMPv1 Traps is looked up once per transmission.
//   - At most kMaxPendingInforms informs await their answers; the sending waits for room.
//   - The client endpoint hears from anyone: the lines of datagrams that do not decode go
//     through SimilarLines, so a flood of them shows a few lines and a count.
//   - status() keeps the last kTrapsStatusLineLimit lines.
//
// Beyond the dialog's own controls, options() carries what the command line adds: the port
// (else TRAPPORT, else 162), informs' time-out and retries (else TIMEOUT1 and RETRIES1),
// repeating the selection (a trap storm) and pacing it at a rate, the SNMPv3 user and the
// engine ID of SNMPv3 traps.
//
// SNMPv3 (RFC 3414), as the form's user (a user line, or a name of <home>/bin/users.conf) at
// that user's level:
//   - Traps come from our own engine: the home's "traps" engine of <home>/bin/engines.conf
//     (startEngine: the same ID every run, one more boot per transmission) unless
//     options().engineId names another; its time counts the seconds since Send. A status
//     line gives the engine ID, which the receiver's user must be made with.
//   - Informs go to the receiver's engine, discovered before the first inform with a
//     noAuthNoPriv, reportable empty Get (retransmitted as informs are); its Report gives the
//     engine ID, boots and time the informs are sent with. A notInTimeWindows Report
//     (authenticated) to an inform resets the time and sends that inform again at once,
//     once; any other Report gives one status line naming its counter, and the inform ends
//     unacknowledged when its retries are spent. A discovery without answer skips every
//     inform of the transmission.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "agent/agent.h"
#include "agent/request_client.h"
#include "app/agent_start.h"
#include "app/core/configuration.h"
#include "app/core/event_loop.h"
#include "app/core/similar_lines.h"
#include "app/core/startup_settings.h"
#include "app/core/status_list.h"
#include "base/unique_fd.h"
#include "snmp/usm_user.h"
#include "traps/trap_file.h"
#include "traps/trap_message.h"

namespace korvimo::app {

inline constexpr const char* kMibInfoMissingFormat =
    "Cannot open [%s] file. Please run the mib compiler to create it.";
inline constexpr const char* kMibInfoMissingPath = kMibInfoPath;
// The system's reason follows it, as a sentence.
inline constexpr const char* kTrapFileOpenFailedFormat =
    "Cannot open Trap Information file [%s] for reading. Please create trap file.";
inline constexpr const char* kInvalidManagerText = "IP address is invalid. Try again";
inline constexpr const char* kManagerVersionMismatchText =
    "Manager address type does not match currently selected IP version. Try again";
// A TRAPPORT setting that is not a whole port number refuses the Send.
inline constexpr const char* kTrapPortInvalidFormat =
    "TRAPPORT [%s] is no port number (1 to 65535).";
inline constexpr const char* kNoTrapsSelectedText =
    "No traps selected. Select a trap first and then try again.";
inline constexpr const char* kTransmissionStartedText = "Trap(s) Transmission Started.";
inline constexpr const char* kTransmissionStoppedText = "Trap(s) Transmission Stopped.";
inline constexpr const char* kTransmissionCompletedText = "Trap(s) Transmission Completed.";
inline constexpr const char* kAlreadySendingText =
    "Trap(s) Transmission already in progress. Wait for it to end and then try again.";
// Informs: each answer or time-out (not in a storm, whose progress lines count them), and the
// counts once the transmission is over.
inline constexpr const char* kInformAcknowledgedFormat = "Inform %s acknowledged.";
inline constexpr const char* kInformUnacknowledgedFormat =
    "Inform %s unacknowledged after %d transmission(s).";
inline constexpr const char* kInformSummaryFormat =
    "Informs acknowledged: %llu, unacknowledged: %llu.";

// Once a second during a storm (a repeated selection, or one paced at a rate) in place of one
// "Processing" line per trap: the traps sent so far and the rate of the last second.
inline constexpr const char* kStormProgressFormat = "Sent %llu trap(s), %llu/s.";

// The pace of a transmission: the dialog's one trap per tick, the longest tick of a paced
// storm, and the most traps one turn of the loop sends, so that whatever else the loop
// serves (the agent, a stop) is heard between batches.
inline constexpr uint32_t kTrapTickMs = 5;
// The status list keeps the last this many lines, so a long run cannot grow it without end.
inline constexpr std::size_t kTrapsStatusLineLimit = 5000;
inline constexpr std::size_t kStormBatch = 256;
// The most informs awaiting their answer at once: at this many the sending pauses (nothing is
// skipped or counted) until answers or time-outs make room, so that neither a long --count
// nor a long time-out makes the pending list grow without end.
inline constexpr std::size_t kMaxPendingInforms = 1000;

// The choices of "SNMP Version:".
inline constexpr const char* kV1TrapChoiceText = "SNMPv1 Trap";
inline constexpr const char* kV2cNotificationChoiceText = "SNMPv2C Notification";
inline constexpr const char* kV2cInformChoiceText = "SNMPv2C Inform";
inline constexpr const char* kV3NotificationChoiceText = "SNMPv3 Notification";
inline constexpr const char* kV3InformChoiceText = "SNMPv3 Inform";

// SNMPv3 status lines.
inline constexpr const char* kV3NoUserText =
    "SNMPv3 needs a user: a user line (NAME AUTH AUTHPASS [PRIV PRIVPASS]) or the name of a "
    "user of users.conf.";
inline constexpr const char* kV3UnknownUserFormat = "SNMPv3 user [%s] is not in [%s].";
inline constexpr const char* kV3UserLineFormat = "SNMPv3 user line: %s";
inline constexpr const char* kV3UserKeysFormat = "SNMPv3 user [%s]: %s";
inline constexpr const char* kV3TrapEngineFormat =
    "SNMPv3 engine ID %s (give it to the receiver's user).";
inline constexpr const char* kV3DiscoveredFormat =
    "SNMPv3 engine ID %s of the manager (boots %u, time %u).";
inline constexpr const char* kV3DiscoveryFailedFormat =
    "SNMPv3 engine discovery: no Report from the manager after %d transmission(s).";
inline constexpr const char* kV3DiscoveryRefusedFormat = "SNMPv3 engine discovery: %s";
inline constexpr const char* kV3InformReportFormat = "Inform %s: the receiver reports %s";
// The key of the traps' engine in <home>/bin/engines.conf.
inline constexpr const char* kTrapsEngineKey = "traps";

// The user of text: a user line (it holds a blank) read by snmp::parseUserLine, or the name of
// a user of <home>/bin/users.conf. Fails with one of the texts above.
Result userFromText(const std::string& home, std::string_view text, snmp::UsmUser& user);
// The user of that name among users.
bool findUser(const std::vector<snmp::UsmUser>& users, std::string_view name, snmp::UsmUser& user);

// How informs are retransmitted unless a command line says otherwise: every TIMEOUT1 seconds
// (1 to 86400, else 1), sent RETRIES1 times in all (1 to 1000, else 3).
uint32_t informTimeoutMs(const Configuration& config);
int32_t informRetries(const Configuration& config);
// Whether an SNMPv1 Trap keeps the trailing ".0" of its enterprise (SV2TOV1TRAPNOZERO "NO"; see
// traps::v1EnterpriseText).
bool keepV1TrailingZero(const Configuration& config);

// The editable lists filled from a history.
enum class TrapsList { Manager, Community };

// What the dialog shows and the user edits.
struct GenerateTrapsForm {
    std::string trapFile;  // "SNMP Trap File:", relative to <installDir>/agent/
    std::string manager;   // "Manager IP Address:": a numeric IPv4 or IPv6 address or a name
    std::string community;
    std::vector<std::size_t> selected;  // positions in the trap list
    std::string user;                   // "User:" (SNMPv3): a user line, or a name of users.conf
};

struct GenerateTrapsContext {
    Configuration& config;
    EventLoop& loop;
    RequestIdSequence& requestIds;
    HomeMibInfo& mibInfo;
    // The agent whose start time the uptime counts from (none, or never started: 0).
    const Agent* agent = nullptr;
};

class GenerateTraps {
  public:
    struct Options {
        IpVersion ipVersion = IpVersion::IPv4;
        std::optional<uint16_t> port;       // else TRAPPORT, else 162
        std::optional<uint32_t> timeoutMs;  // informs; else TIMEOUT1 seconds
        std::optional<int32_t> retries;     // informs; else RETRIES1
        uint64_t repeat = 1;                // the selection is sent this many times
        std::optional<uint32_t> rate;       // traps a second; 0: as fast as they go
        // SNMPv3: this user instead of form().user.
        std::optional<snmp::UsmUser> v3User;
        // SNMPv3 traps: this engine ID instead of the home's traps engine's.
        std::optional<std::vector<uint8_t>> engineId;
    };

    // What the last transmission did, for a summary.
    struct Summary {
        uint64_t sent = 0;     // datagrams that went out (informs: first transmissions)
        uint64_t skipped = 0;  // traps that could not be made or sent
        uint64_t acknowledged = 0;
        uint64_t unacknowledged = 0;
        uint64_t elapsedMs = 0;  // from Send to completion
        bool completed = false;  // false while sending, and after a stop or close
    };

    explicit GenerateTraps(GenerateTrapsContext context);
    ~GenerateTraps();
    GenerateTraps(const GenerateTraps&) = delete;
    GenerateTraps& operator=(const GenerateTraps&) = delete;

    // Dialog start: clears the all-selected flag, fills the lists from their histories,
    // disables the manager, community, Send and list until a load, and opens the client
    // endpoint for options().ipVersion (its failure is a status line; the dialog stays usable).
    void dialogStart();

    GenerateTrapsForm& form() { return form_; }
    const GenerateTrapsForm& form() const { return form_; }
    const std::vector<std::string>& history(TrapsList list) const;
    traps::TrapKind& kind() { return kind_; }
    Options& options() { return options_; }

    // Enter, or a file chosen with Browse: reads the trap file and fills the trap list. True
    // when it was loaded.
    bool load();
    bool loaded() const { return loaded_; }
    const std::vector<std::string>& trapNames() const { return file_.names(); }

    // "Select All" / "Unselect All": selects every trap or none; true when all are selected.
    bool selectAll();
    bool allSelected() const { return allSelected_; }

    // "Send": true when the transmission started.
    bool send();
    // The names of the users of <home>/bin/users.conf (none when it cannot be read), for
    // the "User:" list.
    std::vector<std::string> userNames() const;
    bool sending() const;
    const Summary& summary() const { return summary_; }

    // "Close": stops a transmission at once, forgets the community, closes the endpoint.
    void close();

    StatusList& status() { return status_; }
    // The client endpoint the traps go out from.
    const RequestClient& client() const { return client_; }

    // Called when a transmission ends: completed, or stopped by close.
    std::function<void()> onFinished;

  private:
    GenerateTrapsContext context_;
    GenerateTrapsForm form_;
    Options options_;
    traps::TrapKind kind_ = traps::TrapKind::V1Trap;
    traps::TrapKind sendKind_ = traps::TrapKind::V1Trap;  // of the transmission
    Summary summary_;
    StatusList status_;
    traps::TrapFile file_;
    bool loaded_ = false;
    bool allSelected_ = false;
    std::vector<std::string> managers_;
    std::vector<std::string> communities_;

    // A selected trap, prepared at its first send of a transmission; a trap or notification
    // keeps its encoded datagram while its time-stamp stays the same.
    struct Entry {
        std::size_t position = 0;
        bool prepared = false;
        bool failed = false;  // could not be prepared: every send of it is skipped
        traps::PreparedTrap trap;
        std::vector<uint8_t> datagram;
        uint32_t datagramStamp = 0;
    };
    enum class SendOutcome { Sent, Skipped, Again };

    Result openTrapFile();
    void stepTimerTick();
    void sendBatch(std::size_t budget);
    // Watches ready_ (an unpaced storm that can send); false when the loop refuses.
    bool watchReady();
    SendOutcome sendOne(Entry& entry, uint32_t stamp);
    uint32_t currentTimeStamp() const;
    void progressLine(uint64_t nowMs);
    void checkCompletion();
    void finish(bool completed);
    // An inform awaited no longer: answered, timed out, or dropped when a retransmission
    // could not be sent.
    enum class InformEnd { Acknowledged, TimedOut, Dropped };
    void informEnded(int32_t requestId, InformEnd end);
    // A request of the client ended without answer: the discovery, or an inform.
    void unanswered(int32_t requestId, InformEnd end);
    // SNMPv3: the user, and our engine for traps; false with a status line.
    bool startV3();
    // The discovery of the receiver's engine; false (discovery failed) when it cannot start.
    bool startDiscovery();
    SendOutcome sendV3Trap(const Entry& entry, uint32_t stamp);
    Result encodeV3(const snmp::Pdu& request, uint8_t* out, uint32_t* size);
    void v3Message(const uint8_t* bytes, std::size_t length);
    void discovered(const traps::V3Answer& answer);
    int32_t takeMsgId();
    bool storm() const { return options_.repeat > 1 || options_.rate.has_value(); }

    RequestClient client_;
    // The client endpoint's failure lines on their way to status(): alike ones are held back
    // (ticked by the step timer, flushed when a transmission ends or the dialog closes).
    SimilarLines failureLines_;
    bool fileOpen_ = false;  // the trap file as read by the last load or Send is current
    bool sending_ = false;
    Timer stepTimer_;
    // An always-readable descriptor, open while a storm at rate 0 runs and watched while it
    // can send: the loop then sends one batch per turn, as fast as the endpoint takes them,
    // and serves everything else between batches.
    UniqueFd ready_;
    Watch readyWatch_;
    std::shared_ptr<const mibinfo::MibInfo> mib_;
    std::vector<Entry> entries_;
    uint64_t cursor_ = 0;  // sends attempted so far, over every round
    uint64_t total_ = 0;   // entries_ × repeat
    std::string community_;
    uint16_t port_ = 0;
    uint8_t agentAddr_[4] = {0, 0, 0, 0};
    bool keepTrailingZero_ = false;
    uint64_t startMs_ = 0;
    uint64_t progressMs_ = 0;
    uint64_t progressSent_ = 0;
    // Informs awaiting their answer, by request-id.
    struct Inform {
        std::string name;             // of the trap
        std::vector<int32_t> msgIds;  // SNMPv3: of its transmissions
        bool resent = false;          // SNMPv3: sent again after a notInTimeWindows Report
        bool reported = false;        // SNMPv3: a Report's line is out
    };
    std::unordered_map<int32_t, Inform> informs_;

    // SNMPv3: the user and engine of the transmission, the discovery of an inform
    // receiver's engine, and the msgID of each message sent to the request-id it carries.
    enum class Discovery { None, Waiting, Done, Failed };
    std::unique_ptr<traps::V3Notifier> v3_;
    std::string v3EngineLine_;
    Discovery discovery_ = Discovery::None;
    int32_t discoveryRequestId_ = 0;
    int32_t nextMsgId_ = 1;
    std::unordered_map<int32_t, int32_t> msgIds_;
    std::vector<uint8_t> answer_;
};

}  // namespace korvimo::app
