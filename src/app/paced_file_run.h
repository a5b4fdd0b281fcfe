// PacedFileRun: the part of a file-creating dialog's run that does not depend on what is
// written. It holds the output file and its buffer, runs the owner's steps on a 5 ms timer
// (as many a tick as fit in kCreateTickBudgetMs, or a fixed number) or back to back, writes
// the buffer out once it fills, and ends the run: completed when no step is left, stopped
// at the tick after Stop, failed when a write fails (with a kCannotWriteFormat status line).
//
//   PacedFileRun run(loop, busy, status, {[&](std::string& buffer) { return next(buffer); },
//                                         [&](PacedFileRun::End end) { ended(end); }});
//   if (!run.open(path)) ...                    // kCannotOpenForWritingFormat appended
//   if (!run.begin()) ...                       // no timer: the file is closed
//   header(run.buffer());
//   ... the loop ticks; step() runs until it returns false, then ended(End::Completed) ...
//
// The run holds the window's `busy` from begin() until it ends or Stop is pressed; the
// owner takes it before Start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "app/core/event_loop.h"
#include "app/core/main_status.h"
#include "app/core/status_list.h"
#include "base/unique_fd.h"

namespace korvimo::app {

inline constexpr const char* kCannotOpenForWritingFormat =
    "Cannot open [%s] for writing. Check permissions.";
// The path, then the system's reason.
inline constexpr const char* kCannotWriteFormat = "Cannot write [%s]: %s.";
// The pace: a tick every kCreateTickMs; each does steps until kCreateTickBudgetMs passed.
inline constexpr uint32_t kCreateTickMs = 5;
inline constexpr uint64_t kCreateTickBudgetMs = 4;

class PacedFileRun {
  public:
    enum class End { Completed, Stopped, Failed };
    struct Options {
        // Steps per tick; 0: as many as fit in kCreateTickBudgetMs.
        std::size_t stepsPerTick = 0;
    };
    struct Hooks {
        // One step, its text appended to the buffer; false, with nothing written, once no
        // step is left.
        std::function<bool(std::string& buffer)> step;
        // The run ended, its file written out and closed (a failed write makes it Failed).
        std::function<void(End end)> ended;
    };

    PacedFileRun(EventLoop& loop, Busy& busy, StatusList& status, Hooks hooks);
    ~PacedFileRun() = default;
    PacedFileRun(const PacedFileRun&) = delete;
    PacedFileRun& operator=(const PacedFileRun&) = delete;

    // Opens (creates or empties) the file at path; false with a status line when it cannot.
    bool open(const std::string& path);
    // Starts the timer on the open file; false, the file closed and `busy` released, when
    // the loop gives no timer.
    bool begin();
    // The text to be written, for the header before the first step.
    std::string& buffer() { return buffer_; }

    // Ends a run that was stopped but whose last tick has not come yet, as that tick would.
    void endStopped();
    // The remaining steps back to back, without the timer.
    void runToEnd();
    // The next tick ends the run as stopped; `busy` is released now.
    void stop();
    // Ends any run at once, the file written out (a failure has nobody left to tell) and
    // closed, without calling `ended`.
    void close();

    bool running() const { return running_; }
    // The file of the last open().
    const std::string& path() const { return path_; }
    Options& options() { return options_; }

  private:
    void tick();
    bool step();
    void finish(End end);
    bool flush();
    void closeOutput();

    EventLoop& loop_;
    Busy& busy_;
    StatusList& status_;
    Hooks hooks_;
    Options options_;
    bool running_ = false;   // a run is under way (its timer ticking, or runToEnd to come)
    bool stopping_ = false;  // Stop was pressed: the next tick ends the run
    std::string path_;
    UniqueFd output_;
    std::string buffer_;
    Timer timer_;
};

}  // namespace korvimo::app
