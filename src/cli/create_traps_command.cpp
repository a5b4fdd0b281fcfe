#include "cli/create_traps_command.h"

#include "app/command_line.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/main_status.h"
#include "app/create_traps.h"
#include "cli/status_output.h"

namespace korvimo::cli {

bool parseCreateTrapsOptions(const std::vector<std::string>& args, CreateTrapsOptions& options,
                             std::string& error) {
    app::CommandLineReader reader(args, {"--help", "--standard-traps", "--no-standard-traps"},
                                  {"--output", "--enterprise"});
    app::CommandLineOption option;
    while (reader.next(option)) {
        const std::string& name = option.name;
        if (name == "--help") {
            options.help = true;
        } else if (name == "--standard-traps" || name == "--no-standard-traps") {
            const bool include = name == "--standard-traps";
            if (options.standardTraps && *options.standardTraps != include) {
                error = "--standard-traps and --no-standard-traps cannot go together";
                return false;
            }
            options.standardTraps = include;
        } else if (name == "--output") {
            if (option.value.empty()) {
                error = "--output needs a trap file name";
                return false;
            }
            options.output = option.value;
        } else if (name == "--enterprise") {
            options.enterprise = option.value;
        }
    }
    if (error = reader.error(); !error.empty()) {
        return false;
    }
    if (options.help) {
        return true;
    }
    if (options.output.empty()) {
        error = "--output is needed: the trap file to write";
        return false;
    }
    if (options.enterprise && options.standardTraps == false) {
        error =
            "--enterprise names the standard traps' enterprise: it cannot go with "
            "--no-standard-traps";
        return false;
    }
    return true;
}

void printCreateTrapsUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] create-traps --output FILE\n"
           "           [--standard-traps [--enterprise OID] | --no-standard-traps]\n"
           "\n"
           "Writes a trap file from the trap records of the compiled MIBs (mibs/mibinfo.out)\n"
           "as the Create Trap File from MIB dialog does: a trap definition line for every\n"
           "trap and notification, a variable line with an initial value for every object it\n"
           "carries. Every status line is printed as it is appended; the trap in progress,\n"
           "which the dialog shows in place, is not.\n"
           "\n"
           "Options:\n"
           "  --output FILE         the trap file: a name in <home>/agent/ (or an absolute\n"
           "                        path); .trp is appended unless it ends in .trp or .TRP\n"
           "  --standard-traps      put the six standard traps first\n"
           "  --enterprise OID      their enterprise id (default: the most recent TRAPENTID,\n"
           "                        else 1.3.6.1.2.1.11); implies --standard-traps\n"
           "  --no-standard-traps   leave them out\n"
           "                        (default for both: USESTDTRAPS of korvan.ini)\n"
           "  --help                show this text\n"
           "\n"
           "Exit status: 0 when the creation completed, 1 when it could not start or the file\n"
           "could not be written, 2 on a usage error.\n"
           "\n"
           "Example:\n"
           "  korvan-cli --home build/home create-traps --output mytraps --standard-traps\n";
}

int runCreateTraps(const CreateTrapsOptions& options, std::ostream& out) {
    Configuration config(kConfigFileName);
    config.ensureFile();  // a new home gets its defaults, as at the window's start
    EpollEventLoop loop(SystemClock::instance());
    app::HomeMibInfo mibInfo;
    Busy busy = Busy::Idle;
    app::CreateTraps create({config, loop, mibInfo, busy});
    // The appended lines as they come: the start, the traps that cannot be written and the
    // end. The trap in progress, which replaces a line in the dialog, is not printed.
    printAppendedLines(create.status(), out);

    create.dialogStart();
    create.form().trapFile = options.output;
    if (options.standardTraps) {
        create.form().includeStandardTraps = *options.standardTraps;
    } else if (options.enterprise) {
        create.form().includeStandardTraps = true;  // an enterprise id asks for the traps
    }
    if (create.form().includeStandardTraps) {
        create.form().enterprise =
            options.enterprise ? *options.enterprise : config.readHistoryHead(ConfigKey::TRAPENTID);
    }
    const bool started = create.start();
    if (started) {
        create.runToEnd();
    }
    create.close();
    return started && create.completed() ? 0 : 1;
}

}  // namespace korvimo::cli
