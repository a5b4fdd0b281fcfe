#include "kmx/kmx_program.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "kmx/mib_compilation.h"
#include "kmx/search_path.h"

namespace korvimo::kmx {

namespace {

constexpr const char kUsage[] =
    "usage: kmx [--home DIR] -o OUTFILE -e ERRFILE MIBFILE\n"
    "\n"
    "Compiles the MIB modules of MIBFILE (with libsmi) into the line format that zorlet\n"
    "reads, written to OUTFILE; messages go to ERRFILE. Both are made in the current\n"
    "directory unless given with a path.\n"
    "\n"
    "Imported modules are looked up in: the directories of KORVIMO_MIBPATH (colon-separated),\n"
    "the MIB file's directory, the current directory, the home's mibs directory, the\n"
    "MIBDIRLIST directories of the home's bin/korvan.ini, the directories of $MIBDIRS,\n"
    "~/.snmp/mibs, /usr/share/snmp/mibs (with its iana and ietf folders), /usr/share/mibs\n"
    "(site, iana, ietf, netsnmp), then libsmi's own path (SMIPATH).\n"
    "\n"
    "  --home DIR   the installation home whose korvan.ini and mibs directory are searched\n"
    "               (default: the directory above the one holding kmx). It does not change\n"
    "               where OUTFILE, ERRFILE and MIBFILE are.\n"
    "  --help       this text\n"
    "  --version    the program's version\n";
constexpr const char kCannotCreate[] = "kmx: cannot create [%s]: %s\n";
constexpr const char kParserStopped[] =
    "kmx: the MIB parser stopped abnormally on [%s] (%s); nothing was compiled from it\r\n";
constexpr const char kOverrideVariable[] = "KORVIMO_MIBPATH";
constexpr const char kMibDirsVariable[] = "MIBDIRS";
// A parser that has not finished a single file in this time is taken as stuck.
constexpr unsigned kParserSeconds = 300;

// Outcomes of a compilation, also the exit codes of the compiling child.
constexpr int kCompiled = 0;
constexpr int kNotWritten = 1;
constexpr int kNothingCompiled = 3;

struct Options {
    std::string home;
    std::string output;
    std::string errors;
    std::string mibFile;
};

bool parse(int argc, char** argv, Options& options, bool& help, bool& version) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc) {
                return false;
            }
            target = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        }
        if (arg == "--version") {
            version = true;
            return true;
        }
        if (arg == "--home") {
            if (!value(options.home)) {
                return false;
            }
        } else if (arg == "-o") {
            if (!value(options.output)) {
                return false;
            }
        } else if (arg == "-e") {
            if (!value(options.errors)) {
                return false;
            }
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return false;
        } else if (options.mibFile.empty()) {
            options.mibFile = arg;
        } else {
            return false;
        }
    }
    return !options.output.empty() && !options.errors.empty() && !options.mibFile.empty();
}

std::string homeBin(const std::string& home) {
    if (!home.empty()) {
        return home + "/bin";
    }
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

bool writeFile(const std::string& path, const std::string& text, const char* mode) {
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (file == nullptr) {
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

// Compiles the MIB file and appends what it gives to both files.
int compileAndWrite(const Options& options, const SearchInputs& inputs) {
    CompileResult result = compileMibFile(options.mibFile, inputs);
    bool written = writeFile(options.output, result.output, "ab") &&
                   writeFile(options.errors, result.messages, "ab");
    return !written ? kNotWritten : result.modules > 0 ? kCompiled : kNothingCompiled;
}

// Runs in the child: compiles, then ends without running exit handlers (libsmi's state is
// simply dropped with the process).
[[noreturn]] void compileInChild(const Options& options, const SearchInputs& inputs) {
    ::alarm(kParserSeconds);
    int outcome = compileAndWrite(options, inputs);
    std::fflush(nullptr);
    ::_exit(outcome);
}

}  // namespace

int runKmx(int argc, char** argv) {
    Options options;
    bool help = false;
    bool version = false;
    if (!parse(argc, argv, options, help, version)) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    if (version) {
        std::fputs("kmx (Korvimo) " KORVIMO_VERSION "\n", stdout);
        return 0;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    for (const std::string* path : {&options.output, &options.errors}) {
        if (!writeFile(*path, {}, "wb")) {
            std::fprintf(stderr, kCannotCreate, path->c_str(), std::strerror(errno));
            return 1;
        }
    }
    SearchInputs inputs;
    inputs.mibFile = options.mibFile;
    inputs.homeBin = homeBin(options.home);
    if (const char* override = std::getenv(kOverrideVariable)) {
        inputs.overridePath = override;
    }
    if (const char* mibDirs = std::getenv(kMibDirsVariable)) {
        inputs.mibDirsPath = mibDirs;
    }
    inputs.systemDirectories = systemMibDirectories(std::getenv("HOME"));

    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        compileInChild(options, inputs);
    }
    int status = 0;
    if (child < 0) {
        // Without a child the compilation runs here; a broken file is then less contained.
        return compileAndWrite(options, inputs) == kCompiled ? 0 : 1;
    }
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCompiled) {
        return 0;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNothingCompiled) {
        return 1;
    }
    // The parser died or gave up in an unexpected way: keep no half-written output.
    std::string reason = WIFSIGNALED(status)
                             ? std::string("signal ") + std::to_string(WTERMSIG(status))
                             : std::string("exit status ") + std::to_string(WEXITSTATUS(status));
    std::vector<char> text(options.mibFile.size() + reason.size() + 128);
    std::snprintf(text.data(), text.size(), kParserStopped, options.mibFile.c_str(),
                  reason.c_str());
    writeFile(options.output, {}, "wb");
    writeFile(options.errors, text.data(), "ab");
    return 1;
}

}  // namespace korvimo::kmx
