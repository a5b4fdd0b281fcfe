#include "agent/statistics_refresh.h"

namespace korvimo {

void StatisticsRefresh::show() {
    pending_ = false;
    everShown_ = true;
    lastShownMs_ = loop_.clock().monotonicMs();
    ++shown_;
    // Last: the list's listeners (a window drawing it) run inside.
    refreshStatistics(status_, statistics_);
}

void StatisticsRefresh::request() {
    if (!enabled_) {
        return;
    }
    const uint64_t now = loop_.clock().monotonicMs();
    const uint64_t since = now >= lastShownMs_ ? now - lastShownMs_ : intervalMs_;
    if (!everShown_ || since >= intervalMs_) {
        timer_.stop();
        show();
        return;
    }
    pending_ = true;
    if (!timer_.running()) {
        const uint64_t wait = intervalMs_ - since;
        timer_ = loop_.startTimer(static_cast<uint32_t>(wait), [this] {
            timer_.stop();  // once
            if (pending_) {
                show();  // nothing of this object is touched after it
            }
        });
        if (!timer_.running()) {
            show();  // without a timer the lines would stay stale
        }
    }
}

void StatisticsRefresh::flush() {
    timer_.stop();
    if (pending_) {
        show();
    }
}

void StatisticsRefresh::cancel() {
    timer_.stop();
    pending_ = false;
    everShown_ = false;
}

}  // namespace korvimo
