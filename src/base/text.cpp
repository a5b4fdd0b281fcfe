#include "base/text.h"

#include <algorithm>

#include <cstdarg>
#include <cstdio>

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

std::string withoutBlanks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (!isBlank(c)) {
            out.push_back(c);
        }
    }
    return out;
}

FieldRead takeField(std::string_view& text, std::string& field) {
    field.clear();
    std::size_t at = 0;
    while (at < text.size() && isBlank(text[at])) {
        ++at;
    }
    if (at == text.size()) {
        text = {};
        return FieldRead::None;
    }
    if (text[at] != '"') {
        const std::size_t start = at;
        while (at < text.size() && !isBlank(text[at])) {
            ++at;
        }
        field.assign(text.substr(start, at - start));
        text.remove_prefix(at);
        return FieldRead::Word;
    }
    for (++at; at < text.size();) {
        char c = text[at++];
        if (c == '"') {
            text.remove_prefix(at);
            return FieldRead::Quoted;
        }
        if (c == '\\' && at < text.size() && (text[at] == '"' || text[at] == '\\')) {
            c = text[at++];
        }
        field += c;
    }
    text = {};
    return FieldRead::Unclosed;
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

std::string formatText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.pop_back();
    }
    va_end(again);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

}  // namespace korvimo
