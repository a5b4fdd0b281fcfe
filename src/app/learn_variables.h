// LearnVariables: the logic of the Learn SNMP Variables dialog without any window system. The
// desktop dialog and `korvan-cli learn` drive it alike: give the teacher agent's address, the
// control file to write, the community, time-out and retries, the start and end of the walk
// and the version, then Start; the teacher is walked with one GetNext request at a time (or,
// with options().bulk, GetBulk requests), every answer becoming one variable line
// (create::LearnedWalk), until the teacher's MIB or the end of the walk is reached, the
// teacher stops answering, or Stop.
//
//   LearnVariables learn({config, loop, window.requestIds(), window.mibInfo(), window.busy()});
//   learn.dialogStart();                        // histories, start and end lists, endpoints
//   learn.form().teacher = "127.0.0.1:1161";    // HOST, HOST:PORT or [IPv6]:PORT
//   learn.form().file = "router";               // becomes router.ctl in <installDir>/agent/
//   if (learn.start()) ...                      // "Learning started."
//   ... the loop runs; status() line 1 shows "Got <name>", at the end "Learning Completed."
//   learn.close();                              // the community as it was, endpoints closed
//
// Responses arrive through the RequestClient's onResponse; time-outs through its
// retransmission (timeoutMs = TimeOut seconds x 1000, retries). There is never more than one
// request outstanding. With dynamic row templates, the templates of the created variable
// files are written first, one table per tick of a 5 ms timer ("Creating Dynamic Row
// Templates."), and the walk starts after them.
//
// Choices where the rules leave room:
//   - The run takes the window's `busy` (kOperationInProgressText while another holds it) and
//     gives it back at once on Stop.
//   - When a run ends by itself, Start is enabled and Stop disabled again, so another run can
//     start without pressing Stop first.
//   - The teacher text may name a port: "HOST:PORT", "[IPv6]:PORT"; without one, 161. The
//     header shows the text's address.
//   - The learned file is written through a buffer, flushed when it fills and whenever a run
//     ends, so View shows every line of an ended run. A write that fails ends the run with a
//     kCannotWriteFormat status line.
//   - A start refused by a check creates the file when it is missing but leaves an existing
//     file's content: the file is emptied only when the run starts.
//   - Only the teacher's address and port can answer: a datagram from anyone else is no
//     answer, even with the request-id of the request outstanding.
//   - A request that cannot be made or sent is reported on the status list, and the run ends
//     as stopped; nothing waits for an answer that cannot come.
//   - The generic trap's name of a code outside 0 to 6 is "unknown(N)"; a read-only answer of
//     an exception type is written as fixed(...) of its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/request_client.h"
#include "agent/trap_receiver.h"
#include "app/agent_start.h"
#include "app/core/configuration.h"
#include "app/core/event_loop.h"
#include "app/core/main_status.h"
#include "app/core/startup_settings.h"
#include "app/core/status_list.h"
#include "create/learning.h"

namespace korvimo::app {

// Start failures of their own (the others are shared with the sibling dialogs).
inline constexpr const char* kLearnSocketClosedText = "Cannot open socket.  Check TCP/IP stack.";
inline constexpr const char* kTeacherVersionMismatchText =
    "Agent address type does not match currently selected IP version. Try again";

// The editable lists filled from a history or from mibinfo.out.
enum class LearnVariablesList { Teacher, File, Community, Timeout, Retries, Start, End };

// Controls whose enabled state the run decides.
enum class LearnVariablesControl { View, Start, Stop };

struct LearnVariablesForm {
    std::string teacher;     // "Teacher's IP Address:"
    std::string file;        // "Save Variables in File:", relative to <installDir>/agent/
    std::string community;   // "Community String:"
    std::string timeout;     // "TimeOut (secs):"
    std::string retries;     // "Num Of Retries:"
    std::string start;       // "Start of Walk:"
    std::string end;         // "End of Walk:"
    bool v2c = false;        // "SNMPv2C" checked, else "SNMPv1"
    bool templates = false;  // "Dynamic Row Templates:"
};

struct LearnVariablesContext {
    Configuration& config;
    EventLoop& loop;
    RequestIdSequence& requestIds;
    HomeMibInfo& mibInfo;
    Busy& busy;
};

class LearnVariables {
  public:
    struct Options {
        IpVersion ipVersion = IpVersion::IPv4;  // the window's transport
        // GetBulk max-repetitions (SNMPv2c only); 0: one GetNext per request.
        uint32_t bulk = 0;
        create::Replay replay = create::Replay::Moving;
        // Overrides from learn.def: none: as OVERRIDEDEF says; else as given.
        std::optional<bool> overrides;
        // Open the trap endpoint (its failure is not reported), as the dialog does.
        bool receiveTraps = true;
    };
    // How the last run ended.
    enum class End { None, Completed, Stopped, TimedOut, Failed };

    explicit LearnVariables(LearnVariablesContext context);
    ~LearnVariables();
    LearnVariables(const LearnVariables&) = delete;
    LearnVariables& operator=(const LearnVariables&) = delete;

    // Dialog start: busy 1, the community kept, the lists from their histories and from
    // mibinfo.out, the version and check box, the client and trap endpoints.
    void dialogStart();

    LearnVariablesForm& form() { return form_; }
    const LearnVariablesForm& form() const { return form_; }
    const std::vector<std::string>& history(LearnVariablesList list) const;
    bool enabled(LearnVariablesControl control) const;
    Options& options() { return options_; }

    // "Start": true when the run started (templates or the first request under way).
    bool start();
    // "Stop": `busy` given back now; the next response, time-out or tick ends the run with
    // "Learning Stopped." and the by-user line.
    void stop();
    // Ends a stopped run now, as its next event would (for a front end that cannot wait for
    // a silent teacher's time-out).
    void endStopped();
    // "Close": ends any run at once, the file written out and closed, the community restored,
    // the endpoints closed.
    void close();

    bool running() const { return running_; }
    End lastEnd() const { return lastEnd_; }
    // Variables written by the current or last run.
    std::size_t learned() const;
    // The file of the last Start, as a path.
    const std::string& outputPath() const { return path_; }

    StatusList& status() { return status_; }

    // Called when a run ends, however it ends.
    std::function<void()> onFinished;

  private:
    struct Run;

    // Start steps that can fail; each reports its text.
    bool prepareTeacher();
    bool prepareBounds(const mibinfo::MibInfo* mib);
    // The request for the name after `after`; false (reported, the run ended) when it cannot
    // be made or sent.
    bool sendRequest(const snmp::ObjectId& after);
    void response(const snmp::Pdu& response, const snmp::Pdu& request);
    void timedOut(const snmp::Pdu& request);
    void templateTick();
    void trap(const snmp::Pdu& trap);
    // Writes the buffer out; false, with a kCannotWriteFormat line, when it cannot.
    bool flush();
    // Ends the run: line (if any) appended to the file, the file written out and closed.
    void finish(End end, const char* fileLine);
    void finishStopped();
    void refreshLists();

    LearnVariablesContext context_;
    LearnVariablesForm form_;
    Options options_;
    StatusList status_;
    std::vector<std::string> lists_[7];
    bool startEnabled_ = true;
    bool stopEnabled_ = false;
    bool viewEnabled_ = false;
    bool running_ = false;
    End lastEnd_ = End::None;
    std::size_t learned_ = 0;
    std::string path_;
    std::string keptCommunity_;
    bool rememberedV2c_ = false;   // the version last chosen, for the next dialog start
    uint32_t lookupPosition_ = 0;  // the name lookup's position in mibinfo.out
    RequestClient client_;
    TrapReceiver traps_;
    std::unique_ptr<Run> run_;
};

}  // namespace korvimo::app
