// korvan-cli fleet as a user runs it, asked by Net-SNMP's tools: devices of a devices file each
// answering on its own port with its own communities and values, a bad line leaving the rest
// serving, and recorded devices of a directory chosen by community.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>

#include "agent/udp_peer.h"
#include "app/core/temp_dir.h"
#include "app/demo_home.h"
#include "support/background_program.h"

namespace korvimo {
namespace {

using testing::BackgroundProgram;
using testing::CommandRun;
using testing::copyDemoHome;
using testing::freeUdpPort;
using testing::netSnmp;
using testing::TempDir;
using testing::writeFile;

const std::string kProgram = std::string(KORVIMO_HOME_DIR) + "/bin/korvan-cli";
constexpr const char* kSysName = "1.3.6.1.2.1.1.5.0";

std::string port() {
    return std::to_string(freeUdpPort(AF_INET));
}

TEST(CliFleet, DevicesAnswerTheirOwnVariablesAndCommunitiesAndKeepTheirSetsToThemselves) {
    TempDir dir;
    copyDemoHome(dir.root());
    writeFile(dir.path("agent/small.ctl"),
              "1.3.6.1.2.1.1.5.0, OctetString, RW, lastset(small-one)\r\n"
              "1.3.6.1.4.1.99999.1.0, Integer, RO, fixed(42)\r\n");
    const std::string a = port(), b = port(), c = port();
    writeFile(dir.path("devices.txt"),
              "# three devices\n"
              "127.0.0.1:" +
                  a +
                  " demo.ctl alpha alpha-rw\n"
                  "127.0.0.1:" +
                  b +
                  " demo.ctl beta  beta-rw v2c\n"
                  "127.0.0.1:" +
                  c + " small.ctl gamma gamma-rw\n");
    BackgroundProgram fleet(kProgram,
                            {"--home", dir.root(), "fleet", "--devices", dir.path("devices.txt")});
    ASSERT_TRUE(fleet.waitFor("Fleet: 3 devices serving, 0 failed.\n")) << fleet.output();

    auto get = [](const std::string& community, const std::string& at, const char* name) {
        return netSnmp("snmpget", "-v2c -r 0 -c " + community + " 127.0.0.1:" + at + " " + name)
            .output;
    };
    EXPECT_NE(get("alpha", a, kSysName).find("\"demo-router\""), std::string::npos);
    EXPECT_NE(get("gamma", c, kSysName).find("\"small-one\""), std::string::npos);
    EXPECT_NE(get("gamma", c, "1.3.6.1.4.1.99999.1.0").find("INTEGER: 42"), std::string::npos);
    EXPECT_NE(get("alpha", a, "1.3.6.1.4.1.99999.1.0").find("No Such Instance"), std::string::npos);
    // Each device its own communities: another device's is refused (no answer).
    EXPECT_NE(get("beta", a, kSysName).find("Timeout"), std::string::npos);
    EXPECT_NE(get("alpha", b, kSysName).find("Timeout"), std::string::npos);

    // A Set on one device of demo.ctl is not seen by the other.
    const CommandRun set = netSnmp(
        "snmpset", "-v2c -r 0 -c alpha-rw 127.0.0.1:" + a + " " + kSysName + " s changed-a");
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_NE(get("alpha", a, kSysName).find("\"changed-a\""), std::string::npos);
    EXPECT_NE(get("beta", b, kSysName).find("\"demo-router\""), std::string::npos);

    EXPECT_EQ(fleet.stop(SIGTERM), 0);
    EXPECT_NE(fleet.output().find("Device 127.0.0.1:" + a +
                                  " (devices.txt line 2): GetRequests 3, GetNextRequests 0, "
                                  "GetBulkRequests 0, SetRequests 1, InPkts 5, OutPkts 4, "
                                  "InBadVersions 0, InBadCommunityNames 1\n"),
              std::string::npos)
        << fleet.output();
    EXPECT_NE(fleet.output().find("Total of 3 devices: GetRequests 6, "), std::string::npos);
}

TEST(CliFleet, BadLinesAreNamedAndTheRestServeUntilSigint) {
    TempDir dir;
    copyDemoHome(dir.root());
    testing::UdpPeer holder(AF_INET);  // its port is in use
    const std::string good = port();
    writeFile(dir.path("devices.txt"), "127.0.0.1:" + good +
                                           " demo.ctl\n"
                                           "127.0.0.1:" +
                                           std::to_string(holder.port()) +
                                           " demo.ctl\n"
                                           "127.0.0.1:" +
                                           port() +
                                           " nowhere.ctl\n"
                                           "127.0.0.999:1161 demo.ctl\n");
    BackgroundProgram fleet(kProgram,
                            {"--home", dir.root(), "fleet", "--devices", dir.path("devices.txt")});
    ASSERT_TRUE(fleet.waitFor("Fleet: 1 devices serving, 2 failed.\n")) << fleet.output();
    const std::string& out = fleet.output();
    EXPECT_NE(out.find("devices.txt line 4: malformed address '127.0.0.999:1161'"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(" (devices.txt line 2): bind() call failed."), std::string::npos) << out;
    EXPECT_NE(out.find("Cannot open SNMP request socket(" + std::to_string(holder.port()) + ")"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(" (devices.txt line 3): Cannot open SNMP Variable file"), std::string::npos)
        << out;
    EXPECT_EQ(netSnmp("snmpget", "-v2c -c vintor 127.0.0.1:" + good + " " + kSysName).status, 0);
    EXPECT_EQ(fleet.stop(SIGINT), 0);
}

TEST(CliFleet, ADataDirectoryServesItsRecordingsByCommunity) {
    TempDir dir;
    copyDemoHome(dir.root());
    ::mkdir(dir.path("recordings").c_str(), 0755);
    writeFile(dir.path("recordings/edge-router.ctl"),
              testing::readFile(dir.path("agent/demo.ctl")));
    writeFile(dir.path("recordings/switch.snmprec"),
              "1.3.6.1.2.1.1.1.0|4|Recorded switch\n"
              "1.3.6.1.2.1.1.5.0|4x|737731\n"
              "1.3.6.1.2.1.2.2.1.10.1|65|4000000000\n");
    const std::string at = port();
    BackgroundProgram fleet(
        kProgram, {"--home", dir.root(), "fleet", "--data-dir", dir.path("recordings"), "--address",
                   "127.0.0.1", "--port", at});
    ASSERT_TRUE(fleet.waitFor("Serving 2 recorded devices of ")) << fleet.output();
    const std::string target = " 127.0.0.1:" + at + " ";
    const CommandRun walk = netSnmp("snmpwalk", "-v2c -c switch@20" + target + "1.3.6.1");
    EXPECT_EQ(walk.output,
              ".1.3.6.1.2.1.1.1.0 = STRING: \"Recorded switch\"\n"
              ".1.3.6.1.2.1.1.5.0 = STRING: \"sw1\"\n"
              ".1.3.6.1.2.1.2.2.1.10.1 = Counter32: 4000000000\n"
              ".1.3.6.1.2.1.2.2.1.10.1 = No more variables left in this MIB View (It is past the "
              "end of the MIB tree)\n");
    EXPECT_NE(
        netSnmp("snmpget", "-v2c -c edge-router" + target + kSysName).output.find("demo-router"),
        std::string::npos);
    EXPECT_NE(netSnmp("snmpget", "-v2c -r 0 -c nobody" + target + kSysName).output.find("Timeout"),
              std::string::npos);
    EXPECT_EQ(fleet.stop(SIGTERM), 0);
    EXPECT_NE(fleet.output().find("Device switch: serving switch.snmprec\n"), std::string::npos);
    EXPECT_NE(fleet.output().find("Refused by community or version: GetRequests 0, "
                                  "GetNextRequests 0, GetBulkRequests 0, SetRequests 0, InPkts 1"),
              std::string::npos)
        << fleet.output();
}

}  // namespace
}  // namespace korvimo
