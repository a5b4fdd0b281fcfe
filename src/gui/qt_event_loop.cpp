#include "gui/qt_event_loop.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

namespace korvimo::gui {

QtEventLoop::QtEventLoop(const Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {}

QtEventLoop::~QtEventLoop() = default;

uint64_t QtEventLoop::addWatch(int fd, Callback onReadable) {
    const uint64_t id = nextId_++;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    // The callback may end this very watch; the notifier then goes only once control is back
    // in the Qt loop (see removeWatch), and the callback's own copy lives until it returns.
    connect(notifier.get(), &QSocketNotifier::activated, this, [this, id]() {
        auto it = notifiers_.find(id);
        if (it == notifiers_.end()) {
            return;
        }
        const std::shared_ptr<Callback> callback = it->second.onReadable;
        (*callback)();
    });
    notifiers_[id] = Watch{std::move(notifier), std::make_shared<Callback>(std::move(onReadable))};
    return id;
}

void QtEventLoop::removeWatch(uint64_t id) {
    auto it = notifiers_.find(id);
    if (it == notifiers_.end()) {
        return;
    }
    // Qt allows deleting the sender inside its slot only through deleteLater.
    QSocketNotifier* notifier = it->second.notifier.release();
    notifier->setEnabled(false);
    notifier->disconnect();
    notifier->deleteLater();
    notifiers_.erase(it);
}

uint64_t QtEventLoop::addTimer(uint32_t periodMs, Callback onTick) {
    const uint64_t id = nextId_++;
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(std::max<uint32_t>(periodMs, 1)));
    connect(timer.get(), &QTimer::timeout, this, [this, id]() {
        auto it = timers_.find(id);
        if (it == timers_.end()) {
            return;
        }
        const std::shared_ptr<Callback> callback = it->second.onTick;
        (*callback)();
    });
    timer->start();
    timers_[id] = Timer{std::move(timer), std::make_shared<Callback>(std::move(onTick))};
    return id;
}

void QtEventLoop::removeTimer(uint64_t id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) {
        return;
    }
    // A callback may stop the timer that is calling it; the QTimer goes once control is back
    // in the Qt loop.
    QTimer* timer = it->second.timer.release();
    timer->stop();
    timer->disconnect();
    timer->deleteLater();
    timers_.erase(it);
}

}  // namespace korvimo::gui
