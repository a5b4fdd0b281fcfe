#include "cli/agent_command.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <optional>

#include "agent/agent.h"
#include "app/command_line.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/main_status.h"
#include "app/core/similar_lines.h"
#include "app/core/status_list.h"
#include "base/unique_fd.h"

namespace korvimo::cli {

namespace {

constexpr unsigned kMaxStatsInterval = 86400;
// How often the windows of alike status lines are looked at, to print what they held back.
constexpr uint32_t kSimilarLinesTickMs = 250;

bool isStopSignal(int signal) {
    return signal == SIGINT || signal == SIGTERM || signal == SIGQUIT;
}

}  // namespace

const std::vector<const char*> kAgentFlags = {"--help", "--debug", "--no-debug", "--save"};
const std::vector<const char*> kAgentValued = {
    "--file", "--read-community", "--write-community", "--snmp-version", "--transport",
    "--port", "--address",        "--stats-interval",  "--users",        "--v3-user"};

bool readAgentOption(const app::CommandLineOption& option, AgentOptions& options,
                     std::string& error) {
    const std::string& name = option.name;
    const std::string& value = option.value;
    if (name == "--help") {
        options.help = true;
    } else if (name == "--save") {
        options.save = true;
    } else if (name == "--debug" || name == "--no-debug") {
        options.debug = name == "--debug";
    } else if (name == "--file") {
        options.file = value;
    } else if (name == "--read-community" || name == "--write-community") {
        // The agent holds a community whole or refuses it, never a cut of it.
        if (Result fits = app::checkCommunity(value); !fits) {
            error = name + ": " + std::string(fits.text());
            return false;
        }
        (name == "--read-community" ? options.readCommunity : options.writeCommunity) = value;
    } else if (name == "--snmp-version") {
        if (value == "v1") {
            options.version = VersionMode::SNMPv1;
        } else if (value == "v2c") {
            options.version = VersionMode::SNMPv2C;
        } else if (value == "bilingual") {
            options.version = VersionMode::Bilingual;
        } else if (value == "v3") {
            options.version = VersionMode::SNMPv3;
        } else if (value == "all") {
            options.version = VersionMode::All;
        } else {
            error = "--snmp-version takes v1, v2c, bilingual, v3 or all, not '" + value + "'";
            return false;
        }
    } else if (name == "--users") {
        options.v3Users.usersFile = value;
    } else if (name == "--v3-user") {
        snmp::UsmUser user;
        if (Result read = app::userFromLine(value, user); !read) {
            error = read.text();
            return false;
        }
        options.v3Users.userLines.push_back(value);
    } else if (name == "--transport") {
        if (value == "ipv4" || value == "ipv6") {
            options.transport = value == "ipv4" ? IpVersion::IPv4 : IpVersion::IPv6;
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
    return true;
}

bool parseAgentOptions(const std::vector<std::string>& args, AgentOptions& options,
                       std::string& error) {
    // --trap-dest is the agent's alone: a fleet runs no events.
    std::vector<const char*> valued = kAgentValued;
    valued.push_back("--trap-dest");
    app::CommandLineReader reader(args, kAgentFlags, valued);
    app::CommandLineOption option;
    while (reader.next(option)) {
        if (option.name == "--trap-dest") {
            // As many as the TRAPDEST history holds.
            if (options.trapDests.size() >= static_cast<std::size_t>(kHistoryLength)) {
                error =
                    "--trap-dest is given more than " + std::to_string(kHistoryLength) + " times";
                return false;
            }
            app::TrapDestination destination;
            if (Result read = app::parseTrapDestination(option.value, destination); !read) {
                error = "--trap-dest '" + option.value + "': " + std::string(read.text());
                return false;
            }
            options.trapDestTexts.push_back(option.value);
            options.trapDests.push_back(std::move(destination));
        } else if (!readAgentOption(option, options, error)) {
            return false;
        }
    }
    error = reader.error();
    return error.empty();
}

void printAgentUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] agent [OPTIONS]\n"
           "\n"
           "Starts the simulated SNMP agent as the main window's Start does and serves\n"
           "SNMPv1/SNMPv2c (and, when asked, SNMPv3) requests until SIGINT (Ctrl-C), SIGTERM or "
           "SIGQUIT, then stops it\n"
           "as Stop does (a control file still loading is given up within a second). Every\n"
           "status line is printed as it is appended, but of alike lines (a flood of malformed\n"
           "datagrams) at most 5 a second, then how many were suppressed. The statistics are\n"
           "printed at stop, at SIGUSR1, and every N seconds with --stats-interval. SIGHUP\n"
           "reloads the control file with the same settings; the statistics count on.\n"
           "The control file's %event lines run while the agent serves: each sets its\n"
           "attribute at its time and sends its trap (of the %trapfile) to the managers.\n"
           "\n"
           "Without options the agent uses what the window would show, from korvan.ini:\n"
           "the most recent INPUTFILE, RCOMMUNITY and WCOMMUNITY, and SNMPVER, IPV6SUPPORT\n"
           "and DEBUGMODE. The options override them for this run only: korvan.ini is not\n"
           "changed unless --save is given.\n"
           "\n"
           "Options:\n"
           "  --file FILE               control file: a name in <home>/agent/, or a path\n"
           "                            (absolute, or relative to the current directory)\n"
           "  --read-community TEXT     community for Get, GetNext and GetBulk\n"
           "  --write-community TEXT    community for Set (also accepted for reading);\n"
           "                            a community holds at most 49 characters\n"
           "  --snmp-version VERSION    v1, v2c, bilingual (both), v3, or all (v1, v2c\n"
           "                            and v3)\n"
           "  --users FILE              SNMPv3 users, one a line, instead of\n"
           "                            <home>/bin/users.conf:\n"
           "                            NAME AUTH AUTHPASS [PRIV PRIVPASS] [rw]\n"
           "                            AUTH: none, MD5, SHA, SHA-224, SHA-256, SHA-384,\n"
           "                            SHA-512; PRIV: DES, AES, AES-192, AES-256;\n"
           "                            rw lets the user Set; pass phrases of 8 or more\n"
           "                            characters\n"
           "  --v3-user 'LINE'          one more SNMPv3 user in that form (repeatable; it\n"
           "                            replaces a user of the same name)\n"
           "  --transport ipv4|ipv6     the agent endpoint's family\n"
           "  --debug, --no-debug       write every request and response to\n"
           "                            <home>/agent/debug.out, or not\n"
           "  --port N                  UDP port, instead of AGENTPORT (default 161);\n"
           "                            not written to korvan.ini\n"
           "  --address ADDR            numeric address to listen on, instead of AGENTIP\n"
           "                            (default: every address); not written to korvan.ini\n"
           "  --stats-interval N        also print the statistics every N seconds\n"
           "  --trap-dest 'ADDRESS[:PORT] VERSION [COMMUNITY]'\n"
           "                            a manager of the control file's %event traps\n"
           "                            (up to 10), instead of TRAPDEST1 to TRAPDEST10 of\n"
           "                            korvan.ini: a numeric IPv4 or IPv6 address\n"
           "                            ([::1]:1162), port 162 by default; VERSION v1, v2c\n"
           "                            or inform (an SNMPv2c InformRequest, sent again as\n"
           "                            TIMEOUT and RETRIES say); COMMUNITY public by default\n"
           "  --save                    write the values used back to korvan.ini as the\n"
           "                            window's Start does (the INPUTFILE, RCOMMUNITY and\n"
           "                            WCOMMUNITY histories, SNMPVER, DEBUGMODE, IPV6SUPPORT,\n"
           "                            and the --trap-dest managers as TRAPDEST1 to N, in\n"
           "                            place of the ones there)\n"
           "  --help                    show this text\n"
           "\n"
           "Exit status: 0 after a stop by signal, 1 when the agent could not start (or\n"
           "was left stopped by a reload that failed), 2 on a usage error.\n"
           "\n"
           "Example:\n"
           "  korvan-cli --home build/home agent --address 127.0.0.1 --port 1161\n"
           "  snmpwalk -v2c -c vintor 127.0.0.1:1161 1.3.6.1\n"
           "  korvan-cli agent --port 1161 --snmp-version all \\\n"
           "      --v3-user 'ops SHA-256 opspass123 AES privpass123'\n"
           "  snmpwalk -v3 -l authPriv -u ops -a SHA-256 -A opspass123 -x AES \\\n"
           "      -X privpass123 127.0.0.1:1161 1.3.6.1\n";
}

// Whether a stop signal waits in the blocked set (it stays there for the signal descriptor).
bool stopSignalPending() {
    sigset_t pending;
    sigemptyset(&pending);
    return ::sigpending(&pending) == 0 &&
           (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
            sigismember(&pending, SIGQUIT) == 1);
}

std::string fromStartDirectory(const std::string& path, const std::string& startDirectory) {
    if (path.starts_with('/') || startDirectory.empty()) {
        return path;
    }
    return startDirectory + "/" + path;
}

bool blockAgentSignals(sigset_t& signals) {
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGQUIT);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGUSR1);
    return ::sigprocmask(SIG_BLOCK, &signals, nullptr) == 0;
}

UniqueFd openSignalDescriptor() {
    sigset_t signals;
    if (!blockAgentSignals(signals)) {
        std::perror("korvan-cli: sigprocmask");
        return UniqueFd();
    }
    UniqueFd signalFd(::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signalFd) {
        std::perror("korvan-cli: signalfd");
    }
    return signalFd;
}

bool readStopSignals(int signalFd) {
    signalfd_siginfo info;
    bool stop = false;
    while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        // A hang-up reloads only an agent: a tool whose terminal went away stops.
        const int signal = static_cast<int>(info.ssi_signo);
        stop = stop || isStopSignal(signal) || signal == SIGHUP;
    }
    return stop;
}

int runAgent(const AgentOptions& options, std::ostream& out) {
    // The signals arrive through a descriptor the event loop watches, so a stop or a reload is
    // handled between requests like any other event. They stay blocked to the end: one that
    // arrives while the program exits is then lost instead of acting (killing it, or dumping
    // core for SIGQUIT).
    const UniqueFd signalFd = openSignalDescriptor();
    if (!signalFd) {
        return 1;
    }

    Configuration config(kConfigFileName);
    EpollEventLoop loop(SystemClock::instance());
    StatusList status;
    status.setLineLimit(kMainStatusLineLimit, kMainStatusKeptHead);
    SimilarLines printed([&out](const std::string& line) {
        out << line << "\n";
        out.flush();
    });
    status.onChange([&](const StatusList::Change& change) {
        if (change.kind == StatusList::ChangeKind::Appended) {
            printed.print(change.text, loop.clock().monotonicMs());
        }
    });
    // A stop signal during a long load gives the load up; the signal stays pending and stops
    // the program as it would have stopped a running agent.
    Agent agent({loop, status, &config, nullptr, [] { return stopSignalPending(); }});
    auto finish = [&](int exitStatus) {
        printed.flush();
        return exitStatus;
    };

    // What the window would show at its start, then the options.
    const StartupSettings startup = readStartupSettings(config);
    app::applyStartupSettings(agent.settings(), startup);
    app::MainWindowForm form = app::formFromSettings(config, startup);
    const app::WriteBack writeBack =
        options.save ? app::WriteBack::Settings : app::WriteBack::Nothing;
    if (options.transport) {
        form.transport = *options.transport;
    }
    if (options.save) {
        app::rememberTransport(config, form.transport);
        // The managers given are the managers: the first becomes TRAPDEST1, and no older one
        // stays to receive the traps.
        if (!options.trapDestTexts.empty()) {
            config.replaceHistory(ConfigKey::TRAPDEST, options.trapDestTexts);
        }
    }
    if (options.file) {
        form.controlFile =
            controlFileOption(*options.file, installDirectory(config), options.startDirectory);
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
    form.v3Users = options.v3Users;
    if (form.v3Users.usersFile) {
        form.v3Users.usersFile =
            fromStartDirectory(*form.v3Users.usersFile, options.startDirectory);
    }
    const bool usersGiven = form.v3Users.usersFile || !form.v3Users.userLines.empty();
    if (usersGiven && !answersV3(form.version)) {
        std::cerr << "korvan-cli agent: --users and --v3-user need --snmp-version v3 or all (or "
                     "SNMPVER SNMPv3 or ALL)\n";
        return 2;
    }
    if (answersV3(form.version)) {
        // The users are read before the control file loads: a mistake in them ends the run
        // at once.
        std::vector<snmp::UsmUser> users;
        if (Result loaded = app::loadUsers(installDirectory(config), form.v3Users, users);
            !loaded) {
            out << loaded.text() << "\n";
            return 1;
        }
    }
    if (options.debug) {
        form.debugMode = *options.debug;
    }
    const app::EndpointOverride override{options.port, options.address};

    app::HomeMibInfo mibInfo;
    RequestIdSequence requestIds;
    app::AgentEvents events({config, loop, status, requestIds, mibInfo});
    std::optional<std::vector<app::TrapDestination>> trapDests;
    if (!options.trapDests.empty()) {
        trapDests = options.trapDests;
    }
    auto start = [&] {
        if (!app::startAgent(agent, config, mibInfo, form, override, status, nullptr, writeBack)
                 .started) {
            return false;
        }
        char line[512];
        std::snprintf(line, sizeof line, kListeningFormat,
                      app::agentAddressText(config, form.transport, override).c_str(),
                      static_cast<unsigned>(agent.endpoint().port()));
        out << line << "\n";
        if (const V3Security* security = agent.security(); security != nullptr) {
            out << app::v3StartedLine(*security) << "\n";
        }
        out.flush();
        events.start(agent, trapDests);
        return true;
    };
    if (!start()) {
        agent.release();
        return finish(stopSignalPending() ? 0 : 1);  // a load given up by a stop is no failure
    }

    bool serving = true;
    bool stoppedWhileLoading = false;
    auto printStatistics = [&] {
        printed.flush();
        for (int number = 1; number <= 3; ++number) {
            out << statisticsLine(number, agent.statistics()) << "\n";
        }
        out << refusedStatisticsLine(agent.statistics()) << "\n";
        out.flush();
    };
    // A reload keeps the endpoint open, so requests that arrive meanwhile wait for it.
    auto reload = [&] {
        const AgentStatistics counted = agent.statistics();
        events.stop();
        if (serving) {
            agent.stop();
            status.append(app::kAgentStoppedText);
        }
        agent.unload();
        serving = start();
        if (serving) {
            agent.resumeStatistics(counted);
        } else if (stopSignalPending()) {
            stoppedWhileLoading = true;  // the signal descriptor stops the loop next
        } else {
            out << kReloadFailedText << "\n";
            out.flush();
        }
    };
    Watch stopSignals = loop.watch(signalFd.get(), [&] {
        signalfd_siginfo info;
        bool stop = false;
        bool hangUp = false;
        bool statistics = false;
        while (::read(signalFd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            const int signal = static_cast<int>(info.ssi_signo);
            stop = stop || isStopSignal(signal);
            hangUp = hangUp || signal == SIGHUP;
            statistics = statistics || signal == SIGUSR1;
        }
        if (statistics) {
            printStatistics();
        }
        if (stop) {
            loop.quit();
        } else if (hangUp) {
            reload();
        }
    });
    Timer similarLinesTimer =
        loop.startTimer(kSimilarLinesTickMs, [&] { printed.tick(loop.clock().monotonicMs()); });
    Timer statisticsTimer;
    if (options.statsInterval > 0) {
        statisticsTimer = loop.startTimer(options.statsInterval * 1000u, [&] {
            if (serving) {
                printStatistics();
            }
        });
    }
    loop.run();
    statisticsTimer.stop();
    similarLinesTimer.stop();
    stopSignals.reset();

    printStatistics();  // after a failed reload too: the counts are still the run's
    events.stop();
    if (serving) {
        agent.stop();
        status.append(app::kAgentStoppedText);
    }
    agent.release();
    return finish(serving || stoppedWhileLoading ? 0 : 1);
}

}  // namespace korvimo::cli
