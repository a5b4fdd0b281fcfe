// korvan-cli agent answering SNMPv3 as Net-SNMP's tools ask it: every authentication and
// privacy protocol pair at each level, the Reports a manager is refused with, read-only and
// read-write users, and an engine whose ID stays and whose boots count across restarts.
#include <gtest/gtest.h>
#include <signal.h>

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
constexpr const char* kAuthPass = "auth-phrase-1";
constexpr const char* kPrivPass = "priv-phrase-1";

const char* const kAuths[] = {"MD5", "SHA", "SHA-224", "SHA-256", "SHA-384", "SHA-512"};
const char* const kPrivs[] = {"DES", "AES", "AES-192", "AES-256"};

std::string userName(const std::string& auth, const std::string& priv) {
    return "u-" + auth + (priv.empty() ? "" : "-" + priv);
}

class CliV3 : public ::testing::Test {
  protected:
    void SetUp() override {
        copyDemoHome(dir_.root());
        std::string users = "# every protocol pair\nplain none\n";
        for (const char* auth : kAuths) {
            users += userName(auth, "") + " " + auth + " " + kAuthPass + "\n";
            for (const char* priv : kPrivs) {
                users += userName(auth, priv) + " " + auth + " " + kAuthPass + " " + priv + " " +
                         kPrivPass + "\n";
            }
        }
        users += "writer SHA-256 \"writer phrase\" AES \"writer privacy\" rw\n";
        writeFile(dir_.path("bin/users.conf"), users);
        port_ = std::to_string(freeUdpPort(AF_INET));
    }

    std::unique_ptr<BackgroundProgram> start() {
        auto agent = std::make_unique<BackgroundProgram>(
            kProgram,
            std::vector<std::string>{"--home", dir_.root(), "agent", "--address", "127.0.0.1",
                                     "--port", port_, "--snmp-version", "all"});
        EXPECT_TRUE(agent->waitFor("SNMPv3: 32 user(s), engine ID ")) << agent->output();
        return agent;
    }

    CommandRun v3(const std::string& tool, const std::string& security, const std::string& rest) {
        return netSnmp(tool, "-v3 -r 0 -t 2 " + security + " 127.0.0.1:" + port_ + " " + rest);
    }

    static std::string authPriv(const std::string& user, const std::string& auth,
                                const std::string& priv) {
        return "-l authPriv -u " + user + " -a " + auth + " -A " + kAuthPass + " -x " + priv +
               " -X " + kPrivPass;
    }

    TempDir dir_;
    std::string port_;
};

TEST_F(CliV3, EveryLevelAndProtocolPairIsAnsweredBesideV2c) {
    auto agent = start();
    const std::string demo = "\"demo-router\"";
    EXPECT_NE(v3("snmpget", "-l noAuthNoPriv -u plain", kSysName).output.find(demo),
              std::string::npos);
    for (const char* auth : kAuths) {
        const std::string authOnly =
            "-l authNoPriv -u " + userName(auth, "") + " -a " + auth + " -A " + kAuthPass;
        EXPECT_NE(v3("snmpget", authOnly, kSysName).output.find(demo), std::string::npos) << auth;
        for (const char* priv : kPrivs) {
            const CommandRun got =
                v3("snmpget", authPriv(userName(auth, priv), auth, priv), kSysName);
            EXPECT_NE(got.output.find(demo), std::string::npos)
                << auth << "/" << priv << ": " << got.output;
        }
    }
    // A whole walk, by GetNext and by GetBulk, gives what SNMPv2c gives.
    const std::string security = authPriv(userName("SHA-256", "AES"), "SHA-256", "AES");
    const CommandRun walk = v3("snmpwalk", security, "-On 1.3.6.1.2");
    const CommandRun bulk = v3("snmpbulkwalk", security, "-On 1.3.6.1.2");
    const CommandRun v2c =
        netSnmp("snmpwalk", "-v2c -c vintor -On 127.0.0.1:" + port_ + " 1.3.6.1.2");
    EXPECT_EQ(walk.status, 0) << walk.output;
    EXPECT_GT(walk.output.size(), 4000u);
    auto names = [](const std::string& output) {
        std::string kept;
        for (std::size_t at = 0; at < output.size();) {
            const std::size_t end = output.find('\n', at);
            kept += output.substr(at, output.find(' ', at) - at) + "\n";
            at = end == std::string::npos ? output.size() : end + 1;
        }
        return kept;
    };
    EXPECT_EQ(names(walk.output), names(v2c.output));
    EXPECT_EQ(names(bulk.output), names(v2c.output));
    EXPECT_EQ(agent->stop(SIGTERM), 0);
}

TEST_F(CliV3, RefusalsAreReportedAndCountedAndOnlyReadWriteUsersSet) {
    auto agent = start();
    const std::string user = userName("SHA", "AES");
    const CommandRun wrongDigest =
        v3("snmpget", "-l authPriv -u " + user + " -a SHA -A wrong-phrase -x AES -X " + kPrivPass,
           kSysName);
    EXPECT_NE(wrongDigest.output.find("Authentication failure"), std::string::npos)
        << wrongDigest.output;
    const CommandRun unknown = v3("snmpget", "-l noAuthNoPriv -u nobody", kSysName);
    EXPECT_NE(unknown.output.find("Unknown user name"), std::string::npos) << unknown.output;
    const CommandRun level = v3("snmpget", authPriv(userName("SHA", ""), "SHA", "AES"), kSysName);
    EXPECT_NE(level.output.find("Unsupported security level"), std::string::npos) << level.output;
    const CommandRun context = v3("snmpget", authPriv(user, "SHA", "AES") + " -n other", kSysName);
    EXPECT_NE(context.output.find("Bad context specified"), std::string::npos) << context.output;
    EXPECT_NE(v3("snmpget", authPriv(user, "SHA", "AES") + " -n demo", kSysName)
                  .output.find("demo-router"),
              std::string::npos);

    const CommandRun readOnly =
        v3("snmpset", authPriv(user, "SHA", "AES"), std::string(kSysName) + " s changed");
    EXPECT_NE(readOnly.output.find("noAccess"), std::string::npos) << readOnly.output;
    const CommandRun written = v3("snmpset",
                                  "-l authPriv -u writer -a SHA-256 -A 'writer phrase' -x AES "
                                  "-X 'writer privacy'",
                                  std::string(kSysName) + " s changed");
    EXPECT_EQ(written.status, 0) << written.output;

    // The counters are objects of the agent, readable by any version.
    const CommandRun counters = netSnmp(
        "snmpget", "-v2c -c vintor -On 127.0.0.1:" + port_ +
                       " 1.3.6.1.6.3.15.1.1.3.0 1.3.6.1.6.3.15.1.1.5.0 1.3.6.1.6.3.12.1.5.0");
    EXPECT_NE(counters.output.find(".1.3.6.1.6.3.15.1.1.3.0 = Counter32: 1"), std::string::npos)
        << counters.output;
    EXPECT_NE(counters.output.find(".1.3.6.1.6.3.15.1.1.5.0 = Counter32: 1"), std::string::npos);
    EXPECT_NE(counters.output.find(".1.3.6.1.6.3.12.1.5.0 = Counter32: 1"), std::string::npos);
    EXPECT_EQ(agent->stop(SIGTERM), 0);
}

TEST_F(CliV3, TheEngineKeepsItsIdAndCountsItsBoots) {
    auto engine = [&] {
        auto agent = start();
        const CommandRun got =
            netSnmp("snmpget", "-v2c -c vintor -On -Ox 127.0.0.1:" + port_ +
                                   " 1.3.6.1.6.3.10.2.1.1.0 1.3.6.1.6.3.10.2.1.2.0");
        EXPECT_EQ(agent->stop(SIGTERM), 0);
        return got.output;
    };
    const std::string first = engine();
    const std::string second = engine();
    EXPECT_NE(first.find(".1.3.6.1.6.3.10.2.1.2.0 = INTEGER: 1"), std::string::npos) << first;
    EXPECT_NE(second.find(".1.3.6.1.6.3.10.2.1.2.0 = INTEGER: 2"), std::string::npos) << second;
    const auto idLine = [](const std::string& output) {
        return output.substr(0, output.find('\n'));
    };
    EXPECT_EQ(idLine(first), idLine(second));
    EXPECT_NE(idLine(first).find("Hex-STRING: 80 00 00 00 05"), std::string::npos) << first;
}

}  // namespace
}  // namespace korvimo
