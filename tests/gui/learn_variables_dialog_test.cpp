#include "gui/learn_variables_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "gui_test_support.h"

namespace korvimo::gui {
namespace {

using app::LearnVariablesList;
using app::MenuItem;
using testing::DesktopHome;
using testing::DesktopWindow;
using testing::ModalWatch;
using testing::UdpPeer;

std::string lastLine(const QListWidget* status) {
    return status->count() > 0 ? status->item(status->count() - 1)->text().toStdString() : "";
}

// The dialog from the Variables menu: its form from the histories and mibinfo.out, a teacher
// address refused, and a run against a silent teacher that ends by itself on the window's
// loop, giving Start back.
TEST(LearnVariablesForm, RunsFromTheVariablesMenuOnTheWindowsLoop) {
    DesktopHome home;
    home.addDemoTrapFile();  // and the demo mibinfo.out
    testing::writeFile(home.ini(), testing::readFile(home.ini()) +
                                       "IPADDRESS1=127.0.0.1\r\nTIMEOUT1=1\r\nRETRIES1=0\r\n");
    const UdpPeer silent(AF_INET);  // a teacher that never answers
    const std::string teacher = "127.0.0.1:" + std::to_string(silent.port());
    DesktopWindow desktop{home};
    ModalWatch<LearnVariablesDialog> watch([&](LearnVariablesDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle().toStdString(), "Learn SNMP Variables");
        const std::vector<std::string> labels = testing::labelTexts(*dialog);
        for (const char* text :
             {"Teacher's IP Address:", "Save Variables in File:", "Community String:",
              "TimeOut (secs):", "Num Of Retries:", "Start of Walk:", "End of Walk:",
              "Dynamic Row Templates:", "Status :"}) {
            EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
        }
        const auto items = [&](LearnVariablesList which) {
            std::vector<std::string> texts;
            for (int i = 0; i < dialog->list(which)->count(); ++i) {
                texts.push_back(dialog->list(which)->itemText(i).toStdString());
            }
            return texts;
        };
        EXPECT_EQ(items(LearnVariablesList::Teacher), std::vector<std::string>{"127.0.0.1"});
        EXPECT_EQ(items(LearnVariablesList::Community),
                  (std::vector<std::string>{"public", "old"}));
        EXPECT_EQ(dialog->list(LearnVariablesList::File)->currentText().toStdString(), "small.ctl");
        EXPECT_EQ(dialog->list(LearnVariablesList::Timeout)->currentText().toStdString(), "1");
        const std::vector<std::string> start = items(LearnVariablesList::Start);
        ASSERT_GT(start.size(), 2u);
        EXPECT_EQ(start[0], "1.0");
        EXPECT_EQ(start[1], "sysDescr");
        EXPECT_EQ(items(LearnVariablesList::End).front(), "End Of All MIBs");
        EXPECT_EQ(dialog->v1Choice()->text().toStdString(), "SNMPv1");
        EXPECT_TRUE(dialog->v1Choice()->isChecked());
        EXPECT_FALSE(dialog->templatesBox()->isChecked());
        EXPECT_TRUE(dialog->startButton()->isEnabled());
        EXPECT_FALSE(dialog->stopButton()->isEnabled());

        dialog->list(LearnVariablesList::File)->setEditText("learned");
        dialog->list(LearnVariablesList::Teacher)->setEditText("[::1");  // no resolver asked
        dialog->startButton()->click();
        EXPECT_EQ(lastLine(dialog->statusWidget()), "IP address is invalid. Try again");
        EXPECT_TRUE(dialog->startButton()->isEnabled());
        EXPECT_FALSE(dialog->stopButton()->isEnabled());

        dialog->list(LearnVariablesList::Teacher)->setEditText(QString::fromStdString(teacher));
        dialog->startButton()->click();
        EXPECT_FALSE(dialog->startButton()->isEnabled());
        EXPECT_TRUE(dialog->stopButton()->isEnabled());
        EXPECT_TRUE(testing::spinUntil([&] { return dialog->startButton()->isEnabled(); }, 10000));
        EXPECT_FALSE(dialog->stopButton()->isEnabled());
        dialog->closeButton()->click();
    });
    desktop.window->action(MenuItem::LearnVariables)->trigger();
    EXPECT_TRUE(watch.seen());
    std::vector<uint8_t> request;
    EXPECT_TRUE(silent.receive(request, 0));  // the walk's first request went to the teacher
    EXPECT_EQ(desktop.config.historyValues(ConfigKey::IPADDRESS).front(), teacher);
}

}  // namespace
}  // namespace korvimo::gui
