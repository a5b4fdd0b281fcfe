// MainWindow: the logic of Korvimo's main window without any window system. The desktop
// window drives this class: the form values (control file, communities, SNMP version,
// transport, debug mode) with the histories of the editable lists, the agent start and stop,
// the agent's own address, the idle and running layouts (which controls and menu items are
// enabled), the main status list, and the exit and close rules with the quit question.
//
//   Configuration config(kConfigFileName);          // korvan.ini in the bin directory
//   EpollEventLoop loop(SystemClock::instance());
//   app::MainWindow window(config, loop);
//   window.windowStart();                           // form and address from korvan.ini
//   window.status().onChange(...);                  // draw the status list
//   window.form().debugMode = true;                 // the user's choices
//   if (window.start()) loop.run();                 // "Agent has been started."
//   window.stop();                                  // "Agent has been stopped."
//
// The window owns one Agent with its scheduled events (AgentEvents, whose lines go to the
// main status list), the main status list and the one-operation-at-a-time flag `busy`. Tool
// dialogs take `busy` as the agent start does, through busy().
//
// Choices where the rules leave room:
//   - The main status list keeps at most kMainStatusLineLimit lines: when more arrive, the
//     oldest below the statistics lines are dropped, so that no sender can make it grow
//     without end (every undecodable datagram adds a line).
//   - A control file name that names a directory (the empty name, for one) cannot be
//     opened, as on the platform the program comes from.
//   - AGENTIP is read by the chosen transport: a dotted IPv4 address for IPv4; for IPv6 an
//     IPv6 address, or a dotted IPv4 one as its IPv4-mapped form. Text that is neither is
//     refused with kInvalidAgentAddressText instead of binding to a meaningless address.
//   - AGENTPORT that is not a whole decimal number from 0 to 65535 (blanks around it
//     allowed) is refused with kInvalidAgentPortText instead of binding a port the text
//     does not say ("abc" would give 161, "0x3f41" 0); the opener's failure line shows the
//     port actually used (161 when none is configured).
//   - A control file that is not a regular file (a FIFO, a device) is refused at once, its
//     path named, instead of waiting in its open or reading without end.
//   - A community longer than kCommunityCapacity characters is refused at Start
//     (kCommunityTooLongFormat) instead of being cut: the agent would otherwise accept the
//     cut text and refuse the community the user gave.
//   - A change of korvan.ini that cannot be written leaves the file as it was and the start
//     says so once ("Cannot write <path>: <reason>").
//   - Beside the address the window shows the agent's port: the port the endpoint is bound
//     to while it is open, else the one the next start would take (agentPortText), so that
//     a user knows where to send requests, --port override included.
//   - A failed start still leaves open what it opened (the control file, the endpoint)
//     until Stop, which releases it, as the layout offers only Stop then.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "agent/request_client.h"
#include "app/agent_events.h"
#include "app/agent_start.h"
#include "app/core/configuration.h"
#include "app/core/event_loop.h"
#include "app/core/main_status.h"
#include "app/core/startup_settings.h"
#include "app/core/status_list.h"

namespace korvimo::app {

inline constexpr const char* kKorvimoVersion = "7.0.1";
inline constexpr const char* kWindowTitleFormat = "Korvimo (V%s)";
inline constexpr const char* kConfigWriteTitle = "korvan.ini";
inline constexpr const char* kQuitQuestionText =
    "The Korvimo is currently running.  Do\nyou really want to quit Korvimo now?\n";

// The editable lists filled from a history.
enum class FormList { ControlFile, ReadCommunity, WriteCommunity };

// Controls of the form whose enabled state the layouts decide.
enum class Control {
    ControlFileList,
    ReadCommunityList,
    WriteCommunityList,
    Browse,
    View,
    SNMPv1,
    SNMPv2C,
    Bilingual,
    SNMPv3,
    AllVersions,
    IPv4,
    IPv6,
    DebugMode,
    Start,
    Stop,
    Exit,
};

// Every control, in the order of the form.
inline constexpr Control kAllControls[] = {
    Control::ControlFileList,
    Control::ReadCommunityList,
    Control::WriteCommunityList,
    Control::Browse,
    Control::View,
    Control::SNMPv1,
    Control::SNMPv2C,
    Control::Bilingual,
    Control::SNMPv3,
    Control::AllVersions,
    Control::IPv4,
    Control::IPv6,
    Control::DebugMode,
    Control::Start,
    Control::Stop,
    Control::Exit,
};

// Menu items; the four tool items are grayed while the agent runs.
enum class MenuItem {
    Exit,
    CompileMibs,
    ViewMibInfo,
    CreateVariables,
    LearnVariables,
    EditVariableFile,
    CreateTrapFile,
    GenerateTraps,
    EditTrapFile,
    HelpHtml,
    HelpPdf,
    About,
};

class MainWindow {
  public:
    MainWindow(Configuration& config, EventLoop& loop);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Window start: the start-up settings from korvan.ini, the transport and the address
    // display, the lists from their histories, the debug and version choices, an empty
    // status list and the idle layout.
    void windowStart();

    MainWindowForm& form() { return form_; }
    const MainWindowForm& form() const { return form_; }
    // The values of an editable list, most recent first.
    const std::vector<std::string>& history(FormList list) const;
    std::string title() const;
    // Beside the version choice: how many SNMPv3 users <home>/bin/users.conf gives, or why
    // it gives none ("SNMPv3 users: 2", "SNMPv3 users: none (no <home>/bin/users.conf)", or
    // the file's first mistake); while the agent serves SNMPv3, the users it serves.
    std::string v3UsersText() const;
    // While the agent serves SNMPv3, its users and engine (v3StartedLine); else empty.
    std::string v3EngineText() const;

    // "Start": takes `busy`, runs the start sequence and switches to the running layout,
    // also when the sequence fails (busy then goes back to idle). True when the agent runs.
    bool start();
    // "Stop": `busy` back to idle, "Agent has been stopped.", the idle layout, release.
    void stop();
    // "Exit" (button or menu): release; the front end then closes without asking.
    void exit();
    // The close box: while an operation runs the front end asks kQuitQuestionText first.
    bool closeNeedsQuestion() const;
    // The close box after the question was answered Yes (or was not needed): release.
    void close();

    // "IPv4" / "IPv6": sets the transport and runs the address display.
    void chooseTransport(IpVersion transport);
    const std::string& agentAddressText() const { return address_; }
    // The agent's port, refreshed with the address display and by start and stop.
    const std::string& agentPortText() const { return port_; }

    // Overrides AGENTPORT and AGENTIP for the starts of this window, without writing them.
    void setEndpointOverride(std::optional<uint16_t> port, std::optional<std::string> address);

    // The layouts.
    bool runningLayout() const { return running_; }
    bool enabled(Control control) const;
    bool enabled(MenuItem item) const;
    bool agentRunning() const { return busy_ == Busy::Running && agent_.serving(); }

    StatusList& status() { return status_; }
    Configuration& config() { return config_; }
    Agent& agent() { return agent_; }
    const Agent& agent() const { return agent_; }
    // The one-operation-at-a-time flag the agent and the tools share.
    Busy& busy() { return busy_; }
    Busy busy() const { return busy_; }
    // The loop, mibinfo.out of the home, and the request-ids of the process, for the tool
    // dialogs.
    EventLoop& loop() { return loop_; }
    HomeMibInfo& mibInfo() { return mibInfo_; }
    RequestIdSequence& requestIds() { return requestIds_; }
    // The UDP port the agent endpoint is bound to, 0 when none (IPX included).
    uint16_t agentPort() const { return agent_.endpoint().port(); }

    // Shows a titled message box; without one, the message becomes a status line.
    void setMessageBox(std::function<void(const char* title, const char* text)> messageBox) {
        agent_.setMessageBox(std::move(messageBox));
    }

    // Called after "Initializing Agent..." so that a window can show it before the load.
    std::function<void()> repaint;

  private:
    void addressDisplay();
    void portDisplay();
    void release();
    void fillLists();

    Configuration& config_;
    EventLoop& loop_;
    StatusList status_;
    Busy busy_ = Busy::Idle;
    HomeMibInfo mibInfo_;  // mibinfo.out of the home, read once and shared
    RequestIdSequence requestIds_;
    Agent agent_;
    // The agent's scheduled events, from a successful start to the stop or release.
    AgentEvents events_{{config_, loop_, status_, requestIds_, mibInfo_}};

    MainWindowForm form_;
    std::vector<std::string> controlFiles_;
    std::vector<std::string> readCommunities_;
    std::vector<std::string> writeCommunities_;
    std::string address_;
    std::string port_;
    bool running_ = false;
    EndpointOverride override_;
};

}  // namespace korvimo::app
