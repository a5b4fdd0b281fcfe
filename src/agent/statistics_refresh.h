// StatisticsRefresh: redraws an agent's statistics lines in its status list at the end of
// requests, at most once per interval, without ever leaving them stale.
//
// Every answered or refused request asks for a refresh. The first request after a quiet
// interval is shown at once; requests that follow within the interval only mark the lines
// pending, and a one-shot timer shows them when the interval is over. So under load the
// lines are redrawn ten times a second instead of once per request, and after the last
// request they show its counters within one interval.
//
//   StatisticsRefresh refresh(loop, status, statistics);
//   refresh.request();                     // end of a request
//   refresh.flush();                       // agent stop: show what is pending now
#pragma once

#include <cstdint>

#include "app/core/event_loop.h"
#include "app/core/main_status.h"

namespace korvimo {

class StatusList;

inline constexpr uint32_t kStatisticsIntervalMs = 100;

class StatisticsRefresh {
  public:
    StatisticsRefresh(EventLoop& loop, StatusList& status, const AgentStatistics& statistics,
                      uint32_t intervalMs = kStatisticsIntervalMs)
        : loop_(loop), status_(status), statistics_(statistics), intervalMs_(intervalMs) {}
    StatisticsRefresh(const StatisticsRefresh&) = delete;
    StatisticsRefresh& operator=(const StatisticsRefresh&) = delete;

    // Whether requests redraw the lines at all (they do unless turned off).
    void setEnabled(bool enabled) { enabled_ = enabled; }
    // The end of a request: the lines now, or within the interval.
    void request();
    // Shows a pending refresh now and stops the timer.
    void flush();
    // Forgets a pending refresh and stops the timer; the next request is shown at once.
    void cancel();
    bool pending() const { return pending_; }
    // Refreshes shown so far (for tests and measurements).
    uint64_t shownCount() const { return shown_; }

  private:
    void show();

    EventLoop& loop_;
    StatusList& status_;
    const AgentStatistics& statistics_;
    uint32_t intervalMs_;
    bool enabled_ = true;
    bool everShown_ = false;
    uint64_t lastShownMs_ = 0;
    bool pending_ = false;
    Timer timer_;
    uint64_t shown_ = 0;
};

}  // namespace korvimo
