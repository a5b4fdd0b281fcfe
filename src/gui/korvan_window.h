// KorvanWindow: the main window of the desktop program, on Qt Widgets.
//
// It draws the form of app::MainWindow (the control file, the communities, the SNMP version,
// the transport, debug mode, the agent's address and port and the status list), its buttons
// and its menus, and forwards every user command to the logic: app::MainWindow for the agent
// (start, stop, exit, close, the transport and the layouts) and app::DesktopCommands for the
// file choosers, the editor and the help documents, whose messages it shows in a box when a
// command cannot be run. Nothing is decided here that is not drawing.
//
//   QtEventLoop loop(SystemClock::instance());
//   Configuration config(kConfigFileName);
//   app::MainWindow logic(config, loop);
//   app::DesktopCommands commands(config);
//   KorvanWindow window(logic, commands);
//   window.windowStart();          // the form from korvan.ini, the idle layout
//   window.show();
//   app.exec();
//
// The window is a dialog, as the form it draws is: "Start" is its default button, and Escape
// closes it like the close box (with the quit question while an operation runs). Endpoints
// and timers of the agent arrive through Qt's loop, so the agent keeps answering while any
// modal box or chooser of this window is open.
//
// MIBs > "&Compile MIBs.." opens CompileMibsDialog, modal, on the one app::CompileMibs the
// window makes at the first opening, with the directory of the running program as where kmx
// and zorlet are; the item is grayed while the agent runs, and the batch holds the window's
// busy flag while it runs.
//
// Variables > "&Learn SNMP Variables.." opens LearnVariablesDialog, modal, on the one
// app::LearnVariables the window makes at the first opening, so the version chosen carries
// over; the walk goes out over the transport the agent uses, the item is grayed while the
// agent runs, and the run holds the window's busy flag.
//
// Trap > "&Create Trap File from MIB.." opens CreateTrapsDialog, modal, on the one
// app::CreateTraps the window holds; the item is grayed while the agent runs, and the run
// holds the window's busy flag.
//
// Trap > "&Generate Traps.." opens GenerateTrapsDialog, modal, on the one app::GenerateTraps
// the window holds for its whole life, so the version choice and the histories carry over
// from one opening to the next; it may be opened while the agent runs, and the agent goes on
// answering while traps go out.
//
// The menus come from one table in korvan_window.cpp (menu, item text, menu item, command);
// the items of each tool dialog are one line there, and the rows are grayed and enabled as
// app::MainWindow::enabled(MenuItem) says.
//
// Linux desktops give a program no system menu to add to, so About is offered by Help >
// "&About Korvimo.." alone; its box is titled kAboutTitle. The "PMPP/Serial" transport and the
// "Settings..." button, hidden and without any action, are not built.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <memory>

#include "app/compile_mibs.h"
#include "app/create_traps.h"
#include "app/create_variables.h"
#include "app/desktop_commands.h"
#include "app/generate_traps.h"
#include "app/learn_variables.h"
#include "app/main_window.h"
#include "gui/desktop_dialogs.h"
#include "gui/status_list_view.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QMenuBar;
class QPushButton;
class QRadioButton;

namespace korvimo::gui {

class CompileMibsDialog;
class CreateTrapsDialog;
class CreateVariablesDialog;
class GenerateTrapsDialog;
class LearnVariablesDialog;

// The form's label texts.
inline constexpr const char* kControlFileLabel = "SNMP Attributes FIle:";
inline constexpr const char* kReadCommunityLabel = "Read Community:";
inline constexpr const char* kWriteCommunityLabel = "Write Community:";
inline constexpr const char* kVersionLabel = "SNMP Version:";
inline constexpr const char* kTransportLabel = "Transport :";
inline constexpr const char* kDebugModeLabel = "Debug Mode:";
inline constexpr const char* kAgentAddressLabel = "Agent IP Address:";
inline constexpr const char* kAgentPortLabel = "Port:";
inline constexpr const char* kStatusLabel = "Status :";
// Buttons and choices.
inline constexpr const char* kBrowseText = "Browse";
inline constexpr const char* kViewText = "View";
inline constexpr const char* kStartText = "Start";
inline constexpr const char* kStopText = "Stop";
inline constexpr const char* kExitText = "Exit";
inline constexpr const char* kSnmpV1Text = "SNMPv1";
inline constexpr const char* kSnmpV2CText = "SNMPv2C";
inline constexpr const char* kSnmpV3Text = "SNMPv3";
inline constexpr const char* kAllVersionsText = "All";
inline constexpr const char* kBilingualText = "Bilingual";
inline constexpr const char* kIPv4Text = "IPv4";
inline constexpr const char* kIPv6Text = "IPv6";
// The About box's title; its text is the window title, the program name with its version.
inline constexpr const char* kAboutTitle = "About Korvimo";

class KorvanWindow final : public QDialog {
    Q_OBJECT

  public:
    KorvanWindow(app::MainWindow& window, const app::DesktopCommands& commands,
                 QWidget* parent = nullptr);
    ~KorvanWindow() override;

    // Window start of the logic, then the form, the title, the address and the idle layout.
    void windowStart();

    // Starts a command without waiting for it; true when it started. The desktop program
    // starts a detached process; tests put their own here. The Generate Traps dialog uses
    // this one too.
    Launcher launch;

    // The widgets, for tests and the screenshot.
    QWidget* control(app::Control control) const;
    QComboBox* list(app::FormList list) const;
    QAction* action(app::MenuItem item) const;  // nullptr for items not in the menus
    QMenuBar* menus() const { return menuBar_; }
    QListWidget* statusWidget() const { return statusWidget_; }
    QLabel* addressWidget() const { return address_; }
    QLabel* portWidget() const { return port_; }
    QLabel* v3UsersWidget() const { return v3Users_; }
    const StatusListView& statusView() const { return *statusView_; }
    // The logic of the Generate Traps dialog.
    app::GenerateTraps& traps() { return *traps_; }
    // The logic of the Create Trap File from MIB dialog.
    app::CreateTraps& createTraps() { return *createTraps_; }

    // The commands, as the buttons and menus run them.
    void startAgent();
    void stopAgent();
    void exitProgram();
    void browse();
    void view();
    void compileMibs();
    void viewMibInfo();
    void editVariableFile();
    void createVariables();
    void learnVariables();
    void editTrapFile();
    void createTrapFile();
    void generateTraps();
    void helpHtml();
    void helpPdf();
    void about();

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Escape closes as the close box does.
    void reject() override;

  private:
    void buildForm();
    void buildMenus();
    void chooseTransport(IpVersion transport);
    void showAddress();
    void showForm();
    void showLists();
    void readForm();
    void applyLayout();
    void editChosenFile(const app::FileChooser& chooser);
    // Starts the command, or shows the box that says why it cannot be run.
    void launchOrExplain(const app::DesktopLaunch& launch);

    app::MainWindow& window_;
    const app::DesktopCommands& commands_;

    QMenuBar* menuBar_ = nullptr;
    QComboBox* controlFile_ = nullptr;
    QComboBox* readCommunity_ = nullptr;
    QComboBox* writeCommunity_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* view_ = nullptr;
    QRadioButton* v1_ = nullptr;
    QRadioButton* v2c_ = nullptr;
    QRadioButton* bilingual_ = nullptr;
    QRadioButton* v3_ = nullptr;
    QRadioButton* allVersions_ = nullptr;
    QLabel* v3Users_ = nullptr;
    QRadioButton* ipv4_ = nullptr;
    QRadioButton* ipv6_ = nullptr;
    QCheckBox* debugMode_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* exit_ = nullptr;
    QLabel* address_ = nullptr;
    QLabel* port_ = nullptr;
    QListWidget* statusWidget_ = nullptr;
    std::unique_ptr<StatusListView> statusView_;
    std::map<app::MenuItem, QAction*> actions_;
    std::unique_ptr<app::GenerateTraps> traps_;
    // Made at the first opening; it goes before traps_, whose status list it shows.
    std::unique_ptr<GenerateTrapsDialog> trapsDialog_;
    std::unique_ptr<app::CreateTraps> createTraps_;
    // Made at the first opening; it goes before createTraps_, whose status list it shows.
    std::unique_ptr<CreateTrapsDialog> createTrapsDialog_;
    std::unique_ptr<app::CreateVariables> createVariables_;
    std::unique_ptr<CreateVariablesDialog> createVariablesDialog_;  // after its controller
    std::unique_ptr<app::LearnVariables> learnVariables_;
    std::unique_ptr<LearnVariablesDialog> learnVariablesDialog_;  // after its controller
    std::unique_ptr<app::CompileMibs> compileMibs_;
    std::unique_ptr<CompileMibsDialog> compileMibsDialog_;  // after its controller
    // Set once the window may close without the question (Exit, or Yes to the question).
    bool closing_ = false;
};

}  // namespace korvimo::gui
