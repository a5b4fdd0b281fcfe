#include "app/desktop_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <set>

#include "app/core/temp_dir.h"

namespace korvimo::app {
namespace {

using korvimo::testing::TempDir;
using korvimo::testing::writeFile;
using Argv = std::vector<std::string>;

// A home with korvan.ini naming it as INSTALLDIR, and a desktop whose environment variables
// and programs the test decides.
class Desktop : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* sub : {"bin", "agent", "mibs", "docs", "docs/webhelp"}) {
            ::mkdir(dir.path(sub).c_str(), 0755);
        }
        writeFile(ini(), "[KORVAN]\r\nINSTALLDIR=" + dir.root() + "\r\n");
    }

    std::string ini() const { return dir.path("bin/korvan.ini"); }
    DesktopCommands commands() {
        DesktopEnvironment environment;
        environment.variable = [this](const char* name) -> std::optional<std::string> {
            auto it = variables.find(name);
            if (it == variables.end()) {
                return std::nullopt;
            }
            return it->second;
        };
        environment.hasProgram = [this](const std::string& program) {
            return programs.count(program) != 0;
        };
        return DesktopCommands(config, environment);
    }

    TempDir dir;
    Configuration config{dir.path("bin/korvan.ini")};
    std::map<std::string, std::string> variables;
    std::set<std::string> programs;
};

TEST_F(Desktop, EditorOfKorvanIniRunsAsWrittenWithTheFullPath) {
    config.writePlain(ConfigKey::EDITOR, "\"/opt/My Editor/edit\" --new-window");
    variables["VISUAL"] = "vim";
    programs = {kTerminalProgram, "/opt/My Editor/edit"};
    EXPECT_EQ(commands().viewControlFile("demo.ctl").command.argv,
              (Argv{"/opt/My Editor/edit", "--new-window", dir.path("agent/demo.ctl")}));
    // A control file given by its absolute path is viewed where the agent start opens it.
    EXPECT_EQ(commands().viewControlFile("/srv/devices/one.ctl").command.argv.back(),
              "/srv/devices/one.ctl");
}

TEST_F(Desktop, EnvironmentEditorRunsInTheTerminalWindowWhenThereIsOne) {
    variables["VISUAL"] = "vim -R";
    variables["EDITOR"] = "nano";
    programs = {kTerminalProgram, "vim", "nano"};
    writeFile(dir.path("mibs/miblist.lst"), "IF-MIB.txt\r\n");
    EXPECT_EQ(commands().viewMibInfo().command.argv,
              (Argv{"x-terminal-emulator", "-e", "vim", "-R", dir.path("mibs/miblist.lst")}));

    programs.erase(kTerminalProgram);
    variables.erase("VISUAL");
    EXPECT_EQ(commands().viewMibInfo().command.argv, (Argv{"nano", dir.path("mibs/miblist.lst")}));
}

TEST_F(Desktop, WithoutAnyEditorTheDesktopOpenerOpensTheFile) {
    config.writePlain(ConfigKey::EDITOR, "   ");  // blank counts as empty
    variables["VISUAL"] = "";
    variables["EDITOR"] = " ";
    programs.insert(kDesktopOpener);
    EXPECT_EQ(commands().editFile(dir.path("agent/x.trp")).command.argv,
              (Argv{"xdg-open", dir.path("agent/x.trp")}));
}

TEST_F(Desktop, FileNamesAreNeverReadAsShellSyntax) {
    // A control file text with blanks, quotes and shell characters stays one argument.
    programs.insert(kDesktopOpener);
    const LaunchCommand view = commands().viewControlFile("my file;$(rm -rf x)\".ctl").command;
    ASSERT_EQ(view.argv.size(), 2u);
    EXPECT_EQ(view.argv[1], dir.path("agent/my file;$(rm -rf x)\".ctl"));
}

TEST_F(Desktop, FilesAreFullPathsFromARelativeInstallDir) {
    config.writePlain(ConfigKey::INSTALLDIR, dir.root() + "/bin/..");
    EXPECT_EQ(commands().installDir(), dir.root());
    programs.insert(kDesktopOpener);
    EXPECT_EQ(commands().viewControlFile("").command.argv.back(), dir.path("agent"));

    config.writePlain(ConfigKey::INSTALLDIR, "");  // empty is "..", from the working directory
    const std::string parent = std::filesystem::current_path().parent_path().string();
    EXPECT_EQ(commands().installDir(), parent);
}

TEST_F(Desktop, EditorThatIsNotThereGivesNoCommandButTheReason) {
    const std::string file = dir.path("agent/demo.ctl");
    const std::string hint =
        "Please set EDITOR in korvan.ini, or VISUAL or EDITOR in the environment, to an "
        "installed editor.";
    config.writePlain(ConfigKey::EDITOR, "ghostedit -n");
    DesktopLaunch view = commands().viewControlFile("demo.ctl");
    EXPECT_TRUE(view.command.empty());
    EXPECT_EQ(view.fallbackText, "Cannot start the editor [ghostedit] for [" + file +
                                     "]: program not found.\n" + hint);

    // The environment's editor is looked for, not only the terminal it runs in.
    config.writePlain(ConfigKey::EDITOR, "");
    variables["VISUAL"] = "vim";
    programs.insert(kTerminalProgram);
    EXPECT_TRUE(commands().viewControlFile("demo.ctl").command.empty());

    // Without any editor setting the desktop opener must be there.
    variables.clear();
    EXPECT_TRUE(commands().viewControlFile("demo.ctl").command.empty());
    programs.insert(kDesktopOpener);
    view = commands().viewControlFile("demo.ctl");
    EXPECT_EQ(view.command.argv, (Argv{"xdg-open", file}));
    // Shown when the opener is there but does not start.
    EXPECT_EQ(view.fallbackText, "Cannot start the editor [xdg-open] for [" + file + "].\n" + hint);
}

TEST_F(Desktop, ViewMibInfoWithoutTheListGivesItsPathAndWhatWritesIt) {
    programs.insert(kDesktopOpener);
    const DesktopLaunch missing = commands().viewMibInfo();
    EXPECT_TRUE(missing.command.empty());
    EXPECT_EQ(missing.fallbackText,
              "Cannot open MIB list [" + dir.path("mibs/miblist.lst") +
                  "] for reading: No such file or directory.\nPlease compile MIBs first: the "
                  "compilation writes the list of the compiled MIB files.");

    writeFile(dir.path("mibs/miblist.lst"), "IF-MIB.txt\r\n");
    EXPECT_EQ(commands().viewMibInfo().command.argv,
              (Argv{"xdg-open", dir.path("mibs/miblist.lst")}));
}

TEST(CommandWords, SplitAtBlanksWithQuotedWords) {
    EXPECT_EQ(splitCommandWords("  gedit\t -s  "), (Argv{"gedit", "-s"}));
    EXPECT_EQ(splitCommandWords("\"a b\"c \"\""), (Argv{"a bc", ""}));
    EXPECT_EQ(splitCommandWords("\"unterminated quote"), (Argv{"unterminated quote"}));
    EXPECT_TRUE(splitCommandWords("").empty());
}

TEST_F(Desktop, BrowseIsASaveChooserOfControlFilesInTheAgentDirectory) {
    const FileChooser chooser = commands().browseChooser();
    EXPECT_EQ(chooser.style, FileChooser::Style::Save);
    EXPECT_EQ(chooser.title, "Specify the Agent Control File");
    EXPECT_EQ(chooser.directory, dir.path("agent"));
    EXPECT_EQ(chooser.proposedName, "*.ctl");
    EXPECT_EQ(chooser.filters, (std::vector<FileFilter>{{"Agent Control file (*.ctl)", "*.ctl"}}));
    EXPECT_EQ(DesktopCommands::agentFileFromChoice(dir.path("agent/new.ctl")), "new.ctl");
    EXPECT_EQ(DesktopCommands::agentFileFromChoice("/elsewhere/sub/old.ctl"), "old.ctl");
}

TEST_F(Desktop, TrapFileBrowseAndViewWorkInTheAgentDirectory) {
    const FileChooser chooser = commands().trapFileChooser();
    EXPECT_EQ(chooser.style, FileChooser::Style::Save);
    EXPECT_EQ(chooser.title, "Specify the Trap File");
    EXPECT_EQ(chooser.directory, dir.path("agent"));
    EXPECT_EQ(chooser.proposedName, "*.trp");
    EXPECT_EQ(chooser.filters, (std::vector<FileFilter>{{"Trap File (*.trp)", "*.trp"}}));
    EXPECT_FALSE(chooser.confirmOverwrite);
    // Create Trap File from MIB writes the file: its chooser asks before naming one.
    const FileChooser create = commands().createTrapFileChooser();
    EXPECT_TRUE(create.confirmOverwrite);
    EXPECT_EQ(create.title, chooser.title);
    EXPECT_EQ(create.filters, chooser.filters);
    programs.insert(kDesktopOpener);
    EXPECT_EQ(commands().viewTrapFile("default.trp").command.argv,
              (Argv{"xdg-open", dir.path("agent/default.trp")}));
}

TEST_F(Desktop, EditChoosersOpenFilesWithTheirFilterLists) {
    const FileChooser controls = commands().editVariableFileChooser();
    EXPECT_EQ(controls.style, FileChooser::Style::Open);
    EXPECT_EQ(controls.title, "Edit Variable File");
    EXPECT_EQ(controls.directory, dir.path("agent"));
    EXPECT_EQ(controls.proposedName, "*.ctl");
    EXPECT_EQ(controls.filters, (std::vector<FileFilter>{{"Agent Control Files (*.ctl)", "*.ctl"},
                                                         {"Trap Files (*.trp)", "*.trp"},
                                                         {"Debug Files (*.out)", "*.out"}}));

    const FileChooser traps = commands().editTrapFileChooser();
    EXPECT_EQ(traps.title, "Edit Trap File");
    EXPECT_EQ(traps.proposedName, "*.trp");
    ASSERT_EQ(traps.filters.size(), 3u);
    EXPECT_EQ(traps.filters[0], (FileFilter{"Trap Files (*.trp)", "*.trp"}));
    EXPECT_EQ(traps.filters[1].pattern, "*.ctl");
}

TEST(FilterList, StopsAtTheEmptyPairAndKeepsBarePatterns) {
    EXPECT_EQ(parseFilterList("A (*.a)|*.a|B|(*.b)||C|(*.c)|"),
              (std::vector<FileFilter>{{"A (*.a)", "*.a"}, {"B", "*.b"}}));
    EXPECT_TRUE(parseFilterList("").empty());
    EXPECT_TRUE(parseFilterList("lonely").empty());
}

TEST_F(Desktop, HelpOpensAnExistingDocumentWithTheDesktopOpener) {
    writeFile(dir.path("docs/webhelp/korvan.htm"), "<html></html>");
    programs.insert(kDesktopOpener);
    const DesktopLaunch html = commands().help(HelpDocument::Html);
    EXPECT_EQ(html.command.argv, (Argv{"xdg-open", dir.path("docs/webhelp/korvan.htm")}));
    EXPECT_EQ(html.fallbackText,
              "Unable to invoke the default browser. You can access the help document at\n" +
                  dir.path("docs/webhelp/korvan.htm"));
}

TEST_F(Desktop, HelpFallsBackToTheMessageWithoutOpenerOrDocument) {
    writeFile(dir.path("docs/webhelp/korvan.htm"), "<html></html>");
    EXPECT_TRUE(commands().help(HelpDocument::Html).command.empty());  // no xdg-open

    programs.insert(kDesktopOpener);
    const DesktopLaunch pdf = commands().help(HelpDocument::Pdf);  // no PDF in this home
    EXPECT_TRUE(pdf.command.empty());
    EXPECT_EQ(pdf.fallbackText,
              "Unable to invoke the default browser. You can access the help document at\n" +
                  dir.path("docs/Korvan7.0.pdf"));
}

TEST(ProgramSearch, FindsExecutablesOnThePathOrByTheirOwnPath) {
    TempDir dir;
    writeFile(dir.path("tool"), "#!/bin/sh\n");
    writeFile(dir.path("plain"), "not executable\n");
    ::chmod(dir.path("tool").c_str(), 0755);
    EXPECT_TRUE(findProgram("tool", "/nonexistent:" + dir.root()));
    EXPECT_FALSE(findProgram("plain", dir.root()));
    EXPECT_FALSE(findProgram("tool", "/nonexistent"));
    EXPECT_TRUE(findProgram(dir.path("tool"), ""));
    EXPECT_FALSE(findProgram(dir.root(), dir.root()));  // a directory is no program
    EXPECT_FALSE(findProgram("", dir.root()));
}

}  // namespace
}  // namespace korvimo::app
