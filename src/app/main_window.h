// MainWindow: the logic of Korvimo's main window without any window system. The desktop
// window and the headless `korvan-cli agent` drive this one class, so both start, stop and
// show the agent the same way: the form values (control file, communities, SNMP version,
// transport, debug mode) with the histories of the editable lists, the agent start sequence
// and stop, the release of everything the agent opened, the agent's own address, the idle
// and running layouts (which controls and menu items are enabled), the main status list,
// and the exit and close rules with the quit question.
//
//   Configuration config(kConfigFileName);          // korvan.ini in the bin directory
//   PollEventLoop loop(SystemClock::instance());
//   app::MainWindow window(config, loop);
//   window.windowStart();                           // form and address from korvan.ini
//   window.status().onChange(...);                  // draw the status list
//   window.form().debugMode = true;                 // the user's choices
//   if (window.start()) loop.run();                 // "Agent has been started."
//   window.stop();                                  // "Agent has been stopped."
//
// The window owns the AgentContext (with the main status list, the event routing and the
// Agent slot's request handler) and the variable store of the running agent. Tool dialogs
// of later issues register their slots in context().slots and take `busy` as the agent does.
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
//   - AGENTPORT outside 0 to 65535 is refused with kInvalidAgentPortText instead of
//     wrapping to another port; the opener's failure line shows the port actually used
//     (161 when none is configured).
//   - A failed start still leaves open what it opened (the control file, the endpoint)
//     until Stop, which releases it, as the layout offers only Stop then.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/event_router.h"
#include "agent/request_handler.h"
#include "app/core/agent_context.h"
#include "app/core/configuration.h"
#include "app/core/event_loop.h"
#include "app/core/status_list.h"
#include "store/variable_store.h"

namespace korvimo::app {

inline constexpr const char* kKorvimoVersion = "7.0.1";
inline constexpr const char* kWindowTitleFormat = "Korvimo (V%s)";
inline constexpr const char* kQuitQuestionText =
    "The Korvimo is currently running.  Do\nyou really want to quit Korvimo now?\n";

// Status lines of the agent start and stop.
inline constexpr const char* kCannotOpenControlFileText =
    "Cannot open SNMP Variable file [%s] for reading.";
inline constexpr const char* kLearnOrCreateText =
    "Please Learn SNMP variables or Create variables from MIB.";
inline constexpr const char* kCannotOpenDebugLogText =
    "Cannot open [%s] for writing. Check permissions.";
inline constexpr const char* kInvalidIpxAddressText =
    "Invalid IPX address specified(%s). Must be in the format 0x01020304010203040506";
inline constexpr const char* kIpxSocketFailedText =
    "%s: Cannot open SNMP request socket for IPX(%d).";
inline constexpr const char* kAgentSocketFailedText = "%s: Cannot open SNMP request socket(%d).";
inline constexpr const char* kInvalidAgentAddressText =
    "Invalid agent IP address specified(%s). Must be a numeric address of the chosen transport";
inline constexpr const char* kInvalidAgentPortText =
    "Invalid agent port specified(%s). Must be a number from 0 to 65535";
inline constexpr const char* kInitializingText = "Initializing Agent...";
inline constexpr const char* kLoadFailedText =
    "Syntax Error or unable to open temp file, allocate memory";
inline constexpr const char* kAgentStartedText = "Agent has been started.";
inline constexpr const char* kAgentStoppedText = "Agent has been stopped.";
// The address display's form for an IPX agent address.
inline constexpr const char* kIpxAddressDisplayFormat = "(IPX) %s";
// The address display when the local IPv4 address cannot be found.
inline constexpr const char* kNoLocalAddressText = "localhost";

// The control file, relative to the installation directory, and mibinfo.out.
inline constexpr const char* kAgentDirectory = "/agent/";
inline constexpr const char* kMibInfoPath = "/mibs/mibinfo.out";

// Longest texts taken from the form: the control file name, and a community for the history
// (the context keeps 49 characters of it).
inline constexpr std::size_t kControlFileTextLimit = 499;
inline constexpr std::size_t kCommunityTextLimit = 399;

// Lines the main status list keeps at most; the first four (the start line and the three
// statistics lines) always stay.
inline constexpr std::size_t kMainStatusLineLimit = 5000;
inline constexpr std::size_t kMainStatusKeptHead = 4;

enum class VersionChoice { SNMPv1, SNMPv2C, Bilingual };
enum class TransportChoice { IPv4, IPv6 };

// What the form shows and the user edits.
struct MainWindowForm {
    std::string controlFile;  // "SNMP Attributes FIle:", relative to <installDir>/agent/
    std::string readCommunity;
    std::string writeCommunity;
    VersionChoice version = VersionChoice::Bilingual;
    TransportChoice transport = TransportChoice::IPv4;
    bool debugMode = false;
};

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

    // Window start: the context from korvan.ini, the slot table, the transport and the
    // address display, the lists from their histories, the debug and version choices, an
    // empty status list and the idle layout.
    void windowStart();

    MainWindowForm& form() { return form_; }
    const MainWindowForm& form() const { return form_; }
    // The values of an editable list, most recent first.
    const std::vector<std::string>& history(FormList list) const;
    std::string title() const;

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
    void chooseTransport(TransportChoice transport);
    const std::string& agentAddressText() const { return address_; }

    // Overrides AGENTPORT and AGENTIP for the starts of this window, without writing them
    // (the headless front end's --port and --address).
    void setEndpointOverride(std::optional<uint16_t> port, std::optional<std::string> address);

    // The layouts.
    bool runningLayout() const { return running_; }
    bool enabled(Control control) const;
    bool enabled(MenuItem item) const;
    bool agentRunning() const { return ctx_.busy == kBusyRunning && ctx_.store != nullptr; }

    StatusList& status() { return status_; }
    AgentContext& context() { return ctx_; }
    const AgentContext& context() const { return ctx_; }
    Configuration& config() { return config_; }
    RequestHandler& requestHandler() { return requestHandler_; }
    store::VariableStore& variableStore() { return store_; }
    // The UDP port the agent endpoint is bound to, 0 when none (IPX included).
    uint16_t agentPort() const;

    // Called after "Initializing Agent..." so that a window can show it before the load.
    std::function<void()> repaint;

  private:
    bool startSequence();
    bool openEndpoint();
    void addressDisplay();
    void release();
    void fillLists();
    void append(const std::string& text) { status_.append(text); }

    Configuration& config_;
    EventLoop& loop_;
    StatusList status_;
    AgentContext ctx_;
    EventRouter router_;
    RequestHandler requestHandler_;
    store::VariableStore store_;

    MainWindowForm form_;
    std::vector<std::string> controlFiles_;
    std::vector<std::string> readCommunities_;
    std::vector<std::string> writeCommunities_;
    std::string address_;
    bool running_ = false;
    std::optional<uint16_t> portOverride_;
    std::optional<std::string> addressOverride_;
};

}  // namespace korvimo::app
