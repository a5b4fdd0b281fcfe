#include "agent/statistics_refresh.h"

#include "app/core/main_status.h"

namespace korvimo {

uint64_t StatisticsRefresh::nowMs() const {
    if (ctx_.loop != nullptr) {
        return ctx_.loop->clock().monotonicMs();
    }
    if (ctx_.clock != nullptr) {
        return ctx_.clock->monotonicMs();
    }
    return SystemClock::instance().monotonicMs();
}

void StatisticsRefresh::show() {
    refreshStatistics(ctx_);
    pending_ = false;
    everShown_ = true;
    lastShownMs_ = nowMs();
    ++shown_;
}

void StatisticsRefresh::stopTimer() {
    if (timerId_ != 0) {
        if (ctx_.loop != nullptr) {
            ctx_.loop->killTimer(timerId_);
        }
        timerId_ = 0;
    }
}

void StatisticsRefresh::request() {
    const uint64_t now = nowMs();
    const uint64_t since = now >= lastShownMs_ ? now - lastShownMs_ : intervalMs_;
    if (!everShown_ || since >= intervalMs_ || ctx_.loop == nullptr) {
        stopTimer();
        show();
        return;
    }
    pending_ = true;
    if (timerId_ == 0) {
        timerId_ = ctx_.nextTimerId++;
        const uint64_t wait = intervalMs_ - since;
        if (!ctx_.loop->startTimer(this, timerId_, static_cast<uint32_t>(wait))) {
            timerId_ = 0;
            show();  // without a timer the lines would stay stale
        }
    }
}

void StatisticsRefresh::flush() {
    stopTimer();
    if (pending_) {
        show();
    }
}

void StatisticsRefresh::cancel() {
    stopTimer();
    pending_ = false;
    everShown_ = false;
}

void StatisticsRefresh::timerTick(uint32_t timerId) {
    if (timerId != timerId_) {
        if (ctx_.loop != nullptr) {
            ctx_.loop->killTimer(timerId);  // a stray tick of a timer no longer ours
        }
        return;
    }
    stopTimer();
    if (pending_) {
        show();
    }
}

}  // namespace korvimo
