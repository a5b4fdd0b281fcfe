#include "app/core/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace korvimo {

namespace {

// How often the exit is looked for where the kernel gives no process descriptor.
constexpr uint32_t kExitPollMs = 20;
// Bytes one readiness report reads at most, so that a chatty child cannot hold the loop.
constexpr std::size_t kReadPerTurn = 64 * 1024;

int exitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return 255;
}

// The child's side of fork: nothing here may allocate or take a lock.
[[noreturn]] void runChild(int output, int status, int input, const char* directory,
                           char* const* argv) {
    ::setpgid(0, 0);
    // The parent may block signals it reads through a descriptor; the child starts clean.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &standard, nullptr);
    if (::dup2(input, 0) < 0 || ::dup2(output, 1) < 0 || ::dup2(output, 2) < 0 ||
        (directory[0] != '\0' && ::chdir(directory) != 0)) {
        const int error = errno;
        (void)!::write(status, &error, sizeof error);
        ::_exit(127);
    }
    ::execvp(argv[0], argv);
    const int error = errno;
    (void)!::write(status, &error, sizeof error);
    ::_exit(127);
}

}  // namespace

struct ChildProcess::Run : std::enable_shared_from_this<Run> {
    ChildProcess* owner = nullptr;
    EventLoop* loop = nullptr;
    Handlers handlers;
    pid_t pid = -1;
    UniqueFd output;
    UniqueFd pidfd;
    Watch outputWatch;  // declared after the descriptors, so it ends before they close
    Watch exitWatch;
    Timer exitPoll;
    std::string partial;
    // With onProgress: the last byte read was a CR whose meaning waits for the next byte (LF:
    // the line ends; anything else, or the end: partial was a progress text).
    bool carriageReturnHeld = false;
    bool finished = false;
    // The owner went, or started another run: nothing more is reported from this one.
    bool detached = false;

    // Reads what is waiting; false when the owner went away during a line's callback.
    bool readOutput();
    bool deliver(std::string_view line);
    // Partial as a line, or (CR held) as a progress text.
    bool deliverPartial();
    bool deliverProgress();
    bool flushPartial();
    void checkExit();
};

bool ChildProcess::Run::deliver(std::string_view line) {
    if (detached) {
        return false;
    }
    if (handlers.onLine) {
        handlers.onLine(line);
    }
    return !detached;
}

bool ChildProcess::Run::deliverPartial() {
    carriageReturnHeld = false;
    const std::string line = std::move(partial);
    partial.clear();
    return deliver(line);
}

bool ChildProcess::Run::deliverProgress() {
    carriageReturnHeld = false;
    const std::string text = std::move(partial);
    partial.clear();
    if (detached) {
        return false;
    }
    handlers.onProgress(text);
    return !detached;
}

bool ChildProcess::Run::flushPartial() {
    if (carriageReturnHeld) {
        return deliverProgress();
    }
    return partial.empty() || deliverPartial();
}

bool ChildProcess::Run::readOutput() {
    char buffer[4096];
    std::size_t total = 0;
    while (output && total < kReadPerTurn) {
        const ssize_t n = ::read(output.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return true;
            }
            // End of the output: no more lines can come, whatever the exit.
            outputWatch.reset();
            output.reset();
            return flushPartial();
        }
        total += static_cast<std::size_t>(n);
        std::string_view chunk(buffer, static_cast<std::size_t>(n));
        // Without onProgress a CR ends nothing: it stays in its line (or is dropped before LF).
        const char* ends = handlers.onProgress ? "\r\n" : "\n";
        while (!chunk.empty()) {
            if (carriageReturnHeld) {
                const bool lineEnd = chunk.front() == '\n';
                if (lineEnd) {
                    chunk.remove_prefix(1);
                }
                if (!(lineEnd ? deliverPartial() : deliverProgress())) {
                    return false;
                }
                continue;
            }
            const std::size_t end = chunk.find_first_of(ends);
            if (end == std::string_view::npos) {
                partial.append(chunk);
                chunk = {};
            } else {
                const char ending = chunk[end];
                partial.append(chunk.substr(0, end));
                chunk.remove_prefix(end + 1);
                if (ending == '\r') {
                    carriageReturnHeld = true;
                } else {
                    if (!partial.empty() && partial.back() == '\r') {
                        partial.pop_back();
                    }
                    if (!deliverPartial()) {
                        return false;
                    }
                }
            }
            while (partial.size() >= kMaxChildLine) {
                const std::string head = partial.substr(0, kMaxChildLine);
                partial.erase(0, kMaxChildLine);
                if (!deliver(head)) {
                    return false;
                }
            }
        }
    }
    return true;
}

void ChildProcess::Run::checkExit() {
    // Keeps this run alive through the callbacks, whatever the owner does in them.
    const std::shared_ptr<Run> keep = shared_from_this();
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(pid, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == 0) {
        return;  // still running
    }
    exitWatch.reset();
    exitPoll.stop();
    finished = true;
    // Reaped: the process group may be gone and its number taken, so nothing signals it now.
    if (owner != nullptr) {
        owner->pid_ = -1;
    }
    const int exitCode = reaped == pid ? exitCodeOf(status) : 255;
    // What it wrote before it ended is in the pipe already; programs it left running are
    // not waited for.
    if (output && !readOutput()) {
        return;
    }
    outputWatch.reset();
    output.reset();
    if (!flushPartial()) {
        return;
    }
    if (!detached && handlers.onExit) {
        handlers.onExit(exitCode);
    }
}

ChildProcess::~ChildProcess() {
    end();
}

void ChildProcess::end() {
    if (run_ == nullptr) {
        return;
    }
    run_->detached = true;
    run_->owner = nullptr;
    if (!run_->finished && run_->pid > 0) {
        ::kill(-run_->pid, SIGKILL);
        while (::waitpid(run_->pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        run_->finished = true;
    }
    // A callback of this run that is still under way keeps it alive until it returns.
    run_.reset();
    pid_ = -1;
}

Result ChildProcess::start(EventLoop& loop, const std::vector<std::string>& argv,
                           const std::string& directory, Handlers handlers) {
    const char* program = argv.empty() ? "" : argv.front().c_str();
    end();  // a run still going ends first, as if its owner had gone
    if (argv.empty()) {
        return Result::failuref(kChildExecFailedText, program, std::strerror(ENOENT));
    }

    int out[2];
    int status[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return Result::failuref(kChildPipeFailedText, program, std::strerror(errno));
    }
    UniqueFd outRead(out[0]), outWrite(out[1]);
    if (::pipe2(status, O_CLOEXEC) != 0) {
        return Result::failuref(kChildPipeFailedText, program, std::strerror(errno));
    }
    UniqueFd statusRead(status[0]), statusWrite(status[1]);
    UniqueFd input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!input) {
        return Result::failuref(kChildPipeFailedText, program, std::strerror(errno));
    }
    // A parent started with its standard descriptors closed may be given 0, 1 or 2 here; the
    // child's dup2 onto the same number would keep close-on-exec and lose it at exec.
    for (UniqueFd* fd : {&outWrite, &statusWrite, &input}) {
        if (fd->get() <= 2) {
            UniqueFd moved(::fcntl(fd->get(), F_DUPFD_CLOEXEC, 3));
            if (!moved) {
                return Result::failuref(kChildPipeFailedText, program, std::strerror(errno));
            }
            *fd = std::move(moved);
        }
    }

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        return Result::failuref(kChildForkFailedText, program, std::strerror(errno));
    }
    if (pid == 0) {
        runChild(outWrite.get(), statusWrite.get(), input.get(), directory.c_str(), args.data());
    }
    ::setpgid(pid, pid);  // also here, so that a signal sent at once finds the group
    outWrite.reset();
    statusWrite.reset();
    input.reset();

    // The status pipe closes when exec succeeds; before that, the child writes its error.
    int error = 0;
    ssize_t n;
    do {
        n = ::read(statusRead.get(), &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof error)) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return Result::failuref(kChildExecFailedText, program, std::strerror(error));
    }

    auto run = std::make_shared<Run>();
    run->owner = this;
    run->loop = &loop;
    run->handlers = std::move(handlers);
    run->pid = pid;
    ::fcntl(outRead.get(), F_SETFL, ::fcntl(outRead.get(), F_GETFL) | O_NONBLOCK);
    run->output = std::move(outRead);
    Run* raw = run.get();
    run->outputWatch = loop.watch(run->output.get(), [raw] {
        const std::shared_ptr<Run> keep = raw->shared_from_this();
        raw->readOutput();
    });
    if (!run->outputWatch.active()) {
        // Unread, the child would block on a full pipe for ever.
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return Result::failuref(kChildForkFailedText, program, "the event loop refused its output");
    }
    run->pidfd.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (run->pidfd) {
        run->exitWatch = loop.watch(run->pidfd.get(), [raw] { raw->checkExit(); });
    }
    if (!run->exitWatch.active()) {
        // Kernels before 5.3 give no process descriptor: the exit is looked for instead.
        run->exitPoll = loop.startTimer(kExitPollMs, [raw] { raw->checkExit(); });
    }
    run_ = std::move(run);
    pid_ = pid;
    return {};
}

void ChildProcess::terminate(int signal) {
    if (pid_ > 0) {
        ::kill(-pid_, signal);
    }
}

}  // namespace korvimo
