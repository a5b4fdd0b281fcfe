// CreateTraps: the logic of the Create Trap File from MIB dialog without any window system.
// The desktop dialog and `korvan-cli create-traps` drive it alike: name the trap file, choose
// whether the six standard traps go first and with which enterprise id, then Start; the
// trap records of mibinfo.out are then written one after another, as many per tick of a
// 5 ms timer as fit in a few milliseconds, so the window stays responsive and Stop is heard.
//
//   CreateTraps create({config, loop, mibInfo, window.busy()});
//   create.dialogStart();                       // histories, check box, controls
//   create.form().trapFile = "mytraps";         // becomes mytraps.trp
//   if (create.start()) ...                     // "Trap File Creation started."
//   ... the loop runs; status() line 1 shows "Processing <trap>", then
//   "Trap File Creation Completed." ...
//   create.close();
//
// A front end without a window runs the steps back to back instead: start(), then
// runToEnd(). The file written is the same byte for byte whatever the pacing.
//
// Choices where the rules leave room:
//   - The run takes the window's `busy`: a second Start while it runs is refused with
//     kOperationInProgressText, as the agent start is while a tool runs.
//   - When miblist.lst cannot be read the header still has its format lines and, when asked
//     for, the standard traps: only the MIB lines are missing. A file that lacks the format
//     lines or the traps the user asked for would be worth less than one without the list.
//   - The file is written through a buffer, flushed when it fills, at the end, at Stop and at
//     Close. A write that fails ends the run with a status line (kCannotWriteFormat) and
//     without "Completed".
//   - The trap file text names a file in <installDir>/agent/, or one with an absolute path
//     where it says, as Generate Traps reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/agent_start.h"
#include "app/core/configuration.h"
#include "app/core/event_loop.h"
#include "app/core/main_status.h"
#include "app/core/status_list.h"
#include "app/paced_file_run.h"
#include "create/trap_file_creation.h"

namespace korvimo::app {

inline constexpr const char* kTrapCreationStartedText = "Trap File Creation started.";
inline constexpr const char* kTrapCreationCompletedText = "Trap File Creation Completed.";
inline constexpr const char* kTrapCreationStoppedText = "Trap File Creation Stopped.";
inline constexpr const char* kTrapFileSuffix = ".trp";
inline constexpr const char* kTrapFileSuffixUpper = ".TRP";


// The editable lists filled from a history.
enum class CreateTrapsList { TrapFile, Enterprise };

// Controls whose enabled state the run decides.
enum class CreateTrapsControl { EnterpriseList, View, Start, Stop };

struct CreateTrapsForm {
    std::string trapFile;               // "SNMP Trap File:", relative to <installDir>/agent/
    bool includeStandardTraps = false;  // "Include Them:"
    std::string enterprise;             // "Enterprise ID:"
};

struct CreateTrapsContext {
    Configuration& config;
    EventLoop& loop;
    HomeMibInfo& mibInfo;
    Busy& busy;
};

// The trap file text as Start takes it: cut to 199 characters, ".trp" appended unless it
// ends in ".trp" or ".TRP" or the whole would reach 200 characters.
std::string trapFileText(const std::string& text);

class CreateTraps {
  public:
    using Options = PacedFileRun::Options;

    explicit CreateTraps(CreateTrapsContext context);
    ~CreateTraps();
    CreateTraps(const CreateTraps&) = delete;
    CreateTraps& operator=(const CreateTraps&) = delete;

    // Dialog start: the lists from TRAPFILE and TRAPENTID (the latter only when USESTDTRAPS
    // is "YES", which also checks "Include Them" and enables the enterprise list); View and
    // Stop disabled.
    void dialogStart();

    CreateTrapsForm& form() { return form_; }
    const CreateTrapsForm& form() const { return form_; }
    const std::vector<std::string>& history(CreateTrapsList list) const;
    bool enabled(CreateTrapsControl control) const;
    Options& options() { return run_.options(); }

    // "Start": true when the run started (its header written).
    bool start();
    // The remaining steps back to back, without the timer.
    void runToEnd();
    // "Stop": the next tick ends the run with kTrapCreationStoppedText.
    void stop();
    // "Close": ends any run at once, the file flushed and closed.
    void close();

    bool running() const { return run_.running(); }
    // The last run ended with kTrapCreationCompletedText.
    bool completed() const { return completed_; }
    // The file of the last Start, as a path.
    const std::string& outputPath() const { return run_.path(); }

    StatusList& status() { return status_; }

    // Called when a run ends: completed, stopped, or failed while writing.
    std::function<void()> onFinished;

  private:
    // One "%trap" record; false when none is left.
    bool step(std::string& buffer);
    void ended(PacedFileRun::End end);

    CreateTrapsContext context_;
    CreateTrapsForm form_;
    StatusList status_;
    PacedFileRun run_;
    std::vector<std::string> trapFiles_;
    std::vector<std::string> enterprises_;
    bool enterpriseListEnabled_ = false;
    bool startEnabled_ = true;
    bool stopEnabled_ = false;
    bool viewEnabled_ = false;

    bool completed_ = false;
    std::unique_ptr<create::TrapFileCreation> creation_;
};

}  // namespace korvimo::app
