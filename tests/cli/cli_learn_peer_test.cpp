// Capturing a device and serving the capture: korvan-cli learn walks Net-SNMP's snmpd (SNMPv1,
// SNMPv2c, GetBulk) and our own agent (GetNext and GetBulk), korvan-cli import reads what snmpwalk
// printed, and korvan-cli agent serves each file made. Net-SNMP's snmpwalk of the served file
// must give the teacher's names, and the teacher's types and values for every variable learned
// as fixed(...) (counters and clocks move, so the others are not compared).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/temp_dir.h"
#include "app/demo_home.h"
#include "support/command_run.h"
#include "support/snmpd.h"

namespace korvimo::testing {
namespace {

const std::string kProgram = std::string(KORVIMO_HOME_DIR) + "/bin/korvan-cli";
// The subtrees learned from snmpd: system and interfaces, whose fixed objects stay put.
const char* const kSubtrees[] = {"1.3.6.1.2.1.1", "1.3.6.1.2.1.2"};

CommandRun cli(const std::string& home, const std::string& args) {
    return runCommand("'" + kProgram + "' --home '" + home + "' " + args);
}

// A walk as snmpwalk -On prints it: the lines in order, and each line by its name.
struct Walk {
    std::vector<std::string> names;
    std::map<std::string, std::string> lines;
};

Walk walk(uint16_t port, const std::string& community, const std::vector<std::string>& roots) {
    Walk result;
    for (const std::string& root : roots) {
        const CommandRun run =
            runCommand("snmpwalk -m '' -On -v2c -t 2 -r 1 -c " + community +
                       " 127.0.0.1:" + std::to_string(port) + " " + root + " 2>/dev/null");
        std::istringstream in(run.output);
        std::string line;
        while (std::getline(in, line)) {
            if (line.starts_with(".1.") && line.find(" = ") != std::string::npos &&
                line.find("No more variables") == std::string::npos) {
                const std::string name = line.substr(0, line.find(" = "));
                result.names.push_back(name);
                result.lines[name] = line;
            }
        }
    }
    return result;
}

// The behaviour of every variable line of a control file, in file order.
std::vector<std::string> behaviours(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == '%' || line[0] == '\r') {
            continue;
        }
        std::size_t at = 0;
        for (int comma = 0; comma < 3 && at != std::string::npos; ++comma) {
            at = line.find(',', at == 0 ? 0 : at + 1);
        }
        found.push_back(at == std::string::npos ? line
                                                : line.substr(line.find_first_not_of(' ', at + 1)));
    }
    return found;
}

// korvan-cli agent serving a control file of a home on a free loopback port.
class Agent {
  public:
    ~Agent() { stop(); }

    // True once it listens; loadReport() then holds what it printed before it started.
    bool start(const std::string& home, const std::string& file, const std::string& community) {
        log_ = home + "/agent-" + file + ".out";
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = freeUdpPort(AF_INET);
            pid_ = ::fork();
            if (pid_ == 0) {
                const int out = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                ::dup2(out, 1);
                ::dup2(out, 2);
                ::alarm(120);  // never outlives the test by long
                const std::string port = std::to_string(port_);
                ::execl(kProgram.c_str(), kProgram.c_str(), "--home", home.c_str(), "agent",
                        "--file", file.c_str(), "--port", port.c_str(), "--address", "127.0.0.1",
                        "--snmp-version", "bilingual", "--read-community", community.c_str(),
                        "--write-community", community.c_str(), nullptr);
                ::_exit(127);
            }
            for (int wait = 0; wait < 100; ++wait) {  // ten seconds at most
                if (readFile(log_).find("Agent IP Address:") != std::string::npos) {
                    return true;
                }
                if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                    pid_ = -1;  // a port taken meanwhile: another one
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        return false;
    }
    std::string loadReport() const {
        const std::string text = readFile(log_);
        return text.substr(0, text.find("Agent has been started."));
    }
    std::string log() const { return readFile(log_); }
    uint16_t port() const { return port_; }
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            for (int wait = 0; wait < 50 && ::waitpid(pid_, &status, WNOHANG) == 0; ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

  private:
    std::string log_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

// Serves <home>/agent/<file> and checks its walk against the teacher's. With a later walk of
// the teacher, a value that moved between the two walks (a route's age in seconds, answered
// while learning) is not compared.
void expectServedAsTeacher(const std::string& home, const std::string& file,
                           const std::vector<std::string>& roots, const Walk& teacher,
                           const Walk* later = nullptr) {
    SCOPED_TRACE(file);
    const std::vector<std::string> learned = behaviours(readFile(home + "/agent/" + file));
    Agent agent;
    ASSERT_TRUE(agent.start(home, file, "public")) << agent.log();
    EXPECT_EQ(agent.loadReport(), "Initializing Agent...\n");
    const Walk served = walk(agent.port(), "public", roots);
    agent.stop();

    EXPECT_EQ(served.names, teacher.names);
    ASSERT_EQ(served.names.size(), learned.size());
    std::size_t fixed = 0;
    for (std::size_t n = 0; n < learned.size(); ++n) {
        const std::string& name = served.names[n];
        const bool moved = later != nullptr && later->lines.count(name) != 0 &&
                           teacher.lines.count(name) != 0 &&
                           later->lines.at(name) != teacher.lines.at(name);
        if (learned[n].starts_with("fixed(") && !moved) {
            ++fixed;
            const auto taught = teacher.lines.find(served.names[n]);
            EXPECT_TRUE(taught != teacher.lines.end() &&
                        taught->second == served.lines.at(served.names[n]))
                << served.lines.at(served.names[n]) << "\n  learned as " << learned[n];
        }
    }
    EXPECT_GT(fixed, 10u);
}

std::vector<std::string> subtrees() {
    return {std::begin(kSubtrees), std::end(kSubtrees)};
}

TEST(LearnPeer, LearnsSnmpdWithV1V2cAndGetBulk) {
    TempDir teacherDir;
    Snmpd snmpd(teacherDir);
    ASSERT_TRUE(snmpd.start());
    TempDir dir;
    copyDemoHome(dir.root());
    const Walk teacher = walk(snmpd.port(), "public", subtrees());
    ASSERT_GT(teacher.names.size(), 20u);

    // A GetBulk answer of 100 system and interfaces objects passes 2,000 bytes.
    const struct {
        const char* options;
        const char* output;
    } runs[] = {{"--snmp-version v1", "snmpd-v1"},
                {"--snmp-version v2c", "snmpd-v2c"},
                {"--snmp-version v2c --bulk 100", "snmpd-bulk"}};
    for (const auto& run : runs) {
        const std::string output = run.output;
        const CommandRun learn =
            cli(dir.root(), "learn --teacher 127.0.0.1:" + std::to_string(snmpd.port()) +
                                " --community public --start 1.3.6.1.2.1.1 --end 1.3.6.1.2.1.3"
                                " --timeout 2 --retries 2 --output " +
                                output + " " + run.options);
        ASSERT_EQ(learn.status, 0) << learn.output;
        EXPECT_NE(learn.output.find("Learning started.\nLearning Completed.\nLearned "),
                  std::string::npos)
            << learn.output;
        expectServedAsTeacher(dir.root(), output + ".ctl", subtrees(), teacher);
    }
}

TEST(LearnPeer, LearnsOurAgentWithGetNextAndGetBulk) {
    TempDir teacherDir;
    copyDemoHome(teacherDir.root());
    Agent teacherAgent;
    ASSERT_TRUE(teacherAgent.start(teacherDir.root(), "demo.ctl", "public")) << teacherAgent.log();
    const Walk teacher = walk(teacherAgent.port(), "public", {".1"});
    ASSERT_GT(teacher.names.size(), 50u);

    TempDir dir;
    copyDemoHome(dir.root());
    for (const char* bulk : {"", " --bulk 20"}) {
        const std::string output = *bulk == '\0' ? "getnext" : "getbulk";
        const CommandRun learn =
            cli(dir.root(), "learn --teacher 127.0.0.1:" + std::to_string(teacherAgent.port()) +
                                " --community public --timeout 2 --retries 2 --output " + output +
                                bulk);
        ASSERT_EQ(learn.status, 0) << learn.output;
        EXPECT_NE(learn.output.find("Learning Completed.\nLearned " +
                                    std::to_string(teacher.names.size()) + " variables in "),
                  std::string::npos)
            << learn.output;
    }
    const Walk later = walk(teacherAgent.port(), "public", {".1"});
    teacherAgent.stop();
    for (const char* output : {"getnext.ctl", "getbulk.ctl"}) {
        expectServedAsTeacher(dir.root(), output, {".1"}, teacher, &later);
    }
}

TEST(LearnPeer, ImportsWhatSnmpwalkPrinted) {
    TempDir teacherDir;
    Snmpd snmpd(teacherDir);
    ASSERT_TRUE(snmpd.start());
    TempDir dir;
    copyDemoHome(dir.root());
    const Walk teacher = walk(snmpd.port(), "public", subtrees());

    // As a user captures a device: names numeric, the values as the MIBs display them.
    const std::string walkFile = dir.path("device.walk");
    for (const char* root : kSubtrees) {
        ASSERT_EQ(runCommand("snmpwalk -v2c -c public -On -t 2 -r 1 127.0.0.1:" +
                             std::to_string(snmpd.port()) + " " + root + " >> '" + walkFile + "'")
                      .status,
                  0);
    }
    const CommandRun imported = cli(dir.root(), "import --from '" + walkFile + "' --output device");
    ASSERT_EQ(imported.status, 0) << imported.output;
    EXPECT_NE(imported.output.find(" variables written, 0 skipped.\n"), std::string::npos)
        << imported.output;
    expectServedAsTeacher(dir.root(), "device.ctl", subtrees(), teacher);
}

}  // namespace
}  // namespace korvimo::testing
