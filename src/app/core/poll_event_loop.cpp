#include "app/core/poll_event_loop.h"

#include <poll.h>

#include <algorithm>
#include <climits>

namespace korvimo {

bool PollEventLoop::watchEndpoint(int fd, EndpointEvent event, EventSink* sink) {
    if (fd < 0 || sink == nullptr) {
        return false;
    }
    watches_[fd] = Watch{event, sink, nextSerial_++};
    return true;
}

void PollEventLoop::unwatchEndpoint(int fd) {
    watches_.erase(fd);
}

bool PollEventLoop::startTimer(EventSink* sink, uint32_t timerId, uint32_t periodMs) {
    if (sink == nullptr) {
        return false;
    }
    const uint64_t period = std::max<uint64_t>(periodMs, 1);
    timers_[timerId] = Timer{sink, period, clock_.monotonicMs() + period, nextSerial_++};
    return true;
}

void PollEventLoop::killTimer(uint32_t timerId) {
    timers_.erase(timerId);
}

int PollEventLoop::runOnce(int timeoutMs) {
    if (turning_) {
        TurnBuffers nested;
        return turn(timeoutMs, nested);
    }
    // Clears the flag however the turn ends.
    struct Outermost {
        bool& turning;
        explicit Outermost(bool& flag) : turning(flag) { turning = true; }
        ~Outermost() { turning = false; }
    } outermost(turning_);
    return turn(timeoutMs, buffers_);
}

int PollEventLoop::turn(int timeoutMs, TurnBuffers& buffers) {
    if (watches_.empty() && timers_.empty() && timeoutMs < 0) {
        return 0;
    }

    // Wait no longer than until the earliest timer is due.
    int wait = timeoutMs;
    if (!timers_.empty()) {
        const uint64_t now = clock_.monotonicMs();
        uint64_t earliest = UINT64_MAX;
        for (const auto& [id, timer] : timers_) {
            earliest = std::min(earliest, timer.nextDueMs);
        }
        const uint64_t untilDue = earliest > now ? earliest - now : 0;
        const int dueWait = static_cast<int>(std::min<uint64_t>(untilDue, INT_MAX));
        wait = wait < 0 ? dueWait : std::min(wait, dueWait);
    }

    std::vector<pollfd>& fds = buffers.fds;
    std::vector<uint64_t>& serials = buffers.serials;
    fds.clear();
    serials.clear();
    for (const auto& [fd, watch] : watches_) {
        fds.push_back(pollfd{fd, POLLIN, 0});
        serials.push_back(watch.serial);
    }

    int delivered = 0;
    const int ready = ::poll(fds.data(), fds.size(), wait);
    if (ready > 0) {
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            // A handler earlier in this turn may have unwatched or replaced this watch.
            auto it = watches_.find(fds[i].fd);
            if (it == watches_.end() || it->second.serial != serials[i]) {
                continue;
            }
            if ((fds[i].revents & POLLNVAL) != 0) {
                // Closed without being unwatched: it would be reported at every turn.
                watches_.erase(it);
                continue;
            }
            const Watch watch = it->second;
            watch.sink->endpointReadable(watch.event, fds[i].fd);
            ++delivered;
        }
    }
    return delivered + deliverTimers(buffers.due);
}

int PollEventLoop::deliverTimers(std::vector<DueTimer>& due) {
    const uint64_t now = clock_.monotonicMs();
    due.clear();
    for (const auto& [id, timer] : timers_) {
        if (timer.nextDueMs <= now) {
            due.push_back(DueTimer{timer.nextDueMs, id, timer.serial});
        }
    }
    std::sort(due.begin(), due.end(), [](const DueTimer& a, const DueTimer& b) {
        return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.id < b.id;
    });

    int delivered = 0;
    for (const DueTimer& entry : due) {
        auto it = timers_.find(entry.id);
        // Killed or restarted by an earlier handler of this turn, or already ticked in a turn
        // that a handler ran inside this one.
        if (it == timers_.end() || it->second.serial != entry.serial ||
            it->second.nextDueMs > now) {
            continue;
        }
        Timer& timer = it->second;
        // The schedule keeps its phase; a timer that fell behind resumes from now instead of
        // ticking again and again to catch up.
        timer.nextDueMs += timer.periodMs;
        if (timer.nextDueMs <= now) {
            timer.nextDueMs = now + timer.periodMs;
        }
        EventSink* sink = timer.sink;
        sink->timerTick(entry.id);
        ++delivered;
    }
    return delivered;
}

void PollEventLoop::run() {
    quitting_ = false;
    while (!quitting_) {
        if (watches_.empty() && timers_.empty()) {
            break;  // nothing could ever happen
        }
        runOnce(-1);
    }
}

}  // namespace korvimo
