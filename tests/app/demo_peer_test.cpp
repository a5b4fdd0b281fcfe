// The demo device against Net-SNMP's managers: walks over IPv4 and IPv6 in SNMPv1 and
// SNMPv2c give exactly the control file's accessible attributes in order, values move as
// their behaviours say, Sets are accepted and refused with the statuses of each version, and
// route rows are created, completed, activated and destroyed through RowStatus.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/demo_agent.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"

namespace korvimo {
namespace {

using testing::DemoAgent;
using testing::netSnmp;
using testing::readFile;

constexpr const char* kRouteBase = "1.3.6.1.2.1.4.24.4.1";
constexpr const char* kNewRoute = "10.9.0.0.255.255.0.0.0.192.168.1.254";

std::string trim(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t");
    const std::size_t end = text.find_last_not_of(" \t\r");
    return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

// Every identifier a name with instance ranges ("1.3.[1-3].4") stands for, in order.
void expandRanges(const std::vector<std::string>& parts, std::size_t at, std::string prefix,
                  std::vector<std::string>& out) {
    if (at == parts.size()) {
        out.push_back(prefix);
        return;
    }
    const std::string& part = parts[at];
    long low = 0;
    long high = 0;
    if (part.front() == '[') {
        const std::string inner = part.substr(1, part.size() - 2);
        const std::size_t dash = inner.find('-');
        low = std::stol(inner.substr(0, dash));
        high = dash == std::string::npos ? low : std::stol(inner.substr(dash + 1));
    } else {
        low = high = std::stol(part);
    }
    for (long v = low; v <= high; ++v) {
        expandRanges(parts, at + 1, prefix + (at == 0 ? "" : ".") + std::to_string(v), out);
    }
}

// The accessible attributes of the demo control file in identifier order, read here with
// the file's own rules (names through mibinfo.out, ranges expanded, RO/RW/RC served); an
// SNMPv1 walk passes over the Counter64 ones.
std::vector<std::string> expectedWalk(const std::string& home, bool v1 = false) {
    const auto mib = mibinfo::MibInfo::load(home + "/mibs/mibinfo.out");
    std::istringstream lines(readFile(home + "/agent/demo.ctl"));
    std::vector<std::string> names;
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#' || line[0] == '%') {
            continue;
        }
        std::vector<std::string> fields;
        std::size_t from = 0;
        for (int i = 0; i < 3; ++i) {
            const std::size_t comma = line.find(',', from);
            fields.push_back(trim(line.substr(from, comma - from)));
            from = comma + 1;
        }
        const std::string access = fields[2].substr(0, 2);
        if ((access != "RO" && access != "RW" && access != "RC") ||
            (v1 && fields[1] == "Counter64")) {
            continue;
        }
        std::string name = fields[0];
        if (!std::isdigit(static_cast<unsigned char>(name[0]))) {
            const std::size_t dot = name.find('.');
            const mibinfo::Record* object =
                mib != nullptr ? mib->firstObjectWithDescriptor(name.substr(0, dot)) : nullptr;
            EXPECT_NE(object, nullptr) << name;
            const std::string numeric = object != nullptr ? std::string(object->identifier) : "";
            name = numeric + (dot == std::string::npos ? "" : name.substr(dot));
        }
        std::vector<std::string> parts;
        std::istringstream pieces(name);
        std::string piece;
        while (std::getline(pieces, piece, '.')) {
            parts.push_back(piece);
        }
        expandRanges(parts, 0, "", names);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        snmp::ObjectId x, y;
        snmp::SnmpStrToOid(a.c_str(), &x);
        snmp::SnmpStrToOid(b.c_str(), &y);
        return snmp::compareOid(x, y) < 0;
    });
    return names;
}

// The names of a Net-SNMP -On listing, without the end-of-view lines.
std::vector<std::string> walkedNames(const std::string& output) {
    std::vector<std::string> names;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t equals = line.find(" = ");
        if (line.empty() || line[0] != '.' || equals == std::string::npos ||
            line.find("No more variables left") != std::string::npos) {
            continue;
        }
        names.push_back(line.substr(1, equals - 1));
    }
    return names;
}

// The value text of "OID = TYPE: value" for one name of a listing.
std::string valueOf(const std::string& output, const std::string& name) {
    std::istringstream lines(output);
    std::string line;
    const std::string key = "." + name + " = ";
    while (std::getline(lines, line)) {
        if (line.rfind(key, 0) == 0) {
            return line.substr(key.size());
        }
    }
    return "";
}

unsigned long long numberIn(const std::string& text) {
    const std::size_t open = text.find('(');
    const std::size_t at = open != std::string::npos ? open + 1 : text.find(": ") + 2;
    return std::stoull(text.substr(at));
}

std::string route(int column, const char* index = kNewRoute) {
    return std::string(kRouteBase) + "." + std::to_string(column) + "." + index;
}

class DemoDevice : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { agent = new DemoAgent(IpVersion::IPv4, "127.0.0.1"); }
    static void TearDownTestSuite() {
        delete agent;
        agent = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(agent->running()) << agent->startFailure(); }

    std::string v2(const std::string& program, const std::string& args,
                   const std::string& community = "vintor") {
        return netSnmp(program, "-v2c -c " + community + " " + agent->target() + " " + args).output;
    }
    std::string v1(const std::string& program, const std::string& args) {
        return netSnmp(program, "-v1 -c vintor " + agent->target() + " " + args).output;
    }

    static DemoAgent* agent;
};

DemoAgent* DemoDevice::agent = nullptr;

TEST_F(DemoDevice, WalksInEveryVersionGiveTheControlFilesAttributesInOrder) {
    const std::vector<std::string> expected = expectedWalk(agent->home());
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(walkedNames(v2("snmpwalk", "1.3.6.1")), expected);
    const std::vector<std::string> withoutCounter64 = expectedWalk(agent->home(), true);
    ASSERT_EQ(withoutCounter64.size() + 6, expected.size());  // ifHCInOctets, ifHCOutOctets
    EXPECT_EQ(walkedNames(v1("snmpwalk", "1.3.6.1")), withoutCounter64);
    EXPECT_EQ(walkedNames(v2("snmpbulkwalk", "-Cr25 1.3.6.1")), expected);
    EXPECT_EQ(walkedNames(v2("snmpbulkwalk", "-Cn1 -Cr3 1.3.6.1")), expected);
}

TEST_F(DemoDevice, GetAndGetNextServeNamedValues) {
    const std::string got =
        v2("snmpget", "1.3.6.1.2.1.1.1.0 1.3.6.1.2.1.2.2.1.2.2 1.3.6.1.2.1.9.0");
    EXPECT_EQ(valueOf(got, "1.3.6.1.2.1.1.1.0"), "STRING: \"Korvimo demo router, 3 interfaces\"");
    EXPECT_EQ(valueOf(got, "1.3.6.1.2.1.2.2.1.2.2"), "STRING: \"eth0\"");
    EXPECT_EQ(valueOf(got, "1.3.6.1.2.1.9.0"), "No Such Instance currently exists at this OID");

    const std::string next = v1("snmpgetnext", "1.3.6.1.2.1.1.3.0 1.3.6.1.2.1.2.2.1.1.3");
    EXPECT_EQ(valueOf(next, "1.3.6.1.2.1.1.4.0"), "STRING: \"noc@example.net\"");
    EXPECT_EQ(valueOf(next, "1.3.6.1.2.1.2.2.1.2.1"), "STRING: \"lo\"");
    EXPECT_EQ(valueOf(v2("snmpget", "1.3.6.1.2.1.31.1.1.1.6.2"), "1.3.6.1.2.1.31.1.1.1.6.2")
                  .rfind("Counter64: ", 0),
              0u);
    // SNMPv1 has no Counter64: a Get of one fails with noSuchName at its index, and a GetNext
    // goes on to the next object.
    const std::string v1Get = v1("snmpget", "1.3.6.1.2.1.1.5.0 1.3.6.1.2.1.31.1.1.1.6.2");
    EXPECT_NE(v1Get.find("noSuchName"), std::string::npos) << v1Get;
    EXPECT_NE(v1Get.find("Failed object: .1.3.6.1.2.1.31.1.1.1.6.2"), std::string::npos) << v1Get;
    const std::string v1Next = v1("snmpgetnext", "1.3.6.1.2.1.31.1.1.1.5.3");
    EXPECT_EQ(valueOf(v1Next, "1.3.6.1.2.1.31.1.1.1.14.1"), "INTEGER: 1") << v1Next;
}

TEST_F(DemoDevice, ClockAndCountersMoveBetweenReads) {
    const std::string args = "1.3.6.1.2.1.1.3.0 1.3.6.1.2.1.2.2.1.10.2 1.3.6.1.2.1.4.24.4.1.8." +
                             std::string("0.0.0.0.0.0.0.0.0.192.168.1.1");
    const std::string first = v2("snmpget", args);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    const std::string second = v2("snmpget", args);
    const auto ticks1 = numberIn(valueOf(first, "1.3.6.1.2.1.1.3.0"));
    const auto ticks2 = numberIn(valueOf(second, "1.3.6.1.2.1.1.3.0"));
    EXPECT_GE(ticks2, ticks1 + 210);  // hundredths of a second
    EXPECT_LE(ticks2, ticks1 + 400);
    EXPECT_GT(numberIn(valueOf(second, "1.3.6.1.2.1.2.2.1.10.2")),
              numberIn(valueOf(first, "1.3.6.1.2.1.2.2.1.10.2")));
    const std::string age = "1.3.6.1.2.1.4.24.4.1.8.0.0.0.0.0.0.0.0.0.192.168.1.1";
    EXPECT_GE(numberIn(valueOf(second, age)), numberIn(valueOf(first, age)) + 2);
}

TEST_F(DemoDevice, SetsAreAcceptedAndRefusedWithTheStatusOfEachVersion) {
    const std::string accepted = v2("snmpset", "1.3.6.1.2.1.1.5.0 s lab-7");
    EXPECT_EQ(valueOf(accepted, "1.3.6.1.2.1.1.5.0"), "STRING: \"lab-7\"");
    EXPECT_EQ(valueOf(v1("snmpget", "1.3.6.1.2.1.1.5.0"), "1.3.6.1.2.1.1.5.0"),
              "STRING: \"lab-7\"");

    EXPECT_NE(v2("snmpset", "1.3.6.1.2.1.1.1.0 s x").find("notWritable"), std::string::npos);
    EXPECT_NE(v2("snmpset", "1.3.6.1.2.1.1.5.0 i 3").find("wrongType"), std::string::npos);
    EXPECT_NE(v2("snmpset", "1.3.6.1.2.1.4.2.0 i 300").find("wrongValue"), std::string::npos);
    EXPECT_NE(v2("snmpset", "1.3.6.1.2.1.1.5.0 s " + std::string(256, 'n')).find("wrongLength"),
              std::string::npos);
    EXPECT_NE(v2("snmpset", "1.3.6.1.2.1.1.99.0 i 1").find("noAccess"), std::string::npos);

    EXPECT_NE(v1("snmpset", "1.3.6.1.2.1.1.1.0 s x").find("noSuchName"), std::string::npos);
    EXPECT_NE(v1("snmpset", "1.3.6.1.2.1.4.2.0 i 300").find("badValue"), std::string::npos);
    EXPECT_NE(v1("snmpset", "1.3.6.1.2.1.1.5.0 i 3").find("badValue"), std::string::npos);

    // A refused request sets nothing, not even its earlier bindings.
    const std::string mixed = v2("snmpset", "1.3.6.1.2.1.1.6.0 s elsewhere 1.3.6.1.2.1.4.2.0 i 0");
    EXPECT_NE(mixed.find("wrongValue"), std::string::npos);
    EXPECT_EQ(valueOf(v2("snmpget", "1.3.6.1.2.1.1.6.0"), "1.3.6.1.2.1.1.6.0"),
              "STRING: \"Lab rack 3\"");
}

TEST_F(DemoDevice, WrongCommunityGetsNoAnswer) {
    const auto run = netSnmp("snmpget", "-v2c -c vint " + agent->target() + " 1.3.6.1.2.1.1.1.0");
    EXPECT_NE(run.output.find("Timeout"), std::string::npos) << run.output;
    EXPECT_NE(run.status, 0);
}

TEST_F(DemoDevice, RouteRowIsCreatedCompletedActivatedWalkedAndDestroyed) {
    EXPECT_EQ(valueOf(v2("snmpset", route(16) + " i 5"), route(16)), "INTEGER: 5");
    EXPECT_EQ(valueOf(v2("snmpget", route(16)), route(16)), "INTEGER: 3");  // notReady
    EXPECT_EQ(valueOf(v2("snmpget", route(5)), route(5)),
              "No Such Instance currently exists at this OID");  // awaiting its value
    EXPECT_NE(v2("snmpset", route(16) + " i 1").find("inconsistentValue"), std::string::npos);

    EXPECT_EQ(valueOf(v2("snmpset", route(5) + " i 3"), route(5)), "INTEGER: 3");
    EXPECT_EQ(valueOf(v2("snmpget", route(16)), route(16)), "INTEGER: 2");  // notInService
    EXPECT_EQ(valueOf(v2("snmpset", route(16) + " i 1"), route(16)), "INTEGER: 1");

    const std::string table = v2("snmpwalk", kRouteBase);
    std::size_t columns = 0;
    for (const std::string& name : walkedNames(table)) {
        columns +=
            name.size() > std::strlen(kNewRoute) &&
            name.compare(name.size() - std::strlen(kNewRoute), std::string::npos, kNewRoute) == 0;
    }
    EXPECT_EQ(columns, 16u);
    EXPECT_EQ(valueOf(table, route(1)), "IpAddress: 10.9.0.0");  // index columns from the name
    EXPECT_EQ(valueOf(table, route(2)), "IpAddress: 255.255.0.0");
    EXPECT_EQ(valueOf(table, route(4)), "IpAddress: 192.168.1.254");

    EXPECT_EQ(valueOf(v2("snmpset", route(16) + " i 6"), route(16)), "INTEGER: 6");
    EXPECT_EQ(walkedNames(v2("snmpwalk", kRouteBase)).size(), 32u);  // the two routes of start
    EXPECT_EQ(walkedNames(v2("snmpwalk", "1.3.6.1")), expectedWalk(agent->home()));
}

TEST_F(DemoDevice, CreateAndGoNeedsTheRequiredColumnInTheSameRequest) {
    const std::string other = "10.10.0.0.255.255.0.0.0.192.168.1.254";
    EXPECT_NE(v2("snmpset", route(16, other.c_str()) + " i 4").find("inconsistentValue"),
              std::string::npos);
    const std::string both =
        v2("snmpset", route(16, other.c_str()) + " i 4 " + route(5, other.c_str()) + " i 2");
    EXPECT_EQ(valueOf(both, route(16, other.c_str())), "INTEGER: 4");
    EXPECT_EQ(valueOf(v1("snmpget", route(16, other.c_str())), route(16, other.c_str())),
              "INTEGER: 1");
    v2("snmpset", route(16, other.c_str()) + " i 6");
    EXPECT_EQ(valueOf(v2("snmpget", route(16, other.c_str())), route(16, other.c_str())),
              "No Such Instance currently exists at this OID");
}

TEST(DemoDeviceIpv6, WalkOverLoopbackSixGivesTheSameAttributes) {
    DemoAgent agent(IpVersion::IPv6, "::1");
    ASSERT_TRUE(agent.running()) << agent.startFailure();
    const std::vector<std::string> expected = expectedWalk(agent.home());
    const auto v2 = netSnmp("snmpbulkwalk", "-v2c -c vintor " + agent.target() + " 1.3.6.1");
    EXPECT_EQ(walkedNames(v2.output), expected);
    const auto v1 = netSnmp("snmpwalk", "-v1 -c vintor " + agent.target() + " 1.3.6.1");
    EXPECT_EQ(walkedNames(v1.output), expectedWalk(agent.home(), true));
    const auto set = netSnmp(
        "snmpset", "-v2c -c vintor " + agent.target() + " 1.3.6.1.2.1.1.4.0 s ops@example.net");
    EXPECT_EQ(valueOf(set.output, "1.3.6.1.2.1.1.4.0"), "STRING: \"ops@example.net\"");
}

TEST(DemoDeviceMessageSize, AnswersUpToMaxMsgSizeGoOutAndLargerOnesAreTooBig) {
    DemoAgent agent(IpVersion::IPv4, "127.0.0.1", false, {{ConfigKey::MAXMSGSIZE, "4000"}});
    ASSERT_TRUE(agent.running()) << agent.startFailure();
    // sysDescr.0 answers in 49 bytes: 60 of them pass 1,500 bytes, 100 pass 4,000.
    auto names = [](int count) {
        std::string list;
        for (int i = 0; i < count; ++i) {
            list += " 1.3.6.1.2.1.1.1.0";
        }
        return list;
    };
    const auto fits = netSnmp("snmpget", "-v2c -c vintor " + agent.target() + names(60));
    EXPECT_EQ(walkedNames(fits.output).size(), 60u) << fits.output;
    for (const char* version : {"-v1", "-v2c"}) {
        const auto tooBig =
            netSnmp("snmpget", std::string(version) + " -c vintor " + agent.target() + names(100));
        EXPECT_NE(tooBig.output.find("tooBig"), std::string::npos) << version << tooBig.output;
    }
    const auto bulk =
        netSnmp("snmpbulkget", "-v2c -c vintor -Cr200 " + agent.target() + " 1.3.6.1.2.1.2.2");
    EXPECT_GT(walkedNames(bulk.output).size(), 100u) << bulk.output;  // about 60 in 1,500 bytes
}

TEST(DemoDeviceDebugLog, RequestsAndResponsesAreLoggedWithDescriptors) {
    DemoAgent agent(IpVersion::IPv4, "127.0.0.1", true);
    ASSERT_TRUE(agent.running()) << agent.startFailure();
    netSnmp("snmpget", "-v2c -c vintor " + agent.target() + " 1.3.6.1.2.1.1.5.0");
    agent.stop();
    const std::string log = readFile(agent.home() + "/agent/debug.out");
    EXPECT_NE(log.find("Oid1 = sysName.0 , Type = NULL, Value = NULL\r\nResponse : Request Id = "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Oid1 = sysName.0 , Type = OctetString, Value = demo-router\r\n\r\n"),
              std::string::npos)
        << log;
    ASSERT_GE(agent.finalStatus().size(), 5u);
    EXPECT_EQ(agent.finalStatus()[2], "GetNextRequests:\t0         \t\tInPkts:\t\t1         ");
    EXPECT_EQ(agent.finalStatus().back(), "Agent has been stopped.");
}

}  // namespace
}  // namespace korvimo
