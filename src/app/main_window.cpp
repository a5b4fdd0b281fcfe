#include "app/main_window.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "agent/debug_log.h"
#include "agent/endpoints.h"
#include "agent/message_flow.h"
#include "agent/message_sending.h"
#include "app/core/main_status.h"

namespace korvimo::app {

namespace {

// A line of a format with one %s and, for the endpoint failures, a %d after it. A format
// without the %d leaves the number unused, which printf allows.
std::string formatText(const char* format, const std::string& text, int number = 0) {
    std::string out(text.size() + std::strlen(format) + 32, '\0');
    const int n = std::snprintf(out.data(), out.size(), format, text.c_str(), number);
    out.resize(n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), out.size() - 1) : 0);
    return out;
}

void closeFile(int& fd) {
    if (fd >= 0) {
        ::close(fd);
    }
    fd = kClosed;
}

}  // namespace

MainWindow::MainWindow(Configuration& config, EventLoop& loop)
    : config_(config), loop_(loop), router_(ctx_), requestHandler_(ctx_) {
    ctx_.loop = &loop_;
    ctx_.clock = &loop_.clock();
    ctx_.mainStatus = &status_;
    status_.setLineLimit(kMainStatusLineLimit, kMainStatusKeptHead);
}

MainWindow::~MainWindow() {
    release();
}

void MainWindow::windowStart() {
    initAgentContext(ctx_, config_);
    ctx_.mainWindow = &router_;
    ctx_.ownerWindow = &router_;
    ctx_.slots = {};
    ctx_.slots[OperationSlot::Agent] = &requestHandler_.handlers();
    ctx_.activeSlot = OperationSlot::Agent;

    chooseTransport(ctx_.ipVersion == 1 ? TransportChoice::IPv6 : TransportChoice::IPv4);
    fillLists();

    // The start-up settings above read DEBUGMODE and SNMPVER already.
    form_.debugMode = ctx_.debugMode;
    form_.version = ctx_.versionMode == kVersionModeV1    ? VersionChoice::SNMPv1
                    : ctx_.versionMode == kVersionModeV2c ? VersionChoice::SNMPv2C
                                                          : VersionChoice::Bilingual;

    status_.clear();
    running_ = false;
}

void MainWindow::fillLists() {
    controlFiles_ = config_.historyValues(ConfigKey::INPUTFILE);
    readCommunities_ = config_.historyValues(ConfigKey::RCOMMUNITY);
    writeCommunities_ = config_.historyValues(ConfigKey::WCOMMUNITY);
    form_.controlFile = controlFiles_.empty() ? std::string() : controlFiles_.front();
    form_.readCommunity = readCommunities_.empty() ? std::string() : readCommunities_.front();
    form_.writeCommunity = writeCommunities_.empty() ? std::string() : writeCommunities_.front();
}

const std::vector<std::string>& MainWindow::history(FormList list) const {
    switch (list) {
        case FormList::ControlFile:
            return controlFiles_;
        case FormList::ReadCommunity:
            return readCommunities_;
        default:
            return writeCommunities_;
    }
}

std::string MainWindow::title() const {
    return formatText(kWindowTitleFormat, kKorvimoVersion);
}

void MainWindow::setEndpointOverride(std::optional<uint16_t> port,
                                     std::optional<std::string> address) {
    portOverride_ = port;
    addressOverride_ = std::move(address);
    addressDisplay();
}

bool MainWindow::start() {
    if (!takeBusy(ctx_, &status_)) {
        return false;
    }
    ctx_.activeSlot = OperationSlot::Agent;
    status_.clear();
    ctx_.ownerWindow = ctx_.mainWindow;

    const bool started = startSequence();
    if (!started) {
        releaseBusy(ctx_);
    }
    running_ = true;
    return started;
}

bool MainWindow::startSequence() {
    // 1. The installation directory.
    ctx_.installDir = installDirectory(config_);
    const std::string home = ctx_.installDir.str();

    // 2. The control file.
    const std::string controlText = form_.controlFile.substr(0, kControlFileTextLimit);
    const std::string path = home + kAgentDirectory + controlText;
    closeFile(ctx_.controlFile);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        append(formatText(kCannotOpenControlFileText, path));
        append(kLearnOrCreateText);
        return false;
    }
    ctx_.controlFile = fd;

    // 3, 4. Histories and communities.
    config_.pushHistory(ConfigKey::INPUTFILE, controlText);
    const std::string readText = form_.readCommunity.substr(0, kCommunityTextLimit);
    config_.pushHistory(ConfigKey::RCOMMUNITY, readText);
    ctx_.readCommunity = readText;
    const std::string writeText = form_.writeCommunity.substr(0, kCommunityTextLimit);
    config_.pushHistory(ConfigKey::WCOMMUNITY, writeText);
    ctx_.writeCommunity = writeText;
    fillLists();
    form_.controlFile = controlText;
    form_.readCommunity = readText;
    form_.writeCommunity = writeText;

    // 5. Debug mode and the debug log.
    if (!form_.debugMode) {
        ctx_.debugMode = false;
        config_.writePlain(ConfigKey::DEBUGMODE, "NO");
    } else {
        ctx_.debugMode = true;
        config_.writePlain(ConfigKey::DEBUGMODE, "YES");
        closeFile(ctx_.outputFile);
        const std::string log = home + kDebugLogName;
        ctx_.outputFile = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (ctx_.outputFile < 0) {
            append(formatText(kCannotOpenDebugLogText, kDebugLogName));
            ctx_.outputFile = kClosed;
            return false;
        }
    }

    // 6. The version mode.
    switch (form_.version) {
        case VersionChoice::SNMPv1:
            ctx_.versionMode = kVersionModeV1;
            config_.writePlain(ConfigKey::SNMPVER, "SNMPv1");
            break;
        case VersionChoice::SNMPv2C:
            ctx_.versionMode = kVersionModeV2c;
            config_.writePlain(ConfigKey::SNMPVER, "SNMPv2C");
            break;
        case VersionChoice::Bilingual:
            ctx_.versionMode = kVersionModeBilingual;
            config_.writePlain(ConfigKey::SNMPVER, "BILINGUAL");
            break;
    }

    // 7. The agent endpoint.
    if (ctx_.agentSocket < 0 && !openEndpoint()) {
        return false;
    }

    // 8. mibinfo.out, for descriptor names; it may well be missing.
    if (ctx_.mibInfoFile < 0) {
        const std::string mibInfo = home + kMibInfoPath;
        const int mib = ::open(mibInfo.c_str(), O_RDONLY | O_CLOEXEC);
        ctx_.mibInfoFile = mib >= 0 ? mib : kClosed;
    }

    // 9, 10. The start time, and a line while the control file loads.
    ctx_.startTime = loop_.clock().calendarSeconds();
    append(kInitializingText);
    if (repaint) {
        repaint();
    }

    // 11. The variable store.
    ctx_.store = &store_;
    if (!store_.loadControlFile(ctx_)) {
        ctx_.store = nullptr;
        append(kLoadFailedText);
        return false;
    }
    ctx_.statistics = AgentStatistics{};
    requestHandler_.statistics().cancel();
    status_.clear();
    append(kAgentStartedText);
    return true;
}

bool MainWindow::openEndpoint() {
    std::string portText;
    if (portOverride_) {
        portText = std::to_string(*portOverride_);
    } else {
        config_.readPlain(ConfigKey::AGENTPORT, portText);
    }
    long port = portText.empty() ? 0 : readSettingNumber(portText);
    if (port < 0 || port > 65535) {
        append(formatText(kInvalidAgentPortText, portText));
        return false;
    }

    std::string failure;
    std::string ipx;
    if (config_.readPlain(ConfigKey::AGENTIPXADDR, ipx) && !ipx.empty()) {
        const snmp::Octets bytes = octetTextToBytes(ipx);
        if (bytes.length() != kIpxAddressBytes) {
            append(formatText(kInvalidIpxAddressText, ipx));
            return false;
        }
        if (!openIpxAgentSocket(&loop_, ctx_.ownerWindow, ctx_.agentSocket, failure,
                                bytes.bytes.data(), bytes.bytes.size(),
                                static_cast<uint16_t>(port))) {
            append(formatText(kIpxSocketFailedText, failure,
                              port == 0 ? kDefaultIpxSocketNumber : static_cast<int>(port)));
            return false;
        }
        return true;
    }

    std::string addressText;
    if (addressOverride_) {
        addressText = *addressOverride_;
    } else {
        config_.readPlain(ConfigKey::AGENTIP, addressText);
    }
    uint8_t address[16] = {};
    const uint8_t* local = nullptr;
    if (!addressText.empty()) {
        bool readable = false;
        if (ctx_.ipVersion == 1) {
            in_addr v4{};
            if (::inet_pton(AF_INET6, addressText.c_str(), address) == 1) {
                readable = true;
            } else if (::inet_pton(AF_INET, addressText.c_str(), &v4) == 1) {
                // The IPv4-mapped form ::ffff:a.b.c.d.
                address[10] = 0xFF;
                address[11] = 0xFF;
                std::memcpy(address + 12, &v4, 4);
                readable = true;
            }
        } else {
            readable = ::inet_pton(AF_INET, addressText.c_str(), address) == 1;
        }
        if (!readable) {
            append(formatText(kInvalidAgentAddressText, addressText));
            return false;
        }
        local = address;
    }
    if (!openAgentSocket(ctx_.ipVersion, &loop_, ctx_.ownerWindow, ctx_.agentSocket, failure, local,
                         static_cast<uint16_t>(port))) {
        append(formatText(kAgentSocketFailedText, failure,
                          port == 0 ? kDefaultAgentPort : static_cast<int>(port)));
        return false;
    }
    return true;
}

void MainWindow::stop() {
    if (ctx_.busy == kBusyRunning) {
        releaseBusy(ctx_);
    }
    // The statistics lines show the last request before the stop line goes below them.
    requestHandler_.statistics().flush();
    append(kAgentStoppedText);
    running_ = false;
    release();
}

void MainWindow::release() {
    requestHandler_.statistics().cancel();
    closeSocket(&loop_, ctx_.agentSocket);
    store_.releaseStore();
    ctx_.store = nullptr;
    closeFile(ctx_.mibInfoFile);
    closeFile(ctx_.tableFile);
    closeFile(ctx_.controlFile);
    closeFile(ctx_.outputFile);
    clearPending(ctx_.pendingRequests);
}

void MainWindow::exit() {
    release();
}

bool MainWindow::closeNeedsQuestion() const {
    return ctx_.busy != kBusyIdle;
}

void MainWindow::close() {
    release();
}

void MainWindow::chooseTransport(TransportChoice transport) {
    form_.transport = transport;
    ctx_.ipVersion = transport == TransportChoice::IPv6 ? 1 : 0;
    config_.writePlain(ConfigKey::IPV6SUPPORT, transport == TransportChoice::IPv6 ? "YES" : "NO");
    addressDisplay();
}

void MainWindow::addressDisplay() {
    address_.clear();
    if (form_.transport == TransportChoice::IPv4) {
        uint8_t v4[4];
        if (localIPv4Address(v4)) {
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, v4, text, sizeof text);
            address_ = text;
        } else {
            address_ = kNoLocalAddressText;
        }
    } else {
        SocketAddress v6;
        char text[NI_MAXHOST] = {};
        if (localIPv6Address(v6) &&
            ::getnameinfo(v6.sa(), v6.length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0) {
            address_ = text;
        }
    }

    std::string agentIp;
    const bool agentIpPresent = config_.readPlain(ConfigKey::AGENTIP, agentIp);
    if (addressOverride_ && !addressOverride_->empty()) {
        address_ = *addressOverride_;
    } else if (agentIpPresent) {
        if (!agentIp.empty()) {
            address_ = agentIp;
        }
    } else {
        std::string ipx;
        if (config_.readPlain(ConfigKey::AGENTIPXADDR, ipx) && !ipx.empty()) {
            address_ = formatText(kIpxAddressDisplayFormat, ipx);
        }
    }
}

bool MainWindow::enabled(Control control) const {
    switch (control) {
        case Control::Stop:
            return running_;
        default:
            return !running_;
    }
}

bool MainWindow::enabled(MenuItem item) const {
    switch (item) {
        case MenuItem::CompileMibs:
        case MenuItem::CreateVariables:
        case MenuItem::LearnVariables:
        case MenuItem::CreateTrapFile:
            return !running_;
        default:
            return true;
    }
}

uint16_t MainWindow::agentPort() const {
    if (ctx_.agentSocket < 0) {
        return 0;
    }
    SocketAddress local;
    local.length = sizeof local.storage;
    if (::getsockname(ctx_.agentSocket, local.sa(), &local.length) != 0) {
        return 0;
    }
    return portOf(local);
}

}  // namespace korvimo::app
