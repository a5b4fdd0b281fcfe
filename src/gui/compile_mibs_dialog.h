// CompileMibsDialog: the modal "MIB Compilation" dialog of the desktop program, on Qt
// Widgets. It draws app::CompileMibs (the MIB list, the status list) and forwards every
// command to it; Errors Log goes through app::DesktopCommands as the main window's editor
// commands do.
//
//   app::CompileMibs compile(context);              // lives as long as the main window
//   CompileMibsDialog dialog(compile, commands, window.launch, &window);
//   compile.dialogStart();
//   dialog.run();                                   // draws the controller, then exec()
//
// The batch runs as a child process beside the program's event loop, so the dialog (and the
// agent's endpoints, were one open) keeps answering; the batch's lines appear in the status
// list as they come. Compile is grayed while the batch runs and comes back when it ends.
// "Close", Escape and the close box close the controller (a running batch ends, without an
// outcome line, and mibinfo.out stays as it was), then the dialog ends.
#pragma once

#include <QDialog>
#include <memory>

#include "app/compile_mibs.h"
#include "app/desktop_commands.h"
#include "gui/desktop_dialogs.h"
#include "gui/status_list_view.h"

class QListWidget;
class QPushButton;

namespace korvimo::gui {

inline constexpr const char* kCompileMibsTitle = "MIB Compilation";
inline constexpr const char* kMibsLabel = "MIBs:";
inline constexpr const char* kCompileText = "Compile";
inline constexpr const char* kErrorsLogText = "Errors Log";

class CompileMibsDialog final : public QDialog {
    Q_OBJECT

  public:
    // launch is the main window's hook, read at each Errors Log.
    CompileMibsDialog(app::CompileMibs& compile, const app::DesktopCommands& commands,
                      const Launcher& launch, QWidget* parent = nullptr);
    ~CompileMibsDialog() override;

    // Draws the controller as dialog start left it and runs the dialog to its end.
    int run();

    // The widgets, for tests.
    QListWidget* mibsWidget() const { return mibs_; }
    QListWidget* statusWidget() const { return statusWidget_; }
    QPushButton* compileButton() const { return compile_; }
    QPushButton* errorsLogButton() const { return errorsLog_; }
    QPushButton* closeButton() const { return close_; }

    // The commands, as the buttons run them.
    void compile();
    void errorsLog();
    // "Close": Escape and the close box end here too.
    void reject() override;

  private:
    void buildForm();
    void showMibs();
    void showControls();

    app::CompileMibs& logic_;
    const app::DesktopCommands& commands_;
    const Launcher& launch_;

    QListWidget* mibs_ = nullptr;
    QPushButton* compile_ = nullptr;
    QPushButton* errorsLog_ = nullptr;
    QPushButton* close_ = nullptr;
    QListWidget* statusWidget_ = nullptr;
    std::unique_ptr<StatusListView> statusView_;
};

}  // namespace korvimo::gui
