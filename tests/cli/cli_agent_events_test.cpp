// korvan-cli agent running a control file's scheduled event: the Set seen by Net-SNMP's
// snmpget, its trap and inform received (and the inform acknowledged) by snmptrapd.

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/configuration.h"
#include "app/core/temp_dir.h"
#include "app/demo_home.h"
#include "support/background_program.h"
#include "support/snmptrapd.h"

namespace korvimo {
namespace {

using testing::CommandRun;
using testing::countOf;
using testing::TempDir;

const std::string kProgram = std::string(KORVIMO_HOME_DIR) + "/bin/korvan-cli";

TEST(CliAgentEvents, TheEventSetsItsValueAndItsTrapAndInformReachSnmptrapd) {
    TempDir dir;
    testing::copyDemoHome(dir.root());
    testing::writeFile(dir.path("agent/events.ctl"),
                       "%trapfile events.trp\r\n"
                       "%event 1 set 1.3.6.1.2.1.1.4.0 \"ops desk\" trap contactChanged\r\n"
                       "1.3.6.1.2.1.1.4.0, OctetString, RW, lastset(nobody)\r\n");
    testing::writeFile(dir.path("agent/events.trp"),
                       "%T  contactChanged, 1.3.6.1.4.1.32473, 7, 5\r\n"
                       "%V  contactChanged, 1.3.6.1.2.1.1.4.0, OctetString, ops desk\r\n");

    const CommandRun bad = testing::runCommand("'" + kProgram + "' --home '" + dir.root() +
                                               "' agent --trap-dest '127.0.0.1 v3'");
    EXPECT_EQ(bad.status, 2) << bad.output;
    EXPECT_NE(bad.output.find("korvan-cli agent: --trap-dest '127.0.0.1 v3': the version must be "
                              "v1, v2c or inform, not v3"),
              std::string::npos)
        << bad.output;

    TempDir trapdDir;
    testing::Snmptrapd trapd(trapdDir);
    ASSERT_TRUE(trapd.start()) << trapd.output();
    const std::string manager = "127.0.0.1:" + std::to_string(trapd.port());
    const std::string port = std::to_string(testing::freeUdpPort(AF_INET));
    Configuration(dir.path("bin/korvan.ini")).pushHistory(ConfigKey::TRAPDEST, "127.0.0.1:9 v1");
    testing::BackgroundProgram agent(
        kProgram, {"--home", dir.root(), "agent", "--file", "events.ctl", "--address", "127.0.0.1",
                   "--port", port, "--read-community", "public", "--trap-dest",
                   manager + " v2c public", "--trap-dest", manager + " inform", "--save"});
    ASSERT_TRUE(agent.waitFor(
        "Event (line 2): trap contactChanged sent to " + manager + ", " + manager + ".\n", 5000))
        << agent.output();
    EXPECT_NE(agent.output().find("Events: 1 scheduled (trap file events.trp).\n"
                                  "Event (line 2): 1.3.6.1.2.1.1.4.0 set to ops desk.\n"),
              std::string::npos)
        << agent.output();
    EXPECT_TRUE(
        agent.waitFor("Event (line 2): inform contactChanged acknowledged by " + manager + ".\n"))
        << agent.output();

    const CommandRun get =
        testing::netSnmp("snmpget", "-v2c -c public 127.0.0.1:" + port + " 1.3.6.1.2.1.1.4.0");
    EXPECT_NE(get.output.find("STRING: \"ops desk\""), std::string::npos) << get.output;

    // The notification and the inform: the uptime, the trap's identifier, its binding.
    const std::string trapOid = ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.32473.5";
    for (int i = 0; i < 50 && countOf(trapd.output(), trapOid) < 2; ++i) {
        trapd.waitFor("never printed", 100);
    }
    EXPECT_EQ(countOf(trapd.output(), trapOid), 2u) << trapd.output();
    EXPECT_EQ(countOf(trapd.output(), ".1.3.6.1.2.1.1.4.0 = STRING: \"ops desk\""), 2u)
        << trapd.output();
    EXPECT_EQ(agent.stop(SIGTERM), 0);

    // --save: the managers given, first given first, in place of the one there.
    const Configuration config(dir.path("bin/korvan.ini"));
    EXPECT_EQ(config.historyValues(ConfigKey::TRAPDEST),
              (std::vector<std::string>{manager + " v2c public", manager + " inform"}));
}

}  // namespace
}  // namespace korvimo
