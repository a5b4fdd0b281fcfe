#include "app/core/event_loop.h"

namespace korvimo {

Watch& Watch::operator=(Watch&& other) noexcept {
    if (this != &other) {
        reset();
        loop_ = std::exchange(other.loop_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void Watch::reset() {
    if (loop_ != nullptr) {
        EventLoop* loop = std::exchange(loop_, nullptr);
        loop->removeWatch(std::exchange(id_, 0));
    }
}

Timer& Timer::operator=(Timer&& other) noexcept {
    if (this != &other) {
        stop();
        loop_ = std::exchange(other.loop_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void Timer::stop() {
    if (loop_ != nullptr) {
        EventLoop* loop = std::exchange(loop_, nullptr);
        loop->removeTimer(std::exchange(id_, 0));
    }
}

Watch EventLoop::watch(int fd, Callback onReadable) {
    if (fd < 0 || !onReadable) {
        return {};
    }
    const uint64_t id = addWatch(fd, std::move(onReadable));
    return id != 0 ? Watch(this, id) : Watch();
}

Timer EventLoop::startTimer(uint32_t periodMs, Callback onTick) {
    if (!onTick) {
        return {};
    }
    const uint64_t id = addTimer(periodMs, std::move(onTick));
    return id != 0 ? Timer(this, id) : Timer();
}

}  // namespace korvimo
