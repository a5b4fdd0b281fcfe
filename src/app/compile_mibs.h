// CompileMibs: the logic of the Compile MIBs dialog without any window system. The desktop
// dialog and `korvan-cli compile` drive it alike: the dialog start lists the MIB files of
// the search lists, Compile writes the batch for the selected ones (mibcom.sh, miblist.lst,
// split pieces) and runs it as a child process beside the event loop; its output lines are
// appended to the status list as they come, and one last line gives the outcome.
//
//   CompileMibs compile({config, loop, window.busy(), programsDirectory});
//   compile.dialogStart();                        // MIB list; status from miblist.lst
//   if (compile.compile({"IF-MIB.txt"})) ...      // the batch runs; `busy` is held
//   ... the loop runs; lines stream in; onFinished, then completed() ...
//   compile.close();
//
// The run holds the window's `busy` from Compile until the batch exits (or Stop or Close
// ends it), so no agent starts and no tool reads mibinfo.out while it is being rebuilt.
// zorlet writes mibinfo.out under a temporary name and renames it when done, so a reader
// sees the old file or the new one, never half of one.
//
// Status lines of a compilation, in order:
//   1. kCompilationStartedText and kUseCompiledMibsText (or a failure of the batch's
//      writing, kNoMibSelectedText, or the start's failure, each followed by
//      kUseCompiledMibsText, and nothing runs);
//   2. every line the batch writes ("Compiling IF-MIB.txt...", zorlet's banner and
//      messages), as it comes. zorlet's progress texts (ended by a carriage return, each
//      overwriting the one before on a console) are shown on one line at the end of the list,
//      redrawn at most every kProgressIntervalMs and removed when a line follows or the
//      batch ends; they are never appended;
//   3. the outcome: kCompilationCompletedFormat when the batch left a new mibinfo.out, else
//      kCompilationFailedFormat (or kCompilationStoppedText after Stop).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/child_process.h"
#include "app/core/configuration.h"
#include "app/core/event_loop.h"
#include "app/core/main_status.h"
#include "app/core/status_list.h"
#include "mibcomp/mib_compilation.h"

namespace korvimo::app {

inline constexpr const char* kCompilationInitiatedText = "Compilation has already been initiated.";
inline constexpr const char* kNoMibSelectedText =
    "No mib files selected. Please select mib file first.";
inline constexpr const char* kUseCompiledMibsText =
    "Select [Get Variables to Test] to make use of compiled mibs.";
inline constexpr const char* kCompilationStartedText =
    "Compilation started; the batch's lines follow as it runs.";
// Objects in the new mibinfo.out, messages of the compiler in miberrs.out, zorlet's errors.
inline constexpr const char* kCompilationCompletedFormat =
    "Compilation completed: %zu objects in mibinfo.out; %zu compiler messages and %zu zorlet "
    "errors in miberrs.out.";
// The batch's exit status; mibinfo.out stays as it was.
inline constexpr const char* kCompilationFailedFormat =
    "Compilation failed: the batch ended with status %d without writing mibinfo.out. See the "
    "Errors Log (miberrs.out).";
inline constexpr const char* kCompilationStoppedText = "Compilation stopped.";
inline constexpr uint64_t kProgressIntervalMs = 100;

struct CompileMibsContext {
    Configuration& config;
    EventLoop& loop;
    Busy& busy;
    // Where kmx and zorlet are: the directory of the running program.
    std::string programsDirectory;
};

// What the last compilation gave.
struct CompilationOutcome {
    bool mibInfoWritten = false;  // the batch left a new mibinfo.out
    std::size_t objects = 0;      // object lines of the new mibinfo.out
    std::size_t compilerMessages = 0;  // non-blank lines of miberrs.out before zorlet's part
    std::size_t zorletErrors = 0;      // zorlet's error messages among the batch's lines
    int exitStatus = 0;                // the batch's, 128 + signal when a signal ended it
};

class CompileMibs {
  public:
    explicit CompileMibs(CompileMibsContext context);
    ~CompileMibs();
    CompileMibs(const CompileMibs&) = delete;
    CompileMibs& operator=(const CompileMibs&) = delete;

    // Dialog start: the search lists from korvan.ini (MIBDIRLIST, MIBEXTENSION, MIBEXTLIST),
    // the MIB list, and the status list filled with the lines of mibs/miblist.lst when it
    // can be read.
    void dialogStart();

    // The MIB list, sorted, as the dialog shows it.
    const std::vector<std::string>& mibs() const { return mibs_; }
    // The entry that text names: an entry of the list as written, else a path (absolute, or
    // relative to the current directory) of a regular file, as the entry of the list that
    // names the same file or as its full path. Empty when text names neither.
    std::string entryFor(const std::string& text) const;

    // "Compile" with the selected entries (in any order; the batch takes them in list order,
    // entries outside the list after them, as given). True when the batch started.
    bool compile(const std::vector<std::string>& selected);
    // Ends a running batch (the script and what it started); the outcome line is
    // kCompilationStoppedText.
    void stop();
    // "Close": ends a running batch without an outcome line; `busy` is released.
    void close();

    bool running() const { return batch_.running(); }
    // The last compilation left a new mibinfo.out.
    bool completed() const { return outcome_.mibInfoWritten; }
    const CompilationOutcome& outcome() const { return outcome_; }

    // "Errors Log": <installDir>/mibs/miberrs.out.
    std::string errorsLogPath() const;

    StatusList& status() { return status_; }

    // Called when a started batch has ended (completed, failed or stopped), after the
    // outcome line.
    std::function<void()> onFinished;

  private:
    void line(std::string_view text);
    void progress(std::string_view text);
    // The pending progress text becomes the list's last line.
    void showProgress();
    void exited(int exitStatus);
    void removeProgressLine();

    CompileMibsContext context_;
    StatusList status_;
    mibcomp::SearchLists lists_;
    std::vector<std::string> mibs_;
    std::string mibsDirectory_;
    ChildProcess batch_;
    CompilationOutcome outcome_;
    bool stopped_ = false;
    bool progressShown_ = false;  // the last status line is the progress line
    std::string pendingProgress_;
    uint64_t lastProgressMs_ = 0;
    Timer progressTimer_;
    // mibinfo.out as it was before the run (device, inode, size, time), to see a new one.
    struct FileVersion;
    std::unique_ptr<FileVersion> before_;
};

}  // namespace korvimo::app
