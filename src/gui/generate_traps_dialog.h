// GenerateTrapsDialog: the modal "Generate Traps" dialog of the desktop program, on Qt
// Widgets. It draws app::GenerateTraps (the trap file, the manager and community with their
// histories, the version choice, the trap list, the status list) and forwards every command
// to it; Browse and View go through app::DesktopCommands as the main window's do.
//
//   app::GenerateTraps traps(context);               // lives as long as the main window
//   GenerateTrapsDialog dialog(traps, commands, window.launch, &window);
//   traps.options().ipVersion = transport;
//   traps.dialogStart();
//   dialog.run();                                    // draws the controller, then exec()
//
// Enter in the trap file field loads the file (the form's hidden default button); Enter
// elsewhere does nothing, so that it never sends by accident. "Close", Escape and the close
// box close the controller (a transmission stops at once), then the dialog ends. The sending
// itself runs on the program's event loop, so the agent goes on answering meanwhile.
#pragma once

#include <QDialog>
#include <memory>

#include "app/desktop_commands.h"
#include "app/generate_traps.h"
#include "gui/desktop_dialogs.h"
#include "gui/status_list_view.h"

class QAbstractButton;
class QComboBox;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace korvimo::gui {

inline constexpr const char* kGenerateTrapsTitle = "Generate Traps";
// The form's label texts ("SNMP Version:" and "Status :" are the main window's).
inline constexpr const char* kTrapFileLabel = "SNMP Trap File:";
inline constexpr const char* kManagerLabel = "Manager IP Address:";
inline constexpr const char* kTrapCommunityLabel = "Trap Community:";
inline constexpr const char* kTrapsLabel = "Traps:";
// SNMPv3: a user line, or the name of a user of users.conf (the list offers their names).
inline constexpr const char* kTrapUserLabel = "User:";
// Buttons ("Browse" and "View" are the main window's).
inline constexpr const char* kSendText = "Send";
inline constexpr const char* kSelectAllText = "Select All";
inline constexpr const char* kUnselectAllText = "Unselect All";
inline constexpr const char* kCloseText = "Close";

class GenerateTrapsDialog final : public QDialog {
    Q_OBJECT

  public:
    // launch is the main window's hook, read at each View.
    GenerateTrapsDialog(app::GenerateTraps& traps, const app::DesktopCommands& commands,
                        const Launcher& launch, QWidget* parent = nullptr);
    ~GenerateTrapsDialog() override;

    // Draws the controller as dialog start left it and runs the dialog to its end.
    int run();

    // The widgets, for tests.
    QComboBox* trapFileList() const { return trapFile_; }
    QComboBox* managerList() const { return manager_; }
    QComboBox* communityList() const { return community_; }
    QComboBox* userList() const { return user_; }
    QRadioButton* choice(traps::TrapKind kind) const;
    QListWidget* trapList() const { return traps_; }
    QListWidget* statusWidget() const { return statusWidget_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* viewButton() const { return view_; }
    QPushButton* sendButton() const { return send_; }
    QPushButton* selectAllButton() const { return selectAll_; }
    QPushButton* closeButton() const { return close_; }

    // The commands, as the buttons and Enter run them.
    void load();
    void browse();
    void view();
    void send();
    void selectAll();
    // "Close": Escape and the close box end here too.
    void reject() override;

  private:
    void buildForm();
    void showForm();
    void showTraps();
    void showLoaded();
    void readForm();

    app::GenerateTraps& logic_;
    const app::DesktopCommands& commands_;
    const Launcher& launch_;

    QComboBox* trapFile_ = nullptr;
    QComboBox* manager_ = nullptr;
    QComboBox* community_ = nullptr;
    QComboBox* user_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* view_ = nullptr;
    QRadioButton* v1Trap_ = nullptr;
    QRadioButton* notification_ = nullptr;
    QRadioButton* inform_ = nullptr;
    QRadioButton* v3Notification_ = nullptr;
    QRadioButton* v3Inform_ = nullptr;
    QListWidget* traps_ = nullptr;
    QPushButton* send_ = nullptr;
    QPushButton* selectAll_ = nullptr;
    QPushButton* close_ = nullptr;
    QListWidget* statusWidget_ = nullptr;
    std::unique_ptr<StatusListView> statusView_;
};

}  // namespace korvimo::gui
