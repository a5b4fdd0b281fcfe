#include "gui/program_options.h"

#include <cstdlib>

namespace korvimo::gui {

namespace {

bool readNumber(const std::string& text, unsigned long low, unsigned long high,
                unsigned long& number) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    number = std::strtoul(text.c_str(), nullptr, 10);
    return number >= low && number <= high;
}

}  // namespace

bool parseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options,
                         std::string& error) {
    static const char* const kValued[] = {"--home", "--port", "--address", "--screenshot",
                                          "--screenshot-delay"};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--start") {
            options.start = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        const std::size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        bool valued = false;
        for (const char* known : kValued) {
            valued = valued || name == known;
        }
        if (!valued) {
            error = arg.rfind("-", 0) == 0 ? "unknown option '" + arg + "'"
                                           : "unexpected argument '" + arg + "'";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }

        unsigned long number = 0;
        if (name == "--home") {
            if (value.empty()) {
                error = "--home needs a directory";
                return false;
            }
            options.home = value;
        } else if (name == "--port") {
            if (!readNumber(value, 1, 65535, number)) {
                error = "--port takes a UDP port from 1 to 65535, not '" + value + "'";
                return false;
            }
            options.port = static_cast<uint16_t>(number);
        } else if (name == "--address") {
            if (value.empty()) {
                error = "--address needs a numeric IP address";
                return false;
            }
            options.address = value;
        } else if (name == "--screenshot") {
            if (value.empty()) {
                error = "--screenshot needs a file name";
                return false;
            }
            options.screenshot = value;
        } else {
            if (!readNumber(value, 0, kMaxScreenshotDelayMs, number)) {
                error = "--screenshot-delay takes milliseconds from 0 to " +
                        std::to_string(kMaxScreenshotDelayMs) + ", not '" + value + "'";
                return false;
            }
            options.screenshotDelayMs = static_cast<unsigned>(number);
        }
    }
    return true;
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
           "\n"
           "Qt's own options (-platform offscreen, -display ...) are accepted as well.\n"
           "\n"
           "Example:\n"
           "  korvan --home build/home --address 127.0.0.1 --port 1161\n";
}

}  // namespace korvimo::gui
