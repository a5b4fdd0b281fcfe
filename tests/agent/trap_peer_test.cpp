// Traps sent with sendTrap, received and decoded by Net-SNMP's snmptrapd.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "agent/endpoints.h"
#include "agent/message_sending.h"
#include "agent/udp_peer.h"
#include "app/core/clock.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"

namespace korvimo {
namespace {

// snmptrapd in the foreground on a loopback port, logging to a pipe we read.
class Snmptrapd {
  public:
    explicit Snmptrapd(const testing::TempDir& dir) : dir_(dir) {
        testing::writeFile(dir_.path("snmptrapd.conf"), "disableAuthorization yes\n");
    }
    ~Snmptrapd() { stop(); }

    // Starts it on a free port and waits until it is listening.
    bool start() {
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = testing::freeUdpPort(AF_INET);
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

    const testing::TempDir& dir_;
    pid_t pid_ = -1;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::string output_;
};

class TrapPeer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(trapd.start()) << trapd.output();
        ASSERT_TRUE(client.open(IpVersion::IPv4));
        ASSERT_TRUE(resolveAddress("127.0.0.1", client.settings().peerAddress));
    }

    void add(snmp::VarBindList* list, const char* name, const char* type, const char* value) {
        const Result made = makeVarBindFromText(nullptr, name, type, value, list);
        ASSERT_TRUE(made) << made.text();
    }

    testing::TempDir dir;
    Snmptrapd trapd{dir};
    ManualClock clock;
    EpollEventLoop loop{clock};
    RequestIdSequence ids;
    RequestClient client{loop, ids, {}};
};

TEST_F(TrapPeer, Snmpv1TrapIsDecodedWithItsBindings) {
    auto list = snmp::SnmpCreateVbl();
    add(list.get(), "1.3.6.1.2.1.1.5.0", "OctetString", "router");
    add(list.get(), "1.3.6.1.2.1.2.2.1.1.1", "Integer", "7");
    const uint8_t agentAddr[4] = {192, 0, 2, 7};
    const Result sent = sendTrap(std::move(list), "public", "1.3.6.1.4.1.99999", agentAddr,
                                 trapd.port(), 123, 6, 5, 0, client);
    ASSERT_TRUE(sent) << sent.text();
    ASSERT_TRUE(trapd.waitFor("INTEGER: 7", 10000)) << trapd.output();
    const std::string& out = trapd.output();
    EXPECT_NE(out.find("[192.0.2.7]"), std::string::npos) << out;
    EXPECT_NE(out.find("TRAP, SNMP v1, community public"), std::string::npos) << out;
    EXPECT_NE(out.find("\t.1.3.6.1.4.1.99999 Enterprise Specific Trap (5) Uptime: 0:00:01.23"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\t.1.3.6.1.2.1.1.5.0 = STRING: \"router\""), std::string::npos) << out;
    EXPECT_NE(out.find("\t.1.3.6.1.2.1.2.2.1.1.1 = INTEGER: 7"), std::string::npos) << out;
}

TEST_F(TrapPeer, Snmpv2TrapIsDecodedWithItsBindings) {
    auto list = snmp::SnmpCreateVbl();
    add(list.get(), "1.3.6.1.2.1.1.3.0", "TimeTicks", "123");
    add(list.get(), "1.3.6.1.6.3.1.1.4.1.0", "ObjectID", "1.3.6.1.4.1.99999.0.5");
    add(list.get(), "1.3.6.1.2.1.2.2.1.1.1", "Integer", "7");
    add(list.get(), "1.3.6.1.2.1.4.20.1.1.10.1.2.3", "IpAddress", "10.1.2.3");
    add(list.get(), "1.3.6.1.2.1.31.1.1.1.6.1", "Counter64", "12345678901234");
    add(list.get(), "1.3.6.1.2.1.2.2.1.6.1", "OctetString", "0x0011223344ab");
    const uint8_t agentAddr[4] = {0, 0, 0, 0};
    const Result sent =
        sendTrap(std::move(list), "public", "", agentAddr, trapd.port(), 0, 0, 0, 1, client);
    ASSERT_TRUE(sent) << sent.text();
    ASSERT_TRUE(trapd.waitFor("Hex-STRING", 10000)) << trapd.output();
    const std::string& out = trapd.output();
    EXPECT_NE(out.find(".1.3.6.1.2.1.1.3.0 = Timeticks: (123) 0:00:01.23\t"
                       ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.5\t"
                       ".1.3.6.1.2.1.2.2.1.1.1 = INTEGER: 7\t"
                       ".1.3.6.1.2.1.4.20.1.1.10.1.2.3 = IpAddress: 10.1.2.3\t"
                       ".1.3.6.1.2.1.31.1.1.1.6.1 = Counter64: 12345678901234\t"
                       ".1.3.6.1.2.1.2.2.1.6.1 = Hex-STRING: 00 11 22 33 44 AB"),
              std::string::npos)
        << out;
}

}  // namespace
}  // namespace korvimo
