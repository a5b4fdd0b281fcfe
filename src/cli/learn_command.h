// `korvan-cli learn` and `korvan-cli import`: capturing a device into an agent control file
// without a window.
//
// learn walks a teacher agent as the Learn SNMP Variables dialog does (app::LearnVariables),
// every status line printed on standard output as it is appended, apart from the "Got <name>"
// line that the dialog replaces in place. On a terminal a progress line on standard error
// counts the variables learned, rewritten every second and cleared at the end. SIGINT or
// SIGTERM stops the run as the dialog's Stop does.
//
//   korvan-cli --home build/home learn --teacher 127.0.0.1:1161 --output router
//
// import turns a walk file (snmpwalk -On output, or a .snmprec file) into the control file a
// learning run would have written for the same answers (create::importWalk).
//
//   korvan-cli --home build/home import --from router.walk --output router
//
//   LearnOptions options;
//   std::string error;
//   if (!parseLearnOptions(args, options, error)) { std::cerr << error; return 2; }
//   return runLearn(options, std::cout, std::cerr);
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korvimo::cli {

// The last line of a learning run on standard output.
inline constexpr const char* kLearnedSummaryFormat = "Learned %lu variables in %.1f s.";
// The progress line on standard error (a terminal only).
inline constexpr const char* kLearnProgressFormat = "Learned %lu variables (%lu/s)";

struct LearnOptions {
    std::string teacher;  // HOST, HOST:PORT, IPv6 or [IPv6]:PORT
    std::string output;
    std::optional<std::string> community;  // else the most recent RCOMMUNITY, else "public"
    bool v2c = true;
    std::optional<std::string> start;      // else "1.0"
    std::optional<std::string> end;        // else "End Of All MIBs"
    std::optional<unsigned long> timeout;  // seconds; else TIMEOUT, else 2
    std::optional<unsigned long> retries;  // else RETRIES, else 3
    bool templates = false;
    bool overrides = false;
    uint32_t bulk = 0;  // GetBulk max-repetitions; 0: GetNext
    bool replayStatic = false;
    bool help = false;
};

struct ImportOptions {
    std::string from;
    std::string output;
    bool overrides = false;
    bool replayStatic = false;
    bool help = false;
    // Where the program was started: --from may be relative to it.
    std::string startDirectory;
};

// Read the commands' arguments; false with a one-line reason on a usage error.
bool parseLearnOptions(const std::vector<std::string>& args, LearnOptions& options,
                       std::string& error);
bool parseImportOptions(const std::vector<std::string>& args, ImportOptions& options,
                        std::string& error);

void printLearnUsage(std::ostream& out);
void printImportUsage(std::ostream& out);

// Whether a teacher text names an IPv6 address ("::1", "[fe80::1]:1161"), so that the client
// endpoint must be IPv6.
bool teacherIsIpv6(const std::string& teacher);

// Run the commands in the current directory (the home's bin).
// learn: 0 when the run completed ("Learning Completed."), 1 when it did not start, timed
// out, failed or was stopped.
int runLearn(const LearnOptions& options, std::ostream& out, std::ostream& err);
// import: 0 when the control file was written, 1 when the walk file could not be read or the
// control file not written.
int runImport(const ImportOptions& options, std::ostream& out);

}  // namespace korvimo::cli
