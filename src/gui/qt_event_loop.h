// QtEventLoop: the event loop of the desktop program, on Qt's own loop.
//
// Endpoints become QSocketNotifiers and timers QTimers, so endpoint events and timer ticks
// arrive through the Qt event loop like any other window event. That is what keeps the agent
// answering while a modal dialog (a file chooser, the About box, the quit question) runs its
// own nested loop.
//
//   QApplication app(argc, argv);
//   QtEventLoop loop(SystemClock::instance());
//   ctx.loop = &loop;            // the endpoint openers and send_new_request use it
//   app.exec();
#pragma once

#include <QObject>
#include <map>
#include <memory>

#include "app/core/event_loop.h"

class QSocketNotifier;
class QTimer;

namespace korvimo::gui {

class QtEventLoop final : public QObject, public EventLoop {
    Q_OBJECT

  public:
    explicit QtEventLoop(const Clock& clock, QObject* parent = nullptr);
    ~QtEventLoop() override;

    bool watchEndpoint(int fd, EndpointEvent event, EventSink* sink) override;
    void unwatchEndpoint(int fd) override;
    bool startTimer(EventSink* sink, uint32_t timerId, uint32_t periodMs) override;
    void killTimer(uint32_t timerId) override;
    const Clock& clock() const override { return clock_; }

    bool isWatched(int fd) const { return notifiers_.count(fd) != 0; }
    bool timerRunning(uint32_t timerId) const { return timers_.count(timerId) != 0; }

  private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> notifier;
        EndpointEvent event;
        EventSink* sink;
    };
    struct Timer {
        std::unique_ptr<QTimer> timer;
        EventSink* sink;
    };

    const Clock& clock_;
    std::map<int, Watch> notifiers_;
    std::map<uint32_t, Timer> timers_;
};

}  // namespace korvimo::gui
