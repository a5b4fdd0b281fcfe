// DesktopCommands: what the desktop commands of the main window and the Generate Traps
// dialog do, decided without a window system: the file choosers of Browse (of either),
// Edit Variable File and Edit Trap File (titles, starting directories, proposed names,
// filters), the editor command of View (of either), View MIB Info and the edit commands, and
// the help documents with the message shown when no viewer can open them. The desktop window
// only shows the choosers and message boxes and starts the commands this class gives
// (without waiting for them).
//
//   DesktopCommands commands(config);                   // korvan.ini; the process environment
//   FileChooser chooser = commands.editVariableFileChooser();
//   ... the user picks /home/u/korvimo/agent/demo.ctl ...
//   DesktopLaunch editor = commands.editFile("/home/u/korvimo/agent/demo.ctl");
//   if (editor.command.empty() || !start(editor.command)) showMessage(editor.fallbackText);
//   DesktopLaunch help = commands.help(HelpDocument::Html);
//   if (help.command.empty() || !start(help.command)) showMessage(help.fallbackText);
//
// The editor is the EDITOR value of korvan.ini; without one, the user's VISUAL or EDITOR
// environment variable; without those, the desktop's opener for the file (xdg-open). The
// environment's editors are by convention programs for a terminal, so they run in the
// desktop's terminal window (x-terminal-emulator) when there is one: started from a window,
// they would otherwise have no window to show in. The EDITOR value of korvan.ini is taken as
// the user wrote it, a program that opens its own window.
//
// Every command says why it cannot be run, as help does: an editor program that is not
// there (the environment's editor inside the terminal included, since a terminal whose
// editor is missing closes before anyone reads why) gives an empty command, and the
// fallbackText names the editor, the file and what to set; View MIB Info on a home without
// mibs/miblist.lst gives an empty command and a text with the path, the system's reason and,
// when the list does not exist, that compiling MIBs writes it. The fallbackText of a command
// that is not empty is what the front end shows when the start itself fails.
//
// Commands are argument vectors run without a shell, so no file name is ever read as shell
// syntax. An editor text is split into words at blanks; double quotes keep blanks inside one
// word ("\"/opt/My Editor/edit\" -n"). Every file is given as a full path.
//
// Help documents are opened with the desktop's opener (xdg-open), which starts the program
// registered for the document's type. Without an opener, or when the document does not exist
// (the opener would then fail where nobody sees it), the front end shows fallbackText, which
// names the document's full path. For Html too it names the HTML guide itself: pointing the
// reader at the PDF of an older version, which no home carries, would leave them nowhere.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/configuration.h"

namespace korvimo::app {

// Browse: the save-style chooser of the control file (a name that does not exist yet may be
// given).
inline constexpr const char* kBrowseTitle = "Specify the Agent Control File";
inline constexpr const char* kBrowseFilterText = "Agent Control file (*.ctl)";
// Generate Traps > Browse: the save-style chooser of the trap file to send from.
inline constexpr const char* kTrapFileChooserTitle = "Specify the Trap File";
inline constexpr const char* kTrapFileFilterText = "Trap File (*.trp)";
// Variables > Edit Variable File and Trap > Edit Trap File: open-style choosers. The filter
// lists pair a description with its pattern, separated and ended by "|".
inline constexpr const char* kEditVariableFileTitle = "Edit Variable File";
inline constexpr const char* kEditVariableFileFilters =
    "Agent Control Files (*.ctl)|(*.ctl)|Trap Files (*.trp)|(*.trp)|Debug Files (*.out)|(*.out)||";
inline constexpr const char* kEditTrapFileTitle = "Edit Trap File";
inline constexpr const char* kEditTrapFileFilters =
    "Trap Files (*.trp)|(*.trp)|Agent Control Files (*.ctl)|(*.ctl)|Debug Files (*.out)|(*.out)||";
inline constexpr const char* kControlFilePattern = "*.ctl";
inline constexpr const char* kTrapFilePattern = "*.trp";

// The message of a help document that no viewer could open; the document's full path follows.
inline constexpr const char* kHelpFallbackText =
    "Unable to invoke the default browser. You can access the help document at\n";
// The messages of an editor command that cannot be run: the editor program and the file's
// full path, then kEditorHintText.
inline constexpr const char* kEditorNotFoundText =
    "Cannot start the editor [%s] for [%s]: program not found.\n";
inline constexpr const char* kEditorNotStartedText = "Cannot start the editor [%s] for [%s].\n";
inline constexpr const char* kEditorHintText =
    "Please set EDITOR in korvan.ini, or VISUAL or EDITOR in the environment, to an installed "
    "editor.";
// View MIB Info without a readable MIB list: its full path and the system's reason; when the
// list does not exist, kMibListHintText follows on a line of its own.
inline constexpr const char* kMibListFailedText = "Cannot open MIB list [%s] for reading: %s.";
inline constexpr const char* kMibListHintText =
    "Please compile MIBs first: the compilation writes the list of the compiled MIB files.";

// Files under the installation directory.
inline constexpr const char* kAgentFolder = "/agent";
inline constexpr const char* kMibListPath = "/mibs/miblist.lst";
inline constexpr const char* kHtmlHelpPath = "/docs/webhelp/korvan.htm";
inline constexpr const char* kPdfHelpPath = "/docs/Korvan7.0.pdf";

// Programs of the desktop.
inline constexpr const char* kDesktopOpener = "xdg-open";
inline constexpr const char* kTerminalProgram = "x-terminal-emulator";
inline constexpr const char* kTerminalCommandOption = "-e";

// One filter of a file chooser: "Trap Files (*.trp)" with the pattern "*.trp".
struct FileFilter {
    std::string description;
    std::string pattern;
    bool operator==(const FileFilter&) const = default;
};

struct FileChooser {
    enum class Style { Open, Save };
    Style style = Style::Open;
    std::string title;
    std::string directory;     // full path
    std::string proposedName;  // shown in the name field; a pattern selects what is listed
    std::vector<FileFilter> filters;
    // A save-style chooser that asks before it names a file that exists (the file will be
    // written over).
    bool confirmOverwrite = false;
};

// A program and its arguments, run without a shell; empty when there is nothing to run.
struct LaunchCommand {
    std::vector<std::string> argv;
    bool empty() const { return argv.empty(); }
};

enum class HelpDocument { Html, Pdf };

// A command of the desktop (an editor, a help viewer) with the message that says why it
// cannot be run.
struct DesktopLaunch {
    LaunchCommand command;     // empty when the command cannot be run
    std::string fallbackText;  // shown when command is empty or cannot be started
};

// What the desktop offers: environment variables and programs on the PATH. Tests give their
// own; system() reads the running process's.
struct DesktopEnvironment {
    std::function<std::optional<std::string>(const char* name)> variable;
    std::function<bool(const std::string& program)> hasProgram;
    static DesktopEnvironment system();
};

// The filter list of a chooser from its "description|pattern|...||" text; a pattern written
// "(*.ctl)" gives "*.ctl".
std::vector<FileFilter> parseFilterList(const char* text);

// An editor text split into words at blanks and tabs; double quotes keep blanks in a word.
std::vector<std::string> splitCommandWords(const std::string& text);

// True when program names an executable file: itself when it holds a "/", else one found in
// the directories of path (":"-separated).
bool findProgram(const std::string& program, const std::string& path);

// path as a full path (relative ones from the working directory), normalised, without a last
// "/"; path itself when the working directory cannot be known.
std::string fullPath(const std::string& path);

class DesktopCommands {
  public:
    explicit DesktopCommands(const Configuration& config,
                             DesktopEnvironment environment = DesktopEnvironment::system());

    // The installation directory as a full path: INSTALLDIR when it holds a value, else ".."
    // (read anew for every command, as every file operation does).
    std::string installDir() const;

    // Browse, and the text that a path chosen there gives (its name, without the directory,
    // since the control file and trap file texts name files in the agent directory).
    FileChooser browseChooser() const;
    static std::string agentFileFromChoice(const std::string& chosenPath);

    // Generate Traps > Browse.
    FileChooser trapFileChooser() const;
    // Create Trap File from MIB > Browse: the same chooser, asking before it names a file
    // that exists, since the creation writes over it.
    FileChooser createTrapFileChooser() const;

    FileChooser editVariableFileChooser() const;
    FileChooser editTrapFileChooser() const;

    // The editor on a file (a full path, or one relative to the working directory); empty
    // when the editor program is not there.
    DesktopLaunch editFile(const std::string& path) const;
    // View: the editor on <installDir>/agent/<control file text>.
    DesktopLaunch viewControlFile(const std::string& controlFileText) const;
    // Generate Traps > View: the editor on <installDir>/agent/<trap file text>.
    DesktopLaunch viewTrapFile(const std::string& trapFileText) const;
    // MIBs > View MIB Info: the editor on <installDir>/mibs/miblist.lst; empty when the list
    // cannot be read.
    DesktopLaunch viewMibInfo() const;

    // Help > Contents > Html or Pdf.
    std::string helpPath(HelpDocument document) const;
    DesktopLaunch help(HelpDocument document) const;

  private:
    bool hasProgram(const std::string& program) const;
    FileChooser editChooser(const char* title, const char* pattern, const char* filters) const;

    const Configuration& config_;
    DesktopEnvironment environment_;
};

}  // namespace korvimo::app
