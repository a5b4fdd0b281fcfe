// CommandRun: a command line run by a test through the shell, with its exit status and its
// output, standard error joined to it as a user sees both in a terminal.
//
//   CommandRun run = runCommand("'" + program + "' --help");
//   EXPECT_EQ(run.status, 0) << run.output;
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace korvimo::testing {

struct CommandRun {
    int status = -1;  // the exit status; -1 when the command did not exit by itself
    std::string output;
};

// Runs a shell command (its words already quoted) to its end, standard error included.
inline CommandRun runCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// How many times part stands in text (overlapping ones included).
inline std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

}  // namespace korvimo::testing
