#include "app/main_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/main_status.h"
#include "app/core/temp_dir.h"

namespace korvimo::app {
namespace {

using korvimo::testing::freeUdpPort;
using korvimo::testing::readFile;
using korvimo::testing::TempDir;
using korvimo::testing::UdpPeer;
using korvimo::testing::writeFile;

constexpr const char* kSmallControlFile =
    "1.3.6.1.2.1.1.1.0, OctetString, RO, fixed(Test agent)\r\n"
    "1.3.6.1.2.1.1.3.0, TimeTicks, RO, clock(0)\r\n";

// A home of its own: korvan.ini with INSTALLDIR naming the home, so that nothing depends on
// the working directory; the agent listens on 127.0.0.1 at a free port.
class Window : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* sub : {"bin", "agent", "mibs"}) {
            ::mkdir(dir.path(sub).c_str(), 0755);
        }
        writeFile(dir.path("agent/small.ctl"), kSmallControlFile);
        port = freeUdpPort(AF_INET);
        writeFile(ini(), "[KORVAN]\r\nINSTALLDIR=" + dir.root() +
                             "\r\nINPUTFILE1=small.ctl\r\nINPUTFILE2=other.ctl\r\n"
                             "RCOMMUNITY1=public\r\nWCOMMUNITY1=private\r\n"
                             "AGENTIP=127.0.0.1\r\nAGENTPORT=" +
                             std::to_string(port) + "\r\nSNMPVER=SNMPv2C\r\nDEBUGMODE=YES\r\n");
    }

    std::string ini() const { return dir.path("bin/korvan.ini"); }
    std::string setting(ConfigKey key) {
        std::string value;
        config.readPlain(key, value);
        return value;
    }
    const std::vector<std::string>& lines() { return window.status().lines(); }

    TempDir dir;
    uint16_t port = 0;
    Configuration config{dir.path("bin/korvan.ini")};
    ManualClock clock;
    EpollEventLoop loop{clock};
    MainWindow window{config, loop};
};

TEST_F(Window, WindowStartShowsTheSettingsOfKorvanIni) {
    window.windowStart();
    EXPECT_EQ(window.title(), "Korvimo (V7.0.1)");
    EXPECT_EQ(window.form().controlFile, "small.ctl");
    EXPECT_EQ(window.history(FormList::ControlFile),
              (std::vector<std::string>{"small.ctl", "other.ctl"}));
    EXPECT_EQ(window.form().readCommunity, "public");
    EXPECT_EQ(window.form().writeCommunity, "private");
    EXPECT_EQ(window.form().version, VersionMode::SNMPv2C);
    EXPECT_TRUE(window.form().debugMode);
    EXPECT_EQ(window.form().transport, IpVersion::IPv4);
    EXPECT_EQ(window.agentAddressText(), "127.0.0.1");  // AGENTIP is shown
    EXPECT_EQ(setting(ConfigKey::IPV6SUPPORT), "NO");
    EXPECT_TRUE(lines().empty());
    EXPECT_FALSE(window.runningLayout());
    EXPECT_TRUE(window.enabled(Control::Start));
    EXPECT_FALSE(window.enabled(Control::Stop));
}

TEST_F(Window, StartServesAndWritesTheChoicesBack) {
    window.windowStart();
    window.form().controlFile = "small.ctl";
    window.form().readCommunity = "reader";
    window.form().version = VersionMode::Bilingual;
    window.form().debugMode = false;
    ASSERT_TRUE(window.start()) << (lines().empty() ? "" : lines().back());
    EXPECT_EQ(lines(), std::vector<std::string>{"Agent has been started."});
    EXPECT_TRUE(window.agentRunning());
    EXPECT_EQ(window.agentPort(), port);
    EXPECT_EQ(window.agent().settings().readCommunity, "reader");
    EXPECT_EQ(config.historyValues(ConfigKey::RCOMMUNITY),
              (std::vector<std::string>{"reader", "public"}));
    EXPECT_EQ(setting(ConfigKey::SNMPVER), "BILINGUAL");
    EXPECT_EQ(setting(ConfigKey::DEBUGMODE), "NO");
    EXPECT_EQ(window.agent().settings().versionMode, VersionMode::Bilingual);
    EXPECT_EQ(window.agent().startTime(), clock.calendarSeconds());
    EXPECT_TRUE(window.runningLayout());
    EXPECT_TRUE(window.enabled(Control::Stop));
    for (Control c : {Control::Start, Control::Exit, Control::ControlFileList, Control::Browse,
                      Control::View, Control::SNMPv1, Control::DebugMode, Control::IPv6}) {
        EXPECT_FALSE(window.enabled(c));
    }
    EXPECT_FALSE(window.enabled(MenuItem::CompileMibs));
    EXPECT_FALSE(window.enabled(MenuItem::LearnVariables));
    EXPECT_TRUE(window.enabled(MenuItem::GenerateTraps));
    EXPECT_TRUE(window.enabled(MenuItem::Exit));
    EXPECT_TRUE(window.closeNeedsQuestion());

    // A second start is refused while the agent runs.
    EXPECT_FALSE(window.start());
    EXPECT_EQ(lines().back(), kOperationInProgressText);

    window.stop();
    EXPECT_EQ(lines().back(), "Agent has been stopped.");
    EXPECT_FALSE(window.runningLayout());
    EXPECT_EQ(window.busy(), Busy::Idle);
    EXPECT_FALSE(window.agent().endpoint().isOpen());
    EXPECT_FALSE(window.agent().controlFileOpen());
    EXPECT_EQ(window.agent().store().attributeFile().descriptor(), -1);
    EXPECT_FALSE(window.agent().store().loaded());
    EXPECT_FALSE(window.closeNeedsQuestion());
}

TEST_F(Window, StartedAgentAnswersAndItsStatisticsFollow) {
    window.windowStart();
    window.form().debugMode = true;
    ASSERT_TRUE(window.start());
    UdpPeer manager(AF_INET);
    manager.sendTo(
        korvimo::testing::loopback(AF_INET, port),
        korvimo::testing::encodeMessage(snmp::kPduGetRequest, 77, snmp::kVersion2c, "public"));
    std::vector<uint8_t> answer;
    for (int turn = 0; turn < 100 && !manager.receive(answer, 0); ++turn) {
        loop.runOnce(10);
    }
    snmp::Pdu pdu;
    ASSERT_TRUE(korvimo::testing::decode(answer, pdu));
    EXPECT_EQ(pdu.requestId, 77);
    ASSERT_EQ(lines().size(), 4u);
    EXPECT_EQ(lines()[1], statisticsLine(1, window.agent().statistics()));
    EXPECT_NE(readFile(dir.path("agent/debug.out"))
                  .find("Oid1 = 1.3.6.1.2.1.1.1.0 , Type = "
                        "OctetString, Value = Test agent"),
              std::string::npos);
    window.stop();
    EXPECT_EQ(lines().size(), 5u);
}

TEST_F(Window, MissingControlFileFailsTheStartInTheRunningLayout) {
    window.windowStart();
    window.form().controlFile = "";
    EXPECT_FALSE(window.start());
    EXPECT_EQ(lines(),
              (std::vector<std::string>{
                  "Cannot open SNMP Variable file [" + dir.root() +
                      "/agent/] for reading. Is a directory.",
                  "Please Learn SNMP variables or Create variables from MIB."}));
    EXPECT_TRUE(window.runningLayout());
    EXPECT_EQ(window.busy(), Busy::Idle);
    EXPECT_FALSE(window.closeNeedsQuestion());  // busy is idle: the close box quits at once
    EXPECT_EQ(config.historyValues(ConfigKey::INPUTFILE).front(), "small.ctl");

    window.form().controlFile = "absent.ctl";
    window.stop();
    EXPECT_FALSE(window.start());
    EXPECT_EQ(lines().front(),
              "Cannot open SNMP Variable file [" + dir.root() +
                  "/agent/absent.ctl] for reading. No such file or directory.");
}

TEST_F(Window, UnwritableDebugLogFailsAndKeepsTheControlFileOpenUntilStop) {
    ::mkdir(dir.path("agent/debug.out").c_str(), 0755);  // cannot be opened for writing
    window.windowStart();
    window.form().debugMode = true;
    EXPECT_FALSE(window.start());
    EXPECT_EQ(lines().back(), "Cannot open [/agent/debug.out] for writing. Check permissions. Is a directory.");
    EXPECT_TRUE(window.agent().controlFileOpen());
    EXPECT_FALSE(window.agent().debugLog().isOpen());
    EXPECT_EQ(setting(ConfigKey::DEBUGMODE), "YES");
    window.stop();
    EXPECT_FALSE(window.agent().controlFileOpen());
}

TEST_F(Window, EndpointFailures) {
    window.windowStart();
    window.form().debugMode = false;

    config.writePlain(ConfigKey::AGENTIPXADDR, "0x0102");
    EXPECT_FALSE(window.start());
    EXPECT_EQ(lines().back(),
              "Invalid IPX address specified(0x0102). Must be in the format "
              "0x01020304010203040506");
    window.stop();

    // A well-formed IPX address on a kernel without IPX: the opener's reason and the socket
    // number used.
    config.writePlain(ConfigKey::AGENTIPXADDR, "0x01020304010203040506");
    config.writePlain(ConfigKey::AGENTPORT, "");
    EXPECT_FALSE(window.start());
    EXPECT_EQ(
        lines().back().find(": Cannot open SNMP request socket for IPX(36879)."),
        lines().back().size() - std::strlen(": Cannot open SNMP request socket for IPX(36879)."))
        << lines().back();
    window.stop();
    config.writePlain(ConfigKey::AGENTIPXADDR, "");

    UdpPeer occupant(AF_INET);  // holds 127.0.0.1 at its port
    config.writePlain(ConfigKey::AGENTPORT, std::to_string(occupant.port()));
    EXPECT_FALSE(window.start());
    const std::string taken = std::to_string(occupant.port());
    EXPECT_EQ(lines().back(),
              "bind() call failed. Cannot open socket. Check TCP/IP stack (98): "
              "Cannot open SNMP request socket(" +
                  taken +
                  "). Address already in use: another program (another agent?) has UDP port " +
                  taken + " on this address. Stop it or choose another port (AGENTPORT, --port).");
    window.stop();

    config.writePlain(ConfigKey::AGENTPORT, std::to_string(port));
    config.writePlain(ConfigKey::AGENTIP, "192.0.2.1");  // documentation range: not ours
    EXPECT_FALSE(window.start());
    EXPECT_NE(lines().back().find("(99): Cannot open SNMP request socket(" + std::to_string(port) +
                                  "). Cannot assign requested address: the agent address is not "
                                  "an address of this machine."),
              std::string::npos)
        << lines().back();
    window.stop();
    config.writePlain(ConfigKey::AGENTIP, "127.0.0.1");

    for (const char* text : {"70000", "abc", "0x3f41", "16191xyz"}) {
        config.writePlain(ConfigKey::AGENTPORT, text);
        EXPECT_FALSE(window.start());
        EXPECT_EQ(lines().back(), std::string("Invalid agent port specified(") + text +
                                      "). Must be a number from 0 to 65535");
        window.stop();
    }

    config.writePlain(ConfigKey::AGENTPORT, std::to_string(port));
    config.writePlain(ConfigKey::AGENTIP, "not.an.address");
    EXPECT_FALSE(window.start());
    EXPECT_EQ(lines().back(),
              "Invalid agent IP address specified(not.an.address). Must be a "
              "numeric address of the chosen transport");
    window.stop();
}

TEST_F(Window, SecondAgentWithAnAddressCannotShareThePort) {
    window.windowStart();
    window.form().debugMode = false;
    ASSERT_TRUE(window.start());
    Configuration otherConfig(ini());
    EpollEventLoop otherLoop(clock);
    MainWindow other(otherConfig, otherLoop);
    other.windowStart();
    other.form().debugMode = false;
    EXPECT_FALSE(other.start());
    EXPECT_NE(other.status().lines().back().find("Cannot open SNMP request socket"),
              std::string::npos);
}

TEST_F(Window, EndpointOverrideIsUsedButNotWritten) {
    window.windowStart();
    window.form().debugMode = false;
    const uint16_t other = freeUdpPort(AF_INET);
    window.setEndpointOverride(other, std::string("127.0.0.1"));
    ASSERT_TRUE(window.start());
    EXPECT_EQ(window.agentPort(), other);
    EXPECT_EQ(setting(ConfigKey::AGENTPORT), std::to_string(port));
}

TEST_F(Window, CommunityTooLongIsRefusedAndItsPrefixNeverAdmitted) {
    const std::string longText(60, 'c');
    const std::string prefix(49, 'c');
    const std::string refused = "Community too long (60 characters): at most 49 are allowed.";
    // Typed into the form.
    window.windowStart();
    window.form().debugMode = false;
    window.form().readCommunity = longText;
    EXPECT_FALSE(window.start());
    EXPECT_EQ(lines().back(), refused);
    window.stop();

    // The head of WCOMMUNITY in korvan.ini.
    config.pushHistory(ConfigKey::WCOMMUNITY, longText);
    window.windowStart();
    window.form().debugMode = false;
    EXPECT_FALSE(window.start());
    EXPECT_EQ(lines().back(), refused);
    EXPECT_NE(window.agent().settings().writeCommunity, prefix);
    UdpPeer manager(AF_INET);
    manager.sendTo(
        korvimo::testing::loopback(AF_INET, port),
        korvimo::testing::encodeMessage(snmp::kPduGetRequest, 78, snmp::kVersion2c, prefix.c_str()));
    std::vector<uint8_t> answer;
    for (int turn = 0; turn < 20; ++turn) {
        loop.runOnce(10);
    }
    EXPECT_FALSE(manager.receive(answer, 0));
    window.stop();
}

TEST_F(Window, ControlFilesThatNeverEndOrNeverOpenAreRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(dir.path("agent/fifo.ctl").c_str(), 0600), 0);
    // A sparse file of 2 GB of zeros: one endless line.
    const std::string sparse = dir.path("agent/sparse.ctl");
    writeFile(sparse, "");
    ASSERT_EQ(::truncate(sparse.c_str(), 2LL << 30), 0);
    window.windowStart();
    window.form().debugMode = false;
    const auto began = std::chrono::steady_clock::now();
    for (const std::string name : {"fifo.ctl", "/dev/zero"}) {
        window.form().controlFile = name;
        EXPECT_FALSE(window.start());
        const std::string path = name.starts_with('/') ? name : dir.path("agent/" + name);
        EXPECT_EQ(lines(), (std::vector<std::string>{
                               "Cannot open SNMP Variable file [" + path +
                                   "] for reading. Not a regular file.",
                               "Please Learn SNMP variables or Create variables from MIB."}));
        window.stop();
    }
    window.form().controlFile = "sparse.ctl";
    EXPECT_FALSE(window.start());
    EXPECT_NE(std::find(lines().begin(), lines().end(),
                        "Line too long.(line = 1). A line holds at most 65536 bytes with its CR LF"),
              lines().end());
    window.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
}

TEST_F(Window, AddressDisplayFollowsTransportAndSettings) {
    config.writePlain(ConfigKey::AGENTIP, "");
    window.windowStart();
    EXPECT_FALSE(window.agentAddressText().empty());  // the looked-up address or localhost
    EXPECT_EQ(window.agentAddressText().find(':'), std::string::npos);

    window.chooseTransport(IpVersion::IPv6);
    EXPECT_EQ(window.agent().settings().ipVersion, IpVersion::IPv6);
    EXPECT_EQ(setting(ConfigKey::IPV6SUPPORT), "YES");
    window.chooseTransport(IpVersion::IPv4);
    EXPECT_EQ(setting(ConfigKey::IPV6SUPPORT), "NO");

    // AGENTIP present but empty: the IPX address is not consulted.
    config.writePlain(ConfigKey::AGENTIPXADDR, "0x01020304010203040506");
    window.chooseTransport(IpVersion::IPv4);
    EXPECT_EQ(window.agentAddressText().find("IPX"), std::string::npos);

    // AGENTIP absent: the IPX address is shown.
    writeFile(ini(), "[KORVAN]\r\nAGENTIPXADDR=0x01020304010203040506\r\n");
    window.chooseTransport(IpVersion::IPv4);
    EXPECT_EQ(window.agentAddressText(), "(IPX) 0x01020304010203040506");
}

TEST_F(Window, PortBesideTheAddressIsThePortInUse) {
    window.windowStart();
    EXPECT_EQ(window.agentPortText(), std::to_string(port));  // AGENTPORT, on IPv4

    // An override on IPv6: shown before the start and while the agent listens on it.
    const uint16_t other = freeUdpPort(AF_INET6);
    window.setEndpointOverride(other, std::string("::1"));
    window.chooseTransport(IpVersion::IPv6);
    EXPECT_EQ(window.agentPortText(), std::to_string(other));
    window.form().debugMode = false;
    ASSERT_TRUE(window.start());
    EXPECT_EQ(window.agentPort(), other);
    EXPECT_EQ(window.agentPortText(), std::to_string(other));
    window.stop();

    // Neither override nor AGENTPORT: the default port, or IPX's default socket number.
    window.setEndpointOverride(std::nullopt, std::nullopt);
    config.writePlain(ConfigKey::AGENTPORT, "");
    window.chooseTransport(IpVersion::IPv4);
    EXPECT_EQ(window.agentPortText(), "161");
    config.writePlain(ConfigKey::AGENTIPXADDR, "0x01020304010203040506");
    window.chooseTransport(IpVersion::IPv4);
    EXPECT_EQ(window.agentPortText(), "0x900F");
}

TEST_F(Window, ExitAndCloseReleaseEverything) {
    window.windowStart();
    window.form().debugMode = false;
    ASSERT_TRUE(window.start());
    EXPECT_TRUE(window.closeNeedsQuestion());
    EXPECT_EQ(std::string(kQuitQuestionText),
              "The Korvimo is currently running.  Do\nyou really want to quit Korvimo now?\n");
    window.exit();
    EXPECT_FALSE(window.agent().endpoint().isOpen());
    EXPECT_FALSE(window.agent().store().loaded());
    EXPECT_FALSE(window.agent().controlFileOpen());
}

TEST(MainStatusLimit, OldestLinesBelowTheStatisticsGoFirst) {
    StatusList list;
    list.setLineLimit(8, 4);
    std::vector<std::string> removed;
    list.onChange([&](const StatusList::Change& c) {
        if (c.kind == StatusList::ChangeKind::Removed) {
            removed.push_back(std::to_string(c.position));
        }
    });
    for (int i = 0; i < 12; ++i) {
        list.append("line " + std::to_string(i));
    }
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list.lines()[0], "line 0");
    EXPECT_EQ(list.lines()[3], "line 3");
    EXPECT_EQ(list.lines()[4], "line 8");
    EXPECT_EQ(list.lines()[7], "line 11");
    EXPECT_EQ(removed, std::vector<std::string>(4, "4"));
}

TEST(MainStatusLimit, TheMainWindowListIsBounded) {
    TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    ManualClock clock;
    EpollEventLoop loop(clock);
    MainWindow window(config, loop);
    for (std::size_t i = 0; i < kMainStatusLineLimit + 100; ++i) {
        window.status().append("Error in receiving UDP Packet (0)");
    }
    EXPECT_EQ(window.status().size(), kMainStatusLineLimit);
}

}  // namespace
}  // namespace korvimo::app
