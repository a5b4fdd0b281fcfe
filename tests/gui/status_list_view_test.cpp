#include "gui/status_list_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QListWidget>
#include <QToolTip>
#include <string>
#include <vector>

#include "app/core/main_status.h"

namespace korvimo::gui {
namespace {

std::vector<std::string> shown(const QListWidget& widget) {
    std::vector<std::string> lines;
    for (int i = 0; i < widget.count(); ++i) {
        lines.push_back(widget.item(i)->text().toStdString());
    }
    return lines;
}

TEST(StatusListView, ShowsTheLinesAlreadyThereAndFollowsEveryKindOfChange) {
    StatusList list;
    list.append("first");
    QListWidget widget;
    StatusListView view(list, &widget);
    EXPECT_EQ(shown(widget), list.lines());

    list.append("second");
    list.insert(1, "between");
    list.insert(99, "past the end");
    list.remove(0);
    list.remove(42);  // nothing there
    EXPECT_EQ(shown(widget), list.lines());
    EXPECT_EQ(view.changeCount(), 4u);

    list.clear();
    EXPECT_EQ(widget.count(), 0);
}

TEST(StatusListView, StatisticsRefreshesReplaceOnlyLinesOneToThree) {
    StatusList list;
    QListWidget widget;
    StatusListView view(list, &widget);
    list.append("Agent has been started.");
    AgentStatistics statistics;
    refreshStatistics(list, statistics);
    list.append("Got timer message. Ignored.");
    for (uint32_t i = 1; i <= 500; ++i) {
        statistics.GetRequests = i;
        statistics.InPkts = i;
        refreshStatistics(list, statistics);
    }
    EXPECT_EQ(shown(widget), list.lines());
    EXPECT_EQ(widget.item(1)->text().toStdString(), statisticsLine(1, statistics));
    EXPECT_EQ(widget.item(4)->text().toStdString(), "Got timer message. Ignored.");
    // Each refresh is three removals and three insertions, whatever the list holds.
    EXPECT_EQ(view.changeCount(), 1u + 3u + 1u + 500u * 6u);
}

TEST(StatusListView, LimitedListDropsTheOldestLinesBelowTheStatistics) {
    StatusList list;
    list.setLineLimit(6, 4);
    QListWidget widget;
    StatusListView view(list, &widget);
    list.append("Agent has been started.");
    refreshStatistics(list, AgentStatistics{});
    for (int i = 0; i < 10; ++i) {
        list.append("line " + std::to_string(i));
    }
    EXPECT_EQ(shown(widget), list.lines());
    EXPECT_EQ(widget.count(), 6);
    EXPECT_EQ(widget.item(5)->text().toStdString(), "line 9");
}

TEST(StatusListView, ALineTooLongForTheListIsReadWholeInItsTooltip) {
    StatusList list;
    QListWidget widget;
    StatusListView view(list, &widget);
    widget.resize(240, 160);
    widget.show();
    const std::string longLine =
        "Cannot get index information for <ifEntry> & its table: " + std::string(200, 'x') + ".";
    list.append("short");
    list.append(longLine);

    auto toolTipOf = [&widget](int row) {
        const QRect rect = widget.visualItemRect(widget.item(row));
        const QPoint at(rect.left() + 4, rect.center().y());
        QHelpEvent event(QEvent::ToolTip, at, widget.viewport()->mapToGlobal(at));
        QApplication::sendEvent(widget.viewport(), &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_TRUE(toolTipOf(0).isEmpty());  // a line that fits has none
    EXPECT_TRUE(toolTipOf(1).contains(QString::fromStdString(longLine).toHtmlEscaped()));
    QToolTip::hideText();
}

TEST(StatusListView, AListThatOutlivesItsViewOrWidgetChangesNothingOnScreen) {
    StatusList list;
    auto widget = std::make_unique<QListWidget>();
    {
        StatusListView view(list, widget.get());
        list.append("seen");
    }
    list.append("after the view");
    EXPECT_EQ(shown(*widget), (std::vector<std::string>{"seen"}));

    StatusListView view(list, widget.get());
    widget.reset();
    list.append("after the widget");  // must not touch the deleted widget
    EXPECT_EQ(list.size(), 3u);
}

}  // namespace
}  // namespace korvimo::gui
