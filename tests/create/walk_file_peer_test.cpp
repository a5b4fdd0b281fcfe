// Walks of a real agent: Net-SNMP's snmpd on a free loopback port, walked with snmpwalk
// (numeric names, with and without -Oe), read back with parseWalk.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "agent/udp_peer.h"
#include "app/core/temp_dir.h"
#include "create/walk_file.h"
#include "support/command_run.h"

namespace korvimo::create {
namespace {

using korvimo::testing::runCommand;
using korvimo::testing::TempDir;

// snmpd in the foreground, answering community "public" on 127.0.0.1 only.
class Snmpd {
  public:
    explicit Snmpd(const TempDir& dir) : dir_(dir) {}
    ~Snmpd() { stop(); }

    bool start() {
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = korvimo::testing::freeUdpPort(AF_INET);
            korvimo::testing::writeFile(
                dir_.path("snmpd.conf"),
                "rocommunity public 127.0.0.1\nagentaddress udp:127.0.0.1:" +
                    std::to_string(port_) + "\n");
            launch();
            for (int probe = 0; probe < 10; ++probe) {
                if (runCommand("snmpget -v2c -c public -t 1 -r 0 -On 127.0.0.1:" +
                               std::to_string(port_) + " 1.3.6.1.2.1.1.1.0")
                        .status == 0) {
                    return true;
                }
            }
            stop();
        }
        return false;
    }

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

TEST(WalkFilePeer, ReadsWhatSnmpwalkPrints) {
    if (::access("/usr/sbin/snmpd", X_OK) != 0 || runCommand("command -v snmpwalk").status != 0) {
        GTEST_SKIP() << "snmpd or snmpwalk is not installed (Debian packages snmpd and snmp)";
    }
    TempDir dir;
    Snmpd snmpd(dir);
    ASSERT_TRUE(snmpd.start());
    for (const char* options : {"-On", "-On -Oe"}) {
        const std::string text = snmpd.walk(options);
        const std::size_t bindings = static_cast<std::size_t>(
            std::count(text.begin(), text.end(), '\n'));  // one line each: no string spans two
        ASSERT_GT(bindings, 100u) << options;
        const WalkContents walk = parseWalk(text);
        for (const WalkProblem& problem : walk.problems) {
            ADD_FAILURE() << options << ": line " << problem.line << ": " << problem.text;
        }
        EXPECT_EQ(walk.records.size(), bindings) << options;
    }
}

}  // namespace
}  // namespace korvimo::create
