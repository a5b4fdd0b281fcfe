// ChildProcess: a program run beside the event loop, without waiting for it. What it writes
// to its standard output and error arrives line by line while it runs, then its exit. The
// MIB compilation batch runs this way, so the window keeps answering and shows the batch's
// progress as it comes.
//
//   ChildProcess batch;
//   Result started = batch.start(loop, {"/bin/sh", "mibcom.sh"}, mibsDirectory,
//                                {[&](std::string_view line) { status.append(line); },
//                                 [&](int exitCode) { finished(exitCode); }});
//   ...
//   batch.terminate();          // Stop: the child and everything it started get SIGTERM
//
// Rules:
//   - Lines end at LF; a CR before it is dropped; a last line without LF arrives at the end.
//     A line longer than kMaxChildLine arrives in pieces of that length.
//   - With onProgress, a CR that no LF follows ends a progress text instead (a CR that ends
//     what was read so far waits for the next byte, or the end of the output, to tell).
//   - onExit comes once, after every line the child wrote before it exited, with its exit
//     status, or 128 plus the signal number when a signal ended it. Output that programs it
//     left running go on writing is not waited for.
//   - The child runs in a process group of its own with standard input from /dev/null;
//     terminate() and the destructor signal the whole group, so a script's own children go
//     with it. The destructor kills and reaps a child that still runs; no callback comes
//     after it.
//   - Callbacks may destroy the ChildProcess or start it again.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/event_loop.h"
#include "base/result.h"
#include "base/unique_fd.h"

namespace korvimo {

inline constexpr std::size_t kMaxChildLine = 4096;

// Failure texts of start().
inline constexpr const char* kChildPipeFailedText = "Cannot create a pipe for %s (%s).";
inline constexpr const char* kChildForkFailedText = "Cannot start %s (%s).";
inline constexpr const char* kChildExecFailedText = "Cannot run %s (%s).";

class ChildProcess {
  public:
    struct Handlers {
        std::function<void(std::string_view line)> onLine;
        std::function<void(int exitCode)> onExit;
        // Texts ended by a carriage return that no line feed follows (a console program's
        // progress, each overwriting the one before). Without this handler such carriage
        // returns stay inside the line they are part of.
        std::function<void(std::string_view text)> onProgress;
    };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs argv[0] (searched in PATH when it has no "/") with argv in directory (the current
    // one when empty). Fails, with nothing running, when the program cannot be started.
    Result start(EventLoop& loop, const std::vector<std::string>& argv,
                 const std::string& directory, Handlers handlers);

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Sends signal to the child's process group; its exit is reported as usual.
    void terminate(int signal = SIGTERM);

    // Ends the run at once, as the destructor does: a child that still runs is killed with
    // its group and reaped, and no callback of the run comes after.
    void end();

  private:
    // The part the event callbacks use; it lives on until the child was reaped, so that a
    // callback that destroys the ChildProcess leaves nothing dangling.
    struct Run;

    std::shared_ptr<Run> run_;
    pid_t pid_ = -1;
};

}  // namespace korvimo
