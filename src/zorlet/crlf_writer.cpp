#include "zorlet/crlf_writer.h"

namespace korvimo::zorlet {

namespace {

constexpr std::size_t kFlushSize = 1 << 16;

}  // namespace

void CrLfWriter::write(std::string_view text) {
    std::size_t start = 0;
    for (;;) {
        std::size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos) {
            buffer_.append(text.substr(start));
            break;
        }
        buffer_.append(text.substr(start, newline - start));
        buffer_.append("\r\n");
        start = newline + 1;
    }
    if (file_ != nullptr && buffer_.size() >= kFlushSize) {
        flush();
    }
}

void CrLfWriter::writePadded(std::string_view text, std::size_t width) {
    write(text);
    if (text.size() < width) {
        buffer_.append(width - text.size(), ' ');
    }
}

void CrLfWriter::writeLine(std::string_view text) {
    write(text);
    if (text.empty() || text.back() != '\n') {
        write("\n");
    }
}

void CrLfWriter::flush() {
    if (file_ == nullptr || buffer_.empty()) {
        return;
    }
    if (!failed_ && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
        failed_ = true;
    }
    buffer_.clear();
}

}  // namespace korvimo::zorlet
