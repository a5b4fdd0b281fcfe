#include "app/core/similar_lines.h"

#include <cstdio>

namespace korvimo {

namespace {

// The kind shared by lines past kSimilarLineKinds kinds; no line's kind holds a NUL.
const std::string kOtherKind(1, '\0');

std::string kindOf(std::string_view text) {
    std::string kind;
    kind.reserve(text.size());
    bool inDigits = false;
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit) {
            kind.push_back(c);
        } else if (!inDigits) {
            kind.push_back('#');
        }
        inDigits = digit;
    }
    return kind;
}

}  // namespace

SimilarLines::Window& SimilarLines::windowFor(std::string kind, uint64_t nowMs) {
    auto find = [this](const std::string& wanted) -> Window* {
        for (Window& w : windows_) {
            if (w.kind == wanted) {
                return &w;
            }
        }
        return nullptr;
    };
    if (Window* window = find(kind)) {
        return *window;
    }
    if (windows_.size() >= kSimilarLineKinds) {
        kind = kOtherKind;
        if (Window* window = find(kind)) {
            return *window;
        }
    }
    windows_.push_back(Window{std::move(kind), nowMs, 0, 0});
    return windows_.back();
}

void SimilarLines::print(std::string_view text, uint64_t nowMs) {
    tick(nowMs);
    Window& window = windowFor(kindOf(text), nowMs);
    if (window.printed < kSimilarLinesPerWindow) {
        ++window.printed;
        out_(std::string(text));
    } else {
        ++window.held;
    }
}

void SimilarLines::tick(uint64_t nowMs) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        Window& w = windows_[i];
        if (nowMs - w.startMs < kSimilarLineWindowMs) {
            if (kept != i) {
                windows_[kept] = std::move(w);
            }
            ++kept;
            continue;
        }
        if (w.held > 0) {
            char line[64];
            std::snprintf(line, sizeof line, kSimilarLinesSuppressedText,
                          static_cast<unsigned long>(w.held));
            out_(line);
        }
    }
    windows_.resize(kept);
}

}  // namespace korvimo
