#include "gui/create_variables_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "gui_test_support.h"

namespace korvimo::gui {
namespace {

using app::MenuItem;
using testing::DesktopHome;
using testing::DesktopWindow;
using testing::ModalWatch;

// The dialog from the Variables menu: its form from the histories, a run to its end on the
// window's loop, the histories it leaves, and the menu item grayed while the agent runs.
TEST(CreateVariablesForm, RunsFromTheVariablesMenuOnTheWindowsLoop) {
    DesktopHome home;
    home.addDemoTrapFile();  // and the demo mibinfo.out
    DesktopWindow desktop{home};
    ModalWatch<CreateVariablesDialog> watch([&](CreateVariablesDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle().toStdString(), "Create Variables from MIB");
        const std::vector<std::string> labels = testing::labelTexts(*dialog);
        for (const char* text : {"SNMP Variables File:", "Num of rows to create:",
                                 "Dynamic Row Templates:", "Status :"}) {
            EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
        }
        EXPECT_EQ(dialog->fileList()->currentText().toStdString(), "small.ctl");
        EXPECT_EQ(dialog->fileList()->count(), 2);
        EXPECT_FALSE(dialog->templatesBox()->isChecked());
        EXPECT_FALSE(dialog->stopButton()->isEnabled());
        EXPECT_FALSE(dialog->viewButton()->isEnabled());

        dialog->fileList()->setEditText("made");
        dialog->rowsList()->setEditText("2");
        dialog->templatesBox()->setChecked(true);
        dialog->startButton()->click();
        EXPECT_FALSE(dialog->startButton()->isEnabled());
        EXPECT_TRUE(dialog->stopButton()->isEnabled());
        const QListWidget* status = dialog->statusWidget();
        EXPECT_TRUE(testing::spinUntil(
            [&] {
                return status->count() > 0 && status->item(status->count() - 1)->text() ==
                                                  app::kVariableCreationCompletedText;
            },
            10000));
        EXPECT_TRUE(dialog->viewButton()->isEnabled());
        EXPECT_EQ(dialog->fileList()->currentText().toStdString(), "made.ctl");
        dialog->closeButton()->click();
    });
    desktop.window->action(MenuItem::CreateVariables)->trigger();
    EXPECT_TRUE(watch.seen());
    EXPECT_NE(testing::readFile(home.dir.path("agent/made.ctl")).find("#%drow  "),
              std::string::npos);
    EXPECT_EQ(desktop.config.historyValues(ConfigKey::NUMROWS).front(), "2");
    EXPECT_EQ(desktop.config.historyValues(ConfigKey::INPUTFILE).front(), "made.ctl");

    desktop.window->startAgent();
    EXPECT_FALSE(desktop.window->action(MenuItem::CreateVariables)->isEnabled());
    desktop.window->stopAgent();
    EXPECT_TRUE(desktop.window->action(MenuItem::CreateVariables)->isEnabled());
}

}  // namespace
}  // namespace korvimo::gui
