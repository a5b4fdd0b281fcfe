// korvan-cli: the headless front end of Korvimo.
//
//   korvan-cli [--home DIR] COMMAND
//
// Every command runs with the home's bin directory as its working directory (see home.h).
// A command is one entry of the table below: a name, a line of help and a function.

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/home.h"
#include "cli/settings_command.h"

namespace {

struct Command {
    const char* name;
    const char* help;
    int (*run)(const std::vector<std::string>& args);
};

const Command kCommands[] = {
    {"settings", "show the start-up settings that korvan.ini gives on this home",
     [](const std::vector<std::string>&) { return korvimo::cli::runSettings(std::cout); }},
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
           "\n"
           "Commands:\n";
    for (const Command& command : kCommands) {
        out << "  " << command.name << std::string(12 - std::strlen(command.name), ' ')
            << command.help << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string home;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(std::cout);
            return 0;
        }
        if (arg == "--home") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::cerr << "korvan-cli: --home needs a directory\n";
                return 2;
            }
            home = argv[++i];
        } else if (arg.rfind("--home=", 0) == 0 && arg.size() > 7) {
            home = arg.substr(7);
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

    // A relative home is taken from where the program was started, before moving.
    std::string failure;
    if (!korvimo::cli::enterHome(home, failure)) {
        std::cerr << "korvan-cli: " << failure << "\n";
        return 1;
    }
    args.erase(args.begin());
    return chosen->run(args);
}
