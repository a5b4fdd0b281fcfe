#include "gui/qt_event_loop.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

namespace korvimo::gui {

QtEventLoop::QtEventLoop(const Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {}

QtEventLoop::~QtEventLoop() = default;

bool QtEventLoop::watchEndpoint(int fd, EndpointEvent event, EventSink* sink) {
    if (fd < 0 || sink == nullptr) {
        return false;
    }
    unwatchEndpoint(fd);
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    // The handler may unwatch (and so destroy) this very notifier; Qt allows deleting the
    // sender inside its slot only through deleteLater, so the map entry is looked up anew
    // and destruction of a notifier is always deferred (see unwatchEndpoint).
    connect(notifier.get(), &QSocketNotifier::activated, this, [this, fd]() {
        auto it = notifiers_.find(fd);
        if (it == notifiers_.end()) {
            return;
        }
        EventSink* target = it->second.sink;
        const EndpointEvent what = it->second.event;
        target->endpointReadable(what, fd);
    });
    notifiers_[fd] = Watch{std::move(notifier), event, sink};
    return true;
}

void QtEventLoop::unwatchEndpoint(int fd) {
    auto it = notifiers_.find(fd);
    if (it == notifiers_.end()) {
        return;
    }
    QSocketNotifier* notifier = it->second.notifier.release();
    notifier->setEnabled(false);
    notifier->disconnect();
    notifier->deleteLater();
    notifiers_.erase(it);
}

bool QtEventLoop::startTimer(EventSink* sink, uint32_t timerId, uint32_t periodMs) {
    if (sink == nullptr) {
        return false;
    }
    killTimer(timerId);
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(std::max<uint32_t>(periodMs, 1)));
    connect(timer.get(), &QTimer::timeout, this, [this, timerId]() {
        auto it = timers_.find(timerId);
        if (it != timers_.end()) {
            it->second.sink->timerTick(timerId);
        }
    });
    timer->start();
    timers_[timerId] = Timer{std::move(timer), sink};
    return true;
}

void QtEventLoop::killTimer(uint32_t timerId) {
    auto it = timers_.find(timerId);
    if (it == timers_.end()) {
        return;
    }
    // A handler may kill the timer that is calling it; the QTimer goes once control is back
    // in the Qt loop.
    QTimer* timer = it->second.timer.release();
    timer->stop();
    timer->disconnect();
    timer->deleteLater();
    timers_.erase(it);
}

}  // namespace korvimo::gui
