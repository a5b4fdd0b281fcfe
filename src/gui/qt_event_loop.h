// QtEventLoop: the event loop of the desktop program, on Qt's own loop.
//
// Watched descriptors become QSocketNotifiers and timers QTimers, so readiness and ticks
// arrive through the Qt event loop like any other window event. That is what keeps the agent
// answering while a modal dialog (a file chooser, the About box, the quit question) runs its
// own nested loop.
//
//   QApplication app(argc, argv);
//   QtEventLoop loop(SystemClock::instance());
//   app::MainWindow window(config, loop);     // its agent watches and times through loop
//   app.exec();
#pragma once

#include <QObject>
#include <cstddef>
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

    const Clock& clock() const override { return clock_; }

    std::size_t watchCount() const { return notifiers_.size(); }
    std::size_t timerCount() const { return timers_.size(); }

  protected:
    uint64_t addWatch(int fd, Callback onReadable) override;
    void removeWatch(uint64_t id) override;
    uint64_t addTimer(uint32_t periodMs, Callback onTick) override;
    void removeTimer(uint64_t id) override;

  private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> notifier;
        std::shared_ptr<Callback> onReadable;
    };
    struct Timer {
        std::unique_ptr<QTimer> timer;
        std::shared_ptr<Callback> onTick;
    };

    const Clock& clock_;
    uint64_t nextId_ = 1;
    std::map<uint64_t, Watch> notifiers_;
    std::map<uint64_t, Timer> timers_;
};

}  // namespace korvimo::gui
