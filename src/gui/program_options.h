// ProgramOptions: the command line of the desktop program `korvan`, after Qt has taken its
// own options (-platform, -display, ...).
//
//   korvan [--home DIR] [--address ADDR] [--port N] [--start] [--screenshot FILE]
//
//   ProgramOptions options;
//   std::string error;
//   if (!parseProgramOptions(args, options, error)) { std::cerr << error; return 2; }
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korvimo::gui {

inline constexpr unsigned kDefaultScreenshotDelayMs = 1000;
inline constexpr unsigned kMaxScreenshotDelayMs = 600000;

struct ProgramOptions {
    std::string home;                    // empty: the home of the program's own bin
    std::optional<uint16_t> port;        // instead of AGENTPORT, not written to korvan.ini
    std::optional<std::string> address;  // instead of AGENTIP, not written to korvan.ini
    bool start = false;                  // press "Start" once the window is up
    std::string screenshot;              // save the window as an image, then quit
    unsigned screenshotDelayMs = kDefaultScreenshotDelayMs;
    bool help = false;
};

// Reads the arguments (without the program name); false with a one-line reason on a usage
// error. Both "--name value" and "--name=value" are accepted.
bool parseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options,
                         std::string& error);

void printProgramUsage(std::ostream& out);

}  // namespace korvimo::gui
