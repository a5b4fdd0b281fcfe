#include "gui/generate_traps_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "gui_test_support.h"

namespace korvimo::gui {
namespace {

using app::MenuItem;
using testing::DesktopHome;
using testing::DesktopWindow;
using testing::ModalWatch;
using traps::TrapKind;
using Lines = std::vector<std::string>;

Lines rows(const QListWidget* list) {
    Lines texts;
    for (int i = 0; i < list->count(); ++i) {
        texts.push_back(list->item(i)->text().toStdString());
    }
    return texts;
}

int selectedCount(const QListWidget* list) {
    return static_cast<int>(list->selectedItems().size());
}

void pressKey(QWidget* target, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

class GenerateTrapsForm : public ::testing::Test {
  protected:
    void SetUp() override { home.addDemoTrapFile(); }

    // Opens the dialog from the Trap menu and runs act inside it; a dialog that act leaves
    // open is closed with "Close".
    void withDialog(const std::function<void(GenerateTrapsDialog*)>& act) {
        ModalWatch<GenerateTrapsDialog> watch([&](GenerateTrapsDialog* dialog) {
            act(dialog);
            if (dialog->isVisible()) {
                dialog->closeButton()->click();
            }
        });
        desktop.window->action(MenuItem::GenerateTraps)->trigger();
        EXPECT_TRUE(watch.seen());
    }

    // Names the demo trap file and presses Enter in its field.
    static void loadDemoFile(GenerateTrapsDialog* dialog) {
        dialog->trapFileList()->setEditText("default.trp");
        pressKey(dialog->trapFileList(), Qt::Key_Return);
    }

    DesktopHome home;
    DesktopWindow desktop{home};
};

TEST_F(GenerateTrapsForm, OffersItsControlsAndEnablesThemOnceAFileIsLoaded) {
    withDialog([&](GenerateTrapsDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle().toStdString(), "Generate Traps");
        const Lines labels = testing::labelTexts(*dialog);
        for (const char* text : {"SNMP Trap File:", "Manager IP Address:", "Trap Community:",
                                 "SNMP Version:", "User:", "Traps:", "Status :"}) {
            EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
        }
        EXPECT_EQ(dialog->choice(TrapKind::V1Trap)->text().toStdString(), "SNMPv1 Trap");
        EXPECT_EQ(dialog->choice(TrapKind::Notification)->text().toStdString(),
                  "SNMPv2C Notification");
        EXPECT_EQ(dialog->choice(TrapKind::Inform)->text().toStdString(), "SNMPv2C Inform");
        EXPECT_EQ(dialog->choice(TrapKind::V3Notification)->text().toStdString(),
                  "SNMPv3 Notification");
        EXPECT_EQ(dialog->choice(TrapKind::V3Inform)->text().toStdString(), "SNMPv3 Inform");
        EXPECT_TRUE(dialog->userList()->isEditable());
        EXPECT_TRUE(dialog->choice(TrapKind::V1Trap)->isChecked());
        EXPECT_TRUE(dialog->trapFileList()->isEditable());
        EXPECT_TRUE(dialog->trapFileList()->currentText().isEmpty());
        EXPECT_EQ(dialog->trapList()->selectionMode(), QAbstractItemView::ExtendedSelection);

        // Nothing to send before a file is loaded.
        for (QWidget* control :
             std::initializer_list<QWidget*>{dialog->managerList(), dialog->communityList(),
                                             dialog->sendButton(), dialog->trapList()}) {
            EXPECT_FALSE(control->isEnabled());
        }
        EXPECT_TRUE(dialog->browseButton()->isEnabled());
        EXPECT_TRUE(dialog->selectAllButton()->isEnabled());

        loadDemoFile(dialog);
        for (QWidget* control :
             std::initializer_list<QWidget*>{dialog->managerList(), dialog->communityList(),
                                             dialog->sendButton(), dialog->trapList()}) {
            EXPECT_TRUE(control->isEnabled());
        }
        const Lines names = rows(dialog->trapList());
        EXPECT_FALSE(names.empty());
        EXPECT_EQ(names, desktop.window->traps().trapNames());

        EXPECT_EQ(dialog->selectAllButton()->text().toStdString(), "Select All");
        dialog->selectAllButton()->click();
        EXPECT_EQ(dialog->selectAllButton()->text().toStdString(), "Unselect All");
        EXPECT_EQ(selectedCount(dialog->trapList()), dialog->trapList()->count());
        dialog->selectAllButton()->click();
        EXPECT_EQ(dialog->selectAllButton()->text().toStdString(), "Select All");
        EXPECT_EQ(selectedCount(dialog->trapList()), 0);
    });
}

TEST_F(GenerateTrapsForm, TheVersionSentWithIsCheckedAtTheNextOpening) {
    testing::UdpPeer manager(AF_INET);
    desktop.config.writePlain(ConfigKey::TRAPPORT, std::to_string(manager.port()));
    withDialog([&](GenerateTrapsDialog* dialog) {
        loadDemoFile(dialog);
        dialog->managerList()->setEditText("127.0.0.1");
        dialog->communityList()->setEditText("public");
        dialog->choice(TrapKind::Notification)->click();
        dialog->trapList()->item(0)->setSelected(true);
        dialog->sendButton()->click();
        // The traps go out on this thread's loop, so it runs while the test waits.
        std::vector<uint8_t> datagram;
        EXPECT_TRUE(testing::spinUntil([&]() { return manager.receive(datagram, 0); }, 10000));
        // Escape closes as "Close" does.
        pressKey(dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog->isVisible());
    });
    withDialog([&](GenerateTrapsDialog* dialog) {
        EXPECT_TRUE(dialog->choice(TrapKind::Notification)->isChecked());
        EXPECT_FALSE(dialog->choice(TrapKind::V1Trap)->isChecked());
    });
}

TEST_F(GenerateTrapsForm, ExitWhileSendingClosesTheDialogAndStopsTheTransmission) {
    testing::UdpPeer manager(AF_INET);
    desktop.config.writePlain(ConfigKey::TRAPPORT, std::to_string(manager.port()));
    desktop.window->traps().options().repeat = 1000000;  // sends until stopped
    bool sendingBeforeExit = false;
    withDialog([&](GenerateTrapsDialog* dialog) {
        loadDemoFile(dialog);
        dialog->managerList()->setEditText("127.0.0.1");
        dialog->selectAllButton()->click();
        dialog->sendButton()->click();
        sendingBeforeExit = desktop.window->traps().sending();
        desktop.window->exitProgram();  // as a signal does
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_TRUE(sendingBeforeExit);
    EXPECT_FALSE(desktop.window->traps().sending());
    EXPECT_FALSE(desktop.window->isVisible());
}

TEST_F(GenerateTrapsForm, BrowseLoadsTheChosenFileAndViewEditsIt) {
    desktop.config.writePlain(ConfigKey::EDITOR, "myedit");
    desktop.programs = {"myedit"};
    withDialog([&](GenerateTrapsDialog* dialog) {
        std::string title;
        QStringList filters;
        std::string directory;
        ModalWatch<QFileDialog> chooser([&](QFileDialog* files) {
            title = files->windowTitle().toStdString();
            filters = files->nameFilters();
            directory = files->directory().absolutePath().toStdString();
            EXPECT_EQ(files->acceptMode(), QFileDialog::AcceptSave);
            testing::chooseFile(files, home.dir.path("agent/default.trp"));
        });
        dialog->browseButton()->click();
        ASSERT_TRUE(chooser.seen());
        EXPECT_EQ(title, "Specify the Trap File");
        EXPECT_EQ(filters, (QStringList{"Trap File (*.trp)"}));
        EXPECT_EQ(directory, home.dir.path("agent"));
        EXPECT_EQ(dialog->trapFileList()->currentText().toStdString(), "default.trp");
        EXPECT_GT(dialog->trapList()->count(), 0);
        EXPECT_TRUE(dialog->sendButton()->isEnabled());

        dialog->viewButton()->click();
        ASSERT_EQ(desktop.launched.size(), 1u);
        EXPECT_EQ(desktop.launched[0], (Lines{"myedit", home.dir.path("agent/default.trp")}));
    });
}

}  // namespace
}  // namespace korvimo::gui
