// The desktop window serving Net-SNMP managers over 127.0.0.1: the agent started with
// "Start" answers while the window runs, while modal boxes and choosers are open, while the
// Generate Traps dialog sends, and under a manager that walks it as fast as it can.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>

#include "app/core/main_status.h"
#include "gui/generate_traps_dialog.h"
#include "gui/korvan_window.h"
#include "gui_test_support.h"

namespace korvimo::gui {
namespace {

using app::Control;
using app::MenuItem;
using testing::DesktopHome;
using testing::DesktopWindow;
using testing::ModalWatch;
using testing::Peer;
using testing::PeerRun;
using testing::runPeer;

constexpr const char* kSysDescrAnswer = "STRING: \"Desktop test agent\"";

class Serving : public ::testing::Test {
  protected:
    void SetUp() override {
        qobject_cast<QPushButton*>(window().control(Control::Start))->click();
        ASSERT_TRUE(desktop.logic.agentRunning());
    }
    KorvanWindow& window() { return *desktop.window; }
    std::string line(int position) {
        QListWidgetItem* item = window().statusWidget()->item(position);
        return item != nullptr ? item->text().toStdString() : std::string();
    }
    // The statistics lines show these counters within the refresh interval.
    bool statisticsShow(const AgentStatistics& expected) {
        return testing::spinUntil(
            [&]() {
                return line(1) == statisticsLine(1, expected) &&
                       line(2) == statisticsLine(2, expected) &&
                       line(3) == statisticsLine(3, expected);
            },
            5000);
    }
    PeerRun get(const std::string& community = "public") {
        return runPeer("snmpget", {"-v2c", "-c", community, home.agent(), testing::kSysDescr});
    }

    DesktopHome home;
    DesktopWindow desktop{home};
};

TEST_F(Serving, AnswersSnmpgetAndTheStatisticsLinesMove) {
    const PeerRun answer = get();
    ASSERT_TRUE(answer.finished);
    EXPECT_EQ(answer.status, 0) << answer.output;
    EXPECT_NE(answer.output.find(kSysDescrAnswer), std::string::npos) << answer.output;

    AgentStatistics expected;
    expected.GetRequests = 1;
    expected.InPkts = 1;
    expected.OutPkts = 1;
    EXPECT_TRUE(statisticsShow(expected)) << line(1) << "\n" << line(2) << "\n" << line(3);
    EXPECT_EQ(line(0), "Agent has been started.");

    const PeerRun walk = runPeer("snmpwalk", {"-v2c", "-c", "private", home.agent(), "1.3.6.1"});
    EXPECT_EQ(walk.status, 0) << walk.output;
    expected.GetNextRequests = 4;  // three variables and the end of the view
    expected.InPkts = 5;
    expected.OutPkts = 5;
    EXPECT_TRUE(statisticsShow(expected)) << line(1) << "\n" << line(2) << "\n" << line(3);
    EXPECT_EQ(window().statusWidget()->count(), 4);
}

TEST_F(Serving, StopEndsTheAnswersAndKeepsTheLastStatistics) {
    ASSERT_EQ(get().status, 0);
    qobject_cast<QPushButton*>(window().control(Control::Stop))->click();
    AgentStatistics expected;
    expected.GetRequests = 1;
    expected.InPkts = 1;
    expected.OutPkts = 1;
    EXPECT_EQ(line(1), statisticsLine(1, expected));
    EXPECT_EQ(line(2), statisticsLine(2, expected));
    EXPECT_EQ(line(4), "Agent has been stopped.");

    const PeerRun unanswered = get();
    EXPECT_TRUE(unanswered.finished);
    EXPECT_NE(unanswered.status, 0) << unanswered.output;
    EXPECT_NE(unanswered.output.find("Timeout"), std::string::npos) << unanswered.output;
}

// Runs a snmpget while the modal widget the window opens is up, then lets close() end it;
// the answer comes from the modal widget's own event loop.
template <typename T>
PeerRun getWhileOpen(const std::string& agent, const std::function<void()>& open,
                     const std::function<void(T*)>& close) {
    std::unique_ptr<Peer> peer;
    PeerRun result;
    ModalWatch<T> watch([&](T* modal) {
        peer = std::make_unique<Peer>(
            "snmpget", std::vector<std::string>{"-v2c", "-c", "public", agent, testing::kSysDescr});
        peer->onFinished = [&result, modal, close](const PeerRun& run) {
            result = run;
            close(modal);
        };
    });
    open();
    EXPECT_TRUE(watch.seen());
    return result;
}

TEST_F(Serving, AnswersWhileAFileChooserIsOpen) {
    const PeerRun answer = getWhileOpen<QFileDialog>(
        home.agent(), [&]() { window().action(MenuItem::EditVariableFile)->trigger(); },
        [](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_TRUE(answer.finished);
    EXPECT_NE(answer.output.find(kSysDescrAnswer), std::string::npos) << answer.output;
    EXPECT_TRUE(desktop.launched.empty());
}

TEST_F(Serving, AnswersWhileTheAboutBoxIsOpen) {
    const PeerRun answer = getWhileOpen<QMessageBox>(
        home.agent(), [&]() { window().action(MenuItem::About)->trigger(); },
        [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    EXPECT_NE(answer.output.find(kSysDescrAnswer), std::string::npos) << answer.output;
}

TEST_F(Serving, AnswersWhileTheQuitQuestionIsOpen) {
    const PeerRun answer = getWhileOpen<QMessageBox>(
        home.agent(), [&]() { window().close(); },
        [](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
    EXPECT_NE(answer.output.find(kSysDescrAnswer), std::string::npos) << answer.output;
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(desktop.logic.agentRunning());
}

TEST_F(Serving, AnswersWhileTheGenerateTrapsDialogSends) {
    home.addDemoTrapFile();
    testing::UdpPeer manager(AF_INET);
    desktop.config.writePlain(ConfigKey::TRAPPORT, std::to_string(manager.port()));
    // The selection goes out again and again, so the transmission is still on when the
    // answer comes; Close ends it.
    window().traps().options().repeat = 1000000;
    int traps = 0;
    QSocketNotifier arrivals(manager.fd(), QSocketNotifier::Read);
    QObject::connect(&arrivals, &QSocketNotifier::activated, [&]() {
        std::vector<uint8_t> datagram;
        while (manager.receive(datagram, 0)) {
            ++traps;
        }
    });

    PeerRun answer;
    int trapsBeforeTheRequest = 0;
    int trapsAtTheAnswer = 0;
    bool sendingAtTheAnswer = false;
    ModalWatch<GenerateTrapsDialog> watch(
        [&](GenerateTrapsDialog* dialog) {
            dialog->trapFileList()->setEditText("default.trp");
            dialog->load();
            dialog->managerList()->setEditText("127.0.0.1");
            dialog->communityList()->setEditText("public");
            dialog->selectAllButton()->click();
            dialog->sendButton()->click();
            testing::spinUntil([&]() { return traps > 0; }, 10000);
            trapsBeforeTheRequest = traps;
            Peer get("snmpget", {"-v2c", "-c", "public", home.agent(), testing::kSysDescr});
            testing::spinUntil([&]() { return get.run().finished; }, 20000);
            answer = get.run();
            trapsAtTheAnswer = traps;
            sendingAtTheAnswer = window().traps().sending();
            testing::spinUntil([&]() { return traps > trapsAtTheAnswer; }, 5000);
            dialog->closeButton()->click();
        },
        45000);
    window().action(MenuItem::GenerateTraps)->trigger();
    ASSERT_TRUE(watch.seen());
    EXPECT_GT(trapsBeforeTheRequest, 0);
    EXPECT_NE(answer.output.find(kSysDescrAnswer), std::string::npos) << answer.output;
    EXPECT_TRUE(sendingAtTheAnswer);
    EXPECT_GT(traps, trapsAtTheAnswer);
    EXPECT_FALSE(window().traps().sending());
    EXPECT_TRUE(desktop.logic.agentRunning());
}

TEST_F(Serving, AManagerHammeringTheAgentCostsOnlyCoalescedRedraws) {
    // A device of 300 variables, walked with GetNext one variable per request.
    std::string lines;
    for (int i = 1; i <= 300; ++i) {
        lines += "1.3.6.1.4.1.32473.9." + std::to_string(i) + ".0, Integer, RO, fixed(" +
                 std::to_string(i) + ")\r\n";
    }
    testing::writeFile(home.dir.path("agent/big.ctl"), lines);
    qobject_cast<QPushButton*>(window().control(Control::Stop))->click();
    window().list(app::FormList::ControlFile)->setEditText("big.ctl");
    qobject_cast<QPushButton*>(window().control(Control::Start))->click();
    ASSERT_TRUE(desktop.logic.agentRunning());
    const uint64_t before = window().statusView().changeCount();

    const PeerRun walk = runPeer("snmpwalk", {"-v2c", "-c", "public", home.agent(), "1.3.6.1"});
    ASSERT_EQ(walk.status, 0) << walk.output;
    const PeerRun bulk =
        runPeer("snmpbulkwalk", {"-v2c", "-c", "public", "-Cr100", home.agent(), "1.3.6.1"});
    ASSERT_EQ(bulk.status, 0) << bulk.output;

    const AgentStatistics& expected = desktop.logic.agent().statistics();
    EXPECT_EQ(expected.GetNextRequests, 301u);  // every variable, then the end of the view
    EXPECT_GE(expected.GetBulkRequests, 3u);    // 100 variables per response
    const uint32_t requests = expected.GetNextRequests + expected.GetBulkRequests;
    EXPECT_EQ(expected.InPkts, requests);
    EXPECT_EQ(expected.OutPkts, requests);
    ASSERT_TRUE(statisticsShow(expected)) << line(1) << "\n" << line(2) << "\n" << line(3);
    // A refresh is six changes (three lines out, three in). Drawn per request, the walks
    // would cost six changes each; coalesced, a refresh covers many requests.
    const uint64_t refreshes = (window().statusView().changeCount() - before) / 6;
    EXPECT_LT(refreshes, requests / 4) << refreshes << " refreshes";
    EXPECT_EQ(window().statusWidget()->count(), 4);
}

}  // namespace
}  // namespace korvimo::gui
