// StatisticsRefresh: redraws the agent's statistics lines in the main status list at the end
// of requests, at most once per interval, without ever leaving them stale.
//
// Every answered or refused request asks for a refresh. The first request after a quiet
// interval is shown at once; requests that follow within the interval only mark the lines
// pending, and a one-shot timer shows them when the interval is over. So under load the
// lines are redrawn ten times a second instead of once per request, and after the last
// request they show its counters within one interval.
//
//   StatisticsRefresh refresh(ctx);        // ctx.loop and ctx.mainStatus set
//   refresh.request();                     // end of a request
//   refresh.flush();                       // agent stop: show what is pending now
#pragma once

#include <cstdint>

#include "app/core/agent_context.h"
#include "app/core/event_loop.h"

namespace korvimo {

inline constexpr uint32_t kStatisticsIntervalMs = 100;

class StatisticsRefresh final : public EventSink {
  public:
    explicit StatisticsRefresh(AgentContext& ctx, uint32_t intervalMs = kStatisticsIntervalMs)
        : ctx_(ctx), intervalMs_(intervalMs) {}
    ~StatisticsRefresh() override { cancel(); }
    StatisticsRefresh(const StatisticsRefresh&) = delete;
    StatisticsRefresh& operator=(const StatisticsRefresh&) = delete;

    // The end of a request: the lines now, or within the interval.
    void request();
    // Shows a pending refresh now and stops the timer.
    void flush();
    // Forgets a pending refresh and stops the timer; the next request is shown at once.
    void cancel();
    bool pending() const { return pending_; }
    // Refreshes shown so far (for tests and measurements).
    uint64_t shownCount() const { return shown_; }

    void endpointReadable(EndpointEvent, int) override {}
    void timerTick(uint32_t timerId) override;

  private:
    uint64_t nowMs() const;
    void show();
    void stopTimer();

    AgentContext& ctx_;
    uint32_t intervalMs_;
    bool everShown_ = false;
    uint64_t lastShownMs_ = 0;
    bool pending_ = false;
    uint32_t timerId_ = 0;  // 0 = none
    uint64_t shown_ = 0;
};

}  // namespace korvimo
