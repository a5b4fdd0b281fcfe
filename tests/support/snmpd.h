// Snmpd: Net-SNMP's agent in the foreground on a free loopback port, answering the community
// "public" from 127.0.0.1 with the objects it implements itself, for tests that read what
// the SNMP command-line tools print from a real agent. It ends with the object (and, should
// the test die, at most two minutes after it started).
//
//   TempDir dir;
//   Snmpd snmpd(dir);
//   ASSERT_TRUE(snmpd.start());
//   std::string text = snmpd.walk("-On");   // snmpwalk's output for 1.3.6.1.2.1
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "agent/udp_peer.h"
#include "app/core/temp_dir.h"
#include "support/command_run.h"

namespace korvimo::testing {

// snmpd in the foreground, answering community "public" on 127.0.0.1 only.
class Snmpd {
  public:
    explicit Snmpd(const TempDir& dir) : dir_(dir) {}
    ~Snmpd() { stop(); }

    // Starts it on a free port and waits (up to ten seconds a try) until it answers.
    bool start() {
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = freeUdpPort(AF_INET);
            writeFile(dir_.path("snmpd.conf"),
                      "rocommunity public 127.0.0.1\nagentaddress udp:127.0.0.1:" +
                          std::to_string(port_) + "\n");
            launch();
            for (int probe = 0; probe < 10; ++probe) {
                if (runCommand("snmpget -v2c -c public -t 1 -r 0 -On 127.0.0.1:" +
                               std::to_string(port_) + " 1.3.6.1.2.1.1.1.0")
                        .status == 0) {
                    return true;
                }
                ::usleep(200000);  // an answer refused at once: not listening yet
            }
            stop();
        }
        return false;
    }

    uint16_t port() const { return port_; }

    // What snmpwalk prints for 1.3.6.1.2.1 with these options (standard error left out).
    std::string walk(const std::string& options) const {
        return runCommand("snmpwalk -v2c -c public -t 5 -r 1 " + options +
                          " 127.0.0.1:" + std::to_string(port_) + " 1.3.6.1.2.1 2>/dev/null")
            .output;
    }

  private:
    void launch() {
        const std::string conf = dir_.path("snmpd.conf");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("SNMP_PERSISTENT_DIR", dir_.root().c_str(), 1);
            ::setenv("HOME", dir_.root().c_str(), 1);
            ::alarm(120);  // never outlives the test by long
            const char* args[] = {"snmpd",      "-f", "-Lo",   "-C",   "-c",
                                  conf.c_str(), "-I", "-smux", nullptr};
            ::execv("/usr/sbin/snmpd", const_cast<char* const*>(args));
            ::_exit(127);
        }
    }
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

    const TempDir& dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace korvimo::testing
