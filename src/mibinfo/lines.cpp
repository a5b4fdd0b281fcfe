#include "mibinfo/lines.h"

#include <cstring>

namespace korvimo::mibinfo {

bool Lines::next(std::string_view& line) {
    lineStart_ = offset_;
    if (offset_ >= text_.size()) {
        line = {};
        return false;
    }
    const char* start = text_.data() + offset_;
    const std::size_t available = text_.size() - offset_;
    const void* lf = std::memchr(start, '\n', available);
    const std::size_t length =
        lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) : available;
    offset_ += length + (lf != nullptr ? 1 : 0);
    // The CR of a CR LF end goes only when it is within the kept part, as it always did.
    std::size_t kept = length < maxLine_ ? length : maxLine_;
    if (kept > 0 && start[kept - 1] == '\r') {
        --kept;
    }
    line = std::string_view(start, kept);
    return true;
}

bool isObjectLine(std::string_view line) {
    if (line.empty() || line.front() == '-' || line.front() == '%') {
        return false;
    }
    for (char c : line) {
        if (!isBlank(c) && c != '\r') {
            return true;
        }
    }
    return false;
}

}  // namespace korvimo::mibinfo
