// Learning a large agent: app::LearnVariables walks 10,000 variables with GetNext and with
// GetBulk (50 repetitions), variables learned per second.
//
// First the teacher is an agent of this process, on the same event loop as the learning (no
// process switch per answer: the cost of learning and answering alone). Then the teacher is
// `korvan-cli agent` in a child process, walked by the learning and, as the peer, by
// Net-SNMP's snmpwalk and snmpbulkwalk -Cr50 (names numeric, output thrown away): the ratios
// compare the two clients against the same server.
//
//   build/bench/bench_learn
#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_bench_setup.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/learn_variables.h"
#include "app/main_window.h"

namespace {

using namespace korvimo;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kCommunity = "bench";
constexpr int kRuns = 3;  // the best of these is reported

double secondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string controlFile() {
    return bench::tenThousandAttributes("generated for the learning benchmark");
}

// A home with the demo home's mibinfo.out (names of system and interfaces) and the control
// file.
std::string makeHome(const char* name) {
    const std::string home = (std::filesystem::temp_directory_path() / name).string();
    std::filesystem::remove_all(home);
    for (const char* sub : {"bin", "agent", "mibs"}) {
        std::filesystem::create_directories(home + "/" + sub);
    }
    bench::writeText(home + "/mibs/mibinfo.out",
                     readAll(std::string(KORVIMO_SOURCE_DIR) + "/home/mibs/mibinfo.out"));
    bench::writeText(home + "/agent/bench.ctl", controlFile());
    Configuration config(home + "/bin/korvan.ini");
    config.ensureFile();
    config.writePlain(ConfigKey::INSTALLDIR, home);
    return home;
}

struct Learned {
    std::size_t variables = 0;
    double seconds = 0;
    bool completed = false;
    double perSecond() const { return seconds > 0 ? static_cast<double>(variables) / seconds : 0; }
};

// One learning run of the whole MIB of the teacher at port, on loop.
Learned learnOnce(Configuration& config, EventLoop& loop, RequestIdSequence& ids,
                  app::HomeMibInfo& mibInfo, uint16_t port, uint32_t bulk,
                  const std::function<void(int)>& turn) {
    Busy busy = Busy::Idle;
    app::LearnVariables learn({config, loop, ids, mibInfo, busy});
    learn.options().bulk = bulk;
    learn.options().overrides = false;
    learn.options().receiveTraps = false;
    learn.dialogStart();
    learn.form().teacher = "127.0.0.1:" + std::to_string(port);
    learn.form().file = "learned";
    learn.form().community = kCommunity;
    learn.form().timeout = "2";
    learn.form().retries = "2";
    learn.form().start = "1.0";
    learn.form().end = "End Of All MIBs";
    learn.form().v2c = true;
    learn.form().templates = false;
    Learned result;
    const SteadyClock::time_point start = SteadyClock::now();
    if (learn.start()) {
        while (learn.running() && secondsSince(start) < 120) {
            turn(100);
        }
    }
    result.seconds = secondsSince(start);
    result.variables = learn.learned();
    result.completed = learn.lastEnd() == app::LearnVariables::End::Completed;
    learn.close();
    return result;
}

Learned best(const std::function<Learned()>& run) {
    Learned top;
    for (int n = 0; n < kRuns; ++n) {
        const Learned one = run();
        if (!one.completed) {
            std::printf("  a run did not complete (%zu variables)\n", one.variables);
        }
        if (n == 0 || one.seconds < top.seconds) {
            top = one;
        }
    }
    return top;
}

double commandSeconds(const std::string& command) {
    double top = 0;
    for (int n = 0; n < kRuns; ++n) {
        const SteadyClock::time_point start = SteadyClock::now();
        if (std::system(command.c_str()) != 0) {
            std::printf("  failed: %s\n", command.c_str());
        }
        const double seconds = secondsSince(start);
        top = n == 0 ? seconds : std::min(top, seconds);
    }
    return top;
}

void report(const char* what, const Learned& learned) {
    std::printf("  %-34s %6zu variables in %7.3f s: %9.0f variables/s\n", what, learned.variables,
                learned.seconds, learned.perSecond());
}

// `korvan-cli agent` serving <home>/agent/bench.ctl.
pid_t startChildAgent(const std::string& home, uint16_t port) {
    const std::string program = std::string(KORVIMO_HOME_DIR) + "/bin/korvan-cli";
    const std::string log = home + "/agent.out";
    std::fflush(stdout);  // the child must not print what this process buffered
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(log.c_str(), "w", stdout);
        std::freopen(log.c_str(), "a", stderr);
        const std::string portText = std::to_string(port);
        ::execl(program.c_str(), program.c_str(), "--home", home.c_str(), "agent", "--file",
                "bench.ctl", "--port", portText.c_str(), "--address", "127.0.0.1", "--snmp-version",
                "v2c", "--read-community", kCommunity, "--write-community", kCommunity,
                "--no-debug", nullptr);
        ::_exit(127);
    }
    for (int wait = 0; wait < 100; ++wait) {
        if (readAll(log).find("Agent IP Address:") != std::string::npos) {
            return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::printf("  korvan-cli agent did not start: %s\n", readAll(log).c_str());
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

}  // namespace

int main() {
    std::printf("Learning 10,000 variables (SNMPv2c, whole MIB, best of %d runs)\n", kRuns);

    // The teacher in this process, on the learning's own loop.
    const std::string home = makeHome("korvimo-bench-learn");
    Learned inProcessNext;
    Learned inProcessBulk;
    {
        Configuration config(home + "/bin/korvan.ini");
        EpollEventLoop loop(SystemClock::instance());
        app::MainWindow window(config, loop);
        window.windowStart();
        window.form().controlFile = "bench.ctl";
        window.form().readCommunity = kCommunity;
        window.form().writeCommunity = kCommunity;
        window.form().debugMode = false;
        const uint16_t port = bench::freeLoopbackPort();
        window.setEndpointOverride(port, std::string("127.0.0.1"));
        if (!window.start()) {
            std::printf(
                "  the agent did not start: %s\n",
                window.status().lines().empty() ? "?" : window.status().lines().back().c_str());
            return 1;
        }
        auto turn = [&loop](int ms) { loop.runOnce(ms); };
        inProcessNext = best([&] {
            return learnOnce(config, loop, window.requestIds(), window.mibInfo(), port, 0, turn);
        });
        inProcessBulk = best([&] {
            return learnOnce(config, loop, window.requestIds(), window.mibInfo(), port, 50, turn);
        });
        window.exit();
    }
    std::printf("\nTeacher: an agent on the same event loop\n");
    report("GetNext", inProcessNext);
    report("GetBulk, 50 repetitions", inProcessBulk);

    // The teacher in a child process: the learning beside Net-SNMP's walks.
    const std::string childHome = makeHome("korvimo-bench-learn-child");
    const uint16_t port = bench::freeLoopbackPort();
    const pid_t child = startChildAgent(childHome, port);
    if (child < 0) {
        return 1;
    }
    Learned childNext;
    Learned childBulk;
    {
        Configuration config(home + "/bin/korvan.ini");
        EpollEventLoop loop(SystemClock::instance());
        RequestIdSequence ids;
        app::HomeMibInfo mibInfo;
        auto turn = [&loop](int ms) { loop.runOnce(ms); };
        childNext = best([&] { return learnOnce(config, loop, ids, mibInfo, port, 0, turn); });
        childBulk = best([&] { return learnOnce(config, loop, ids, mibInfo, port, 50, turn); });
    }
    const std::string target = std::string(" -v2c -c ") + kCommunity +
                               " -m '' -On -t 2 -r 1 127.0.0.1:" + std::to_string(port) +
                               " .1 > /dev/null 2>&1";
    const double snmpwalk = commandSeconds("snmpwalk" + target);
    const double snmpbulkwalk = commandSeconds("snmpbulkwalk -Cr50" + target);
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);

    std::printf("\nTeacher: korvan-cli agent in a child process\n");
    report("GetNext", childNext);
    report("GetBulk, 50 repetitions", childBulk);
    const double walked = static_cast<double>(childNext.variables);
    std::printf("  %-34s %6.0f variables in %7.3f s: %9.0f variables/s\n",
                "snmpwalk -On (process included)", walked, snmpwalk, walked / snmpwalk);
    std::printf("  %-34s %6.0f variables in %7.3f s: %9.0f variables/s\n", "snmpbulkwalk -Cr50 -On",
                walked, snmpbulkwalk, walked / snmpbulkwalk);
    std::printf("  learning GetNext / snmpwalk:          %.2f (time ratio %.2f)\n",
                childNext.perSecond() * snmpwalk / walked, childNext.seconds / snmpwalk);
    std::printf("  learning bulk 50 / snmpbulkwalk -Cr50: %.2f (time ratio %.2f)\n",
                childBulk.perSecond() * snmpbulkwalk / walked, childBulk.seconds / snmpbulkwalk);
    std::printf(
        "\nGoals: GetNext at least 20,000 variables/s, bulk 50 at least 100,000 "
        "variables/s (same loop).\n");
    std::filesystem::remove_all(home);
    std::filesystem::remove_all(childHome);
    return 0;
}
