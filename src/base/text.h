// The text routines every reader of the system's text files shares (korvan.ini, control
// files, mibinfo.out): blanks are spaces and tabs, words are separated by blanks.
//
//   std::string_view word, rest;
//   if (takeWord("  1.3.6.1  sysDescr", word, rest)) ...   // word "1.3.6.1", rest "sysDescr"
//   trimBlanks(" \tRO ");                                   // "RO"
//   formatText("Cannot open [%s]", path.c_str());
#pragma once

#include <string>
#include <string_view>

namespace korvimo {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// An ASCII letter in lower case; any other character as it is.
inline char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether two texts are equal when ASCII letters are compared without regard to case.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The value of a hexadecimal digit (either case); -1 when c is none.
inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The text without the blanks at both ends.
std::string_view trimBlanks(std::string_view text);

// Splits off the first word (ended by a blank); rest starts after the blanks that follow it.
// False when the text holds no word.
bool takeWord(std::string_view text, std::string_view& word, std::string_view& rest);

// The next field of text, which then starts after it: blanks skipped, then a text in double
// quotes (a backslash before a quote or a backslash keeps that character) or a word ended by
// a blank. None at the end of the text; Unclosed for a quote without its end.
enum class FieldRead { None, Word, Quoted, Unclosed };
FieldRead takeField(std::string_view& text, std::string& field);

// The text with every space and tab removed.
std::string withoutBlanks(std::string_view text);

// The text a printf-style format gives, whole (no length limit).
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace korvimo
