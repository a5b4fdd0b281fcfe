// korvan-cli traps as a user runs it: usage, the trap list, and the demo home's default.trp
// sent to Net-SNMP's snmptrapd as SNMPv1 Traps, SNMPv2c notifications and informs, and as
// SNMPv3 notifications and informs of an authPriv user.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "agent/endpoints.h"
#include "agent/udp_peer.h"
#include "app/core/temp_dir.h"
#include "app/demo_home.h"
#include "mibinfo/mib_info.h"
#include "support/snmptrapd.h"
#include "traps/trap_file.h"
#include "traps/trap_message.h"

namespace korvimo {
namespace {

using testing::CommandRun;
using testing::countOf;
using testing::runCommand;
using testing::TempDir;

const std::string kProgram = std::string(KORVIMO_HOME_DIR) + "/bin/korvan-cli";

std::string dotted(const snmp::ObjectId& oid) {
    std::string text;
    for (const uint32_t id : oid.ids) {
        text += "." + std::to_string(id);
    }
    return text;
}

// TimeTicks as snmptrapd prints them.
std::string ticksText(uint32_t ticks) {
    const uint32_t days = ticks / 8640000;
    const uint32_t rest = ticks % 8640000;
    char text[64];
    std::snprintf(text, sizeof text, "%u:%02u:%02u.%02u", rest / 360000, rest / 6000 % 60,
                  rest / 100 % 60, rest % 100);
    if (days == 0) {
        return text;
    }
    return std::to_string(days) + (days == 1 ? " day, " : " days, ") + text;
}

// The generic-trap codes as snmptrapd names them.
const char* const kGenericNames[] = {
    "Cold Start",        "Warm Start",         "Link Down", "Link Up", "Authentication Failure",
    "EGP Neighbor Loss", "Enterprise Specific"};

class CliTraps : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::copyDemoHome(dir.root());
        testing::writeFile(
            dir.path("agent/default.trp"),
            testing::readFile(std::string(KORVIMO_SOURCE_DIR) + "/home/agent/default.trp"));
        ASSERT_TRUE(file.read(dir.path("agent/default.trp")));
        ASSERT_FALSE(file.names().empty());
        mib = mibinfo::MibInfo::load(dir.path("mibs/mibinfo.out"));
        ASSERT_TRUE(mib);
    }

    CommandRun traps(const std::string& args) {
        return runCommand("'" + kProgram + "' --home '" + dir.root() + "' traps " + args);
    }
    std::string manager() const { return "--manager 127.0.0.1:" + std::to_string(trapd.port()); }

    TempDir dir;
    traps::TrapFile file;
    std::shared_ptr<const mibinfo::MibInfo> mib;
    TempDir trapdDir;
    testing::Snmptrapd trapd{trapdDir};
};

TEST_F(CliTraps, UsageHelpAndTheTrapList) {
    const CommandRun help = traps("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--file", "--manager", "--community", "--snmp-version", "--inform", "--select", "--all",
          "--list", "--count", "--rate", "--timeout", "--retries", "--transport", "--v3-user",
          "--user", "--users", "--engine-id"}) {
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    }
    for (const char* args :
         {"--file default.trp", "--manager 127.0.0.1", "--bogus",
          "--file default.trp --manager 127.0.0.1 --all --select 1",
          "--file default.trp --manager 127.0.0.1:0", "--file default.trp --manager [::1",
          "--file default.trp --manager 127.0.0.1 --inform --snmp-version v1",
          "--file default.trp --manager 127.0.0.1 --select 1,x",
          "--file default.trp --manager 127.0.0.1 --timeout 0",
          // SNMPv3: a user, and only one; user options without v3; a line that is no user.
          "--file default.trp --manager 127.0.0.1 --snmp-version v3",
          "--file default.trp --manager 127.0.0.1 --user ops",
          "--file default.trp --manager 127.0.0.1 --snmp-version v3 --user ops "
          "--v3-user 'ops SHA opspass123'",
          "--file default.trp --manager 127.0.0.1 --snmp-version v3 --v3-user 'ops SHA short'",
          "--file default.trp --manager 127.0.0.1 --snmp-version v3 --user ops --engine-id 80"}) {
        const CommandRun run = traps(args);
        EXPECT_EQ(run.status, 2) << args << ": " << run.output;
        EXPECT_NE(run.output.find("Try 'korvan-cli traps --help'"), std::string::npos)
            << run.output;
    }

    const CommandRun shortPass =
        traps("--file default.trp --manager 127.0.0.1 --snmp-version v3 --v3-user 'ops SHA short'");
    EXPECT_NE(shortPass.output.find("pass phrase of user [ops] is shorter than 8 characters"),
              std::string::npos)
        << shortPass.output;
    const CommandRun unknown =
        traps("--file default.trp --manager 127.0.0.1 --snmp-version v3 --user nobody");
    EXPECT_EQ(unknown.status, 2) << unknown.output;
    EXPECT_NE(unknown.output.find("no user [nobody]"), std::string::npos) << unknown.output;

    const std::string settings = testing::readFile(dir.path("bin/korvan.ini"));
    const CommandRun list = traps("--file default.trp --list");
    EXPECT_EQ(list.status, 0) << list.output;
    std::string expected;
    for (std::size_t i = 0; i < file.names().size(); ++i) {
        expected += std::to_string(i) + "\t" + file.names()[i] + "\n";
    }
    EXPECT_EQ(list.output, expected);
    EXPECT_EQ(testing::readFile(dir.path("bin/korvan.ini")), settings);  // nothing written

    const std::size_t size = file.names().size();
    const CommandRun outside =
        traps("--file default.trp --manager 127.0.0.1:1162 --select 0," + std::to_string(size));
    EXPECT_EQ(outside.status, 2) << outside.output;
    EXPECT_NE(outside.output.find("holds " + std::to_string(size) + " trap(s)"), std::string::npos)
        << outside.output;
    const CommandRun none = traps("--file none.trp --list");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.output.find("Cannot open Trap Information file [" + dir.path("agent/none.trp") +
                               "] for reading."),
              std::string::npos)
        << none.output;
}

TEST_F(CliTraps, EveryTrapArrivesAsV1TrapAsNotificationAndAsInform) {
    ASSERT_TRUE(trapd.start()) << trapd.output();
    const std::size_t size = file.names().size();
    const std::string sent = "Sent " + std::to_string(size) + " trap(s), skipped 0";

    // SNMPv1: all of them; the first enterprise-specific one checked field by field.
    const int64_t before = SystemClock::instance().calendarSeconds();
    const CommandRun v1 = traps("--file default.trp --all --community public " + manager());
    const int64_t after = SystemClock::instance().calendarSeconds();
    ASSERT_EQ(v1.status, 0) << v1.output;
    EXPECT_NE(v1.output.find(sent), std::string::npos) << v1.output;
    EXPECT_EQ(countOf(v1.output, "Processing "), size) << v1.output;  // every line printed
    ASSERT_TRUE(trapd.waitFor("TRAP, SNMP v1", 10000)) << trapd.output();
    for (int i = 0; i < 100 && countOf(trapd.output(), "TRAP, SNMP v1, community public") < size;
         ++i) {
        trapd.waitFor("never printed", 100);
    }
    EXPECT_EQ(countOf(trapd.output(), "TRAP, SNMP v1, community public"), size) << trapd.output();

    std::size_t chosen = 0;
    traps::TrapDefinition definition;
    for (std::size_t i = 0; i < size; ++i) {
        ASSERT_TRUE(file.definition(i, definition));
        if (definition.generic >= 6) {
            chosen = i;
            break;
        }
    }
    ASSERT_TRUE(file.definition(chosen, definition));
    uint8_t agentAddr[4] = {0, 0, 0, 0};
    localIPv4Address(agentAddr);
    char address[32];
    std::snprintf(address, sizeof address, "[%u.%u.%u.%u]", agentAddr[0], agentAddr[1],
                  agentAddr[2], agentAddr[3]);
    EXPECT_NE(trapd.output().find(address), std::string::npos) << trapd.output();
    const std::string enterprise = "." + traps::v1EnterpriseText(definition, false);
    bool stampFound = false;
    for (int64_t second = before; second <= after; ++second) {
        const std::string line =
            "\t" + enterprise + " " + kGenericNames[std::min(definition.generic, 6)] + " Trap (" +
            std::to_string(definition.specific) +
            ") Uptime: " + ticksText(static_cast<uint32_t>(uint64_t(second) * 100));
        stampFound = stampFound || trapd.output().find(line) != std::string::npos;
    }
    EXPECT_TRUE(stampFound) << definition.name << "\n" << trapd.output();

    // SNMPv2c: the uptime and the trap identifier first, then the bindings in file order.
    std::size_t bound = 0;
    traps::PreparedTrap prepared;
    for (std::size_t i = 0; i < size; ++i) {
        if (traps::prepareTrap(file, i, mib.get(), traps::TrapKind::Notification, false,
                               prepared) &&
            prepared.bindings.count() > 0) {
            bound = i;
            break;
        }
    }
    ASSERT_TRUE(
        traps::prepareTrap(file, bound, mib.get(), traps::TrapKind::Notification, false, prepared));
    const CommandRun v2 = traps("--file default.trp --snmp-version v2c --all " + manager());
    ASSERT_EQ(v2.status, 0) << v2.output;
    const std::string trapOid =
        ".1.3.6.1.6.3.1.1.4.1.0 = OID: ." + traps::notificationIdentifier(prepared.definition);
    ASSERT_TRUE(trapd.waitFor(trapOid, 10000)) << trapd.output();
    // The trap's own line of snmptrapd's output, nothing of the traps around it.
    const std::string& out = trapd.output();
    const std::size_t found = out.find(trapOid);
    const std::size_t lineStart =
        out.rfind('\n', found) == std::string::npos ? 0 : out.rfind('\n', found) + 1;
    const std::string line = out.substr(lineStart, out.find('\n', found) - lineStart);
    const std::size_t at = line.find(trapOid);
    const std::size_t uptime = line.find(".1.3.6.1.2.1.1.3.0 = Timeticks: (");
    EXPECT_LT(uptime, at) << line;
    std::size_t previous = at;
    for (const snmp::VarBind& binding : prepared.bindings.items) {
        const std::size_t next = line.find("\t" + dotted(binding.name) + " = ", previous);
        ASSERT_NE(next, std::string::npos) << dotted(binding.name) << "\n" << line;
        previous = next;
    }

    // Informs: each acknowledged by snmptrapd.
    const CommandRun informs = traps("--file default.trp --inform --all " + manager());
    EXPECT_EQ(informs.status, 0) << informs.output;
    EXPECT_NE(informs.output.find("Inform " + file.names()[0] + " acknowledged."),
              std::string::npos)
        << informs.output;
    EXPECT_NE(informs.output.find("acknowledged " + std::to_string(size) + ", unacknowledged 0"),
              std::string::npos)
        << informs.output;
}

TEST_F(CliTraps, V3TrapAndInformOfAnAuthPrivUserReachSnmptrapd) {
    // Our traps' engine ID, made by a first transmission (to a port nobody reads): snmptrapd
    // needs it for the trap's user.
    const testing::UdpPeer silent(AF_INET);
    const std::string v3 = "--file default.trp --select 0 --snmp-version v3 ";
    const std::string alice = "--v3-user 'alice SHA-256 alicepass1 AES alicepriv1' ";
    const CommandRun first =
        traps(v3 + alice + "--manager 127.0.0.1:" + std::to_string(silent.port()));
    ASSERT_EQ(first.status, 0) << first.output;
    const std::string prefix = "SNMPv3 engine ID ";
    const std::size_t at = first.output.find(prefix);
    ASSERT_NE(at, std::string::npos) << first.output;
    const std::size_t idStart = at + prefix.size();
    const std::string engineId =
        first.output.substr(idStart, first.output.find(' ', idStart) - idStart);
    EXPECT_NE(first.output.find(engineId + " (give it to the receiver's user)."), std::string::npos)
        << first.output;

    // The trap's user is made for our engine, the inform's for snmptrapd's own.
    testing::writeFile(trapdDir.path("snmptrapd.conf"),
                       "createUser -e 0x" + engineId +
                           " alice SHA-256 alicepass1 AES alicepriv1\n"
                           "createUser alice SHA-256 alicepass1 AES alicepriv1\n"
                           "authUser log alice\n"
                           "disableAuthorization yes\n");
    ASSERT_TRUE(trapd.start()) << trapd.output();

    // The same engine again (its boots counted), and a trap snmptrapd could decrypt.
    const CommandRun trap = traps(v3 + alice + manager());
    ASSERT_EQ(trap.status, 0) << trap.output;
    EXPECT_NE(trap.output.find(prefix + engineId + " "), std::string::npos) << trap.output;
    traps::PreparedTrap prepared;
    ASSERT_TRUE(
        traps::prepareTrap(file, 0, mib.get(), traps::TrapKind::V3Notification, false, prepared));
    const std::string trapOid =
        ".1.3.6.1.6.3.1.1.4.1.0 = OID: ." + traps::notificationIdentifier(prepared.definition);
    ASSERT_TRUE(trapd.waitFor(trapOid, 10000)) << trapd.output();
    EXPECT_NE(testing::readFile(dir.path("bin/engines.conf")).find("traps " + engineId + " 2"),
              std::string::npos);

    // An inform of the user of the home's users file, acknowledged after the discovery of
    // snmptrapd's engine.
    testing::writeFile(dir.path("bin/users.conf"), "alice SHA-256 alicepass1 AES alicepriv1\n");
    const CommandRun inform = traps(v3 + "--inform --user alice " + manager());
    EXPECT_EQ(inform.status, 0) << inform.output;
    EXPECT_NE(inform.output.find("of the manager (boots "), std::string::npos) << inform.output;
    EXPECT_NE(inform.output.find("Inform " + file.names()[0] + " acknowledged."), std::string::npos)
        << inform.output;
    EXPECT_NE(inform.output.find("acknowledged 1, unacknowledged 0"), std::string::npos)
        << inform.output;

    // A user snmptrapd does not know: its Report is named, the inform unacknowledged.
    const CommandRun unknown = traps(
        v3 + "--inform --timeout 0.2 --retries 2 --v3-user 'bob SHA-256 bobpass12' " + manager());
    EXPECT_EQ(unknown.status, 1) << unknown.output;
    EXPECT_NE(unknown.output.find("Inform " + file.names()[0] +
                                  ": the receiver reports usmStatsUnknownUserNames"),
              std::string::npos)
        << unknown.output;
    EXPECT_NE(unknown.output.find("acknowledged 0, unacknowledged 1"), std::string::npos)
        << unknown.output;
}

TEST_F(CliTraps, AnInformNobodyAnswersIsReportedAfterItsRetries) {
    // A port held open and never read: nobody else can take it and answer.
    const testing::UdpPeer silent(AF_INET);
    const std::string silentManager = "--manager 127.0.0.1:" + std::to_string(silent.port());
    const CommandRun run =
        traps("--file default.trp --inform --select 0 --timeout 0.2 --retries 2 " + silentManager);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Inform " + file.names()[0] +
                              " unacknowledged after 2 "
                              "transmission(s)."),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Informs acknowledged: 0, unacknowledged: 1."), std::string::npos)
        << run.output;

    // A transmission over within a millisecond has no rate to tell.
    const CommandRun fast = traps("--file default.trp --select 0 --rate 0 " + silentManager);
    EXPECT_EQ(fast.status, 0) << fast.output;
    EXPECT_NE(fast.output.find("Sent 1 trap(s), skipped 0, in "), std::string::npos) << fast.output;
    // One trap in under a millisecond and 1 trap/s only come together from a rate of 0 ms.
    EXPECT_EQ(fast.output.find("in 0.00 s (1 traps/s)"), std::string::npos) << fast.output;
}

}  // namespace
}  // namespace korvimo
