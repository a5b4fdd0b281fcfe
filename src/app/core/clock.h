// Clock: where the system reads time, so that tests can say "seven seconds after start".
//
// monotonicMs() drives timers and retransmissions; calendarSeconds() is the calendar time
// used for the agent's start time and the time-based value behaviours.
//
//   ManualClock clock;            // in a test
//   clock.advanceMs(2000);        // timers due within these 2 s fire on the next loop turn
#pragma once

#include <cstdint>

namespace korvimo {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint64_t monotonicMs() const = 0;
    virtual int64_t calendarSeconds() const = 0;
};

// The machine's clocks (CLOCK_MONOTONIC and the calendar time).
class SystemClock final : public Clock {
  public:
    uint64_t monotonicMs() const override;
    int64_t calendarSeconds() const override;
    static SystemClock& instance();
};

// A clock that moves only when told to. Both readings move together.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(uint64_t startMs = 1000000, int64_t startCalendar = 1800000000)
        : ms_(startMs), calendarBase_(startCalendar), startMs_(startMs) {}

    uint64_t monotonicMs() const override { return ms_; }
    int64_t calendarSeconds() const override {
        return calendarBase_ + static_cast<int64_t>((ms_ - startMs_) / 1000);
    }
    void advanceMs(uint64_t ms) { ms_ += ms; }

  private:
    uint64_t ms_;
    int64_t calendarBase_;
    uint64_t startMs_;
};

}  // namespace korvimo
