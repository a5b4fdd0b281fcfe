// korvan-cli learn and import on homes of their own: exit statuses, a teacher that never
// answers, and the control file an import writes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/core/temp_dir.h"
#include "support/command_run.h"

namespace {

using korvimo::testing::CommandRun;
using korvimo::testing::readFile;
using korvimo::testing::runCommand;
using korvimo::testing::TempDir;
using korvimo::testing::writeFile;

// A loopback UDP port that was free a moment ago.
uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

CommandRun cli(const std::string& home, const std::string& args) {
    return runCommand(std::string("'") + KORVIMO_HOME_DIR + "/bin/korvan-cli' --home '" + home +
                      "' " + args);
}

TEST(CliLearn, ExitStatuses) {
    TempDir dir;
    const std::string home = dir.path("home");
    std::filesystem::create_directories(home + "/mibs");
    writeFile(home + "/mibs/mibinfo.out",
              "1.3.6.1.2.1.1.1           sysDescr                OctetString  RO S\r\n");
    // Nothing listens there: the one request goes unanswered. An IPv6 teacher takes an IPv6
    // client endpoint, so the request is sent.
    const std::string silent = "[::1]:" + std::to_string(freePort());
    const struct {
        const char* args;
        int status;
    } cases[] = {
        {"learn --help", 0},
        {"import --help", 0},
        {"learn", 2},
        {"learn --teacher 127.0.0.1", 2},
        {"learn --output t", 2},
        {"learn --teacher 127.0.0.1 --output t --timeout 0", 2},
        {"learn --teacher 127.0.0.1 --output t --retries x", 2},
        {"learn --teacher 127.0.0.1 --output t --bulk 20 --snmp-version v1", 2},
        {"learn --teacher 127.0.0.1 --output t --snmp-version v3", 2},
        {"learn --teacher 127.0.0.1 --output t --bogus", 2},
        {"import", 2},
        {"import --from w", 2},
        {"import --from w --output t --bogus", 2},
        {"import --from missing.walk --output t", 1},
    };
    for (const auto& c : cases) {
        const CommandRun run = cli(home, c.args);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.output;
    }

    const CommandRun timedOut =
        cli(home, "learn --teacher " + silent + " --output t --timeout 1 --retries 1");
    EXPECT_EQ(timedOut.status, 1) << timedOut.output;
    EXPECT_NE(timedOut.output.find("Learning started.\n"), std::string::npos) << timedOut.output;
    EXPECT_NE(timedOut.output.find("Timeout expired. No reply received.\n"), std::string::npos)
        << timedOut.output;
    EXPECT_NE(timedOut.output.find("Learned 0 variables in "), std::string::npos)
        << timedOut.output;
}

TEST(CliLearn, ImportWritesTheLearnedLinesAndCountsWhatItSkipped) {
    TempDir dir;
    const std::string home = dir.path("home");
    const std::string walk = dir.path("router.walk");
    writeFile(walk,
              ".1.3.6.1.2.1.1.1.0 = STRING: \"Linux box\"\n"
              ".1.3.6.1.2.1.1.3.0 = Timeticks: (12345) 0:02:03.45\n"
              ".1.3.6.1.2.1.1.2.0 = OID: .1.3.6.1.4.1.8072.3.2.10\n"
              ".1.3.6.1.2.1.1.9.0 = Bogus: 1\n"
              ".1.3.6.1.2.1.2.1.0 = INTEGER: 2\n");
    // No mibinfo.out: numeric names, read-only, and the line that says so.
    const CommandRun run = runCommand("cd '" + dir.root() + "' && '" + KORVIMO_HOME_DIR +
                                      "/bin/korvan-cli' --home home import --from router.walk "
                                      "--output router");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(
        run.output.starts_with("Cannot open [/mibs/mibinfo.out] file. Please run the mib "
                               "compiler to create it.\nLine 3: "))
        << run.output;
    EXPECT_NE(run.output.find("\nLine 4: "), std::string::npos) << run.output;
    EXPECT_TRUE(run.output.ends_with("\nRead 5 lines: 3 variables written, 2 skipped.\n"))
        << run.output;

    const std::string text = readFile(home + "/agent/router.ctl");
    EXPECT_NE(text.find(walk + "\r\n"), std::string::npos) << text;
    for (const char* line :
         {"1.3.6.1.2.1.1.1.0             , OctetString , RO , fixed(Linux box)\r\n",
          "1.3.6.1.2.1.1.3.0             , TimeTicks   , RO , clock(12345)\r\n",
          "1.3.6.1.2.1.2.1.0             , Integer     , RO , fixed(2)\r\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }

    // A control file that cannot be written.
    EXPECT_EQ(cli(home, "import --from '" + walk + "' --output /nonexistent/dir/router").status, 1);
}

}  // namespace
