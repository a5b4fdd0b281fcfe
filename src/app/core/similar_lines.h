// SimilarLines: keeps a flood of alike status lines (one per malformed datagram, say) from
// filling the terminal or the file korvan-cli prints to, or a status list.
//
// Lines are alike when they read the same with every run of digits taken as one ("Length of
// Header[63] goes past end of packet." and "... Header[38] ..."). Of alike lines, the first
// kSimilarLinesPerWindow of a one-second window are printed; the rest are counted, and when the
// window has passed the count is printed as "(%lu similar lines suppressed)". At most
// kSimilarLineKinds kinds are told apart in one window; lines of further kinds share one more.
//
//   SimilarLines lines([&](const std::string& text) { out << text << "\n"; });
//   lines.print(text, clock.monotonicMs());
//   Timer tick = loop.startTimer(250, [&] { lines.tick(clock.monotonicMs()); });
//   lines.flush();  // before the program ends
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvimo {

inline constexpr uint32_t kSimilarLinesPerWindow = 5;
inline constexpr uint64_t kSimilarLineWindowMs = 1000;
inline constexpr std::size_t kSimilarLineKinds = 32;
inline constexpr const char* kSimilarLinesSuppressedText = "(%lu similar lines suppressed)";

class SimilarLines {
  public:
    explicit SimilarLines(std::function<void(const std::string& line)> out)
        : out_(std::move(out)) {}

    // Prints the line, or counts it when alike lines have had their share of the window.
    void print(std::string_view text, uint64_t nowMs);
    // Ends the windows that have passed by nowMs, printing what they held back.
    void tick(uint64_t nowMs);
    // Ends every window.
    void flush() { tick(UINT64_MAX); }

  private:
    struct Window {
        std::string kind;
        uint64_t startMs = 0;
        uint32_t printed = 0;
        uint64_t held = 0;
    };

    // The window of the kind, opened at nowMs when there is none; past kSimilarLineKinds
    // kinds, the one window they share.
    Window& windowFor(std::string kind, uint64_t nowMs);

    std::function<void(const std::string& line)> out_;
    std::vector<Window> windows_;
};

}  // namespace korvimo
