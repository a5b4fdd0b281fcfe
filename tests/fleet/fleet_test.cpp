// Devices files and clones as a fleet reads them, devices of one control file sharing its
// load, and recorded devices chosen by community.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/udp_peer.h"
#include "app/agent_start.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"
#include "app/demo_home.h"
#include "fleet/community_devices.h"
#include "fleet/devices_file.h"
#include "fleet/fleet.h"

namespace korvimo::fleet {
namespace {

using korvimo::testing::TempDir;

TEST(DevicesFile, ReadsEveryFormAndNamesTheLinesItCannot) {
    const DevicesFile file = parseDevicesFile(
        "# address        control file  read   write   versions\n"
        "127.0.0.1:1161   demo.ctl\r\n"
        "\n"
        "  [::1]:1162     /srv/core.ctl public private v2c   # the core\n"
        "127.0.0.2:1163   edge.ctl      edge\n"
        "300.1.1.1:1161   demo.ctl\n"
        "localhost:1161   demo.ctl\n"
        "127.0.0.1        demo.ctl\n"
        "127.0.0.1:0      demo.ctl\n"
        "::1:1161         demo.ctl\n"
        "127.0.0.1:1164\n"
        "127.0.0.1:1165   demo.ctl a b v4\n"
        "127.0.0.1:1166   demo.ctl a b v1 extra\n"
        "127.0.0.1:1167   demo.ctl cccccccccccccccccccccccccccccccccccccccccccccccccc\n");
    ASSERT_EQ(file.devices.size(), 3u);
    EXPECT_EQ(deviceName(file.devices[0]), "127.0.0.1:1161");
    EXPECT_EQ(file.devices[0].line, 2u);
    EXPECT_FALSE(file.devices[0].readCommunity);
    const DeviceSpec& core = file.devices[1];
    EXPECT_EQ(deviceName(core), "[::1]:1162");
    EXPECT_EQ(core.transport, IpVersion::IPv6);
    EXPECT_EQ(core.controlFile, "/srv/core.ctl");
    EXPECT_EQ(core.readCommunity, "public");
    EXPECT_EQ(core.writeCommunity, "private");
    EXPECT_EQ(core.version, VersionMode::SNMPv2C);
    EXPECT_EQ(file.devices[2].readCommunity, "edge");
    EXPECT_FALSE(file.devices[2].writeCommunity);

    std::vector<std::size_t> lines;
    for (const DevicesFileProblem& problem : file.problems) {
        lines.push_back(problem.line);
        EXPECT_FALSE(problem.text.empty());
    }
    EXPECT_EQ(lines, (std::vector<std::size_t>{6, 7, 8, 9, 10, 11, 12, 13, 14}));
    EXPECT_EQ(file.problems[0].text.rfind("malformed address '300.1.1.1:1161'", 0), 0u);
}

TEST(DevicesFile, ClonesCountAddressesAcrossOctetsOrPortsAndRefuseToRunOut) {
    std::vector<DeviceSpec> devices;
    ASSERT_TRUE(cloneDevices("demo.ctl", 3, std::string("127.0.1.255"), "", 1161, IpVersion::IPv4,
                             devices));
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(deviceName(devices[0]), "127.0.1.255:1161");
    EXPECT_EQ(deviceName(devices[1]), "127.0.2.0:1161");
    EXPECT_EQ(deviceName(devices[2]), "127.0.2.1:1161");

    ASSERT_TRUE(cloneDevices("demo.ctl", 2, std::nullopt, "", 1161, IpVersion::IPv6, devices));
    EXPECT_EQ(deviceName(devices[1]), "[::]:1162");

    EXPECT_FALSE(cloneDevices("demo.ctl", 2, std::string("255.255.255.255"), "", 1161,
                              IpVersion::IPv4, devices));
    EXPECT_FALSE(cloneDevices("demo.ctl", 3, std::nullopt, "", 65534, IpVersion::IPv4, devices));
    EXPECT_FALSE(
        cloneDevices("demo.ctl", 1, std::string("host"), "", 1161, IpVersion::IPv4, devices));
}

// A fleet on a copy of the demo home, its lines collected.
struct FleetFixture {
    FleetFixture() {
        korvimo::testing::copyDemoHome(dir.root());
        config = std::make_unique<Configuration>(dir.path("bin/korvan.ini"));
    }
    Fleet::Services services() {
        return {loop,
                config.get(),
                dir.root(),
                mibInfo.current(*config),
                [this](std::string_view line) { lines.emplace_back(line); },
                [this](std::string_view line) { lines.emplace_back(line); },
                nullptr,
                ""};
    }

    TempDir dir;
    std::unique_ptr<Configuration> config;
    korvimo::app::HomeMibInfo mibInfo;
    EpollEventLoop loop{SystemClock::instance()};
    std::vector<std::string> lines;
};

TEST(Fleet, DevicesOfOneControlFileShareOneLoadAndAFailingDeviceLeavesTheOthers) {
    FleetFixture f;
    Fleet fleet(f.services());
    DeviceDefaults defaults{"vintor", "vintor", VersionMode::Bilingual, false, false};
    std::vector<DeviceSpec> devices;
    const uint16_t taken = korvimo::testing::freeUdpPort(AF_INET);
    korvimo::testing::UdpPeer holder(AF_INET);  // holds a port a device then cannot take
    ASSERT_TRUE(
        cloneDevices("demo.ctl", 3, std::string("127.0.0.1"), "", 0, IpVersion::IPv4, devices));
    devices[0].port = taken;
    devices[1].address = "127.0.0.2";
    devices[1].port = taken;
    devices[2].address = "127.0.0.1";
    devices[2].port = holder.port();
    DeviceSpec missing = devices[0];
    missing.controlFile = "missing.ctl";
    missing.address = "127.0.0.3";
    missing.line = 4;

    EXPECT_TRUE(fleet.start(devices[0], defaults, "devices.txt"));
    EXPECT_TRUE(fleet.start(devices[1], defaults, "devices.txt"));
    EXPECT_FALSE(fleet.start(devices[2], defaults, "devices.txt"));
    EXPECT_FALSE(fleet.start(missing, defaults, "devices.txt"));
    EXPECT_EQ(fleet.serving(), 2u);
    EXPECT_EQ(fleet.loads(), 1u);
    EXPECT_EQ(fleet.summaryLine(), "Fleet: 2 devices serving, 2 failed.");
    EXPECT_EQ(fleet.device(0).agent.store().loadedFile(),
              fleet.device(1).agent.store().loadedFile());
    ASSERT_EQ(f.lines.size(), 3u);
    // The demo's events are said once for its one load.
    EXPECT_TRUE(f.lines[0].ends_with(
        "demo.ctl: its 2 %event line(s) are not run in a fleet: korvan-cli agent runs them."))
        << f.lines[0];
    EXPECT_EQ(f.lines[1].rfind(
                  "Device 127.0.0.1:" + std::to_string(holder.port()) + ": bind() call failed.", 0),
              0u)
        << f.lines[1];
    EXPECT_EQ(f.lines[2].rfind("Device 127.0.0.3:" + std::to_string(taken) +
                                   " (devices.txt line 4): Cannot open SNMP Variable file",
                               0),
              0u)
        << f.lines[2];
}

TEST(CommunityDevices, ACommunityNamesItsRecordingAndNameAtNFallsBackToName) {
    FleetFixture f;
    const std::string recordings = f.dir.path("recordings");
    ::mkdir(recordings.c_str(), 0755);
    korvimo::testing::writeFile(recordings + "/edge.ctl",
                                korvimo::testing::readFile(f.dir.path("agent/demo.ctl")));
    korvimo::testing::writeFile(recordings + "/sw.snmprec",
                                "1.3.6.1.2.1.1.5.0|4|sw1\n1.3.6.1.2.1.1.7.0|2|2\n");
    korvimo::testing::writeFile(recordings + "/sw.walk", ".1.3.6.1.2.1.1.5.0 = STRING: other\n");
    korvimo::testing::writeFile(recordings + "/broken.ctl", "1.3.6.1.2.1.1.5.0, Integer\n");
    korvimo::testing::writeFile(recordings + "/notes.txt", "not a device\n");
    ASSERT_EQ(::symlink("edge.ctl", (recordings + "/core.ctl").c_str()), 0);

    CommunityDevices devices(f.services());
    ASSERT_TRUE(devices.scan(recordings));
    EXPECT_EQ(devices.recorded(), 4u);  // edge, core, sw (its .snmprec), broken
    FleetDevice* sw = devices.deviceFor("sw");
    ASSERT_NE(sw, nullptr);
    EXPECT_EQ(devices.deviceFor("sw@12"), sw);
    EXPECT_NE(devices.deviceFor("edge"), nullptr);
    EXPECT_EQ(devices.deviceFor("edge@"), devices.deviceFor("edge"));
    // A link to a recording shares its load, not its values.
    ASSERT_NE(devices.deviceFor("core"), nullptr);
    EXPECT_NE(devices.deviceFor("core"), devices.deviceFor("edge"));
    EXPECT_EQ(devices.deviceFor("core")->agent.store().loadedFile(),
              devices.deviceFor("edge")->agent.store().loadedFile());
    EXPECT_EQ(devices.deviceFor("notes"), nullptr);
    EXPECT_EQ(devices.deviceFor("@sw"), nullptr);
    EXPECT_EQ(devices.deviceFor("broken"), nullptr);
    EXPECT_EQ(devices.deviceFor("broken"), nullptr);  // not loaded again
    EXPECT_EQ(devices.loaded(), 3u);

    store::AttributeInfo found;
    ASSERT_TRUE(
        sw->agent.store().lookupAttribute(korvimo::testing::oid("1.3.6.1.2.1.1.5.0"), found));
    snmp::SyntaxValue value;
    ASSERT_TRUE(sw->agent.store().makeValue(value, found));
    EXPECT_EQ(std::string(value.octets.bytes.begin(), value.octets.bytes.end()), "sw1");

    std::size_t brokenLines = 0;
    for (const std::string& line : f.lines) {
        brokenLines += line.rfind("Device broken: ", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(brokenLines, 1u);  // once, after the load's own lines
    CommunityDevices none(f.services());
    EXPECT_FALSE(none.scan(f.dir.path("bin")));
}

}  // namespace
}  // namespace korvimo::fleet
