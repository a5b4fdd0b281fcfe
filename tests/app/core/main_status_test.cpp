#include "app/core/main_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/status_list.h"

namespace korvimo {
namespace {

using Lines = std::vector<std::string>;

AgentStatistics sampleStatistics() {
    AgentStatistics s;
    s.GetRequests = 5;
    s.GetNextRequests = 12;
    s.SetRequests = 1;
    s.Responses = 17;
    s.InPkts = 4294967295u;
    s.OutPkts = 17;
    s.GetBulkRequests = 0;
    return s;
}

TEST(StatisticsDisplay, LinesHaveTheirExactTabsAndColumns) {
    const AgentStatistics s = sampleStatistics();
    EXPECT_EQ(statisticsLine(1, s), "GetRequests:\t5         \t\tGetBulkRequests:\t0         ");
    EXPECT_EQ(statisticsLine(2, s), "GetNextRequests:\t12        \t\tInPkts:\t\t4294967295");
    EXPECT_EQ(statisticsLine(3, s), "SetRequests:\t1         \t\tOutPkts:\t\t17        ");
}

TEST(StatisticsDisplay, FirstRefreshAfterStartInsertsBelowTheStartLine) {
    StatusList list;
    list.append("Agent has been started.");
    refreshStatistics(list, sampleStatistics());
    const AgentStatistics s = sampleStatistics();
    EXPECT_EQ(list.lines(), (Lines{"Agent has been started.", statisticsLine(1, s),
                                   statisticsLine(2, s), statisticsLine(3, s)}));
}

TEST(StatisticsDisplay, RefreshReplacesOnlyLinesOneToThree) {
    StatusList list;
    list.append("Agent has been started.");
    AgentStatistics s;
    refreshStatistics(list, s);
    list.append("Error in receiving UDP Packet (9)");
    list.append("sendResponse() failed.");
    s.GetRequests = 3;
    s.InPkts = 3;
    refreshStatistics(list, s);
    EXPECT_EQ(list.lines(), (Lines{"Agent has been started.", statisticsLine(1, s),
                                   statisticsLine(2, s), statisticsLine(3, s),
                                   "Error in receiving UDP Packet (9)", "sendResponse() failed."}));
}

TEST(StatisticsDisplay, ListenersSeeTheDeletionsThenTheInsertions) {
    StatusList list;
    list.append("Agent has been started.");
    refreshStatistics(list, AgentStatistics{});
    std::vector<std::string> seen;
    list.onChange([&seen](const StatusList::Change& c) {
        const char* kind = c.kind == StatusList::ChangeKind::Removed    ? "-"
                           : c.kind == StatusList::ChangeKind::Inserted ? "+"
                                                                        : "?";
        seen.push_back(kind + std::to_string(c.position));
    });
    refreshStatistics(list, AgentStatistics{});
    EXPECT_EQ(seen, (Lines{"-3", "-2", "-1", "+1", "+2", "+3"}));
}

TEST(BusyRule, SecondOperationIsRefusedWithTheInProgressText) {
    StatusList list;
    Busy busy = Busy::Idle;
    EXPECT_TRUE(takeBusy(busy, &list));
    EXPECT_EQ(busy, Busy::Running);
    EXPECT_FALSE(takeBusy(busy, &list));
    EXPECT_EQ(busy, Busy::Running);
    EXPECT_EQ(list.lines(), (Lines{"Operation already in progress.  Stop other activities and "
                                   "then try again."}));
    releaseBusy(busy);
    EXPECT_EQ(busy, Busy::Idle);
    EXPECT_TRUE(takeBusy(busy, nullptr));
}

}  // namespace
}  // namespace korvimo
