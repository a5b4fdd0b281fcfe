// StatusList: the lines of text an operation's window shows ("Status :"), with listeners so a
// front end can draw them (the desktop list, the command line's standard output).
//
// The main status list also carries the agent's statistics at positions 1 to 3 while the
// agent runs (refreshStatistics).
//
//   StatusList status;
//   status.onChange([](const StatusList::Change& c) { ... });
//   status.append("Agent has been started.");
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvimo {

// The line of the item an operation works on now (a trap sent, an object written).
inline constexpr const char* kProcessingFormat = "Processing %s";

class StatusList {
  public:
    enum class ChangeKind { Appended, Inserted, Removed, Cleared };
    struct Change {
        ChangeKind kind;
        std::size_t position;   // line concerned (Appended: its position)
        std::string_view text;  // the line's text (empty for Removed and Cleared)
    };
    using Listener = std::function<void(const Change&)>;

    void append(std::string_view text);
    // Keeps the list to at most maxLines lines (0: no limit): an append that would pass the
    // limit first removes the oldest line at or below position keptHead, so that the lines
    // above it (the agent's statistics) stay. A list that anything may append to, such as the
    // main status list with one line per undecodable datagram, so cannot grow without end.
    void setLineLimit(std::size_t maxLines, std::size_t keptHead);
    // Inserts before position (at the end when position is past it).
    void insert(std::size_t position, std::string_view text);
    // Removes the line at position; nothing when there is none.
    void remove(std::size_t position);
    void clear();

    const std::vector<std::string>& lines() const { return lines_; }
    std::size_t size() const { return lines_.size(); }

    // Listeners are called after each change, in the order they were added.
    void onChange(Listener listener) { listeners_.push_back(std::move(listener)); }

  private:
    void notify(const Change& change);

    std::vector<std::string> lines_;
    std::vector<Listener> listeners_;
    std::size_t maxLines_ = 0;
    std::size_t keptHead_ = 0;
};

}  // namespace korvimo
