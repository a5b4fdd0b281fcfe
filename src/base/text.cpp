#include "base/text.h"

namespace korvimo {

std::string_view trimBlanks(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool takeWord(std::string_view text, std::string_view& word, std::string_view& rest) {
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start])) {
        ++start;
    }
    if (start == text.size()) {
        return false;
    }
    std::size_t end = start;
    while (end < text.size() && !isBlank(text[end])) {
        ++end;
    }
    word = text.substr(start, end - start);
    std::size_t next = end;
    while (next < text.size() && isBlank(text[next])) {
        ++next;
    }
    rest = text.substr(next);
    return true;
}

}  // namespace korvimo
