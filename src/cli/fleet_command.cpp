#include "cli/fleet_command.h"

#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "app/agent_start.h"
#include "app/command_line.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/similar_lines.h"
#include "base/text.h"
#include "fleet/community_devices.h"
#include "fleet/fleet.h"

namespace korvimo::cli {

namespace {

constexpr uint32_t kSimilarLinesTickMs = 250;
// Descriptors kept for everything but the devices' sockets and logs.
constexpr rlim_t kSpareDescriptors = 256;
inline constexpr const char* kHangUpIgnoredText =
    "SIGHUP ignored: a fleet reads its files at start only; restart it to read them again.";
inline constexpr const char* kDescriptorsShortFormat =
    "Only %lu file descriptors may be open (ulimit -n): devices past that fail to start.";

// Lets the process hold a descriptor per device (two with debug logs); false when the hard
// limit is lower, with the limit.
bool raiseDescriptorLimit(rlim_t needed, rlim_t& limit) {
    rlimit current{};
    if (::getrlimit(RLIMIT_NOFILE, &current) != 0) {
        limit = 0;
        return true;  // unknown: the devices say it when they fail
    }
    if (current.rlim_cur < needed) {
        rlimit raised = current;
        raised.rlim_cur = current.rlim_max == RLIM_INFINITY || current.rlim_max >= needed
                              ? needed
                              : current.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            current = raised;
        }
    }
    limit = current.rlim_cur;
    return current.rlim_cur >= needed;
}

}  // namespace

bool parseFleetOptions(const std::vector<std::string>& args, FleetOptions& options,
                       std::string& error) {
    std::vector<const char*> valued = kAgentValued;
    valued.insert(valued.end(),
                  {"--devices", "--clone", "--count", "--first-address", "--data-dir"});
    app::CommandLineReader reader(args, kAgentFlags, valued);
    app::CommandLineOption option;
    while (reader.next(option)) {
        const std::string& name = option.name;
        std::optional<std::string>* text = name == "--devices"         ? &options.devicesFile
                                           : name == "--clone"         ? &options.cloneFile
                                           : name == "--data-dir"      ? &options.dataDirectory
                                           : name == "--first-address" ? &options.firstAddress
                                                                       : nullptr;
        if (text == nullptr && name != "--count") {
            if (!readAgentOption(option, options.agent, error)) {
                return false;
            }
            continue;
        }
        if (option.value.empty()) {
            error = name + " needs a value";
            return false;
        }
        if (text != nullptr ? text->has_value() : options.count > 0) {
            error = name + " is given twice";
            return false;
        }
        if (text != nullptr) {
            *text = option.value;
            continue;
        }
        unsigned long count = 0;
        if (!app::readOptionNumber(option.value, 1, fleet::kMaxDevices, count)) {
            error = "--count takes a number from 1 to " + std::to_string(fleet::kMaxDevices) +
                    ", not '" + option.value + "'";
            return false;
        }
        options.count = count;
    }
    if (!reader.error().empty()) {
        error = reader.error();
        return false;
    }
    options.help = options.agent.help;
    if (options.help) {
        return true;
    }
    if (options.agent.file || options.agent.save) {
        error = std::string(options.agent.file ? "--file" : "--save") +
                " is an option of agent: a fleet's control files come from --devices, --clone "
                "or --data-dir";
        return false;
    }
    const int modes = (options.devicesFile ? 1 : 0) + (options.cloneFile ? 1 : 0) +
                      (options.dataDirectory ? 1 : 0);
    if (modes != 1) {
        error = "give one of --devices FILE, --clone FILE --count N, --data-dir DIR";
        return false;
    }
    if (options.cloneFile && options.count == 0) {
        error = "--clone needs --count N";
        return false;
    }
    if (!options.cloneFile && (options.count > 0 || options.firstAddress)) {
        error =
            std::string(options.count > 0 ? "--count" : "--first-address") + " goes with --clone";
        return false;
    }
    if (options.devicesFile && (options.agent.port || options.agent.address)) {
        error =
            "--port and --address go with --clone or --data-dir: each line of a devices "
            "file gives its own";
        return false;
    }
    if (options.firstAddress && options.agent.address) {
        error = "--first-address and --address exclude each other";
        return false;
    }
    uint8_t bytes[16];
    if (options.firstAddress && ::inet_pton(AF_INET, options.firstAddress->c_str(), bytes) != 1 &&
        ::inet_pton(AF_INET6, options.firstAddress->c_str(), bytes) != 1) {
        error = "--first-address takes a numeric IPv4 or IPv6 address, not '" +
                *options.firstAddress + "'";
        return false;
    }
    const bool usersGiven =
        options.agent.v3Users.usersFile || !options.agent.v3Users.userLines.empty();
    if (options.dataDirectory &&
        ((options.agent.version && answersV3(*options.agent.version)) || usersGiven)) {
        error =
            "--data-dir serves SNMPv1 and SNMPv2c: the community names the device "
            "(--snmp-version v3 or all, --users and --v3-user go with --devices or --clone)";
        return false;
    }
    if (options.dataDirectory && (options.agent.readCommunity || options.agent.writeCommunity)) {
        error =
            "--read-community and --write-community go with --devices or --clone: with "
            "--data-dir the community names the device";
        return false;
    }
    return true;
}

void printFleetUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] fleet --devices FILE [OPTIONS]\n"
           "       korvan-cli [--home DIR] fleet --clone FILE --count N\n"
           "                  [--first-address ADDR] [--port N] [OPTIONS]\n"
           "       korvan-cli [--home DIR] fleet --data-dir DIR [--address ADDR] [--port N]\n"
           "                  [OPTIONS]\n"
           "\n"
           "Serves many simulated devices from one process until SIGINT (Ctrl-C), SIGTERM or\n"
           "SIGQUIT. Each device has its own address and port (or, with --data-dir, its own\n"
           "community), its own values, rows, values set and statistics; devices of one\n"
           "control file share its loaded form, so the file is read once.\n"
           "\n"
           "  --devices FILE          one device a line: ADDRESS:PORT CONTROLFILE\n"
           "                          [READCOMMUNITY [WRITECOMMUNITY [v1|v2c|bilingual|v3|all]]]\n"
           "                          ([::1]:1161 for IPv6; \"#\" begins a comment; a control\n"
           "                          file in <home>/agent/, beside FILE, or a path)\n"
           "  --clone FILE            N devices of one control file (--count N): on\n"
           "                          consecutive addresses from --first-address (all of\n"
           "                          127.0.0.0/8 is loopback), all on --port; without\n"
           "                          --first-address on consecutive ports from --port\n"
           "  --data-dir DIR          every NAME.ctl, NAME.snmprec and NAME.walk of DIR on\n"
           "                          one endpoint, the community choosing the device: NAME,\n"
           "                          or NAME@N (NAME@N's file when there is one, else\n"
           "                          NAME's); walk files are served as recorded. A device\n"
           "                          loads at its first request; other communities are\n"
           "                          refused. Files added later are not seen\n"
           "\n"
           "Defaults of every device (from korvan.ini as for agent, unless given):\n"
           "  --read-community TEXT   --write-community TEXT  (not with --data-dir)\n"
           "  --snmp-version v1|v2c|bilingual|v3|all   --transport ipv4|ipv6\n"
           "  --users FILE, --v3-user 'LINE'  SNMPv3 users as for agent (v3 and all; not\n"
           "                          with --data-dir); each device is an engine of its own\n"
           "  --debug, --no-debug     a debug log per device: agent/debug-ADDRESS-PORT.out\n"
           "                          (agent/debug-NAME.out with --data-dir)\n"
           "  --port N, --address ADDR  where --clone and --data-dir listen (AGENTPORT and\n"
           "                          AGENTIP of korvan.ini otherwise)\n"
           "  --stats-interval N      print the statistics every N seconds too\n"
           "\n"
           "A device that cannot start prints a line naming it; the others serve. Then a line\n"
           "\"Fleet: N devices serving, M failed.\" At stop, at SIGUSR1 and every\n"
           "--stats-interval seconds: a statistics line per device that received anything,\n"
           "and their total.\n"
           "\n"
           "Exit status: 0 after a stop by signal, 1 when no device could start, 2 on a usage\n"
           "error.\n"
           "\n"
           "Examples:\n"
           "  korvan-cli --home build/home fleet --clone demo.ctl --count 1000 \\\n"
           "      --first-address 127.0.1.1 --port 1161\n"
           "  snmpwalk -v2c -c vintor 127.0.1.200:1161 1.3.6.1.2.1.1\n"
           "  korvan-cli --home build/home fleet --data-dir recordings --port 1161\n"
           "  snmpget -v2c -c edge-router 127.0.0.1:1161 1.3.6.1.2.1.1.5.0\n";
}

int runFleet(const FleetOptions& options, std::ostream& out) {
    const UniqueFd signalFd = openSignalDescriptor();
    if (!signalFd) {
        return 1;
    }
    Configuration config(kConfigFileName);
    if (Result readable = config.check(); !readable) {
        out << readable.text() << "\n";
        return 1;
    }
    EpollEventLoop loop(SystemClock::instance());
    // What datagrams cause is held back when alike lines flood in; every other line (a device
    // that failed, a statistics line) is printed, after what was held back.
    SimilarLines printed([&out](const std::string& line) {
        out << line << "\n";
        out.flush();
    });
    fleet::LinePrinter noise = [&](std::string_view line) {
        printed.print(line, loop.clock().monotonicMs());
    };
    fleet::LinePrinter print = [&](std::string_view line) {
        printed.flush();
        out << line << "\n";
        out.flush();
    };
    auto finish = [&](int exitStatus) {
        printed.flush();
        return exitStatus;
    };

    // The defaults: what the window would show, then the options.
    const AgentOptions& agentOptions = options.agent;
    const StartupSettings startup = readStartupSettings(config);
    const app::MainWindowForm form = app::formFromSettings(config, startup);
    fleet::DeviceDefaults defaults;
    defaults.readCommunity = agentOptions.readCommunity.value_or(form.readCommunity);
    defaults.writeCommunity = agentOptions.writeCommunity.value_or(form.writeCommunity);
    defaults.version = agentOptions.version.value_or(form.version);
    defaults.debug = agentOptions.debug.value_or(form.debugMode);
    defaults.timestamp = startup.timestamp;
    IpVersion transport = agentOptions.transport.value_or(form.transport);
    std::string address;
    if (agentOptions.address) {
        address = *agentOptions.address;
    } else {
        config.readPlain(ConfigKey::AGENTIP, address);
    }
    uint16_t port = kDefaultAgentPort;
    if (agentOptions.port) {
        port = *agentOptions.port;
    } else if (std::string text; config.readPlain(ConfigKey::AGENTPORT, text)) {
        const std::optional<long> number = agentPortFromText(text);
        if (!number) {
            out << formatText(kInvalidAgentPortText, text.c_str()) << "\n";
            return 1;
        }
        port = *number == 0 ? kDefaultAgentPort : static_cast<uint16_t>(*number);
    }
    // Without --transport, an address given decides the transport it is of.
    const std::string& given = options.firstAddress ? *options.firstAddress : address;
    if (!agentOptions.transport && !given.empty()) {
        transport = given.find(':') != std::string::npos ? IpVersion::IPv6 : IpVersion::IPv4;
    }

    const std::string installDir = installDirectory(config);
    app::HomeMibInfo mibInfo;
    fleet::FleetServices services{loop,
                                  &config,
                                  installDir,
                                  mibInfo.current(config),
                                  print,
                                  noise,
                                  [] { return stopSignalPending(); },
                                  options.agent.startDirectory};
    fleet::Fleet devices(services);
    fleet::CommunityDevices byCommunity(services);
    std::function<void()> printStatistics;

    if (options.dataDirectory) {
        const std::string directory =
            fromStartDirectory(*options.dataDirectory, options.agent.startDirectory);
        if (Result scanned = byCommunity.scan(directory); !scanned) {
            print(scanned.text());
            return finish(1);
        }
        rlim_t limit = 0;
        if (!raiseDescriptorLimit(
                byCommunity.recorded() * (defaults.debug ? 2 : 1) + kSpareDescriptors, limit)) {
            print(formatText(kDescriptorsShortFormat, static_cast<unsigned long>(limit)));
        }
        byCommunity.setDefaults(defaults.version, defaults.debug, defaults.timestamp);
        if (Result opened = byCommunity.open({std::to_string(port), address, ""}, transport);
            !opened) {
            print(opened.text());
            return finish(1);
        }
        print(formatText(fleet::kCommunityDevicesFormat, byCommunity.recorded(), directory.c_str(),
                         fleet::shownAddress(address, transport).c_str(),
                         static_cast<unsigned>(byCommunity.endpoint().port())));
        printStatistics = [&] { byCommunity.printStatistics(); };
    } else {
        std::vector<fleet::DeviceSpec> specs;
        std::string origin;
        if (options.devicesFile) {
            const std::string path =
                fromStartDirectory(*options.devicesFile, options.agent.startDirectory);
            fleet::DevicesFile file;
            if (Result read = fleet::readDevicesFile(path, file); !read) {
                print(read.text());
                return finish(1);
            }
            const char* slash = std::strrchr(path.c_str(), '/');
            origin = slash != nullptr ? slash + 1 : path;
            for (const fleet::DevicesFileProblem& problem : file.problems) {
                print(formatText("%s line %zu: %s", origin.c_str(), problem.line,
                                 problem.text.c_str()));
            }
            if (file.unreportedProblems > 0) {
                print(formatText("%s: %zu more lines could not be read.", origin.c_str(),
                                 file.unreportedProblems));
            }
            specs = std::move(file.devices);
            // A relative control file may also be a neighbour of the devices file.
            const std::string folder =
                slash != nullptr ? path.substr(0, static_cast<std::size_t>(slash - path.c_str()))
                                 : std::string(".");
            for (fleet::DeviceSpec& spec : specs) {
                const std::string near =
                    app::controlFileOption(spec.controlFile, installDir, folder);
                if (near != spec.controlFile && near.starts_with('/')) {
                    spec.controlFile = near;
                }
            }
        } else if (Result cloned =
                       fleet::cloneDevices(*options.cloneFile, options.count, options.firstAddress,
                                           address, port, transport, specs);
                   !cloned) {
            print(cloned.text());
            return finish(1);
        }
        // SNMPv3: the users are prepared once for every device, and the engines file is read
        // and written once for all of them.
        app::EngineBook engines;
        const bool anyV3 = std::any_of(specs.begin(), specs.end(), [&](const auto& spec) {
            return answersV3(spec.version.value_or(defaults.version));
        });
        if (!anyV3 && (agentOptions.v3Users.usersFile || !agentOptions.v3Users.userLines.empty())) {
            std::cerr << "korvan-cli fleet: --users and --v3-user need devices that answer "
                         "SNMPv3 (--snmp-version v3 or all, or v3 or all in the devices file)\n";
            return finish(2);
        }
        if (anyV3) {
            std::vector<snmp::UsmUser> users;
            auto prepared = std::make_shared<PreparedUsers>();
            app::UserSources sources = agentOptions.v3Users;
            if (sources.usersFile) {
                sources.usersFile =
                    fromStartDirectory(*sources.usersFile, options.agent.startDirectory);
            }
            Result ready = app::loadUsers(installDir, sources, users);
            if (ready) {
                ready = prepareUsers(users, *prepared);
            }
            if (ready) {
                ready = engines.open(installDir);
            }
            if (!ready) {
                print(ready.text());
                return finish(1);
            }
            defaults.v3Users = std::move(prepared);
            defaults.engines = &engines;
        }
        rlim_t limit = 0;
        const rlim_t needed = specs.size() * (defaults.debug ? 2 : 1) + kSpareDescriptors;
        if (!raiseDescriptorLimit(needed, limit)) {
            print(formatText(kDescriptorsShortFormat, static_cast<unsigned long>(limit)));
        }
        for (std::size_t i = 0; i < specs.size(); ++i) {
            if (i % 256 == 0 && stopSignalPending()) {
                break;  // the signal descriptor ends the run below
            }
            devices.start(specs[i], defaults, origin);
        }
        if (anyV3) {
            defaults.engines = nullptr;
            for (const std::string& note : engines.takeNotes()) {
                print(note);
            }
            if (Result saved = engines.save(); !saved) {
                print(saved.text());
            }
        }
        print(devices.summaryLine());
        if (devices.serving() == 0) {
            return finish(stopSignalPending() ? 0 : 1);
        }
        printStatistics = [&] { devices.printStatistics(); };
    }

    auto statistics = [&] {
        printed.flush();
        printStatistics();
        printed.flush();
    };
    Watch signals = loop.watch(signalFd.get(), [&] {
        signalfd_siginfo info;
        bool stop = false;
        while (::read(signalFd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            const int signal = static_cast<int>(info.ssi_signo);
            if (signal == SIGUSR1) {
                statistics();
            } else if (signal == SIGHUP) {
                print(kHangUpIgnoredText);
            } else {
                stop = true;
            }
        }
        if (stop) {
            loop.quit();
        }
    });
    Timer similarLinesTimer =
        loop.startTimer(kSimilarLinesTickMs, [&] { printed.tick(loop.clock().monotonicMs()); });
    Timer statisticsTimer;
    if (agentOptions.statsInterval > 0) {
        statisticsTimer = loop.startTimer(agentOptions.statsInterval * 1000u, statistics);
    }
    loop.run();
    statisticsTimer.stop();
    similarLinesTimer.stop();
    signals.reset();

    statistics();
    devices.stop();
    byCommunity.stop();
    return finish(0);
}

}  // namespace korvimo::cli
