#include "zorlet/line_tokens.h"

namespace korvimo::zorlet {

namespace {

bool isLineSpace(char c) {
    return isBlank(c) || c == '\n' || c == '\r';
}

}  // namespace

std::string_view trimLeadingBlanks(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start])) {
        ++start;
    }
    return text.substr(start);
}

std::string_view trimTrailingSpace(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && isLineSpace(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}

std::string_view trimSpace(std::string_view text) {
    return trimTrailingSpace(trimLeadingBlanks(text));
}

TokenSplit takeToken(std::string_view text) {
    TokenSplit split;
    text = trimLeadingBlanks(text);
    std::size_t end = 0;
    while (end < text.size() && !isBlank(text[end])) {
        ++end;
    }
    // The line's newline ends the last token of a line but belongs to the remainder.
    std::size_t tokenEnd = end;
    if (tokenEnd > 0 && text[tokenEnd - 1] == '\n') {
        --tokenEnd;
    }
    if (tokenEnd == 0) {
        return split;
    }
    split.found = true;
    split.token = text.substr(0, tokenEnd);
    split.rest = trimLeadingBlanks(text.substr(tokenEnd));
    return split;
}

}  // namespace korvimo::zorlet
