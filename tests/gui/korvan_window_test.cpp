#include "gui/korvan_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "gui_test_support.h"

namespace korvimo::gui {
namespace {

using app::Control;
using app::FormList;
using app::MenuItem;
using testing::DesktopHome;
using testing::DesktopWindow;
using testing::ModalWatch;
using Lines = std::vector<std::string>;

Lines items(const QComboBox* box) {
    Lines texts;
    for (int i = 0; i < box->count(); ++i) {
        texts.push_back(box->itemText(i).toStdString());
    }
    return texts;
}

// Every menu item as "menu>item" or "menu>submenu>item", in menu order.
Lines menuPaths(const QMenuBar* bar) {
    Lines paths;
    std::function<void(const QMenu*, const std::string&)> walk = [&](const QMenu* menu,
                                                                     const std::string& prefix) {
        for (QAction* action : menu->actions()) {
            const std::string path = prefix + ">" + action->text().toStdString();
            if (action->menu() != nullptr) {
                walk(action->menu(), path);
            } else {
                paths.push_back(path);
            }
        }
    };
    for (QAction* action : bar->actions()) {
        walk(action->menu(), action->text().toStdString());
    }
    return paths;
}

class Korvan : public ::testing::Test {
  protected:
    KorvanWindow& window() { return *desktop.window; }
    QComboBox* list(FormList which) { return window().list(which); }
    bool isEnabled(Control control) { return window().control(control)->isEnabled(); }
    template <typename T>
    T* widget(Control control) {
        return qobject_cast<T*>(window().control(control));
    }
    void click(Control control) { widget<QAbstractButton>(control)->click(); }
    // The text of the message box the menu item shows, closed with OK.
    std::string messageBoxOf(MenuItem item) {
        std::string text;
        ModalWatch<QMessageBox> watch([&text](QMessageBox* box) {
            text = box->text().toStdString();
            box->button(QMessageBox::Ok)->click();
        });
        window().action(item)->trigger();
        EXPECT_TRUE(watch.seen()) << "no message box";
        return text;
    }
    std::string setting(ConfigKey key) {
        std::string value;
        desktop.config.readPlain(key, value);
        return value;
    }
    // The layout the window shows matches what the logic says, control by control and item
    // by item.
    void expectLayoutOfTheLogic() {
        for (const Control control : app::kAllControls) {
            EXPECT_EQ(isEnabled(control), desktop.logic.enabled(control))
                << "control " << static_cast<int>(control);
        }
        for (int item = 0; item <= static_cast<int>(MenuItem::About); ++item) {
            if (const QAction* action = window().action(static_cast<MenuItem>(item))) {
                EXPECT_EQ(action->isEnabled(), desktop.logic.enabled(static_cast<MenuItem>(item)))
                    << action->text().toStdString();
            }
        }
    }

    DesktopHome home;
    DesktopWindow desktop{home};
};

TEST_F(Korvan, WindowStartShowsTheFormOfKorvanIni) {
    EXPECT_EQ(window().windowTitle().toStdString(), "Korvimo (V7.0.1)");
    const Lines labels = testing::labelTexts(window());
    for (const char* text :
         {"SNMP Attributes FIle:", "Read Community:", "Write Community:", "SNMP Version:",
          "Transport :", "Debug Mode:", "Agent IP Address:", "Port:", "Status :"}) {
        EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
    }
    EXPECT_EQ(items(list(FormList::ControlFile)), (Lines{"small.ctl", "other.ctl"}));
    EXPECT_EQ(list(FormList::ControlFile)->currentText().toStdString(), "small.ctl");
    EXPECT_EQ(items(list(FormList::ReadCommunity)), (Lines{"public", "old"}));
    EXPECT_EQ(list(FormList::ReadCommunity)->currentText().toStdString(), "public");
    EXPECT_EQ(list(FormList::WriteCommunity)->currentText().toStdString(), "private");
    EXPECT_TRUE(list(FormList::ControlFile)->isEditable());

    EXPECT_TRUE(widget<QRadioButton>(Control::SNMPv2C)->isChecked());
    EXPECT_FALSE(widget<QRadioButton>(Control::Bilingual)->isChecked());
    EXPECT_TRUE(widget<QRadioButton>(Control::IPv4)->isChecked());
    EXPECT_FALSE(widget<QCheckBox>(Control::DebugMode)->isChecked());
    EXPECT_EQ(widget<QRadioButton>(Control::SNMPv1)->text().toStdString(), "SNMPv1");
    EXPECT_EQ(widget<QRadioButton>(Control::Bilingual)->text().toStdString(), "Bilingual");
    EXPECT_EQ(widget<QRadioButton>(Control::SNMPv3)->text().toStdString(), "SNMPv3");
    EXPECT_EQ(widget<QRadioButton>(Control::AllVersions)->text().toStdString(), "All");
    EXPECT_EQ(window().v3UsersWidget()->text().toStdString().rfind("SNMPv3 users: none (no ", 0),
              0u);
    EXPECT_EQ(widget<QRadioButton>(Control::IPv6)->text().toStdString(), "IPv6");
    EXPECT_EQ(window().addressWidget()->text().toStdString(), "127.0.0.1");  // AGENTIP
    EXPECT_EQ(window().portWidget()->text().toStdString(), std::to_string(home.port));
    EXPECT_EQ(window().statusWidget()->count(), 0);

    // The idle layout: everything but Stop; Start is the default button.
    for (const Control control : app::kAllControls) {
        EXPECT_EQ(isEnabled(control), control != Control::Stop) << static_cast<int>(control);
    }
    EXPECT_TRUE(widget<QPushButton>(Control::Start)->isDefault());
    EXPECT_EQ(widget<QPushButton>(Control::Exit)->text().toStdString(), "Exit");
}

TEST_F(Korvan, MenusOfferTheirItemsWithMnemonicsInOrder) {
    EXPECT_EQ(
        menuPaths(window().menus()),
        (Lines{"&File>&Exit", "&MIBs>&Compile MIBs..", "&MIBs>&View MIB Info..",
               "&Variables>&Create Variables from MIB..", "&Variables>&Learn SNMP Variables..",
               "&Variables>&Edit Variable File..", "&Trap>&Create Trap File from MIB..",
               "&Trap>&Generate Traps..", "&Trap>&Edit Trap File..", "&Help>&Contents>Html",
               "&Help>&Contents>Pdf", "&Help>&About Korvimo.."}));
    EXPECT_EQ(window().action(MenuItem::About)->text().toStdString(), "&About Korvimo..");
}

TEST_F(Korvan, StartAndStopSwitchTheLayoutsAndTheStatusList) {
    click(Control::Start);
    EXPECT_EQ(desktop.statusLines(), (Lines{"Agent has been started."}));
    EXPECT_TRUE(desktop.logic.agentRunning());
    for (const Control control : app::kAllControls) {
        EXPECT_EQ(isEnabled(control), control == Control::Stop) << static_cast<int>(control);
    }
    expectLayoutOfTheLogic();
    // The items in the menus so far stay available while the agent runs.
    EXPECT_TRUE(window().action(MenuItem::Exit)->isEnabled());
    EXPECT_TRUE(window().action(MenuItem::EditVariableFile)->isEnabled());
    EXPECT_FALSE(window().action(MenuItem::CreateTrapFile)->isEnabled());
    EXPECT_FALSE(window().action(MenuItem::LearnVariables)->isEnabled());

    click(Control::Stop);
    const Lines lines = desktop.statusLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Agent has been started.");
    EXPECT_EQ(lines.back(), "Agent has been stopped.");
    EXPECT_FALSE(desktop.logic.agentRunning());
    for (const Control control : app::kAllControls) {
        EXPECT_EQ(isEnabled(control), control != Control::Stop) << static_cast<int>(control);
    }
    expectLayoutOfTheLogic();
}

TEST_F(Korvan, StartPutsWhatWasTypedAtTheFrontOfTheHistories) {
    list(FormList::ReadCommunity)->setEditText("fresh");
    list(FormList::WriteCommunity)->setEditText("public");
    widget<QRadioButton>(Control::SNMPv1)->setChecked(true);
    widget<QCheckBox>(Control::DebugMode)->setChecked(true);
    click(Control::Start);
    ASSERT_TRUE(desktop.logic.agentRunning());

    EXPECT_EQ(items(list(FormList::ReadCommunity)), (Lines{"fresh", "public", "old"}));
    EXPECT_EQ(list(FormList::ReadCommunity)->currentText().toStdString(), "fresh");
    EXPECT_EQ(items(list(FormList::WriteCommunity)), (Lines{"public", "private"}));
    EXPECT_EQ(items(list(FormList::ControlFile)), (Lines{"small.ctl", "other.ctl"}));
    EXPECT_EQ(setting(ConfigKey::RCOMMUNITY), "fresh");
    EXPECT_EQ(setting(ConfigKey::SNMPVER), "SNMPv1");
    EXPECT_EQ(setting(ConfigKey::DEBUGMODE), "YES");
    EXPECT_STREQ(desktop.logic.agent().settings().readCommunity.c_str(), "fresh");
    click(Control::Stop);
}

TEST_F(Korvan, FailedStartShowsBothLinesInTheRunningLayoutAndClosesWithoutAsking) {
    list(FormList::ControlFile)->setEditText("missing.ctl");
    click(Control::Start);
    EXPECT_EQ(desktop.statusLines(),
              (Lines{"Cannot open SNMP Variable file [" + home.dir.path("agent/missing.ctl") +
                         "] for reading. No such file or directory.",
                     "Please Learn SNMP variables or Create variables from MIB."}));
    EXPECT_FALSE(isEnabled(Control::Start));
    EXPECT_TRUE(isEnabled(Control::Stop));
    EXPECT_FALSE(isEnabled(Control::ControlFileList));
    // The typed name stays in the list; the history is untouched.
    EXPECT_EQ(list(FormList::ControlFile)->currentText().toStdString(), "missing.ctl");
    EXPECT_EQ(items(list(FormList::ControlFile)), (Lines{"small.ctl", "other.ctl"}));

    // busy is idle again, so the close box asks nothing.
    ModalWatch<QMessageBox> unexpected([](QMessageBox* box) { box->reject(); }, 2000);
    EXPECT_TRUE(window().close());
    EXPECT_FALSE(unexpected.seen());
    EXPECT_FALSE(window().isVisible());
}

TEST_F(Korvan, TheStoresMessageBoxShowsOnceTheStartIsOver) {
    // A dynamic column whose table has no index information (this home has no mibinfo.out).
    testing::writeFile(home.dir.path("agent/rows.ctl"),
                       "%drow 1.3.6.1.4.1.32473.5.1.1 rowstatus\r\n"
                       "%dcol 1.3.6.1.4.1.32473.5.1.1.2 NotReq Integer RC lastset(0)\r\n"
                       "1.3.6.1.2.1.1.1.0, OctetString, RO, fixed(x)\r\n");
    list(FormList::ControlFile)->setEditText("rows.ctl");
    bool shownDuringStart = false;
    std::string title;
    std::string text;
    ModalWatch<QMessageBox> watch([&](QMessageBox* box) {
        title = box->windowTitle().toStdString();
        text = box->text().toStdString();
        box->button(QMessageBox::Ok)->click();
    });
    click(Control::Start);
    shownDuringStart = watch.seen();
    EXPECT_TRUE(testing::spinUntil([&watch]() { return watch.seen(); }, 10000));
    EXPECT_FALSE(shownDuringStart);
    EXPECT_EQ(title, "Korvimo");
    EXPECT_EQ(text, "Cannot get index information for 1.3.6.1.4.1.32473.5.1.1.2\n");
    const Lines lines = desktop.statusLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Syntax Error or unable to open temp file, allocate memory");
    EXPECT_FALSE(desktop.logic.agentRunning());
}

TEST_F(Korvan, StopAfterAFailedStartLeavesTheFailureLinesAbove) {
    list(FormList::ControlFile)->setEditText("");
    click(Control::Start);
    click(Control::Stop);
    const Lines lines = desktop.statusLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Cannot open SNMP Variable file [" + home.dir.path("agent/") +
                            "] for reading. Is a directory.");
    EXPECT_EQ(lines[2], "Agent has been stopped.");
    EXPECT_TRUE(isEnabled(Control::Start));
}

TEST_F(Korvan, CloseWhileRunningAsksAndNoKeepsTheAgentServing) {
    click(Control::Start);
    std::string question;
    ModalWatch<QMessageBox> watch([&question](QMessageBox* box) {
        question = box->text().toStdString();
        box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(window().close());
    EXPECT_TRUE(watch.seen());
    EXPECT_EQ(question,
              "The Korvimo is currently running.  Do\nyou really want to quit Korvimo now?\n");
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(desktop.logic.agentRunning());
}

TEST_F(Korvan, EscapeWhileRunningAsksAndYesReleasesTheAgent) {
    click(Control::Start);
    const uint16_t port = desktop.logic.agentPort();
    EXPECT_EQ(port, home.port);
    ModalWatch<QMessageBox> watch([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window(), &escape);
    EXPECT_TRUE(watch.seen());
    EXPECT_FALSE(window().isVisible());
    EXPECT_FALSE(desktop.logic.agent().endpoint().isOpen());
    EXPECT_FALSE(desktop.logic.agent().store().loaded());
}

TEST_F(Korvan, ExitMenuWhileRunningQuitsWithoutAsking) {
    click(Control::Start);
    ModalWatch<QMessageBox> unexpected([](QMessageBox* box) { box->reject(); }, 2000);
    window().action(MenuItem::Exit)->trigger();
    EXPECT_FALSE(unexpected.seen());
    EXPECT_FALSE(window().isVisible());
    EXPECT_FALSE(desktop.logic.agent().endpoint().isOpen());
}

TEST_F(Korvan, TransportChoiceRefreshesTheAddressAndIsRemembered) {
    desktop.config.writePlain(ConfigKey::AGENTIP, "");  // present but empty: the lookup shows
    widget<QRadioButton>(Control::IPv6)->click();
    EXPECT_EQ(setting(ConfigKey::IPV6SUPPORT), "YES");
    EXPECT_EQ(window().addressWidget()->text().toStdString(), desktop.logic.agentAddressText());
    EXPECT_EQ(window().addressWidget()->text().indexOf('.'), -1);  // no IPv4 text for IPv6
    widget<QRadioButton>(Control::IPv4)->click();
    EXPECT_EQ(setting(ConfigKey::IPV6SUPPORT), "NO");
    EXPECT_FALSE(window().addressWidget()->text().isEmpty());
}

TEST_F(Korvan, ViewRunsTheEditorOnTheControlFileInTheList) {
    desktop.config.writePlain(ConfigKey::EDITOR, "myedit -x");
    desktop.programs = {"myedit"};
    list(FormList::ControlFile)->setEditText("other.ctl");
    click(Control::View);
    ASSERT_EQ(desktop.launched.size(), 1u);
    EXPECT_EQ(desktop.launched[0], (Lines{"myedit", "-x", home.dir.path("agent/other.ctl")}));

    // Without the MIB list a box says why, in the words of the desktop commands.
    EXPECT_EQ(messageBoxOf(MenuItem::ViewMibInfo), desktop.commands->viewMibInfo().fallbackText);
    EXPECT_EQ(desktop.launched.size(), 1u);

    testing::writeFile(home.dir.path("mibs/miblist.lst"), "IF-MIB.txt\r\n");
    window().action(MenuItem::ViewMibInfo)->trigger();
    ASSERT_EQ(desktop.launched.size(), 2u);
    EXPECT_EQ(desktop.launched[1], (Lines{"myedit", "-x", home.dir.path("mibs/miblist.lst")}));
}

TEST_F(Korvan, TheEditorStartsWithoutTheWindowWaitingForIt) {
    // An editor that records its arguments, then stays open for a while.
    const std::string script = home.dir.path("editor.sh");
    const std::string record = home.dir.path("edited");
    // It lets go of the test's output at once, so that nobody waits for it to end.
    testing::writeFile(script, "#!/bin/sh\nexec </dev/null >/dev/null 2>&1\necho \"$@\" > \"" +
                                   record + ".tmp\"\nmv \"" + record + ".tmp\" \"" + record +
                                   "\"\nsleep 3\n");
    ::chmod(script.c_str(), 0755);
    desktop.config.writePlain(ConfigKey::EDITOR, script + " --flag");
    desktop.programs = {script};
    window().launch = desktop.realLaunch;

    QElapsedTimer elapsed;
    elapsed.start();
    click(Control::View);
    EXPECT_LT(elapsed.elapsed(), 2500);
    ASSERT_TRUE(
        testing::spinUntil([&record]() { return !testing::readFile(record).empty(); }, 10000));
    EXPECT_EQ(testing::readFile(record), "--flag " + home.dir.path("agent/small.ctl") + "\n");
}

TEST_F(Korvan, EditVariableFileChoosesAmongAgentFilesAndEditsTheChoice) {
    std::string title;
    std::string directory;
    QStringList filters;
    ModalWatch<QFileDialog> watch([&](QFileDialog* dialog) {
        title = dialog->windowTitle().toStdString();
        directory = dialog->directory().absolutePath().toStdString();
        filters = dialog->nameFilters();
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        testing::chooseFile(dialog, home.dir.path("agent/small.ctl"));
    });
    desktop.programs = {"xdg-open"};
    window().action(MenuItem::EditVariableFile)->trigger();
    ASSERT_TRUE(watch.seen());
    EXPECT_EQ(title, "Edit Variable File");
    EXPECT_EQ(directory, home.dir.path("agent"));
    EXPECT_EQ(filters, (QStringList{"Agent Control Files (*.ctl)", "Trap Files (*.trp)",
                                    "Debug Files (*.out)"}));
    ASSERT_EQ(desktop.launched.size(), 1u);
    EXPECT_EQ(desktop.launched[0], (Lines{"xdg-open", home.dir.path("agent/small.ctl")}));
}

TEST_F(Korvan, EditTrapFileCancelledStartsNothing) {
    std::string title;
    QStringList filters;
    ModalWatch<QFileDialog> watch([&](QFileDialog* dialog) {
        title = dialog->windowTitle().toStdString();
        filters = dialog->nameFilters();
        dialog->reject();
    });
    window().action(MenuItem::EditTrapFile)->trigger();
    ASSERT_TRUE(watch.seen());
    EXPECT_EQ(title, "Edit Trap File");
    ASSERT_FALSE(filters.isEmpty());
    EXPECT_EQ(filters.front().toStdString(), "Trap Files (*.trp)");
    EXPECT_TRUE(desktop.launched.empty());
}

TEST_F(Korvan, BrowsePutsTheChosenNameIntoTheControlFileList) {
    std::string title;
    QStringList filters;
    ModalWatch<QFileDialog> watch([&](QFileDialog* dialog) {
        title = dialog->windowTitle().toStdString();
        filters = dialog->nameFilters();
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->directory().absolutePath().toStdString(), home.dir.path("agent"));
        // A name that does not exist yet may be given.
        testing::chooseFile(dialog, home.dir.path("agent/new.ctl"));
    });
    click(Control::Browse);
    ASSERT_TRUE(watch.seen());
    EXPECT_EQ(title, "Specify the Agent Control File");
    EXPECT_EQ(filters, (QStringList{"Agent Control file (*.ctl)"}));
    EXPECT_EQ(list(FormList::ControlFile)->currentText().toStdString(), "new.ctl");
}

TEST_F(Korvan, HelpOpensTheDocumentWithTheDesktopOpener) {
    testing::writeFile(home.dir.path("docs/webhelp/korvan.htm"), "<html></html>");
    desktop.programs = {"xdg-open"};
    ModalWatch<QMessageBox> unexpected([](QMessageBox* box) { box->reject(); }, 2000);
    window().action(MenuItem::HelpHtml)->trigger();
    ASSERT_EQ(desktop.launched.size(), 1u);
    EXPECT_EQ(desktop.launched[0], (Lines{"xdg-open", home.dir.path("docs/webhelp/korvan.htm")}));
    EXPECT_FALSE(unexpected.seen());
}

TEST_F(Korvan, HelpThatCannotBeShownGivesTheDocumentsPath) {
    desktop.programs = {"xdg-open"};
    EXPECT_EQ(messageBoxOf(MenuItem::HelpPdf),  // this home has no PDF
              "Unable to invoke the default browser. You can access the help document at\n" +
                  home.dir.path("docs/Korvan7.0.pdf"));
    EXPECT_TRUE(desktop.launched.empty());

    // The opener is there but does not start.
    testing::writeFile(home.dir.path("docs/webhelp/korvan.htm"), "<html></html>");
    desktop.launchSucceeds = false;
    EXPECT_EQ(messageBoxOf(MenuItem::HelpHtml),
              "Unable to invoke the default browser. You can access the help document at\n" +
                  home.dir.path("docs/webhelp/korvan.htm"));
}

TEST_F(Korvan, AboutShowsTheNameWithItsVersion) {
    EXPECT_EQ(messageBoxOf(MenuItem::About), "Korvimo (V7.0.1)");
}

}  // namespace
}  // namespace korvimo::gui
