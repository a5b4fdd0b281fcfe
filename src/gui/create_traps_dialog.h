// CreateTrapsDialog: the modal "Create Trap File from MIB" dialog of the desktop program, on
// Qt Widgets. It draws app::CreateTraps (the trap file with its history, the standard traps'
// check box and enterprise list, the status list, Start, Stop, View) and forwards every
// command to it; Browse and View go through app::DesktopCommands as the main window's do.
//
//   app::CreateTraps create(context);                // lives as long as the main window
//   CreateTrapsDialog dialog(create, commands, window.launch, &window);
//   create.dialogStart();
//   dialog.run();                                    // draws the controller, then exec()
//
// The creation runs on the program's event loop, a few milliseconds of steps per tick, so
// the window stays responsive and Stop is heard between ticks. "Close", Escape and the close
// box close the controller (a run ends at once, its file flushed), then the dialog ends.
#pragma once

#include <QDialog>
#include <memory>

#include "app/create_traps.h"
#include "app/desktop_commands.h"
#include "gui/desktop_dialogs.h"
#include "gui/status_list_view.h"

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;

namespace korvimo::gui {

inline constexpr const char* kCreateTrapsTitle = "Create Trap File from MIB";
inline constexpr const char* kStandardTrapsGroupText = "Standard Traps :";
inline constexpr const char* kIncludeThemText = "Include Them:";
inline constexpr const char* kEnterpriseIdLabel = "Enterprise ID:";

class CreateTrapsDialog final : public QDialog {
    Q_OBJECT

  public:
    // launch is the main window's hook, read at each View.
    CreateTrapsDialog(app::CreateTraps& create, const app::DesktopCommands& commands,
                      const Launcher& launch, QWidget* parent = nullptr);
    ~CreateTrapsDialog() override;

    // Draws the controller as dialog start left it and runs the dialog to its end.
    int run();

    // The widgets, for tests.
    QComboBox* trapFileList() const { return trapFile_; }
    QCheckBox* includeBox() const { return include_; }
    QComboBox* enterpriseList() const { return enterprise_; }
    QListWidget* statusWidget() const { return statusWidget_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* viewButton() const { return view_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* closeButton() const { return close_; }

    // The commands, as the buttons run them.
    void browse();
    void view();
    void start();
    void stop();
    // "Close": Escape and the close box end here too.
    void reject() override;

  private:
    void buildForm();
    void showForm();
    void showControls();

    app::CreateTraps& logic_;
    const app::DesktopCommands& commands_;
    const Launcher& launch_;

    QComboBox* trapFile_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* view_ = nullptr;
    QCheckBox* include_ = nullptr;
    QComboBox* enterprise_ = nullptr;
    QListWidget* statusWidget_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* close_ = nullptr;
    std::unique_ptr<StatusListView> statusView_;
};

}  // namespace korvimo::gui
