#include "cli/traps_command.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "agent/request_client.h"
#include "app/agent_start.h"
#include "app/command_line.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/startup_settings.h"
#include "app/generate_traps.h"
#include "app/snmpv3_setup.h"
#include "base/unique_fd.h"
#include "cli/agent_command.h"
#include "cli/status_output.h"
#include "traps/trap_file.h"

namespace korvimo::cli {

namespace {

constexpr unsigned long kMaxCount = 4000000000UL;
constexpr unsigned long kMaxRate = 10000000UL;
constexpr unsigned long kMaxRetries = 100;
constexpr double kMaxTimeoutSeconds = 3600;

bool readPositions(const std::string& text, std::vector<std::size_t>& positions) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        unsigned long position = 0;
        if (!app::readOptionNumber(text.substr(start, comma - start), 0, 4000000000UL, position)) {
            return false;
        }
        positions.push_back(position);
        start = comma + 1;
    }
    return !positions.empty();
}

// Seconds with an optional fraction ("2", "0.2"), as milliseconds of at least 1.
bool readSeconds(const std::string& text, uint32_t& ms) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0' || !(seconds > 0) ||
        seconds > kMaxTimeoutSeconds) {
        return false;
    }
    ms = static_cast<uint32_t>(std::max(1.0, std::round(seconds * 1000)));
    return true;
}

}  // namespace

bool splitManager(const std::string& text, std::string& host, std::optional<uint16_t>& port,
                  std::string& error) {
    port.reset();
    std::string portText;
    switch (app::splitHostPort(text, host, portText)) {
        case app::HostPortSplit::Ok:
            break;
        case app::HostPortSplit::Unclosed:
            error = "--manager: '" + text + "' has no closing ']' after its address";
            return false;
        case app::HostPortSplit::AfterBracket:
            error = "--manager: unexpected '" + text.substr(text.find(']') + 1) + "' after ']'";
            return false;
        case app::HostPortSplit::NoPort:
            error = "--manager: a port is needed after ':'";
            return false;
        case app::HostPortSplit::NoHost:
            error = "--manager needs a host name or an IP address";
            return false;
    }
    if (!portText.empty()) {
        unsigned long number = 0;
        if (!app::readOptionNumber(portText, 1, 65535, number)) {
            error =
                "--manager: the port must be a UDP port from 1 to 65535, not '" + portText + "'";
            return false;
        }
        port = static_cast<uint16_t>(number);
    }
    return true;
}

bool parseTrapsOptions(const std::vector<std::string>& args, TrapsOptions& options,
                       std::string& error) {
    app::CommandLineReader reader(
        args, {"--help", "--inform", "--all", "--list"},
        {"--file", "--manager", "--community", "--snmp-version", "--select", "--count", "--rate",
         "--timeout", "--retries", "--transport", "--v3-user", "--user", "--users", "--engine-id"});
    app::CommandLineOption option;
    std::optional<std::string> version;
    bool selected = false;
    while (reader.next(option)) {
        const std::string& name = option.name;
        const std::string& value = option.value;
        unsigned long number = 0;
        if (name == "--help") {
            options.help = true;
        } else if (name == "--inform") {
            options.kind = traps::TrapKind::Inform;
        } else if (name == "--all") {
            options.all = true;
        } else if (name == "--list") {
            options.list = true;
        } else if (name == "--file") {
            if (value.empty()) {
                error = "--file needs a trap file";
                return false;
            }
            options.file = value;
        } else if (name == "--manager") {
            std::string host;
            if (!splitManager(value, host, options.port, error)) {
                return false;
            }
            options.manager = host;
        } else if (name == "--community") {
            if (value.size() > kCommunityCapacity) {
                error = "--community: at most " + std::to_string(kCommunityCapacity) +
                        " characters are allowed";
                return false;
            }
            options.community = value;
        } else if (name == "--snmp-version") {
            if (value != "v1" && value != "v2c" && value != "v3") {
                error = "--snmp-version takes v1, v2c or v3, not '" + value + "'";
                return false;
            }
            version = value;
        } else if (name == "--select") {
            options.selected.clear();
            if (!readPositions(value, options.selected)) {
                error = "--select takes trap positions separated by commas (0,2,5), not '" + value +
                        "'";
                return false;
            }
            selected = true;
        } else if (name == "--count") {
            if (!app::readOptionNumber(value, 1, kMaxCount, number)) {
                error = "--count takes a number from 1 to " + std::to_string(kMaxCount) +
                        ", not '" + value + "'";
                return false;
            }
            options.count = number;
        } else if (name == "--rate") {
            if (!app::readOptionNumber(value, 0, kMaxRate, number)) {
                error = "--rate takes traps a second from 0 (as fast as they go) to " +
                        std::to_string(kMaxRate) + ", not '" + value + "'";
                return false;
            }
            options.rate = static_cast<uint32_t>(number);
        } else if (name == "--timeout") {
            uint32_t ms = 0;
            if (!readSeconds(value, ms)) {
                error = "--timeout takes seconds (0.2, 2) up to 3600, not '" + value + "'";
                return false;
            }
            options.timeoutMs = ms;
        } else if (name == "--retries") {
            if (!app::readOptionNumber(value, 1, kMaxRetries, number)) {
                error = "--retries takes a number of transmissions from 1 to " +
                        std::to_string(kMaxRetries) + ", not '" + value + "'";
                return false;
            }
            options.retries = static_cast<int32_t>(number);
        } else if (name == "--transport") {
            if (value != "ipv4" && value != "ipv6") {
                error = "--transport takes ipv4 or ipv6, not '" + value + "'";
                return false;
            }
            options.transport = value == "ipv4" ? IpVersion::IPv4 : IpVersion::IPv6;
        } else if (name == "--v3-user") {
            snmp::UsmUser user;
            if (Result read = app::userFromLine(value, user); !read) {
                error = read.text();
                return false;
            }
            options.v3User = std::move(user);
        } else if (name == "--user") {
            if (value.empty()) {
                error = "--user needs the name of a user of the users file";
                return false;
            }
            options.userName = value;
        } else if (name == "--users") {
            if (value.empty()) {
                error = "--users needs a users file";
                return false;
            }
            options.usersFile = value;
        } else if (name == "--engine-id") {
            std::vector<uint8_t> engineId;
            if (!app::engineIdFromText(value, engineId)) {
                error = "--engine-id takes 5 to 32 octets in hexadecimal, not '" + value + "'";
                return false;
            }
            options.engineId = std::move(engineId);
        }
    }
    if (error = reader.error(); !error.empty()) {
        return false;
    }
    if (options.help) {
        return true;
    }
    const bool inform = options.kind == traps::TrapKind::Inform;
    if (version) {
        if (*version == "v1" && inform) {
            error = "--inform is an SNMPv2c or SNMPv3 message: it cannot go with --snmp-version v1";
            return false;
        }
        if (*version == "v2c" && !inform) {
            options.kind = traps::TrapKind::Notification;
        }
        if (*version == "v3") {
            options.kind = inform ? traps::TrapKind::V3Inform : traps::TrapKind::V3Notification;
        }
    }
    const bool v3 = traps::isV3(options.kind);
    if (!v3 && (options.v3User || options.userName || options.usersFile || options.engineId)) {
        error = "--v3-user, --user, --users and --engine-id go with --snmp-version v3";
        return false;
    }
    if (v3 && options.v3User && options.userName) {
        error = "--v3-user and --user cannot go together";
        return false;
    }
    if (v3 && !options.v3User && !options.userName) {
        error = "--snmp-version v3 needs a user: --v3-user 'LINE' or --user NAME";
        return false;
    }
    if (options.usersFile && !options.userName) {
        error = "--users goes with --user: the file to find the user in";
        return false;
    }
    if (options.engineId && options.kind == traps::TrapKind::V3Inform) {
        error =
            "--engine-id names the engine of SNMPv3 traps; informs go to the receiver's "
            "engine, which is discovered";
        return false;
    }
    if (selected && options.all) {
        error = "--select and --all cannot go together";
        return false;
    }
    if (options.file.empty()) {
        error = "--file is needed: the trap file to send from";
        return false;
    }
    if (!options.list && !options.manager) {
        error = "--manager is needed: where the traps go";
        return false;
    }
    if (!selected) {
        options.all = true;
    }
    return true;
}

void printTrapsUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] traps --file FILE --manager HOST[:PORT] [OPTIONS]\n"
           "       korvan-cli [--home DIR] traps --file FILE --list\n"
           "\n"
           "Sends traps of a trap file to a manager as the Generate Traps dialog does: the\n"
           "selected traps go out in the order of the file, one every 5 ms, and every status\n"
           "line is printed as it is appended (of alike failure lines of the endpoint at most\n"
           "5 a second), then a summary. With --count or --rate the selection goes out as a\n"
           "storm, with one progress line a second instead of a line per trap or inform.\n"
           "SIGINT (Ctrl-C) or SIGTERM stops the transmission as the dialog's Close does.\n"
           "\n"
           "Options:\n"
           "  --file FILE               trap file: a name in <home>/agent/, or a path\n"
           "                            (absolute, or relative to the current directory)\n"
           "  --list                    print the trap list (position, tab, name) and exit\n"
           "  --manager HOST[:PORT]     the manager: a name, an IPv4 address, or an IPv6\n"
           "                            address ([::1]:1162, or ::1 without a port); the port\n"
           "                            defaults to TRAPPORT, else 162\n"
           "  --community TEXT          trap community (default: the most recent TCOMMUNITY)\n"
           "  --snmp-version v1|v2c|v3  SNMPv1 Traps (default), SNMPv2c or SNMPv3\n"
           "                            notifications\n"
           "  --inform                  informs (SNMPv2c, or SNMPv3 with --snmp-version v3),\n"
           "                            each awaiting the manager's answer\n"
           "  --select N,N,...          positions in the trap list (from 0) to send\n"
           "  --all                     send every trap of the list (the default)\n"
           "  --count N                 send the selection N times\n"
           "  --rate R                  send R traps a second; 0 as fast as they go\n"
           "  --timeout S               informs: seconds to wait for an answer before sending\n"
           "                            again (fractions allowed; default: TIMEOUT, else 1)\n"
           "  --retries N               informs: transmissions in all (default: RETRIES, else 3)\n"
           "  --transport ipv4|ipv6     the client endpoint's family (default: IPV6SUPPORT)\n"
           "  --v3-user 'LINE'          SNMPv3: the user, as a line of the users file:\n"
           "                            NAME AUTH AUTHPASS [PRIV PRIVPASS]\n"
           "                            AUTH: none, MD5, SHA, SHA-224, SHA-256, SHA-384,\n"
           "                            SHA-512; PRIV: DES, AES, AES-192, AES-256; the\n"
           "                            messages go at the user's level\n"
           "  --user NAME               SNMPv3: the user of that name in the users file\n"
           "  --users FILE              the users file for --user (default:\n"
           "                            <home>/bin/users.conf; relative to the current\n"
           "                            directory)\n"
           "  --engine-id HEX           SNMPv3 traps: our engine ID (5 to 32 octets), instead\n"
           "                            of the home's traps engine in <home>/bin/engines.conf;\n"
           "                            the ID used is printed: a trap receiver makes the\n"
           "                            user with it. Informs go to the receiver's engine,\n"
           "                            discovered first\n"
           "  --help                    show this text\n"
           "\n"
           "Exit status: 0 when every selected trap was sent (and every inform acknowledged),\n"
           "1 when a trap was skipped or unacknowledged or nothing could be sent, 2 on a usage\n"
           "error (a --select position outside the trap list, or a --user the users file\n"
           "does not hold, is one).\n"
           "\n"
           "Examples:\n"
           "  korvan-cli --home build/home traps --file default.trp --manager 127.0.0.1:1162 \\\n"
           "      --snmp-version v2c --select 0,2\n"
           "  korvan-cli --home build/home traps --file default.trp --manager 127.0.0.1:1162 \\\n"
           "      --snmp-version v3 --inform --v3-user 'ops SHA-256 opspass123 AES privpass123'\n";
}

int runTraps(const TrapsOptions& options, std::ostream& out) {
    const UniqueFd signalFd = openSignalDescriptor();
    if (!signalFd) {
        return 1;
    }

    Configuration config(kConfigFileName);
    const StartupSettings startup = readStartupSettings(config);
    EpollEventLoop loop(SystemClock::instance());
    RequestIdSequence requestIds;
    app::HomeMibInfo mibInfo;
    app::GenerateTraps traps({config, loop, requestIds, mibInfo, nullptr});
    // Every line as it comes: the controller holds back floods of the endpoint's failures.
    printAppendedLines(traps.status(), out);

    const std::string trapFile =
        controlFileOption(options.file, installDirectory(config), options.startDirectory);
    if (options.list) {
        // Only read: a listing changes no setting (no TRAPFILE history).
        const std::string path = app::controlFilePath(installDirectory(config), trapFile);
        traps::TrapFile file;
        if (Result read = file.read(path); !read) {
            out << withReason(Result::failuref(app::kTrapFileOpenFailedFormat, path.c_str()), read)
                       .text()
                << "\n";
            out.flush();
            return 1;
        }
        const std::vector<std::string>& names = file.names();
        for (std::size_t position = 0; position < names.size(); ++position) {
            out << position << "\t" << names[position] << "\n";
        }
        out.flush();
        return 0;
    }

    app::GenerateTraps::Options& settings = traps.options();
    settings.ipVersion = options.transport.value_or(startup.ipVersion);
    settings.port = options.port;
    settings.timeoutMs = options.timeoutMs;
    settings.retries = options.retries;
    settings.repeat = options.count;
    settings.rate = options.rate;
    traps.kind() = options.kind;
    settings.engineId = options.engineId;
    settings.v3User = options.v3User;
    if (options.userName) {
        app::UserSources sources;
        if (options.usersFile) {
            sources.usersFile = fromStartDirectory(*options.usersFile, options.startDirectory);
        }
        std::vector<snmp::UsmUser> users;
        if (Result loaded = app::loadUsers(installDirectory(config), sources, users); !loaded) {
            out << loaded.text() << "\n";
            out.flush();
            return 1;
        }
        snmp::UsmUser user;
        if (!app::findUser(users, *options.userName, user)) {
            std::cerr << "korvan-cli traps: --user: no user [" << *options.userName << "] in "
                      << sources.usersFile.value_or(installDirectory(config) + app::kUsersFileName)
                      << "\n";
            return 2;  // a usage error
        }
        settings.v3User = std::move(user);
    }

    traps.dialogStart();
    traps.form().trapFile = trapFile;
    if (!traps.load()) {
        return 1;
    }
    const std::size_t available = traps.trapNames().size();
    if (options.all) {
        traps.selectAll();
    } else {
        for (const std::size_t position : options.selected) {
            if (position >= available) {
                std::cerr << "korvan-cli traps: position " << position
                          << " is outside the trap list, which holds " << available
                          << " trap(s) (positions 0 to " << (available == 0 ? 0 : available - 1)
                          << "); see --list\n";
                return 2;  // a usage error
            }
        }
        traps.form().selected = options.selected;
    }
    traps.form().manager = *options.manager;
    if (options.community) {
        traps.form().community = *options.community;
    } else {
        traps.form().community = config.readHistoryHead(ConfigKey::TCOMMUNITY);
    }

    bool finished = false;
    traps.onFinished = [&] { finished = true; };
    if (!traps.send()) {
        return 1;
    }
    Watch stopSignals = loop.watch(signalFd.get(), [&] {
        if (readStopSignals(signalFd.get())) {
            traps.close();
        }
    });
    while (!finished) {
        loop.runOnce(100);
    }
    stopSignals.reset();
    traps.close();

    const app::GenerateTraps::Summary& summary = traps.summary();
    const double seconds = static_cast<double>(summary.elapsedMs) / 1000.0;
    const bool timed = summary.elapsedMs > 0;
    const unsigned long long perSecond = timed ? summary.sent * 1000 / summary.elapsedMs : 0;
    const auto sent = static_cast<unsigned long long>(summary.sent);
    const auto skipped = static_cast<unsigned long long>(summary.skipped);
    char line[256];
    if (traps::isInform(options.kind)) {
        const auto acknowledged = static_cast<unsigned long long>(summary.acknowledged);
        const auto unacknowledged = static_cast<unsigned long long>(summary.unacknowledged);
        if (timed) {
            std::snprintf(line, sizeof line, kInformsSummaryFormat, sent, skipped, acknowledged,
                          unacknowledged, seconds, perSecond);
        } else {
            std::snprintf(line, sizeof line, kInformsSummaryNoRateFormat, sent, skipped,
                          acknowledged, unacknowledged, seconds);
        }
    } else if (timed) {
        std::snprintf(line, sizeof line, kTrapsSummaryFormat, sent, skipped, seconds, perSecond);
    } else {
        std::snprintf(line, sizeof line, kTrapsSummaryNoRateFormat, sent, skipped, seconds);
    }
    out << line << "\n";
    out.flush();
    const bool allSent = summary.completed && summary.skipped == 0 && summary.sent > 0;
    const bool allAnswered = !traps::isInform(options.kind) || summary.unacknowledged == 0;
    return allSent && allAnswered ? 0 : 1;
}

}  // namespace korvimo::cli
