// The Create Trap File from MIB dialog: its form, and a run on the demo home's mibinfo.out.
#include "gui/create_traps_dialog.h"

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

TEST(CreateTrapsDialogTest, FormThenARunOnTheDemoHome) {
    DesktopHome home;
    home.addDemoTrapFile();
    Configuration(home.ini()).writePlain(ConfigKey::USESTDTRAPS, "YES");
    DesktopWindow desktop{home};
    QAction* item = desktop.window->action(MenuItem::CreateTrapFile);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text().toStdString(), "&Create Trap File from MIB..");

    ModalWatch<CreateTrapsDialog> watch([&](CreateTrapsDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle().toStdString(), "Create Trap File from MIB");
        const std::vector<std::string> labels = testing::labelTexts(*dialog);
        for (const char* text : {"SNMP Trap File:", "Enterprise ID:", "Status :"}) {
            EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
        }
        EXPECT_EQ(dialog->includeBox()->text().toStdString(), "Include Them:");
        EXPECT_TRUE(dialog->includeBox()->isChecked());
        EXPECT_TRUE(dialog->enterpriseList()->isEnabled());
        EXPECT_TRUE(dialog->startButton()->isEnabled());
        EXPECT_FALSE(dialog->stopButton()->isEnabled());
        EXPECT_FALSE(dialog->viewButton()->isEnabled());

        dialog->trapFileList()->setEditText("made");
        dialog->enterpriseList()->setEditText("");
        dialog->startButton()->click();
        EXPECT_FALSE(dialog->startButton()->isEnabled());
        EXPECT_TRUE(dialog->stopButton()->isEnabled());
        EXPECT_TRUE(
            testing::spinUntil([&] { return desktop.window->createTraps().completed(); }, 10000));
        QListWidget* status = dialog->statusWidget();
        ASSERT_GT(status->count(), 1);
        EXPECT_EQ(status->item(0)->text().toStdString(), "Trap File Creation started.");
        EXPECT_EQ(status->item(status->count() - 1)->text().toStdString(),
                  "Trap File Creation Completed.");
        EXPECT_TRUE(dialog->viewButton()->isEnabled());
        EXPECT_EQ(dialog->trapFileList()->currentText().toStdString(), "made.trp");
        dialog->stopButton()->click();
        EXPECT_TRUE(dialog->startButton()->isEnabled());
        dialog->closeButton()->click();
    });
    item->trigger();
    EXPECT_TRUE(watch.seen());
    const std::string text = testing::readFile(home.dir.path("agent/made.trp"));
    EXPECT_NE(text.find("%T  coldStart             , 1.3.6.1.2.1.11      , 0, 0\r\n"),
              std::string::npos);
    EXPECT_EQ(desktop.logic.busy(), Busy::Idle);
}

}  // namespace
}  // namespace korvimo::gui
