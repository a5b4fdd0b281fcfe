#include "app/core/clock.h"

#include <time.h>

namespace korvimo {

uint64_t SystemClock::monotonicMs() const {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

int64_t SystemClock::calendarSeconds() const {
    return static_cast<int64_t>(::time(nullptr));
}

SystemClock& SystemClock::instance() {
    static SystemClock clock;
    return clock;
}

}  // namespace korvimo
