// A control file made by korvan-cli create-vars from every public MIB module (compiled with
// kmx and zorlet) loads in korvan-cli agent without a line reported, and a GetBulk walk of
// the agent returns every variable the file serves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/udp_peer.h"
#include "app/demo_home.h"
#include "zorlet/program_run.h"

extern char** environ;

namespace korvimo::testing {
namespace {

const std::string kBin = KORVIMO_HOME_DIR "/bin/";
const std::string kMibs = KORVIMO_MIB_SOURCE_DIR;

// Compiles every module of kMibs into <home>/mibs/mibinfo.out, as the compilation batch does.
void compileAll(const std::string& home) {
    const std::string mibs = home + "/mibs";
    std::filesystem::create_directories(mibs);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(kMibs)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    std::string m1;
    for (std::size_t n = 1; n <= files.size(); ++n) {
        const std::string out = "t" + std::to_string(n);
        runProgram(kBin + "kmx", {"-o", out, "-e", "e" + std::to_string(n), files[n - 1]}, mibs);
        m1 += readText(mibs + "/" + out);
    }
    writeText(mibs + "/m1", m1);
    runProgram(kBin + "zorlet", {"m1", "mibinfo.out", "merr"}, mibs);
}

// Variable lines (no comments, no directives) whose access Get and GetNext serve.
std::size_t servedLines(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::size_t served = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == '%' || line[0] == '\r') {
            continue;
        }
        std::string field;
        std::istringstream fields(line);
        for (int n = 0; n < 3; ++n) {
            std::getline(fields, field, ',');
        }
        field.erase(0, field.find_first_not_of(' '));
        served += field.starts_with("RO") || field.starts_with("RW") || field.starts_with("RC");
    }
    return served;
}

TEST(CreateVarsPeer, EveryPublicModuleLoadsWithoutAReportAndWalksWhole) {
    if (!std::filesystem::is_directory(kMibs)) {
        GTEST_SKIP() << "public MIB modules not found in " << kMibs;
    }
    ScratchDir home;
    compileAll(home.path());
    const CommandRun created = runCommand("'" + kBin + "korvan-cli' --home '" + home.path() +
                                          "' create-vars --output full --rows 3 --templates");
    ASSERT_EQ(created.status, 0) << created.output;
    const std::string file = readText(home.file("agent/full.ctl"));
    const std::size_t expected = servedLines(file);
    EXPECT_GT(expected, 3000u);

    // The agent on a free port; a port taken between the look and the bind makes the agent
    // exit, and it starts again on another.
    const std::string log = home.file("agent.out");
    const std::string program = kBin + "korvan-cli";
    std::string port;
    std::string started;
    pid_t agent = -1;
    for (int attempt = 0; attempt < 5; ++attempt) {
        port = std::to_string(freeUdpPort(AF_INET));
        started = "Initializing Agent...\nAgent has been started.\n"
                  "Agent IP Address: 127.0.0.1 (UDP port " + port + ")\n";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> args{program,    "--home",   home.path(), "agent",
                                      "--file",   "full.ctl", "--port",    port,
                                      "--address", "127.0.0.1", "--snmp-version", "v2c"};
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&agent, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        bool exited = false;
        for (int wait = 0; wait < 300 && !exited && readText(log).size() < started.size(); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            int status = 0;
            exited = ::waitpid(agent, &status, WNOHANG) == agent;
        }
        if (!exited) {
            break;
        }
        agent = -1;  // reaped
    }
    ASSERT_GT(agent, 0) << readText(log);
    // A load that reports anything puts its lines before "Agent has been started.".
    EXPECT_EQ(readText(log), started);

    // Waits long enough that a slow moment of the agent does not cut the walk short.
    const CommandRun walk = runCommand("snmpbulkwalk -m '' -On -t 5 -r 3 -v2c -c vintor 127.0.0.1:" +
                                       port + " .1");
    std::istringstream in(walk.output);
    std::string line;
    std::size_t walked = 0;
    while (std::getline(in, line)) {
        walked += line.starts_with(".1.") && line.find("No more variables") == std::string::npos;
    }
    EXPECT_EQ(walked, expected) << walk.output.substr(walk.output.size() > 2000 ? walk.output.size() - 2000 : 0);

    ::kill(agent, SIGTERM);
    int status = 0;
    for (int wait = 0; wait < 100 && ::waitpid(agent, &status, WNOHANG) == 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (wait == 99) {
            ::kill(agent, SIGKILL);
            ::waitpid(agent, &status, 0);
        }
    }
}

}  // namespace
}  // namespace korvimo::testing
