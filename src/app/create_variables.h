// CreateVariables: the logic of the Create Variables from MIB dialog without any window
// system. The desktop dialog and `korvan-cli create-vars` drive it alike: name the control
// file, give the rows per table and whether dynamic row templates go first, then Start; the
// templates and then the objects of mibinfo.out are written one step after another, as many
// per tick of a 5 ms timer as fit in a few milliseconds, so the window stays responsive and
// Stop is heard.
//
//   CreateVariables create({config, loop, mibInfo, window.busy()});
//   create.dialogStart();                       // histories, check box, controls
//   create.form().file = "router";              // becomes router.ctl
//   create.form().rows = "3";
//   if (create.start()) ...                     // "Variable File Creation started."
//   ... the loop runs; status() line 1 shows "Processing <descriptor>", then
//   "Variable File Creation Completed." ...
//   create.close();
//
// A front end without a window runs the steps back to back instead: start(), then
// runToEnd(). The file written is the same byte for byte whatever the pacing.
//
// Choices where the rules leave room:
//   - The run takes the window's `busy`: a second Start while it runs is refused with
//     kOperationInProgressText, as the agent start is while a tool runs.
//   - The file is written through a buffer, flushed when it fills, at the end, at Stop and at
//     Close. A write that fails ends the run with a status line (kCannotWriteFormat) and
//     without "Completed".
//   - The file text names a file in <installDir>/agent/, or one with an absolute path where
//     it says, as the agent start reads it.
//   - Lines the agent would refuse are written as comments (see VariableFileCreation).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/agent_start.h"
#include "app/core/configuration.h"
#include "app/core/event_loop.h"
#include "app/core/main_status.h"
#include "app/core/status_list.h"
#include "app/paced_file_run.h"
#include "create/variable_file_creation.h"

namespace korvimo::app {

inline constexpr const char* kVariableCreationStartedText = "Variable File Creation started.";
inline constexpr const char* kVariableCreationCompletedText = "Variable File Creation Completed.";
inline constexpr const char* kVariableCreationStoppedText = "Variable File Creation Stopped.";
inline constexpr const char* kAgentDirectoryFailedText = "The agent directory can not be created.";
inline constexpr const char* kControlFileSuffix = ".ctl";
inline constexpr const char* kControlFileSuffixUpper = ".CTL";

// The editable lists filled from a history.
enum class CreateVariablesList { File, Rows };

// Controls whose enabled state the run decides.
enum class CreateVariablesControl { View, Start, Stop };

struct CreateVariablesForm {
    std::string file;        // "SNMP Variables File:", relative to <installDir>/agent/
    std::string rows;        // "Num of rows to create:"
    bool templates = false;  // "Dynamic Row Templates:"
};

struct CreateVariablesContext {
    Configuration& config;
    EventLoop& loop;
    HomeMibInfo& mibInfo;
    Busy& busy;
};

// The file text as Start takes it: cut to 199 characters, ".ctl" appended unless it ends in
// ".ctl" or ".CTL" or the whole would reach 200 characters.
std::string controlFileText(const std::string& text);

class CreateVariables {
  public:
    using Options = PacedFileRun::Options;

    explicit CreateVariables(CreateVariablesContext context);
    ~CreateVariables();
    CreateVariables(const CreateVariables&) = delete;
    CreateVariables& operator=(const CreateVariables&) = delete;

    // Dialog start: the lists from INPUTFILE and NUMROWS, the check box from DYNTEMPLATE;
    // View and Stop disabled.
    void dialogStart();

    CreateVariablesForm& form() { return form_; }
    const CreateVariablesForm& form() const { return form_; }
    const std::vector<std::string>& history(CreateVariablesList list) const;
    bool enabled(CreateVariablesControl control) const;
    Options& options() { return run_.options(); }

    // "Start": true when the run started (its header written).
    bool start();
    // The remaining steps back to back, without the timer.
    void runToEnd();
    // "Stop": the next tick ends the run with kVariableCreationStoppedText.
    void stop();
    // "Close": ends any run at once, the file flushed and closed.
    void close();

    bool running() const { return run_.running(); }
    // The last run ended with kVariableCreationCompletedText.
    bool completed() const { return completed_; }
    // The file of the last Start, as a path.
    const std::string& outputPath() const { return run_.path(); }

    StatusList& status() { return status_; }

    // Called when a run ends: completed, stopped, or failed while writing.
    std::function<void()> onFinished;

  private:
    // One step of the creation; false when none is left.
    bool step(std::string& buffer);
    void ended(PacedFileRun::End end);
    void progress(std::string_view line);

    CreateVariablesContext context_;
    CreateVariablesForm form_;
    StatusList status_;
    PacedFileRun run_;
    std::vector<std::string> files_;
    std::vector<std::string> rows_;
    bool startEnabled_ = true;
    bool stopEnabled_ = false;
    bool viewEnabled_ = false;

    bool completed_ = false;
    std::unique_ptr<create::VariableFileCreation> creation_;
};

}  // namespace korvimo::app
