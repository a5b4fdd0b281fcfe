#include "app/core/mibinfo_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace korvimo {

namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

bool MibInfoLines::fill() {
    if (offset_ >= bufferOffset_ && offset_ < bufferOffset_ + bufferLength_) {
        return true;
    }
    ssize_t n;
    do {
        n = ::pread(fd_, buffer_, sizeof buffer_, static_cast<off_t>(offset_));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        bufferLength_ = 0;
        return false;
    }
    bufferOffset_ = offset_;
    bufferLength_ = static_cast<std::size_t>(n);
    return true;
}

bool MibInfoLines::next(std::string& line) {
    line.clear();
    if (fd_ < 0) {
        return false;
    }
    lineStart_ = offset_;
    bool consumed = false;
    while (fill()) {
        consumed = true;
        const char* start = buffer_ + (offset_ - bufferOffset_);
        const std::size_t available =
            bufferLength_ - static_cast<std::size_t>(offset_ - bufferOffset_);
        const void* lf = std::memchr(start, '\n', available);
        const std::size_t piece =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) : available;
        if (line.size() < maxLine_) {
            line.append(start, std::min(piece, maxLine_ - line.size()));
        }
        offset_ += piece;
        if (lf) {
            offset_ += 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return consumed;
}

bool isMibInfoObjectLine(std::string_view line) {
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

bool lookupDescriptor(int fd, std::string_view descriptor, std::string& numericOid) {
    numericOid.clear();
    if (fd < 0) {
        return false;
    }
    MibInfoLines lines(fd);
    std::string line;
    while (lines.next(line)) {
        if (!isMibInfoObjectLine(line)) {
            continue;
        }
        std::string_view oid, name, rest;
        if (takeWord(line, oid, rest) && takeWord(rest, name, rest) && name == descriptor) {
            numericOid.assign(oid);
            return true;
        }
    }
    return false;
}

}  // namespace korvimo
