#include "app/main_window.h"

#include <sys/stat.h>

#include <cstdio>

namespace korvimo::app {

MainWindow::MainWindow(Configuration& config, EventLoop& loop)
    : config_(config), loop_(loop), agent_({loop_, status_, &config_, nullptr}) {
    status_.setLineLimit(kMainStatusLineLimit, kMainStatusKeptHead);
}

MainWindow::~MainWindow() {
    release();
}

void MainWindow::windowStart() {
    const StartupSettings startup = readStartupSettings(config_);
    applyStartupSettings(agent_.settings(), startup);
    form_ = formFromSettings(config_, startup);
    chooseTransport(startup.ipVersion);
    fillLists();

    status_.clear();
    running_ = false;
}

void MainWindow::fillLists() {
    controlFiles_ = config_.historyValues(ConfigKey::INPUTFILE);
    readCommunities_ = config_.historyValues(ConfigKey::RCOMMUNITY);
    writeCommunities_ = config_.historyValues(ConfigKey::WCOMMUNITY);
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
    char text[64];
    std::snprintf(text, sizeof text, kWindowTitleFormat, kKorvimoVersion);
    return text;
}

void MainWindow::setEndpointOverride(std::optional<uint16_t> port,
                                     std::optional<std::string> address) {
    override_.port = port;
    override_.address = std::move(address);
    addressDisplay();
}

bool MainWindow::start() {
    if (!takeBusy(busy_, &status_)) {
        return false;
    }
    status_.clear();

    const StartOutcome outcome =
        startAgent(agent_, config_, mibInfo_, form_, override_, status_, repaint);
    if (outcome.historiesPushed) {
        fillLists();  // the lists show the histories as the start left them
    }
    if (!outcome.started) {
        releaseBusy(busy_);
    } else {
        if (!outcome.configWriteFailure.empty()) {
            // The start cleared the list that said it; a box says it still.
            agent_.showMessage(kConfigWriteTitle, outcome.configWriteFailure.c_str());
        }
        events_.start(agent_);
    }
    running_ = true;
    portDisplay();
    return outcome.started;
}

void MainWindow::stop() {
    if (busy_ == Busy::Running) {
        releaseBusy(busy_);
    }
    events_.stop();
    // The statistics lines show the last request before the stop line goes below them.
    agent_.stop();
    status_.append(kAgentStoppedText);
    running_ = false;
    release();
    portDisplay();
}

void MainWindow::release() {
    events_.stop();
    agent_.release();
}

void MainWindow::exit() {
    release();
}

bool MainWindow::closeNeedsQuestion() const {
    return busy_ != Busy::Idle;
}

void MainWindow::close() {
    release();
}

void MainWindow::chooseTransport(IpVersion transport) {
    form_.transport = transport;
    agent_.settings().ipVersion = transport;
    rememberTransport(config_, transport);
    addressDisplay();
}

void MainWindow::addressDisplay() {
    address_ = app::agentAddressText(config_, form_.transport, override_);
    portDisplay();
}

void MainWindow::portDisplay() {
    const uint16_t bound = agentPort();
    port_ = bound != 0 ? std::to_string(bound) : app::agentPortText(config_, override_);
}

std::string MainWindow::v3EngineText() const {
    const V3Security* security = agent_.security();
    return security != nullptr && agent_.serving() ? v3StartedLine(*security) : std::string();
}

std::string MainWindow::v3UsersText() const {
    if (const V3Security* security = agent_.security(); security != nullptr && agent_.serving()) {
        return "SNMPv3 users: " + std::to_string(security->userCount());
    }
    const std::string home = installDirectory(config_);
    const std::string path = home + kUsersFileName;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::string("SNMPv3 users: none (no ") + path + ")";
    }
    std::vector<snmp::UsmUser> users;
    if (Result read = snmp::readUsersFile(path, users); !read) {
        return std::string("SNMPv3 users: ") + std::string(read.text());
    }
    return "SNMPv3 users: " + std::to_string(users.size());
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

}  // namespace korvimo::app
