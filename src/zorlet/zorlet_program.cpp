#include "zorlet/zorlet_program.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "zorlet/compiler_output.h"
#include "zorlet/crlf_writer.h"
#include "zorlet/mib_info_builder.h"
#include "zorlet/run_report.h"

namespace korvimo::zorlet {

namespace {

constexpr const char kUsage[] = "zorlet: usage: zorlet input_filename output_filename\n";
constexpr const char kHelp[] =
    "usage: zorlet [--home DIR] input_filename output_filename [error_filename]\n"
    "\n"
    "Sorts the output of the MIB compiler kmx by object identifier, resolves descriptors and\n"
    "types, and writes mibinfo.out (output_filename). Error messages also go to\n"
    "error_filename when exactly three file names are given. The exit status is always 1.\n"
    "\n"
    "  --home DIR   the installation home; accepted like every program of the system takes\n"
    "               it. zorlet reads nothing from the home: file names are relative to the\n"
    "               current directory.\n"
    "  --help       this text\n"
    "  --version    the program's version\n";
constexpr const char kBanner[] =
    "zorlet: ver 1.2  Korvimo MIB information builder (compiler output to mibinfo.out)\n";
constexpr const char kSorting[] =
    "zorlet: Sorting object identifiers and resolving dependencies...\n";
constexpr const char kCannotOpenInput[] = "zorlet: Cannot open input file [%s] for reading\n";
constexpr const char kCannotOpenOutput[] = "zorlet: Cannot open output file [%s] for writing\n";
constexpr const char kCannotWriteOutput[] = "zorlet: Cannot write output file [%s]\n";
constexpr const char kCannotOpenError[] = "zorlet: Cannot open error file [%s] for writing\n";
constexpr const char kOutOfMemory[] =
    "zorlet:ERROR: out of memory. Try using the DOS Extender version.\n";
constexpr const char kErrorFileHeader[] =
    "#######################################\n"
    "#zorlet: Processing compiler output(s)\n"
    "#######################################\n";

constexpr int kExitStatus = 1;

// Progress on standard output; errors on standard error and in the error file.
class ConsoleReport : public RunReport {
  public:
    explicit ConsoleReport(CrLfWriter* errorFile) : errorFile_(errorFile) {}

    void progress(int padding, std::string_view text) override {
        line_.assign(static_cast<std::size_t>(padding), ' ');
        line_.push_back('\r');
        line_.append(text);
        std::fwrite(line_.data(), 1, line_.size(), stdout);
    }

    void error(std::string_view message) override {
        std::fflush(stdout);
        std::fwrite(message.data(), 1, message.size(), stderr);
        if (errorFile_ != nullptr) {
            errorFile_->write(message);
            errorFile_->flush();
        }
    }

  private:
    CrLfWriter* errorFile_;
    std::string line_;
};

void printConsoleError(const char* format, const std::string& name) {
    std::fflush(stdout);
    std::fprintf(stderr, format, name.c_str());
}

// Compiler output larger than this is no compiler output (a device that never ends, say).
constexpr std::size_t kLargestInput = std::size_t{1} << 30;

// Reads the whole file; false when it cannot be opened or read, when it is neither a regular
// file nor a pipe (a directory, a device), or when it is larger than kLargestInput.
bool readWholeFile(const std::string& path, std::string& bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode))) {
        ::close(fd);
        return false;
    }
    char block[1 << 16];
    bool read = true;
    try {
        for (;;) {
            ssize_t got = ::read(fd, block, sizeof block);
            if (got <= 0 || bytes.size() + static_cast<std::size_t>(got) > kLargestInput) {
                read = got == 0;
                break;
            }
            bytes.append(block, static_cast<std::size_t>(got));
        }
    } catch (const std::bad_alloc&) {
        read = false;
    }
    ::close(fd);
    return read;
}

// The name the output is written under: a temporary beside it, renamed over it at the end,
// unless the output exists and is no regular file (a device, a pipe), which is written as
// it is.
std::string writeName(const std::string& output) {
    struct stat info {};
    if (::stat(output.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return output;
    }
    std::string name = output;
    name.append(".new-");
    name.append(std::to_string(::getpid()));
    return name;
}

// The temporary output while it exists, for the stop signal handlers. A handler may only call
// async-signal-safe functions, so the path is copied here before the temporary is created and
// the handler does no more than unlink(2) it.
char gTemporaryPath[4096];
volatile std::sig_atomic_t gTemporaryArmed = 0;

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Removes the temporary, then ends the program as the signal would have without the handler:
// the default action is put back and the signal raised again (it is delivered when the
// handler returns, as the signal is blocked while its handler runs).
void removeTemporaryAndStop(int number) {
    if (gTemporaryArmed != 0) {
        ::unlink(gTemporaryPath);
    }
    struct sigaction restore {};
    restore.sa_handler = SIG_DFL;
    sigemptyset(&restore.sa_mask);
    ::sigaction(number, &restore, nullptr);
    ::raise(number);
}

// Keeps a stop of the program (SIGTERM to the process group when the user stops a
// compilation, Ctrl+C, a closed terminal) from leaving the temporary output behind. Made
// before the temporary is created; disarm() once it is renamed or removed. Signals that were
// ignored when zorlet started (nohup) stay ignored; the former handlers return at the end.
class TemporaryGuard {
  public:
    explicit TemporaryGuard(const std::string& path) {
        if (path.empty() || path.size() >= sizeof gTemporaryPath) {
            return;  // written in place, or too long a name to be opened at all
        }
        path.copy(gTemporaryPath, path.size());
        gTemporaryPath[path.size()] = '\0';
        gTemporaryArmed = 1;
        struct sigaction handler {};
        handler.sa_handler = removeTemporaryAndStop;
        sigemptyset(&handler.sa_mask);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            installed_[i] = ::sigaction(kStopSignals[i], nullptr, &previous_[i]) == 0 &&
                            previous_[i].sa_handler != SIG_IGN &&
                            ::sigaction(kStopSignals[i], &handler, nullptr) == 0;
        }
    }
    ~TemporaryGuard() { disarm(); }
    TemporaryGuard(const TemporaryGuard&) = delete;
    TemporaryGuard& operator=(const TemporaryGuard&) = delete;

    void disarm() {
        gTemporaryArmed = 0;
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            if (installed_[i]) {
                ::sigaction(kStopSignals[i], &previous_[i], nullptr);
                installed_[i] = false;
            }
        }
    }

  private:
    struct sigaction previous_[std::size(kStopSignals)]{};
    bool installed_[std::size(kStopSignals)] = {};
};

struct BuildOutcome {
    bool built = true;    // false when memory ran out half way
    bool written = true;  // false when a write to the output fell short
};

// Builds mibinfo.out from the compiler output (emptied on the way) into output.
BuildOutcome build(std::string& bytes, std::FILE* output, std::FILE* errors) {
    CrLfWriter out(output);
    CrLfWriter errorText(errors);
    if (errors != nullptr) {
        errorText.write(kErrorFileHeader);
        errorText.flush();
    }
    ConsoleReport report(errors != nullptr ? &errorText : nullptr);
    BuildOutcome outcome;
    try {
        CompilerOutput input(bytes);
        bytes = std::string();
        MibInfoBuilder builder(input);
        builder.build(out, report);
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fputs(kOutOfMemory, stderr);
        outcome.built = false;
    }
    out.flush();
    outcome.written = !out.failed();
    return outcome;
}

int run(const std::vector<std::string>& files) {
    // A file-size limit makes a write fail like a full disk, which the run handles, instead
    // of ending the program with the temporary left behind.
    ::signal(SIGXFSZ, SIG_IGN);
    std::fputs(kBanner, stdout);
    std::fputs(kSorting, stdout);

    std::string bytes;
    if (!readWholeFile(files[0], bytes)) {
        printConsoleError(kCannotOpenInput, files[0]);
        return kExitStatus;
    }
    // Other programs read mibinfo.out while zorlet runs (an agent starting, a file creation),
    // so the new file is written beside it and renamed over it at the end: a reader sees the
    // old file or the new one, never half of one. A run that fails half way (no memory, a
    // full disk, a stop signal) leaves the old file as it was and no temporary behind.
    const std::string writePath = writeName(files[1]);
    const bool replacing = writePath != files[1];
    TemporaryGuard guard(replacing ? writePath : std::string());
    std::FILE* output = std::fopen(writePath.c_str(), "wb");
    if (output == nullptr) {
        printConsoleError(kCannotOpenOutput, files[1]);
        return kExitStatus;
    }
    std::FILE* errors = nullptr;
    if (files.size() == 3) {
        errors = std::fopen(files[2].c_str(), "wb");
        if (errors == nullptr) {
            printConsoleError(kCannotOpenError, files[2]);
            std::fclose(output);
            if (replacing) {
                ::unlink(writePath.c_str());
            }
            return kExitStatus;
        }
    }
    const BuildOutcome outcome = build(bytes, output, errors);
    bool written = outcome.written && std::fflush(output) == 0 && std::ferror(output) == 0;
    written = std::fclose(output) == 0 && written;
    if (replacing) {
        if (!written) {
            printConsoleError(kCannotWriteOutput, files[1]);
            ::unlink(writePath.c_str());
        } else if (!outcome.built) {
            ::unlink(writePath.c_str());
        } else if (std::rename(writePath.c_str(), files[1].c_str()) != 0) {
            printConsoleError(kCannotOpenOutput, files[1]);
            ::unlink(writePath.c_str());
        }
        guard.disarm();
    }
    if (errors != nullptr) {
        std::fclose(errors);
    }
    return kExitStatus;
}

}  // namespace

int runZorlet(int argc, char** argv) {
    // Progress lines are many and short; a large buffer keeps the console cheap.
    static char consoleBuffer[1 << 16];
    std::setvbuf(stdout, consoleBuffer, _IOFBF, sizeof consoleBuffer);

    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kHelp, stdout);
        std::fflush(stdout);
        return 0;
    }
    if (args.size() >= 2 && args[0] == "--home") {
        // zorlet reads nothing from a home; the option is taken so that every program of
        // the system accepts it.
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::fputs("zorlet (Korvimo) " KORVIMO_VERSION "\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    if (args.size() < 2) {
        std::fputs(kUsage, stdout);
        std::fflush(stdout);
        return kExitStatus;
    }
    int status = run(args);
    std::fputs("\n", stdout);
    std::fflush(stdout);
    return status;
}

}  // namespace korvimo::zorlet
