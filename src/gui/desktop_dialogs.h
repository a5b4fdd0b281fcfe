// The desktop's side of app::DesktopCommands, shared by the main window and the tool
// dialogs: a file chooser shown as its description says, and a command started, or the box
// that says why it cannot be; and the small pieces every form of them is built of.
//
//   if (std::optional<std::string> path = chooseFile(this, commands.trapFileChooser())) {
//       name = DesktopCommands::agentFileFromChoice(*path);
//   }
//   launchOrExplain(this, launch, commands.viewTrapFile(name));
//
// Both run modal loops of their own, in which the agent's endpoints and timers go on.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "app/desktop_commands.h"

class QComboBox;
class QLabel;
class QWidget;

namespace korvimo::gui {

// Starts a command without waiting for it; true when it started.
using Launcher = std::function<bool(const app::LaunchCommand&)>;

// Qt's filter text of a chooser: "Trap Files (*.trp);;Agent Control Files (*.ctl)".
QString nameFilters(const app::FileChooser& chooser);

// Shows the chooser; the full path chosen, or nothing when it was cancelled. A save-style
// chooser takes a name that does not exist yet and asks about replacing one only when the
// chooser says so (confirmOverwrite): otherwise the choice names a file to use, not one to
// write.
std::optional<std::string> chooseFile(QWidget* parent, const app::FileChooser& chooser);

// Starts the command, or shows its fallbackText in a box titled as parent's window when
// there is no command or it does not start.
void launchOrExplain(QWidget* parent, const Launcher& launch, const app::DesktopLaunch& desktop);

// Text of the core (UTF-8) for Qt.
QString qtext(const std::string& text);

// A label whose mnemonic moves the focus to buddy.
QLabel* labelFor(const char* text, QWidget* buddy);

// An editable list of a history: what the user types goes into the history when it is used,
// not into the list now.
QComboBox* editableList();

}  // namespace korvimo::gui
