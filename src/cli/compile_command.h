// `korvan-cli compile`: the Compile MIBs dialog without a window. It lists the MIB files of
// the home's search lists (the mibs directory and MIBDIRLIST, files ending in MIBEXTENSION or
// an extension of MIBEXTLIST), or compiles the chosen ones with the batch the dialog runs
// (kmx per file, then zorlet into mibs/mibinfo.out), printing every status line as it is
// appended.
//
//   korvan-cli --home ~/korvimo compile --list
//   korvan-cli --home ~/korvimo compile IF-MIB.txt ~/vendor/ACME-MIB.txt
//
//   CompileOptions options;
//   std::string error;
//   if (!parseCompileOptions(args, options, error)) { std::cerr << error; return 2; }
//   return runCompile(options, std::cout, std::cerr);
//
// Choices:
//   - A FILE is an entry of the list as --list prints it, else a path of a MIB file; a
//     relative path is taken from the directory the program was started in, as --file of the
//     agent and traps commands is (the command itself runs in the home's bin).
//   - kmx and zorlet are taken from the directory of the running korvan-cli, as the desktop
//     program takes them from its own.
//   - zorlet's progress line, which the dialog redraws in place, is not printed.
//   - A batch whose new mibinfo.out holds no object (every file failed to compile: zorlet
//     still writes the file) is no compilation: the controller puts the old mibinfo.out and
//     miblist.lst back and says so in its last status line, and the command exits 1, so a
//     script does not take it for one.
//   - SIGINT and SIGTERM stop the batch (what it started goes with it, its intermediate
//     files are removed) and the command exits 1; mibinfo.out and miblist.lst then stay as
//     they were.
//   - While another compilation runs in the home (another korvan-cli, or the window), the
//     command writes nothing, prints the controller's kCompilationRunningElsewhereText and
//     exits 1.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace korvimo::cli {

inline constexpr const char* kNoSuchMibFileFormat = "%s: no such MIB file in the list or on disk";

struct CompileOptions {
    bool all = false;
    bool list = false;
    std::vector<std::string> files;
    bool help = false;
    // Where relative FILE paths start: the directory korvan-cli was started in.
    std::string startDirectory;
};

// Reads the command's arguments; false with a one-line reason on a usage error.
bool parseCompileOptions(const std::vector<std::string>& args, CompileOptions& options,
                         std::string& error);

void printCompileUsage(std::ostream& out);

// Runs the command in the current directory (the home's bin). 0 when the batch wrote a new
// mibinfo.out with objects (or --list listed), 1 when it could not start (another
// compilation runs in the home, say), failed, compiled no object or was stopped, 2 when a
// FILE names nothing to compile (the reason goes to err).
int runCompile(const CompileOptions& options, std::ostream& out, std::ostream& err);

}  // namespace korvimo::cli
