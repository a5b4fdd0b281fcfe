#include "gui/program_options.h"

#include <cstdlib>

#include "app/command_line.h"

namespace korvimo::gui {

bool parseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options,
                         std::string& error) {
    app::CommandLineReader reader(
        args, {"--help", "--start"},
        {"--home", "--port", "--address", "--screenshot", "--screenshot-delay"});
    app::CommandLineOption option;
    while (reader.next(option)) {
        const std::string& name = option.name;
        const std::string& value = option.value;
        if (name == "--help") {
            options.help = true;
            continue;
        }
        if (name == "--start") {
            options.start = true;
            continue;
        }
        unsigned long number = 0;
        if (name == "--home") {
            if (value.empty()) {
                error = "--home needs a directory";
                return false;
            }
            options.home = value;
        } else if (name == "--port") {
            uint16_t port = 0;
            if (!app::readPortOption(value, port, error)) {
                return false;
            }
            options.port = port;
        } else if (name == "--address") {
            std::string address;
            if (!app::readAddressOption(value, address, error)) {
                return false;
            }
            options.address = address;
        } else if (name == "--screenshot") {
            if (value.empty()) {
                error = "--screenshot needs a file name";
                return false;
            }
            options.screenshot = value;
        } else {
            if (!app::readOptionNumber(value, 0, kMaxScreenshotDelayMs, number)) {
                error = "--screenshot-delay takes milliseconds from 0 to " +
                        std::to_string(kMaxScreenshotDelayMs) + ", not '" + value + "'";
                return false;
            }
            options.screenshotDelayMs = static_cast<unsigned>(number);
        }
    }
    error = reader.error();
    return error.empty();
}

void printProgramUsage(std::ostream& out) {
    out << "Usage: korvan [--home DIR] [OPTIONS]\n"
           "\n"
           "Korvimo, an SNMP agent simulator: the main window. Start serves the control\n"
           "file chosen in the window over SNMPv1/SNMPv2c until Stop.\n"
           "\n"
           "Options:\n"
           "  --home DIR               use the installation home DIR: run in DIR/bin\n"
           "                           (created when missing), so that korvan.ini is\n"
           "                           DIR/bin/korvan.ini and the installation directory\n"
           "                           \"..\" is DIR. Without it the program runs in the\n"
           "                           directory that holds it, the bin directory of its home.\n"
           "  --address ADDR           numeric address the agent listens on, instead of\n"
           "                           AGENTIP; not written to korvan.ini\n"
           "  --port N                 UDP port of the agent, instead of AGENTPORT (default\n"
           "                           161); not written to korvan.ini\n"
           "  --start                  press Start as soon as the window is up\n"
           "  --screenshot FILE        save an image of the window to FILE (PNG) after\n"
           "                           --screenshot-delay milliseconds (default 1000), then\n"
           "                           quit as Exit does\n"
           "  --help                   show this text\n"
           "  --version                show the program's version\n"
           "\n"
           "Qt's own options (-platform offscreen, -display ...) are accepted as well.\n"
           "\n"
           "Example:\n"
           "  korvan --home build/home --address 127.0.0.1 --port 1161\n";
}

}  // namespace korvimo::gui
