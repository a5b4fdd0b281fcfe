#include "gui/compile_mibs_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QListWidget>
#include <QPushButton>

#include "gui_test_support.h"

namespace korvimo::gui {
namespace {

using app::MenuItem;
using testing::DesktopHome;
using testing::DesktopWindow;
using testing::ModalWatch;

std::vector<std::string> texts(const QListWidget* list) {
    std::vector<std::string> lines;
    for (int i = 0; i < list->count(); ++i) {
        lines.push_back(list->item(i)->text().toStdString());
    }
    return lines;
}

// The dialog from the MIBs menu lists the home's MIB files; Compile holds the window's busy
// flag while the batch runs and grays itself; Close ends the batch and releases the flag. The
// item is grayed while the agent runs.
TEST(CompileMibsForm, ListsTheHomesMibsAndCloseReleasesTheBatch) {
    DesktopHome home;
    for (const char* name : {"mibs/b.mib", "mibs/A.MIB", "mibs/other.txt"}) {
        testing::writeFile(home.dir.path(name), "X DEFINITIONS ::= BEGIN\nEND\n");
    }
    DesktopWindow desktop{home};
    ModalWatch<CompileMibsDialog> watch([&](CompileMibsDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle().toStdString(), "MIB Compilation");
        EXPECT_EQ(texts(dialog->mibsWidget()), (std::vector<std::string>{"A.MIB", "b.mib"}));
        EXPECT_EQ(dialog->mibsWidget()->selectionMode(), QAbstractItemView::ExtendedSelection);
        EXPECT_TRUE(dialog->compileButton()->isDefault());
        EXPECT_TRUE(dialog->compileButton()->isEnabled());

        dialog->mibsWidget()->selectAll();
        dialog->compileButton()->click();
        EXPECT_NE(desktop.logic.busy(), Busy::Idle);
        EXPECT_FALSE(dialog->compileButton()->isEnabled());
        dialog->closeButton()->click();
    });
    desktop.window->action(MenuItem::CompileMibs)->trigger();
    EXPECT_TRUE(watch.seen());
    EXPECT_EQ(desktop.logic.busy(), Busy::Idle);
    EXPECT_NE(testing::readFile(home.dir.path("mibs/mibcom.sh")).find("A.MIB"), std::string::npos);

    desktop.window->startAgent();
    EXPECT_FALSE(desktop.window->action(MenuItem::CompileMibs)->isEnabled());
    desktop.window->stopAgent();
    EXPECT_TRUE(desktop.window->action(MenuItem::CompileMibs)->isEnabled());
}

}  // namespace
}  // namespace korvimo::gui
