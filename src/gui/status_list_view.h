// StatusListView: shows a StatusList in a QListWidget and keeps it in step change by change.
//
// Every change of the list (a line appended, inserted or removed, the list cleared) is
// applied to the widget as that one change, so a statistics refresh under load costs three
// removals and three insertions, not a redraw of thousands of lines; Qt paints the widget once
// per turn of its loop however many changes came. The view follows new lines at the bottom
// while the user has not scrolled up. A line too long for the list is read whole in the
// tooltip of the line under the pointer.
//
//   QListWidget widget;
//   StatusListView view(window.status(), &widget);   // shows the lines already there
//   window.status().append("Agent has been started.");
//
// The status list cannot forget a listener, so the listener holds the view weakly: a list
// that outlives its view or its widget (the main window's logic outlives the Qt window at
// exit) changes nothing on screen then.
#pragma once

#include <QListWidget>
#include <QPointer>
#include <memory>

#include "app/core/status_list.h"

namespace korvimo::gui {

class StatusListView {
  public:
    StatusListView(StatusList& list, QListWidget* widget);
    ~StatusListView() = default;
    StatusListView(const StatusListView&) = delete;
    StatusListView& operator=(const StatusListView&) = delete;

    // Changes applied so far (for tests and measurements).
    uint64_t changeCount() const { return state_->changes; }

  private:
    struct State {
        QPointer<QListWidget> widget;
        uint64_t changes = 0;
    };
    static void apply(State& state, const StatusList::Change& change);

    std::shared_ptr<State> state_;
};

}  // namespace korvimo::gui
