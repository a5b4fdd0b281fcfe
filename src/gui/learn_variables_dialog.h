// LearnVariablesDialog: the modal "Learn SNMP Variables" dialog of the desktop program, on Qt
// Widgets. It draws app::LearnVariables (the teacher, the file, the community, time-out and
// retries with their histories, the start and end of the walk, the version choice, the
// templates check box, the status list) and forwards every command to it; Browse and View go
// through app::DesktopCommands as the main window's do.
//
//   app::LearnVariables learn(context);              // lives as long as the main window
//   LearnVariablesDialog dialog(learn, commands, window.launch, &window);
//   learn.options().ipVersion = transport;
//   learn.dialogStart();
//   dialog.run();                                    // draws the controller, then exec()
//
// The walk runs on the program's event loop, one request at a time, so the dialog answers
// Stop and Close while it waits for the teacher. "Close", Escape and the close box close the
// controller (a run ends at once, its file written out), then the dialog ends.
#pragma once

#include <QDialog>
#include <memory>

#include "app/desktop_commands.h"
#include "app/learn_variables.h"
#include "gui/desktop_dialogs.h"
#include "gui/status_list_view.h"

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace korvimo::gui {

inline constexpr const char* kLearnVariablesTitle = "Learn SNMP Variables";
// The form's label texts ("Dynamic Row Templates:" and "Status :" are shared).
inline constexpr const char* kTeacherLabel = "Teacher's IP Address:";
inline constexpr const char* kLearnedFileLabel = "Save Variables in File:";
inline constexpr const char* kLearnCommunityLabel = "Community String:";
inline constexpr const char* kTimeoutLabel = "TimeOut (secs):";
inline constexpr const char* kRetriesLabel = "Num Of Retries:";
inline constexpr const char* kWalkStartLabel = "Start of Walk:";
inline constexpr const char* kWalkEndLabel = "End of Walk:";

class LearnVariablesDialog final : public QDialog {
    Q_OBJECT

  public:
    // launch is the main window's hook, read at each View.
    LearnVariablesDialog(app::LearnVariables& learn, const app::DesktopCommands& commands,
                         const Launcher& launch, QWidget* parent = nullptr);
    ~LearnVariablesDialog() override;

    // Draws the controller as dialog start left it and runs the dialog to its end.
    int run();

    // The widgets, for tests.
    QComboBox* list(app::LearnVariablesList list) const;
    QRadioButton* v1Choice() const { return v1_; }
    QRadioButton* v2cChoice() const { return v2c_; }
    QCheckBox* templatesBox() const { return templates_; }
    QListWidget* statusWidget() const { return statusWidget_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* viewButton() const { return view_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* closeButton() const { return close_; }

    // The commands, as the buttons run them.
    void start();
    void stop();
    void browse();
    void view();
    // "Close": Escape and the close box end here too.
    void reject() override;

  private:
    void buildForm();
    void showLists();
    void showControls();
    void readForm();

    app::LearnVariables& logic_;
    const app::DesktopCommands& commands_;
    const Launcher& launch_;

    // One editable list per app::LearnVariablesList, in its order.
    QComboBox* lists_[7] = {};
    QRadioButton* v1_ = nullptr;
    QRadioButton* v2c_ = nullptr;
    QCheckBox* templates_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* view_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* close_ = nullptr;
    QListWidget* statusWidget_ = nullptr;
    std::unique_ptr<StatusListView> statusView_;
};

}  // namespace korvimo::gui
