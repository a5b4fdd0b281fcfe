// korvan-cli agent as a user runs it: help and usage errors, a failed start, and the agent
// serving the demo home until SIGTERM or SIGINT.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/temp_dir.h"
#include "app/demo_home.h"
#include "support/background_program.h"

namespace korvimo {
namespace {

using testing::CommandRun;
using testing::copyDemoHome;
using testing::freeUdpPort;
using testing::netSnmp;
using testing::readFile;
using testing::runCommand;
using testing::TempDir;

const std::string kProgram = std::string(KORVIMO_HOME_DIR) + "/bin/korvan-cli";

CommandRun cli(const std::string& args) {
    return runCommand("'" + kProgram + "' " + args);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// korvan-cli running in the background with its output on a pipe.
class Background : public testing::BackgroundProgram {
  public:
    explicit Background(const std::vector<std::string>& args, const std::string& directory = {})
        : BackgroundProgram(kProgram, args, directory) {}
};

TEST(CliAgentUsage, HelpExplainsEveryOptionWithoutTouchingTheHome) {
    TempDir dir;
    const CommandRun run = cli("--home '" + dir.path("home") + "' agent --help");
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--file", "--read-community", "--write-community", "--snmp-version",
                               "--transport", "--debug", "--no-debug", "--port", "--address",
                               "--stats-interval", "SIGINT", "SIGTERM"}) {
        EXPECT_NE(run.output.find(option), std::string::npos) << option;
    }
    EXPECT_FALSE(exists(dir.path("home")));
    const CommandRun global = cli("--help");
    EXPECT_EQ(global.status, 0);
    EXPECT_NE(global.output.find("agent"), std::string::npos);
}

TEST(CliAgentUsage, UsageErrorsExitTwoWithAReason) {
    TempDir dir;
    const std::string home = "--home '" + dir.path("home") + "' agent ";
    for (const char* args :
         {"--snmp-version v4", "--port 0", "--port 70000", "--port x", "--transport ipx", "--bogus",
          "--file", "--stats-interval 0",
          "--address=", "--read-community cccccccccccccccccccccccccccccccccccccccccccccccccc",
          "--write-community=cccccccccccccccccccccccccccccccccccccccccccccccccc"}) {
        const CommandRun run = cli(home + args);
        EXPECT_EQ(run.status, 2) << args << ": " << run.output;
        EXPECT_NE(run.output.find("korvan-cli agent: "), std::string::npos) << run.output;
    }
    EXPECT_FALSE(exists(dir.path("home")));
}

TEST(CliAgent, FailedStartPrintsItsLinesAndExitsOne) {
    TempDir dir;
    const CommandRun run = cli("--home '" + dir.path("home") + "' agent --port " +
                               std::to_string(freeUdpPort(AF_INET)));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.output,
              "Cannot open SNMP Variable file [../agent/../agent/learn.ctl] for reading. No such "
              "file or directory.\n"
              "Please Learn SNMP variables or Create variables from MIB.\n");
}

TEST(CliAgent, ServesUntilSigtermThenStopsWithTheStatistics) {
    TempDir dir;
    copyDemoHome(dir.root());
    const std::string ini = dir.path("bin/korvan.ini");
    const std::string before = readFile(ini);
    const std::string port = std::to_string(freeUdpPort(AF_INET));
    Background agent({"--home", dir.root(), "agent", "--address", "127.0.0.1", "--port", port,
                      "--read-community", "reader"});
    ASSERT_TRUE(agent.waitFor("(UDP port " + port + ")\n")) << agent.output();
    EXPECT_EQ(agent.stop(SIGTERM), 0);
    EXPECT_EQ(agent.output(),
              "Initializing Agent...\n"
              "Agent has been started.\n"
              "Agent IP Address: 127.0.0.1 (UDP port " +
                  port +
                  ")\n"
                  "Events: 2 scheduled (trap file default.trp).\n"
                  "GetRequests:\t0         \t\tGetBulkRequests:\t0         \n"
                  "GetNextRequests:\t0         \t\tInPkts:\t\t0         \n"
                  "SetRequests:\t0         \t\tOutPkts:\t\t0         \n"
                  "InBadVersions:\t0         \t\tInBadCommunityNames:\t0         \n"
                  "Agent has been stopped.\n");
    // Without --save the options are for this run only.
    EXPECT_EQ(readFile(ini), before);
}

TEST(CliAgent, AnsweredRequestsShowInTheStatisticsAtSigint) {
    TempDir dir;
    copyDemoHome(dir.root());
    const std::string port = std::to_string(freeUdpPort(AF_INET));
    Background agent({"--home", dir.root(), "agent", "--address", "127.0.0.1", "--port", port,
                      "--debug", "--snmp-version", "v2c", "--stats-interval", "1", "--save"});
    ASSERT_TRUE(agent.waitFor("(UDP port " + port + ")\n")) << agent.output();
    const CommandRun get =
        netSnmp("snmpget", "-v2c -c vintor 127.0.0.1:" + port + " 1.3.6.1.2.1.1.5.0");
    EXPECT_NE(get.output.find("STRING: \"demo-router\""), std::string::npos) << get.output;
    const CommandRun v1 =
        netSnmp("snmpget", "-v1 -r 0 -c vintor 127.0.0.1:" + port + " 1.3.6.1.2.1.1.5.0");
    EXPECT_NE(v1.output.find("Timeout"), std::string::npos);  // SNMPv2C only
    const CommandRun stranger =
        netSnmp("snmpget", "-v2c -r 0 -c guess 127.0.0.1:" + port + " 1.3.6.1.2.1.1.5.0");
    EXPECT_NE(stranger.output.find("Timeout"), std::string::npos);
    // An SNMPv3 message is a refused version too, not a malformed datagram.
    const CommandRun v3 =
        netSnmp("snmpget", "-v3 -r 0 -t 1 -l noAuthNoPriv -u someone 127.0.0.1:" + port +
                               " 1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(v3.status == 0, false);
    // The refused requests show in the periodic lines and in the last ones.
    ASSERT_TRUE(agent.waitFor("InBadVersions:\t2         \t\tInBadCommunityNames:\t1 ", 3000))
        << agent.output();
    EXPECT_EQ(agent.stop(SIGINT), 0);
    EXPECT_NE(agent.output().find("GetRequests:\t1         \t\tGetBulkRequests:\t0         \n"
                                  "GetNextRequests:\t0         \t\tInPkts:\t\t4         \n"
                                  "SetRequests:\t0         \t\tOutPkts:\t\t1         \n"
                                  "InBadVersions:\t2         \t\tInBadCommunityNames:\t1         \n"
                                  "Agent has been stopped.\n"),
              std::string::npos)
        << agent.output();
    // --save writes back what the window's Start writes, and no more: --port and --address
    // stay overrides for the run.
    const std::string iniPath = dir.path("bin/korvan.ini");
    const std::string ini = readFile(iniPath);
    EXPECT_NE(ini.find("DEBUGMODE=YES"), std::string::npos);
    EXPECT_NE(ini.find("SNMPVER=SNMPv2C"), std::string::npos);
    std::string agentPort;
    Configuration(iniPath).readPlain(ConfigKey::AGENTPORT, agentPort);
    EXPECT_EQ(agentPort, "1161");
    const std::string log = readFile(dir.path("agent/debug.out"));
    EXPECT_NE(log.find("Invalid SNMP Version:0.  Request ignored."), std::string::npos);
    EXPECT_NE(log.find("Invalid SNMP Version:3.  Request ignored."), std::string::npos);
    EXPECT_EQ(agent.output().find("larger than"), std::string::npos) << agent.output();
}

// A control file kept outside the home, named relative to where korvan-cli was started,
// edited while the agent runs: SIGHUP serves the new content, and the counts go on.
TEST(CliAgent, HangUpReloadsTheControlFileAndKeepsTheCounts) {
    TempDir dir;
    copyDemoHome(dir.path("home"));
    const std::string line = "1.3.6.1.2.1.1.5.0, OctetString, RO, fixed(%s)\r\n";
    auto writeDevice = [&](const char* name) {
        char text[128];
        std::snprintf(text, sizeof text, line.c_str(), name);
        testing::writeFile(dir.path("devices/one.ctl"), text);
    };
    std::filesystem::create_directories(dir.path("devices"));
    writeDevice("before");
    const std::string port = std::to_string(freeUdpPort(AF_INET));
    Background agent({"--home", "home", "agent", "--address", "127.0.0.1", "--port", port, "--file",
                      "devices/one.ctl", "--debug"},
                     dir.root());
    ASSERT_TRUE(agent.waitFor("(UDP port " + port + ")\n")) << agent.output();
    const std::string get = "-v2c -c vintor 127.0.0.1:" + port + " 1.3.6.1.2.1.1.5.0";
    EXPECT_NE(netSnmp("snmpget", get).output.find("\"before\""), std::string::npos);

    writeDevice("after");
    ::kill(agent.pid(), SIGHUP);
    ASSERT_TRUE(
        agent.waitFor("Agent has been stopped.\nInitializing Agent...\n"
                      "Agent has been started.\nAgent IP Address: 127.0.0.1 (UDP port " +
                      port + ")\n"))
        << agent.output();
    EXPECT_NE(netSnmp("snmpget", get).output.find("\"after\""), std::string::npos);
    EXPECT_EQ(agent.stop(SIGTERM), 0);
    // The debug log goes on across the reload: both requests are in it.
    const std::string log = readFile(dir.path("home/agent/debug.out"));
    const std::size_t first = log.find("Get Request");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("Get Request", first + 1), std::string::npos) << log;
    EXPECT_NE(agent.output().find("GetRequests:\t2 "), std::string::npos) << agent.output();
}

// A flood of one kind of malformed datagram prints a few of its lines a second and then how
// many were held back, and the agent goes on answering.
TEST(CliAgent, AFloodOfAlikeLinesIsCutToAFewAndACount) {
    TempDir dir;
    copyDemoHome(dir.root());
    const std::string port = std::to_string(freeUdpPort(AF_INET));
    Background agent({"--home", dir.root(), "agent", "--address", "127.0.0.1", "--port", port});
    ASSERT_TRUE(agent.waitFor("(UDP port " + port + ")\n")) << agent.output();
    testing::UdpPeer peer(AF_INET);
    const SocketAddress to = testing::loopback(AF_INET, static_cast<uint16_t>(std::stoi(port)));
    constexpr int kSent = 2000;
    for (int i = 0; i < kSent; ++i) {
        peer.sendTo(to, {0x30, static_cast<uint8_t>(0x40 + i % 32), 1, 2, 3});  // too short
    }
    ASSERT_TRUE(agent.waitFor("similar lines suppressed)\n", 4000)) << agent.output();
    const CommandRun get =
        netSnmp("snmpget", "-v2c -c vintor 127.0.0.1:" + port + " 1.3.6.1.2.1.1.5.0");
    EXPECT_NE(get.output.find("demo-router"), std::string::npos) << get.output;
    EXPECT_EQ(agent.stop(SIGTERM), 0);

    const std::string& out = agent.output();
    std::size_t printed = 0;
    for (std::size_t at = 0; (at = out.find("goes past end of packet.\n", at)) != std::string::npos;
         ++at) {
        ++printed;
    }
    unsigned long held = 0;
    for (std::size_t at = 0; (at = out.find("\n(", at)) != std::string::npos; ++at) {
        held += std::stoul(out.substr(at + 2));
    }
    EXPECT_GE(printed, 5u) << out;
    EXPECT_LE(printed, 15u) << out;  // 5 a second: the flood takes a second or two at most
    EXPECT_GT(held, 0u) << out;
    EXPECT_LE(printed + held, static_cast<std::size_t>(kSent));
}

// SIGUSR1 prints the statistics without stopping, SIGPIPE is ignored, SIGQUIT stops as
// SIGTERM does.
TEST(CliAgent, UserSignalPrintsTheStatisticsAndQuitStopsCleanly) {
    TempDir dir;
    copyDemoHome(dir.root());
    const std::string port = std::to_string(freeUdpPort(AF_INET));
    Background agent(
        {"--home", dir.root(), "agent", "--address", "127.0.0.1", "--port", port, "--debug"});
    ASSERT_TRUE(agent.waitFor("(UDP port " + port + ")\n")) << agent.output();
    ::kill(agent.pid(), SIGPIPE);
    ::kill(agent.pid(), SIGUSR1);
    ASSERT_TRUE(agent.waitFor("InBadVersions:")) << agent.output();
    const CommandRun get =
        netSnmp("snmpget", "-v2c -c vintor 127.0.0.1:" + port + " 1.3.6.1.2.1.1.5.0");
    EXPECT_NE(get.output.find("demo-router"), std::string::npos) << get.output;
    ::kill(agent.pid(), SIGUSR1);
    ASSERT_TRUE(agent.waitFor("GetRequests:\t1 ")) << agent.output();
    EXPECT_EQ(agent.stop(SIGQUIT), 0);
    EXPECT_NE(agent.output().find("InBadCommunityNames:\t0         \n"
                                  "Agent has been stopped.\n"),
              std::string::npos)
        << agent.output();
    // The last record is whole: the Response and the empty line after it.
    const std::string log = readFile(dir.path("agent/debug.out"));
    EXPECT_EQ(log.substr(log.size() < 4 ? 0 : log.size() - 4), "\r\n\r\n") << log;
}

// SIGTERM while a control file of millions of lines loads ends the program within a second,
// as a stop does.
TEST(CliAgent, SigtermDuringALongLoadStopsWithinASecond) {
    TempDir dir;
    copyDemoHome(dir.root());
    {
        std::string text;
        text.reserve(40u << 20);
        for (int i = 1; i <= 2000000; ++i) {
            text += "1.3.6.1.4.1.32473.9." + std::to_string(i) + ".0,Integer,RO,fixed(1)\n";
        }
        testing::writeFile(dir.path("agent/big.ctl"), text);
    }
    Background agent({"--home", dir.root(), "agent", "--address", "127.0.0.1", "--port",
                      std::to_string(freeUdpPort(AF_INET)), "--file", "big.ctl"});
    ASSERT_TRUE(agent.waitFor("Initializing Agent...\n")) << agent.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto signalled = std::chrono::steady_clock::now();
    EXPECT_EQ(agent.stop(SIGTERM), 0) << agent.output();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(1));
    EXPECT_NE(agent.output().find("Loading of the control file was stopped.\n"), std::string::npos)
        << agent.output();
    EXPECT_EQ(agent.output().find("Syntax Error"), std::string::npos) << agent.output();
}

}  // namespace
}  // namespace korvimo
