// Benchmark support: runs a program of the home in a directory with its console output
// discarded, and times what it is given to do.
//
//   double seconds = timeSeconds([&] { runQuietly(zorlet, {"m1", "mibinfo.out"}, dir); });
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace korvimo::bench {

// Returns the exit status, or -1 when the program did not end normally.
inline int runQuietly(const std::string& program, const std::vector<std::string>& args,
                      const std::string& directory) {
    pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(directory.c_str()) != 0) {
            ::_exit(126);
        }
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

template <typename Work>
double timeSeconds(Work work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace korvimo::bench
