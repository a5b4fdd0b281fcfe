// `korvan-cli create-traps`: the Create Trap File from MIB dialog without a window. It writes
// a trap file in <home>/agent/ from the trap records of the home's mibinfo.out, the steps back
// to back, and prints every status line as it is appended (and the trap in progress, of alike
// lines at most 5 a second).
//
//   korvan-cli --home build/home create-traps --output mytraps --standard-traps
//
//   CreateTrapsOptions options;
//   std::string error;
//   if (!parseCreateTrapsOptions(args, options, error)) { std::cerr << error; return 2; }
//   return runCreateTraps(options, std::cout);
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korvimo::cli {

struct CreateTrapsOptions {
    std::string output;
    std::optional<bool> standardTraps;      // else USESTDTRAPS
    std::optional<std::string> enterprise;  // else the most recent TRAPENTID
    bool help = false;
};

// Reads the command's arguments; false with a one-line reason on a usage error.
bool parseCreateTrapsOptions(const std::vector<std::string>& args, CreateTrapsOptions& options,
                             std::string& error);

void printCreateTrapsUsage(std::ostream& out);

// Runs the command in the current directory (the home's bin). 0 when the creation completed,
// 1 when it could not start or its file could not be written.
int runCreateTraps(const CreateTrapsOptions& options, std::ostream& out);

}  // namespace korvimo::cli
