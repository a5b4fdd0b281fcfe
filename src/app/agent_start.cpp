#include "app/agent_start.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "agent/endpoints.h"

namespace korvimo::app {

Result checkCommunity(std::string_view community) {
    if (community.size() > kCommunityCapacity) {
        return Result::failuref(kCommunityTooLongFormat, community.size(), kCommunityCapacity);
    }
    return {};
}

std::string controlFilePath(const std::string& installDir, const std::string& name) {
    return name.starts_with('/') ? name : installDir + kAgentDirectory + name;
}

std::string controlFileOption(const std::string& given, const std::string& installDir,
                              const std::string& startDirectory) {
    auto isFile = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    };
    if (given.empty() || isFile(app::controlFilePath(installDir, given))) {
        return given;
    }
    if (!startDirectory.empty() && isFile(startDirectory + "/" + given)) {
        return startDirectory + "/" + given;
    }
    return given;
}

void applyStartupSettings(AgentSettings& agent, const StartupSettings& settings) {
    agent.readCommunity = settings.readCommunity.view();
    agent.writeCommunity = settings.writeCommunity.view();
    agent.versionMode = settings.versionMode;
    agent.ipVersion = settings.ipVersion;
    agent.debugMode = settings.debugMode;
    agent.timestamp = settings.timestamp;
}

MainWindowForm formFromSettings(const Configuration& config, const StartupSettings& settings) {
    auto head = [&config](ConfigKey key) {
        const std::vector<std::string> values = config.historyValues(key);
        return values.empty() ? std::string() : values.front();
    };
    MainWindowForm form;
    form.controlFile = head(ConfigKey::INPUTFILE);
    form.readCommunity = head(ConfigKey::RCOMMUNITY);
    form.writeCommunity = head(ConfigKey::WCOMMUNITY);
    form.version = settings.versionMode;
    form.transport = settings.ipVersion;
    form.debugMode = settings.debugMode;
    return form;
}

void rememberTransport(Configuration& config, IpVersion transport) {
    config.writePlain(ConfigKey::IPV6SUPPORT, transport == IpVersion::IPv6 ? "YES" : "NO");
}

std::string agentAddressText(const Configuration& config, IpVersion transport,
                             const EndpointOverride& override) {
    std::string address;
    if (transport == IpVersion::IPv4) {
        uint8_t v4[4];
        if (localIPv4Address(v4)) {
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, v4, text, sizeof text);
            address = text;
        } else {
            address = kNoLocalAddressText;
        }
    } else {
        SocketAddress v6;
        char text[NI_MAXHOST] = {};
        if (localIPv6Address(v6) &&
            ::getnameinfo(v6.sa(), v6.length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0) {
            address = text;
        }
    }

    std::string agentIp;
    const bool agentIpPresent = config.readPlain(ConfigKey::AGENTIP, agentIp);
    if (override.address && !override.address->empty()) {
        address = *override.address;
    } else if (agentIpPresent) {
        if (!agentIp.empty()) {
            address = agentIp;
        }
    } else {
        std::string ipx;
        if (config.readPlain(ConfigKey::AGENTIPXADDR, ipx) && !ipx.empty()) {
            char text[256];
            std::snprintf(text, sizeof text, kIpxAddressDisplayFormat, ipx.c_str());
            address = text;
        }
    }
    return address;
}

std::string agentPortText(const Configuration& config, const EndpointOverride& override) {
    long port = 0;
    if (override.port) {
        port = *override.port;
    } else if (std::string text; config.readPlain(ConfigKey::AGENTPORT, text)) {
        const std::optional<long> number = agentPortFromText(text);
        if (!number) {
            return {};
        }
        port = *number;
    }
    std::string ipx;
    char text[16];
    if (config.readPlain(ConfigKey::AGENTIPXADDR, ipx) && !ipx.empty()) {
        std::snprintf(text, sizeof text, "0x%04lX",
                      port == 0 ? long{kDefaultIpxSocketNumber} : port);
    } else {
        std::snprintf(text, sizeof text, "%ld", port == 0 ? long{kDefaultAgentPort} : port);
    }
    return text;
}

std::shared_ptr<const mibinfo::MibInfo> HomeMibInfo::current(const Configuration& config) {
    const std::string path = installDirectory(config) + kMibInfoPath;
    if (library_ == nullptr || library_->path() != path) {
        library_ = std::make_unique<mibinfo::MibInfoLibrary>(path);
    }
    return library_->current();
}

std::string shownAddress(const std::string& address, IpVersion transport) {
    if (!address.empty()) {
        return address;
    }
    return transport == IpVersion::IPv6 ? "::" : "0.0.0.0";
}

std::string endpointName(const std::string& address, IpVersion transport, uint16_t port) {
    const std::string shown = shownAddress(address, transport);
    const std::string portText = std::to_string(port);
    return transport == IpVersion::IPv6 ? "[" + shown + "]:" + portText : shown + ":" + portText;
}

std::string agentContextName(const std::string& controlFile) {
    std::string name = controlFile.substr(controlFile.find_last_of('/') + 1);
    if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) {
        name.resize(dot);
    }
    return name;
}

namespace {

Result enableV3(Agent& agent, const std::string& home, const MainWindowForm& form,
                const AgentAddress& where) {
    std::vector<snmp::UsmUser> users;
    if (Result loaded = loadUsers(home, form.v3Users, users); !loaded) {
        return loaded;
    }
    auto prepared = std::make_shared<PreparedUsers>();
    if (Result made = prepareUsers(users, *prepared); !made) {
        return made;
    }
    // The engine belongs to the endpoint: agents of one home on other ports are other engines.
    const std::string endpoint =
        endpointName(where.address, agent.settings().ipVersion, agent.endpoint().port());
    EngineIdentity engine;
    std::vector<std::string> notes;
    if (Result started = startEngine(home, endpoint, engine, &notes); !started) {
        return started;
    }
    for (const std::string& note : notes) {
        agent.showMessage("SNMPv3", note.c_str());
    }
    return agent.enableV3(std::move(engine), std::move(prepared),
                          agentContextName(form.controlFile));
}

}  // namespace

StartOutcome startAgent(Agent& agent, Configuration& config, HomeMibInfo& mibInfo,
                        MainWindowForm& form, const EndpointOverride& override, StatusList& status,
                        const std::function<void()>& repaint, WriteBack writeBack) {
    StartOutcome outcome;
    AgentSettings& settings = agent.settings();
    const bool write = writeBack == WriteBack::Settings;

    // korvan.ini that exists but cannot be read (a device, a FIFO, a huge file) gives no
    // settings: the agent does not start on defaults taken for its values.
    if (Result readable = config.check(); !readable) {
        status.append(readable.text());
        return outcome;
    }
    // 1. The installation directory.
    const std::string home = installDirectory(config);

    // 2. The control file.
    const std::string controlText = form.controlFile.substr(0, kControlFileTextLimit);
    if (Result opened = agent.openControlFile(controlFilePath(home, controlText)); !opened) {
        status.append(opened.text());
        status.append(kLearnOrCreateText);
        return outcome;
    }
    form.controlFile = controlText;

    // 3, 4. Histories and communities. A community the agent cannot hold whole is refused:
    // cut, it would admit its own prefix and refuse the community given.
    for (const std::string* community : {&form.readCommunity, &form.writeCommunity}) {
        if (Result fits = checkCommunity(*community); !fits) {
            status.append(fits.text());
            return outcome;
        }
    }
    if (write) {
        config.pushHistory(ConfigKey::INPUTFILE, form.controlFile);
        config.pushHistory(ConfigKey::RCOMMUNITY, form.readCommunity);
        config.pushHistory(ConfigKey::WCOMMUNITY, form.writeCommunity);
        outcome.historiesPushed = true;
    }
    settings.readCommunity = form.readCommunity;
    settings.writeCommunity = form.writeCommunity;

    // 5. Debug mode and the debug log.
    settings.debugMode = form.debugMode;
    if (write) {
        config.writePlain(ConfigKey::DEBUGMODE, form.debugMode ? "YES" : "NO");
    }
    if (form.debugMode) {
        if (Result opened = agent.openDebugLog(home + kDebugLogName, kDebugLogName); !opened) {
            status.append(opened.text());
            return outcome;
        }
    }

    // 6. The version mode.
    settings.versionMode = form.version;
    if (write) {
        config.writePlain(ConfigKey::SNMPVER, versionModeWord(form.version));
    }

    // A change of korvan.ini that could not be written is said once; the file is as it was.
    if (std::string failure = config.takeWriteFailure(); !failure.empty()) {
        status.append(failure);
        outcome.configWriteFailure = std::move(failure);
    }

    // 7. The agent endpoint.
    AgentAddress where;
    if (override.port) {
        where.port = std::to_string(*override.port);
    } else {
        config.readPlain(ConfigKey::AGENTPORT, where.port);
    }
    config.readPlain(ConfigKey::AGENTIPXADDR, where.ipx);
    if (override.address) {
        where.address = *override.address;
    } else {
        config.readPlain(ConfigKey::AGENTIP, where.address);
    }
    settings.ipVersion = form.transport;
    if (Result opened = agent.openEndpoint(where); !opened) {
        status.append(opened.text());
        return outcome;
    }

    // 8. mibinfo.out is taken below, as part of the load: reading a large one takes a while,
    // and the window shows "Initializing Agent..." first. It may well be missing.

    // 9, 10. The start time, and a line while the control file loads.
    const int64_t startTime = agent.clock().calendarSeconds();
    status.append(kInitializingText);
    if (repaint) {
        repaint();
    }
    agent.useMibInfo(mibInfo.current(config));

    // 11. The variable store.
    if (!agent.load(startTime, home + kAttributeFileName)) {
        if (!agent.stopRequested()) {  // a load given up says so itself
            status.append(kLoadFailedText);
        }
        return outcome;
    }
    // 12. SNMPv3: the users and this endpoint's engine, its boots counted for this start.
    if (answersV3(settings.versionMode)) {
        if (Result enabled = enableV3(agent, home, form, where); !enabled) {
            status.append(enabled.text());
            return outcome;
        }
    }
    agent.serve();
    status.clear();
    status.append(kAgentStartedText);
    outcome.started = true;
    return outcome;
}

}  // namespace korvimo::app
