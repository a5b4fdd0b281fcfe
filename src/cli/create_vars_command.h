// `korvan-cli create-vars`: the Create Variables from MIB dialog without a window. It writes
// an agent control file in <home>/agent/ from the objects of the home's mibinfo.out, the
// steps back to back, and prints every status line as it is appended.
//
//   korvan-cli --home build/home create-vars --output router --rows 3 --templates
//
//   CreateVarsOptions options;
//   std::string error;
//   if (!parseCreateVarsOptions(args, options, error)) { std::cerr << error; return 2; }
//   return runCreateVars(options, std::cout);
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korvimo::cli {

struct CreateVarsOptions {
    std::string output;
    std::optional<std::string> rows;  // else the most recent NUMROWS
    std::optional<bool> templates;    // else DYNTEMPLATE
    bool help = false;
};

// Reads the command's arguments; false with a one-line reason on a usage error.
bool parseCreateVarsOptions(const std::vector<std::string>& args, CreateVarsOptions& options,
                            std::string& error);

void printCreateVarsUsage(std::ostream& out);

// Runs the command in the current directory (the home's bin). 0 when the creation completed,
// 1 when it could not start or its file could not be written.
int runCreateVars(const CreateVarsOptions& options, std::ostream& out);

}  // namespace korvimo::cli
