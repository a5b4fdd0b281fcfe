// CreateVariablesDialog: the modal "Create Variables from MIB" dialog of the desktop
// program, on Qt Widgets. It draws app::CreateVariables (the control file and the rows with
// their histories, the templates check box, the status list) and forwards every command to
// it; Browse and View go through app::DesktopCommands as the main window's do.
//
//   app::CreateVariables create(context);            // lives as long as the main window
//   CreateVariablesDialog dialog(create, commands, window.launch, &window);
//   create.dialogStart();
//   dialog.run();                                    // draws the controller, then exec()
//
// The creation runs on the program's event loop in steps of a few milliseconds, so the
// dialog answers Stop and Close between them. "Close", Escape and the close box close the
// controller (a run ends at once, its file as far as it got), then the dialog ends.
#pragma once

#include <QDialog>
#include <memory>

#include "app/create_variables.h"
#include "app/desktop_commands.h"
#include "gui/desktop_dialogs.h"
#include "gui/status_list_view.h"

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;

namespace korvimo::gui {

inline constexpr const char* kCreateVariablesTitle = "Create Variables from MIB";
inline constexpr const char* kVariablesFileLabel = "SNMP Variables File:";
inline constexpr const char* kRowsLabel = "Num of rows to create:";
inline constexpr const char* kTemplatesLabel = "Dynamic Row Templates:";

class CreateVariablesDialog final : public QDialog {
    Q_OBJECT

  public:
    // launch is the main window's hook, read at each View.
    CreateVariablesDialog(app::CreateVariables& create, const app::DesktopCommands& commands,
                          const Launcher& launch, QWidget* parent = nullptr);
    ~CreateVariablesDialog() override;

    // Draws the controller as dialog start left it and runs the dialog to its end.
    int run();

    // The widgets, for tests.
    QComboBox* fileList() const { return file_; }
    QComboBox* rowsList() const { return rows_; }
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

    app::CreateVariables& logic_;
    const app::DesktopCommands& commands_;
    const Launcher& launch_;

    QComboBox* file_ = nullptr;
    QComboBox* rows_ = nullptr;
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
