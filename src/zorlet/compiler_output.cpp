#include "zorlet/compiler_output.h"

#include "zorlet/line_tokens.h"

namespace korvimo::zorlet {

namespace {

LineKind classifyLine(std::string_view line) {
    if (!line.empty() && line[0] == '-') {
        return LineKind::Comment;
    }
    std::size_t pos = 0;
    while (pos < line.size() && isBlank(line[pos])) {
        ++pos;
    }
    if (pos == line.size() || (pos + 1 == line.size() && line[pos] == '\n')) {
        return LineKind::Blank;
    }
    if (line.find("%en") != std::string_view::npos) {
        return LineKind::Name;
    }
    if (line[0] == '%') {
        return LineKind::Directive;
    }
    return LineKind::Object;
}

}  // namespace

CompilerOutput::CompilerOutput(std::string_view fileBytes) {
    // CR LF reads as one newline, as a text-mode reader sees it.
    text_.reserve(fileBytes.size());
    for (std::size_t i = 0; i < fileBytes.size(); ++i) {
        if (fileBytes[i] == '\r' && i + 1 < fileBytes.size() && fileBytes[i + 1] == '\n') {
            continue;
        }
        text_.push_back(fileBytes[i]);
    }
    std::string_view all(text_);
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t limit = all.size() - start < kLineCapacity ? all.size() - start : kLineCapacity;
        std::size_t newline = all.substr(start, limit).find('\n');
        std::size_t length = newline == std::string_view::npos ? limit : newline + 1;
        std::string_view chunk = all.substr(start, length);
        // The line's text ends at a NUL byte, whatever follows it in the same read.
        std::size_t nul = chunk.find('\0');
        if (nul != std::string_view::npos) {
            chunk = chunk.substr(0, nul);
        }
        lines_.push_back(chunk);
        kinds_.push_back(classifyLine(chunk));
        start += length;
    }
}

std::string_view CompilerOutput::directiveTag(std::size_t index) const {
    if (kinds_[index] != LineKind::Directive) {
        return {};
    }
    return takeToken(lines_[index]).token;
}

}  // namespace korvimo::zorlet
