// korvan-cli: the headless front end of Korvimo.
//
//   korvan-cli [--home DIR] COMMAND
//
// Every command runs with the home's bin directory as its working directory (see app/home.h).
// A command is one entry of the table below: a name, a line of help, an optional check of
// its arguments that runs before anything is touched (it prints the command's own help or a
// usage error), and the function that runs it. Options before the command are the
// program's; everything after it belongs to the command.

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/home.h"
#include "cli/agent_command.h"
#include "cli/compile_command.h"
#include "cli/create_traps_command.h"
#include "cli/create_vars_command.h"
#include "cli/fleet_command.h"
#include "cli/learn_command.h"
#include "cli/settings_command.h"
#include "cli/traps_command.h"

namespace {

// What a command's argument check decided.
constexpr int kRunCommand = -1;

struct Command {
    const char* name;
    const char* help;
    // kRunCommand, or the exit status to end with at once (help shown, usage error).
    int (*check)(const std::vector<std::string>& args);
    int (*run)(const std::vector<std::string>& args);
};

void printUsage(std::ostream& out);

// The directory the program was started in, before it moved to its home's bin.
std::string gStartDirectory;

int checkNoArguments(const std::vector<std::string>& args) {
    if (!args.empty() && (args.front() == "--help" || args.front() == "-h")) {
        printUsage(std::cout);
        return 0;
    }
    if (!args.empty()) {
        std::cerr << "korvan-cli: unexpected argument '" << args.front() << "'\n";
        return 2;
    }
    return kRunCommand;
}

int checkAgent(const std::vector<std::string>& args) {
    korvimo::cli::AgentOptions options;
    std::string error;
    if (!korvimo::cli::parseAgentOptions(args, options, error)) {
        std::cerr << "korvan-cli agent: " << error << "\n"
                  << "Try 'korvan-cli agent --help' for more information.\n";
        return 2;
    }
    if (options.help) {
        korvimo::cli::printAgentUsage(std::cout);
        return 0;
    }
    return kRunCommand;
}

int runAgent(const std::vector<std::string>& args) {
    korvimo::cli::AgentOptions options;
    std::string error;
    korvimo::cli::parseAgentOptions(args, options, error);  // checked before
    options.startDirectory = gStartDirectory;
    return korvimo::cli::runAgent(options, std::cout);
}

int checkTraps(const std::vector<std::string>& args) {
    korvimo::cli::TrapsOptions options;
    std::string error;
    if (!korvimo::cli::parseTrapsOptions(args, options, error)) {
        std::cerr << "korvan-cli traps: " << error << "\n"
                  << "Try 'korvan-cli traps --help' for more information.\n";
        return 2;
    }
    if (options.help) {
        korvimo::cli::printTrapsUsage(std::cout);
        return 0;
    }
    return kRunCommand;
}

int runTraps(const std::vector<std::string>& args) {
    korvimo::cli::TrapsOptions options;
    std::string error;
    korvimo::cli::parseTrapsOptions(args, options, error);  // checked before
    options.startDirectory = gStartDirectory;
    return korvimo::cli::runTraps(options, std::cout);
}

int checkCreateTraps(const std::vector<std::string>& args) {
    korvimo::cli::CreateTrapsOptions options;
    std::string error;
    if (!korvimo::cli::parseCreateTrapsOptions(args, options, error)) {
        std::cerr << "korvan-cli create-traps: " << error << "\n"
                  << "Try 'korvan-cli create-traps --help' for more information.\n";
        return 2;
    }
    if (options.help) {
        korvimo::cli::printCreateTrapsUsage(std::cout);
        return 0;
    }
    return kRunCommand;
}

int runCreateTraps(const std::vector<std::string>& args) {
    korvimo::cli::CreateTrapsOptions options;
    std::string error;
    korvimo::cli::parseCreateTrapsOptions(args, options, error);  // checked before
    return korvimo::cli::runCreateTraps(options, std::cout);
}

int checkCreateVars(const std::vector<std::string>& args) {
    korvimo::cli::CreateVarsOptions options;
    std::string error;
    if (!korvimo::cli::parseCreateVarsOptions(args, options, error)) {
        std::cerr << "korvan-cli create-vars: " << error << "\n"
                  << "Try 'korvan-cli create-vars --help' for more information.\n";
        return 2;
    }
    if (options.help) {
        korvimo::cli::printCreateVarsUsage(std::cout);
        return 0;
    }
    return kRunCommand;
}

int runCreateVars(const std::vector<std::string>& args) {
    korvimo::cli::CreateVarsOptions options;
    std::string error;
    korvimo::cli::parseCreateVarsOptions(args, options, error);  // checked before
    return korvimo::cli::runCreateVars(options, std::cout);
}

int checkCompile(const std::vector<std::string>& args) {
    korvimo::cli::CompileOptions options;
    std::string error;
    if (!korvimo::cli::parseCompileOptions(args, options, error)) {
        std::cerr << "korvan-cli compile: " << error << "\n"
                  << "Try 'korvan-cli compile --help' for more information.\n";
        return 2;
    }
    if (options.help) {
        korvimo::cli::printCompileUsage(std::cout);
        return 0;
    }
    return kRunCommand;
}

int runCompile(const std::vector<std::string>& args) {
    korvimo::cli::CompileOptions options;
    std::string error;
    korvimo::cli::parseCompileOptions(args, options, error);  // checked before
    options.startDirectory = gStartDirectory;
    return korvimo::cli::runCompile(options, std::cout, std::cerr);
}

int checkLearn(const std::vector<std::string>& args) {
    korvimo::cli::LearnOptions options;
    std::string error;
    if (!korvimo::cli::parseLearnOptions(args, options, error)) {
        std::cerr << "korvan-cli learn: " << error << "\n"
                  << "Try 'korvan-cli learn --help' for more information.\n";
        return 2;
    }
    if (options.help) {
        korvimo::cli::printLearnUsage(std::cout);
        return 0;
    }
    return kRunCommand;
}

int runLearn(const std::vector<std::string>& args) {
    korvimo::cli::LearnOptions options;
    std::string error;
    korvimo::cli::parseLearnOptions(args, options, error);  // checked before
    return korvimo::cli::runLearn(options, std::cout, std::cerr);
}

int checkImport(const std::vector<std::string>& args) {
    korvimo::cli::ImportOptions options;
    std::string error;
    if (!korvimo::cli::parseImportOptions(args, options, error)) {
        std::cerr << "korvan-cli import: " << error << "\n"
                  << "Try 'korvan-cli import --help' for more information.\n";
        return 2;
    }
    if (options.help) {
        korvimo::cli::printImportUsage(std::cout);
        return 0;
    }
    return kRunCommand;
}

int runImport(const std::vector<std::string>& args) {
    korvimo::cli::ImportOptions options;
    std::string error;
    korvimo::cli::parseImportOptions(args, options, error);  // checked before
    options.startDirectory = gStartDirectory;
    return korvimo::cli::runImport(options, std::cout);
}

int checkFleet(const std::vector<std::string>& args) {
    korvimo::cli::FleetOptions options;
    std::string error;
    if (!korvimo::cli::parseFleetOptions(args, options, error)) {
        std::cerr << "korvan-cli fleet: " << error << "\n"
                  << "Try 'korvan-cli fleet --help' for more information.\n";
        return 2;
    }
    if (options.help) {
        korvimo::cli::printFleetUsage(std::cout);
        return 0;
    }
    return kRunCommand;
}

int runFleet(const std::vector<std::string>& args) {
    korvimo::cli::FleetOptions options;
    std::string error;
    korvimo::cli::parseFleetOptions(args, options, error);  // checked before
    options.agent.startDirectory = gStartDirectory;
    return korvimo::cli::runFleet(options, std::cout);
}

const Command kCommands[] = {
    {"settings", "show the start-up settings that korvan.ini gives on this home", checkNoArguments,
     [](const std::vector<std::string>&) { return korvimo::cli::runSettings(std::cout); }},
    {"agent", "run the simulated SNMP agent until SIGINT or SIGTERM (see agent --help)", checkAgent,
     runAgent},
    {"fleet", "serve many simulated devices from one process (see fleet --help)", checkFleet,
     runFleet},
    {"traps", "send traps of a trap file to a manager (see traps --help)", checkTraps, runTraps},
    {"compile", "compile MIB files into mibs/mibinfo.out (see compile --help)", checkCompile,
     runCompile},
    {"create-traps", "write a trap file from the compiled MIBs (see create-traps --help)",
     checkCreateTraps, runCreateTraps},
    {"create-vars", "write a control file from the compiled MIBs (see create-vars --help)",
     checkCreateVars, runCreateVars},
    {"learn", "capture a real SNMP agent into a control file (see learn --help)", checkLearn,
     runLearn},
    {"import", "write a control file from a recorded walk (see import --help)", checkImport,
     runImport},
};

void printUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] COMMAND\n"
           "\n"
           "Korvimo, an SNMP agent simulator, without its window.\n"
           "\n"
           "Options:\n"
           "  --home DIR  use the installation home DIR: run in DIR/bin (created when\n"
           "              missing), so that korvan.ini is DIR/bin/korvan.ini and the\n"
           "              installation directory \"..\" is DIR. Without it the program runs\n"
           "              in the directory that holds it, the bin directory of its home.\n"
           "  --help      show this text\n"
           "  --version   show the program's version\n"
           "\n"
           "Commands:\n";
    for (const Command& command : kCommands) {
        out << "  " << command.name << std::string(14 - std::strlen(command.name), ' ')
            << command.help << "\n";
    }
    out << "\n"
           "Run 'korvan-cli COMMAND --help' for a command's own options.\n";
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (korvan-cli agent | head) makes writes fail, not the program end.
    ::signal(SIGPIPE, SIG_IGN);
    std::string home;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--home") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::cerr << "korvan-cli: --home needs a directory\n";
                return 2;
            }
            home = argv[++i];
        } else if (arg.rfind("--home=", 0) == 0 && arg.size() > 7) {
            home = arg.substr(7);
        } else if (!args.empty()) {
            args.push_back(arg);  // the command's own (--home may stand anywhere)
        } else if (arg == "--help" || arg == "-h") {
            printUsage(std::cout);
            return 0;
        } else if (arg == "--version") {
            std::cout << "korvan-cli (Korvimo) " KORVIMO_VERSION "\n";
            return 0;
        } else if (arg.rfind("-", 0) == 0) {
            std::cerr << "korvan-cli: unknown option '" << arg << "'\n";
            printUsage(std::cerr);
            return 2;
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) {
        printUsage(std::cerr);
        return 2;
    }
    const Command* chosen = nullptr;
    for (const Command& command : kCommands) {
        if (args.front() == command.name) {
            chosen = &command;
        }
    }
    if (chosen == nullptr) {
        std::cerr << "korvan-cli: unknown command '" << args.front() << "'\n";
        printUsage(std::cerr);
        return 2;
    }
    if (chosen->run == runAgent || chosen->run == runFleet || chosen->run == runTraps ||
        chosen->run == runLearn) {
        sigset_t signals;
        korvimo::cli::blockAgentSignals(signals);  // before anything can take a while
    }

    args.erase(args.begin());
    if (chosen->check != nullptr) {
        const int status = chosen->check(args);
        if (status != kRunCommand) {
            return status;
        }
    }

    // A relative home is taken from where the program was started, before moving.
    char started[PATH_MAX];
    if (::getcwd(started, sizeof started) != nullptr) {
        gStartDirectory = started;
    }
    std::string failure;
    if (!korvimo::app::enterHome(home, failure)) {
        std::cerr << "korvan-cli: " << failure << "\n";
        return 1;
    }
    return chosen->run(args);
}
