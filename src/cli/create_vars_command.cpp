#include "cli/create_vars_command.h"

#include "app/command_line.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/main_status.h"
#include "app/create_variables.h"
#include "cli/status_output.h"
#include "create/variable_file_creation.h"

namespace korvimo::cli {

namespace {

// The rows text the dialog reads at most nine characters of.

}  // namespace

bool parseCreateVarsOptions(const std::vector<std::string>& args, CreateVarsOptions& options,
                            std::string& error) {
    app::CommandLineReader reader(args, {"--help", "--templates", "--no-templates"},
                                  {"--output", "--rows"});
    app::CommandLineOption option;
    while (reader.next(option)) {
        const std::string& name = option.name;
        if (name == "--help") {
            options.help = true;
        } else if (name == "--templates" || name == "--no-templates") {
            const bool templates = name == "--templates";
            if (options.templates && *options.templates != templates) {
                error = "--templates and --no-templates cannot go together";
                return false;
            }
            options.templates = templates;
        } else if (name == "--output") {
            if (option.value.empty()) {
                error = "--output needs a control file name";
                return false;
            }
            options.output = option.value;
        } else if (name == "--rows") {
            unsigned long rows = 0;
            if (!app::readOptionNumber(option.value, 0, static_cast<unsigned long>(create::kMaxRows), rows)) {
                error = "--rows needs a number of rows from 0 to 999999999";
                return false;
            }
            options.rows = std::to_string(rows);
        }
    }
    if (error = reader.error(); !error.empty()) {
        return false;
    }
    if (options.help) {
        return true;
    }
    if (options.output.empty()) {
        error = "--output is needed: the control file to write";
        return false;
    }
    return true;
}

void printCreateVarsUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] create-vars --output FILE [--rows N]\n"
           "           [--templates | --no-templates]\n"
           "\n"
           "Writes an agent control file from the compiled MIBs (mibs/mibinfo.out) as the\n"
           "Create Variables from MIB dialog does: a variable for every scalar object and N\n"
           "rows for every column of a table, each with a value behaviour chosen from its\n"
           "syntax, access and range. Every status line is printed as it is appended; the\n"
           "object in progress, which the dialog shows in place, is not.\n"
           "\n"
           "Options:\n"
           "  --output FILE    the control file: a name in <home>/agent/ (or an absolute\n"
           "                   path); .ctl is appended unless it ends in .ctl or .CTL\n"
           "  --rows N         rows per table (default: the most recent NUMROWS of\n"
           "                   korvan.ini); 0 writes the tables' comment lines only\n"
           "  --templates      first write commented-out dynamic row templates, one per\n"
           "                   table with a writable column\n"
           "  --no-templates   leave them out\n"
           "                   (default for both: DYNTEMPLATE of korvan.ini)\n"
           "  --help           show this text\n"
           "\n"
           "Exit status: 0 when the creation completed, 1 when it could not start or the file\n"
           "could not be written, 2 on a usage error.\n"
           "\n"
           "Example:\n"
           "  korvan-cli --home build/home create-vars --output ifmib --rows 4\n"
           "  korvan-cli --home build/home agent --file ifmib.ctl\n";
}

int runCreateVars(const CreateVarsOptions& options, std::ostream& out) {
    Configuration config(kConfigFileName);
    config.ensureFile();  // a new home gets its defaults, as at the window's start
    EpollEventLoop loop(SystemClock::instance());
    app::HomeMibInfo mibInfo;
    Busy busy = Busy::Idle;
    app::CreateVariables create({config, loop, mibInfo, busy});
    // The appended lines as they come: the start and the end, one for each table whose index
    // object has no object line, and the objects written as comments (at most
    // create::kMendLineLimit of them, then a count). The object in progress, which replaces
    // a line in the dialog, is not printed.
    printAppendedLines(create.status(), out);

    create.dialogStart();
    create.form().file = options.output;
    if (options.rows) {
        create.form().rows = *options.rows;
    }
    if (options.templates) {
        create.form().templates = *options.templates;
    }
    const bool started = create.start();
    if (started) {
        create.runToEnd();
    }
    create.close();
    return started && create.completed() ? 0 : 1;
}

}  // namespace korvimo::cli
