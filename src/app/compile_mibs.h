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
// Choices:
//   - One compilation at a time per home, whoever runs it (two korvan-cli, or one and the
//     window): the batch's files (mibcom.sh, t1, m1, merr ...) have fixed names. Compile
//     takes an exclusive flock on mibs/.compile.lock before it writes anything and holds it
//     until the batch has ended; when another process holds it, nothing is written and the
//     status says kCompilationRunningElsewhereText.
//   - Nothing compiled is nothing lost. Before the batch runs, miblist.lst's text is kept
//     and mibinfo.out gets a second name, mibinfo.out.previous (zorlet replaces mibinfo.out
//     by a rename, so the old file lives on under it; where no hard link can be made, a copy
//     stands in, and without either nothing runs). A new mibinfo.out with objects drops
//     it. A new one without any object (every file failed) is replaced by the old one again
//     and miblist.lst gets its old text back; so does miblist.lst when the batch failed or
//     was stopped before zorlet renamed its output.
//   - However the batch ends (Stop, Close, a kill from outside), none of its intermediate
//     files (mibcomp::intermediateFiles) nor zorlet's temporaries stay in mibs/: they are
//     removed once it has ended, after what the killed script left running in its process
//     group was ended too. A stop that came after the new mibinfo.out was in place changes
//     nothing of it: the outcome is then the completed one.
//
// Status lines of a compilation, in order:
//   1. kCompilationStartedText and kUseCompiledMibsText (or kCompilationRunningElsewhereText,
//      a failure of the batch's writing, kNoMibSelectedText, or the start's failure, each
//      followed by kUseCompiledMibsText, and nothing runs);
//   2. every line the batch writes ("Compiling IF-MIB.txt...", zorlet's banner and
//      messages), as it comes; blank lines are left out. zorlet's progress texts (ended by a
//      carriage return, each overwriting the one before on a console) are shown on one line
//      at the end of the list, redrawn at most every kProgressIntervalMs and removed when a
//      line follows or the batch ends; they are never appended. The last one, ended by CR LF
//      (zorlet's last line end), is one of them too: so is a line that comes right after the
//      blanks that clear a console line, or that repeats the last progress text;
//   3. the outcome: kCompilationCompletedFormat when the batch left a new mibinfo.out with
//      objects, kNothingCompiledText (kNothingCompiledNoOldText when there was no old file)
//      when it held none, else kCompilationStoppedText after Stop, else
//      kCompilationFailedFormat.
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
#include "base/unique_fd.h"
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
// The batch's exit status (0 when its last step ran); mibinfo.out stays as it was.
inline constexpr const char* kCompilationFailedFormat =
    "Compilation failed: zorlet wrote no mibinfo.out (the batch ended with status %d). See the "
    "Errors Log (miberrs.out).";
inline constexpr const char* kCompilationStoppedText = "Compilation stopped.";
inline constexpr const char* kCompilationRunningElsewhereText =
    "A compilation is already running in this home; try again when it has ended.";
// A new mibinfo.out without objects: the old one is put back.
inline constexpr const char* kNothingCompiledText =
    "Compilation failed: no object was compiled, so mibinfo.out was kept as it was. See the "
    "Errors Log (miberrs.out).";
inline constexpr const char* kNothingCompiledNoOldText =
    "Compilation failed: no object was compiled. See the Errors Log (miberrs.out).";
// Files of the mibs directory that the controller keeps.
inline constexpr const char* kCompileLockFile = ".compile.lock";
inline constexpr const char* kPreviousMibInfoFile = "mibinfo.out.previous";
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
    bool mibInfoWritten = false;       // the batch left a new mibinfo.out (with objects or not)
    std::size_t objects = 0;           // object lines of the new mibinfo.out
    bool oldMibInfoKept = false;       // mibinfo.out is the one from before the run
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
    // The last compilation left a new mibinfo.out with objects.
    bool completed() const { return outcome_.mibInfoWritten && outcome_.objects > 0; }
    const CompilationOutcome& outcome() const { return outcome_; }

    // "Errors Log": <installDir>/mibs/miberrs.out.
    std::string errorsLogPath() const;

    StatusList& status() { return status_; }

    // Called when a started batch has ended (completed, failed or stopped), after the
    // outcome line.
    std::function<void()> onFinished;

  private:
    // Takes mibs/.compile.lock; false, with the status lines written and `busy` released,
    // when it cannot be had.
    bool lockHome();
    // Keeps miblist.lst's text and makes mibinfo.out.previous the old mibinfo.out (a link,
    // else a copy); fails, naming mibinfo.out.previous, when neither can be made.
    Result keepPrevious();
    // Removes zorlet's temporaries (mibinfo.out.new-<pid>) that a killed run left.
    void removeTemporaries();
    // miblist.lst's kept text back, and with mibInfo the old mibinfo.out too (when there
    // was one); mibinfo.out.previous goes in every case.
    void restorePrevious(bool mibInfo);
    void removeIntermediates();
    // The files after the batch ended: the outcome's file part, the old files kept or put
    // back, what the batch (or zorlet) would have removed removed, the lock released.
    void settleFiles();
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
    pid_t batchGroup_ = -1;  // the running batch's process group
    CompilationOutcome outcome_;
    bool stopped_ = false;
    std::string homeDirectory_;
    UniqueFd lock_;  // mibs/.compile.lock, locked while a batch of ours runs
    std::vector<std::string> intermediates_;
    bool mibListKept_ = false;  // oldMibList_ is miblist.lst's text from before the run
    bool mibListWasAbsent_ = false;
    std::string oldMibList_;
    bool previousLinked_ = false;  // mibinfo.out.previous is the old mibinfo.out
    bool progressShown_ = false;   // the last status line is the progress line
    bool afterBlanks_ = false;     // the last progress text were the blanks that clear a line
    std::string lastProgress_;
    std::string pendingProgress_;
    uint64_t lastProgressMs_ = 0;
    Timer progressTimer_;
    // mibinfo.out as it was before the run (device, inode, size, time), to see a new one.
    struct FileVersion;
    std::unique_ptr<FileVersion> before_;
};

}  // namespace korvimo::app
