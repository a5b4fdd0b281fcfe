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
        if (!isSeparator(c) && c != '\r') {
            return true;
        }
    }
    return false;
}

bool takeWord(std::string_view text, std::string_view& word, std::string_view& rest) {
    std::size_t start = 0;
    while (start < text.size() && isSeparator(text[start])) {
        ++start;
    }
    if (start == text.size()) {
        return false;
    }
    std::size_t end = start;
    while (end < text.size() && !isSeparator(text[end])) {
        ++end;
    }
    word = text.substr(start, end - start);
    std::size_t next = end;
    while (next < text.size() && isSeparator(text[next])) {
        ++next;
    }
    rest = text.substr(next);
    return true;
}

std::string_view trimSeparators(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isSeparator(text[begin])) {
        ++begin;
    }
    while (end > begin && isSeparator(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

}  // namespace korvimo::mibinfo
