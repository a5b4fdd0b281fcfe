// BackgroundProgram: a program a test runs in the background, its output (standard error
// included) read from a pipe, stopped by a signal.
//
//   BackgroundProgram agent(program, {"--home", home, "agent"});
//   ASSERT_TRUE(agent.waitFor("Agent has been started.")) << agent.output();
//   EXPECT_EQ(agent.stop(SIGTERM), 0);
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace korvimo::testing {

class BackgroundProgram {
  public:
    // The program runs in directory when one is given.
    BackgroundProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& directory = {}) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            if (!directory.empty() && ::chdir(directory.c_str()) != 0) {
                ::_exit(127);
            }
            ::dup2(fds[1], 1);
            ::dup2(fds[1], 2);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;
    ~BackgroundProgram() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
    }

    // Reads output until it holds text or waitMs have passed.
    bool waitFor(const std::string& text, int waitMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (output_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) {
                return output_.find(text) != std::string::npos;
            }
        }
        return true;
    }

    // Sends the signal and collects the rest of the output and the exit status.
    int stop(int signal) {
        ::kill(pid_, signal);
        while (readSome(5000)) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }

    const std::string& output() const { return output_; }
    pid_t pid() const { return pid_; }

  private:
    bool readSome(int waitMs) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    std::string output_;
};

}  // namespace korvimo::testing
