#include "cli/compile_command.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "app/command_line.h"
#include "app/compile_mibs.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/main_status.h"
#include "app/home.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "cli/agent_command.h"
#include "cli/status_output.h"

namespace korvimo::cli {

namespace {

// How long one turn of the loop waits at most; the batch's lines wake it at once.
constexpr int kLoopTurnMs = 100;

// The entry a FILE names: an entry of the list as written, else the file a path names, a
// relative one taken from the start directory. Empty when it names neither.
std::string entryOf(const app::CompileMibs& compile, const std::string& file,
                    const std::string& startDirectory) {
    const std::vector<std::string>& mibs = compile.mibs();
    if (std::find(mibs.begin(), mibs.end(), file) != mibs.end() || file.starts_with('/') ||
        startDirectory.empty()) {
        return compile.entryFor(file);
    }
    std::string fromStart = startDirectory;
    fromStart.append("/").append(file);
    return compile.entryFor(fromStart);
}

}  // namespace

bool parseCompileOptions(const std::vector<std::string>& args, CompileOptions& options,
                         std::string& error) {
    // Words that are not options are FILEs; after "--" every word is one.
    std::vector<std::string> flags;
    bool filesOnly = false;
    for (const std::string& arg : args) {
        if (!filesOnly && arg == "--") {
            filesOnly = true;
        } else if (filesOnly || !arg.starts_with('-') || arg == "-") {
            options.files.push_back(arg);
        } else {
            flags.push_back(arg);
        }
    }
    app::CommandLineReader reader(flags, {"--help", "--all", "--list"}, {});
    app::CommandLineOption option;
    while (reader.next(option)) {
        if (option.name == "--help") {
            options.help = true;
        } else if (option.name == "--all") {
            options.all = true;
        } else if (option.name == "--list") {
            options.list = true;
        }
    }
    if (error = reader.error(); !error.empty()) {
        return false;
    }
    if (options.help) {
        return true;
    }
    if (options.list && (options.all || !options.files.empty())) {
        error = "--list goes alone: it only prints the MIB list";
        return false;
    }
    if (options.all && !options.files.empty()) {
        error = "--all and FILE cannot go together";
        return false;
    }
    if (!options.list && !options.all && options.files.empty()) {
        error = "nothing to compile: name MIB files, or give --all or --list";
        return false;
    }
    return true;
}

void printCompileUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] compile --all\n"
           "       korvan-cli [--home DIR] compile FILE...\n"
           "       korvan-cli [--home DIR] compile --list\n"
           "\n"
           "Compiles MIB files into the home's mibs/mibinfo.out as the Compile MIBs dialog\n"
           "does: kmx compiles each file (a file holding several modules is cut into one\n"
           "piece per module first, unless SPLITMIBFILES=NO), then zorlet joins them into a\n"
           "new mibinfo.out, which replaces the old one only when it is complete and holds\n"
           "objects. kmx finds imported modules in the home's mibs directory and MIBDIRLIST\n"
           "directories, among others. The MIB list holds the files of the home's mibs\n"
           "directory and of the MIBDIRLIST directories of korvan.ini whose names end in\n"
           "MIBEXTENSION (default: mib) or an extension of MIBEXTLIST. Every status line is\n"
           "printed as it is appended; the compiler's messages go to mibs/miberrs.out.\n"
           "SIGINT (Ctrl-C) or SIGTERM stops the batch. When the batch fails, is stopped\n"
           "before zorlet has written mibinfo.out, or compiles no object, mibinfo.out and\n"
           "miblist.lst stay as they were. One\n"
           "compilation runs at a time in a home: while another (a korvan-cli or the\n"
           "window) runs, the command changes nothing and exits 1.\n"
           "\n"
           "Options:\n"
           "  --all     compile every file of the MIB list\n"
           "  --list    print the MIB list, one entry a line, and exit\n"
           "  FILE      an entry of the list as --list prints it, or the path of a MIB file\n"
           "            (absolute, or relative to the current directory)\n"
           "  --help    show this text\n"
           "\n"
           "It writes into <home>/mibs: mibinfo.out (the compiled objects), miblist.lst (the\n"
           "files compiled), miberrs.out (the compilers' messages) and mibcom.sh (the batch).\n"
           "\n"
           "Exit status: 0 when the batch wrote a new mibinfo.out with objects (or --list\n"
           "listed; also when a stop came after that), 1 when it could not start (another\n"
           "compilation running in the home is one reason), failed, compiled no object or was\n"
           "stopped before, 2 on a usage error (a\n"
           "FILE that is neither in the list nor a file is one).\n"
           "\n"
           "Example:\n"
           "  korvan-cli --home ~/korvimo compile /usr/share/snmp/mibs/IF-MIB.txt\n"
           "  korvan-cli --home ~/korvimo create-vars --output ifmib --rows 4\n";
}

int runCompile(const CompileOptions& options, std::ostream& out, std::ostream& err) {
    std::string failure;
    const std::string programs = app::programDirectory(failure);
    if (programs.empty()) {
        err << "korvan-cli: " << failure << "\n";
        return 1;
    }
    Configuration config(kConfigFileName);
    config.ensureFile();  // a new home gets its defaults, as at the window's start
    EpollEventLoop loop(SystemClock::instance());
    Busy busy = Busy::Idle;
    app::CompileMibs compile({config, loop, busy, programs});
    compile.dialogStart();
    if (options.list) {
        for (const std::string& entry : compile.mibs()) {
            out << entry << "\n";
        }
        out.flush();
        return 0;
    }

    std::vector<std::string> selected;
    if (options.all) {
        selected = compile.mibs();
    }
    for (const std::string& file : options.files) {
        std::string entry = entryOf(compile, file, options.startDirectory);
        if (entry.empty()) {
            err << "korvan-cli compile: " << formatText(kNoSuchMibFileFormat, file.c_str())
                << "\nTry 'korvan-cli compile --list' for the MIB list.\n";
            return 2;
        }
        selected.push_back(std::move(entry));
    }

    // The signals arrive through a descriptor the loop watches, so a stop ends the batch as
    // the dialog's Stop does. They are blocked before the batch starts, so none is lost.
    const UniqueFd signalFd = openSignalDescriptor();
    if (!signalFd) {
        return 1;
    }

    // From here on: the lines of miblist.lst that dialog start showed are not printed.
    printAppendedLines(compile.status(), out);
    bool finished = false;
    compile.onFinished = [&finished] { finished = true; };
    if (!compile.compile(selected)) {
        compile.close();
        return 1;
    }
    Watch stopSignals = loop.watch(signalFd.get(), [&] {
        if (readStopSignals(signalFd.get())) {
            compile.stop();
        }
    });
    while (!finished) {
        loop.runOnce(kLoopTurnMs);
    }
    stopSignals.reset();
    compile.onFinished = nullptr;
    compile.close();
    return compile.completed() ? 0 : 1;
}

}  // namespace korvimo::cli
