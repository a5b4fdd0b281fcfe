#include "cli/agent_command.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

#include "app/command_line.h"
#include "app/core/configuration.h"
#include "app/core/main_status.h"
#include "app/core/poll_event_loop.h"

namespace korvimo::cli {

namespace {

constexpr unsigned kMaxStatsInterval = 86400;

// The event sink of the command itself: SIGINT/SIGTERM through a signalfd, and the timer of
// --stats-interval.
class Front final : public EventSink {
  public:
    Front(app::MainWindow& window, PollEventLoop& loop, std::ostream& out)
        : window_(window), loop_(loop), out_(out) {}

    void endpointReadable(EndpointEvent, int fd) override {
        signalfd_siginfo info;
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            signalled_ = true;
        }
        if (signalled_) {
            loop_.quit();
        }
    }
    void timerTick(uint32_t) override { printStatistics(); }

    void printStatistics() {
        for (int line = 1; line <= 3; ++line) {
            out_ << statisticsLine(line, window_.context().statistics) << "\n";
        }
        out_.flush();
    }

  private:
    app::MainWindow& window_;
    PollEventLoop& loop_;
    std::ostream& out_;
    bool signalled_ = false;
};

}  // namespace

bool parseAgentOptions(const std::vector<std::string>& args, AgentOptions& options,
                       std::string& error) {
    app::CommandLineReader reader(
        args, {"--help", "--debug", "--no-debug"},
        {"--file", "--read-community", "--write-community", "--snmp-version", "--transport",
         "--port", "--address", "--stats-interval"});
    app::CommandLineOption option;
    while (reader.next(option)) {
        const std::string& name = option.name;
        const std::string& value = option.value;
        if (name == "--help") {
            options.help = true;
            continue;
        }
        if (name == "--debug" || name == "--no-debug") {
            options.debug = name == "--debug";
            continue;
        }

        if (name == "--file") {
            options.file = value;
        } else if (name == "--read-community") {
            options.readCommunity = value;
        } else if (name == "--write-community") {
            options.writeCommunity = value;
        } else if (name == "--snmp-version") {
            if (value == "v1") {
                options.version = app::VersionChoice::SNMPv1;
            } else if (value == "v2c") {
                options.version = app::VersionChoice::SNMPv2C;
            } else if (value == "bilingual") {
                options.version = app::VersionChoice::Bilingual;
            } else {
                error = "--snmp-version takes v1, v2c or bilingual, not '" + value + "'";
                return false;
            }
        } else if (name == "--transport") {
            if (value == "ipv4" || value == "ipv6") {
                options.transport =
                    value == "ipv4" ? app::TransportChoice::IPv4 : app::TransportChoice::IPv6;
            } else {
                error = "--transport takes ipv4 or ipv6, not '" + value + "'";
                return false;
            }
        } else if (name == "--port") {
            uint16_t port = 0;
            if (!app::readPortOption(value, port, error)) {
                return false;
            }
            options.port = port;
        } else if (name == "--address") {
            std::string address;
            if (!app::readAddressOption(value, address, error)) {
                return false;
            }
            options.address = address;
        } else {
            unsigned long seconds = 0;
            if (!app::readOptionNumber(value, 1, kMaxStatsInterval, seconds)) {
                error = "--stats-interval takes seconds from 1 to " +
                        std::to_string(kMaxStatsInterval) + ", not '" + value + "'";
                return false;
            }
            options.statsInterval = static_cast<unsigned>(seconds);
        }
    }
    error = reader.error();
    return error.empty();
}

void printAgentUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] agent [OPTIONS]\n"
           "\n"
           "Starts the simulated SNMP agent as the main window's Start does and serves\n"
           "SNMPv1/SNMPv2c requests until SIGINT (Ctrl-C) or SIGTERM, then stops it as Stop\n"
           "does. Every status line is printed as it is appended; the statistics are printed\n"
           "at stop (and every N seconds with --stats-interval).\n"
           "\n"
           "Without options the agent uses what the window would show, from korvan.ini:\n"
           "the most recent INPUTFILE, RCOMMUNITY and WCOMMUNITY, and SNMPVER, IPV6SUPPORT\n"
           "and DEBUGMODE. The options override them for this start; like the window's\n"
           "Start, the start writes the values it used back to korvan.ini (the histories,\n"
           "SNMPVER, DEBUGMODE, and IPV6SUPPORT when --transport is given).\n"
           "\n"
           "Options:\n"
           "  --file FILE               control file, relative to <home>/agent/\n"
           "  --read-community TEXT     community for Get, GetNext and GetBulk\n"
           "  --write-community TEXT    community for Set (also accepted for reading)\n"
           "  --snmp-version VERSION    v1, v2c or bilingual (both)\n"
           "  --transport ipv4|ipv6     the agent endpoint's family\n"
           "  --debug, --no-debug       write every request and response to\n"
           "                            <home>/agent/debug.out, or not\n"
           "  --port N                  UDP port, instead of AGENTPORT (default 161);\n"
           "                            not written to korvan.ini\n"
           "  --address ADDR            numeric address to listen on, instead of AGENTIP\n"
           "                            (default: every address); not written to korvan.ini\n"
           "  --stats-interval N        also print the statistics every N seconds\n"
           "  --help                    show this text\n"
           "\n"
           "Exit status: 0 after a stop by signal, 1 when the agent could not start,\n"
           "2 on a usage error.\n"
           "\n"
           "Example:\n"
           "  korvan-cli --home build/home agent --address 127.0.0.1 --port 1161\n"
           "  snmpwalk -v2c -c vintor 127.0.0.1:1161 1.3.6.1\n";
}

int runAgent(const AgentOptions& options, std::ostream& out) {
    // The signals arrive through a descriptor the event loop watches, so a stop is handled
    // between requests like any other event.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigset_t previous;
    if (::sigprocmask(SIG_BLOCK, &signals, &previous) != 0) {
        std::perror("korvan-cli: sigprocmask");
        return 1;
    }
    const int signalFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("korvan-cli: signalfd");
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        return 1;
    }

    Configuration config(kConfigFileName);
    PollEventLoop loop(SystemClock::instance());
    app::MainWindow window(config, loop);
    Front front(window, loop, out);
    window.status().onChange([&out](const StatusList::Change& change) {
        if (change.kind == StatusList::ChangeKind::Appended) {
            out << change.text << "\n";
            out.flush();
        }
    });

    window.windowStart();
    if (options.transport) {
        window.chooseTransport(*options.transport);
    }
    app::MainWindowForm& form = window.form();
    if (options.file) {
        form.controlFile = *options.file;
    }
    if (options.readCommunity) {
        form.readCommunity = *options.readCommunity;
    }
    if (options.writeCommunity) {
        form.writeCommunity = *options.writeCommunity;
    }
    if (options.version) {
        form.version = *options.version;
    }
    if (options.debug) {
        form.debugMode = *options.debug;
    }
    window.setEndpointOverride(options.port, options.address);

    int status = 0;
    if (!window.start()) {
        window.exit();
        status = 1;
    } else {
        char line[512];
        std::snprintf(line, sizeof line, kListeningFormat, window.agentAddressText().c_str(),
                      static_cast<unsigned>(window.agentPort()));
        out << line << "\n";
        out.flush();

        loop.watchEndpoint(signalFd, EndpointEvent::Client, &front);
        uint32_t statsTimer = 0;
        if (options.statsInterval > 0) {
            statsTimer = window.context().nextTimerId++;
            loop.startTimer(&front, statsTimer, options.statsInterval * 1000u);
        }
        loop.run();
        if (statsTimer != 0) {
            loop.killTimer(statsTimer);
        }
        loop.unwatchEndpoint(signalFd);

        front.printStatistics();
        window.stop();
        window.exit();
    }
    ::close(signalFd);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    return status;
}

}  // namespace korvimo::cli
