#include "app/core/status_list.h"

namespace korvimo {

void StatusList::setLineLimit(std::size_t maxLines, std::size_t keptHead) {
    maxLines_ = maxLines;
    keptHead_ = keptHead;
}

void StatusList::append(std::string_view text) {
    if (maxLines_ > 0 && lines_.size() >= maxLines_) {
        // The oldest line below the kept head goes first (the last line when the head is
        // all there is), and listeners see it go before the new line arrives.
        remove(keptHead_ < lines_.size() ? keptHead_ : lines_.size() - 1);
    }
    lines_.emplace_back(text);
    notify({ChangeKind::Appended, lines_.size() - 1, lines_.back()});
}

void StatusList::insert(std::size_t position, std::string_view text) {
    if (position > lines_.size()) {
        position = lines_.size();
    }
    lines_.emplace(lines_.begin() + static_cast<std::ptrdiff_t>(position), text);
    notify({ChangeKind::Inserted, position, lines_[position]});
}

void StatusList::remove(std::size_t position) {
    if (position >= lines_.size()) {
        return;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(position));
    notify({ChangeKind::Removed, position, {}});
}

void StatusList::clear() {
    lines_.clear();
    notify({ChangeKind::Cleared, 0, {}});
}

void StatusList::notify(const Change& change) {
    // A listener may add another listener; index so that growth does not invalidate.
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
        listeners_[i](change);
    }
}

}  // namespace korvimo
