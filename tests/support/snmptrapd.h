// Snmptrapd: Net-SNMP's trap receiver in the foreground on a free loopback port, logging
// every trap and inform it receives (numeric names) to a pipe the test reads. It takes every
// community (disableAuthorization) and answers informs.
//
//   TempDir dir;
//   Snmptrapd trapd(dir);
//   ASSERT_TRUE(trapd.start()) << trapd.output();
//   ... send to 127.0.0.1:trapd.port() ...
//   ASSERT_TRUE(trapd.waitFor("INTEGER: 7", 10000)) << trapd.output();
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "agent/udp_peer.h"
#include "app/core/clock.h"
#include "app/core/temp_dir.h"

namespace korvimo::testing {

// snmptrapd in the foreground on a loopback port, logging to a pipe we read.
class Snmptrapd {
  public:
    explicit Snmptrapd(const TempDir& dir) : dir_(dir) {
        writeFile(dir_.path("snmptrapd.conf"), "disableAuthorization yes\n");
    }
    ~Snmptrapd() { stop(); }

    // Starts it on a free port and waits until it is listening.
    bool start() {
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = freeUdpPort(AF_INET);
            if (launch() && waitFor("NET-SNMP version", 10000)) {
                return true;
            }
            stop();
        }
        return false;
    }

    uint16_t port() const { return port_; }

    // Reads its output until text appears, at most waitMs.
    bool waitFor(const std::string& text, int waitMs) {
        const uint64_t start = SystemClock::instance().monotonicMs();
        while (output_.find(text) == std::string::npos) {
            const uint64_t spent = SystemClock::instance().monotonicMs() - start;
            if (spent >= static_cast<uint64_t>(waitMs) || fd_ < 0) {
                return false;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(waitMs - spent)) <= 0) {
                continue;
            }
            char buffer[4096];
            ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fd_);
                fd_ = -1;  // it ended
                return output_.find(text) != std::string::npos;
            }
            output_.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    const std::string& output() const { return output_; }

  private:
    bool launch() {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            return false;
        }
        const std::string listen = "udp:127.0.0.1:" + std::to_string(port_);
        const std::string conf = dir_.path("snmptrapd.conf");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(pipeFds[1], 1);
            ::dup2(pipeFds[1], 2);
            ::setenv("SNMP_PERSISTENT_DIR", dir_.root().c_str(), 1);
            ::setenv("HOME", dir_.root().c_str(), 1);
            ::setenv("SNMPCONFPATH", dir_.root().c_str(), 1);
            const char* args[] = {"snmptrapd",  "-f", "-Lo", "-n",  "-C",           "-c",
                                  conf.c_str(), "-m", "",    "-On", listen.c_str(), nullptr};
            ::execv("/usr/sbin/snmptrapd", const_cast<char* const*>(args));
            ::execvp("snmptrapd", const_cast<char* const*>(args));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        if (pid_ < 0) {
            ::close(pipeFds[0]);
            return false;
        }
        fd_ = pipeFds[0];
        output_.clear();
        return true;
    }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    const TempDir& dir_;
    pid_t pid_ = -1;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::string output_;
};

}  // namespace korvimo::testing
