// Token rules for the lines of the compiler output that zorlet reads.
//
// Fields are separated by spaces or tabs. Taking the first token of a text stops at the first
// space or tab; a newline directly before that end is not part of the token. The remainder
// starts at the separator with its leading spaces and tabs removed and keeps the rest, the
// trailing newline included, because object and index lines pass it on unchanged.
//
//   TokenSplit s = takeToken("ifEntry.1 ifIndex InterfaceIndex RO C1\n");
//   // s.token == "ifEntry.1", s.rest == "ifIndex InterfaceIndex RO C1\n"
#pragma once

#include <string_view>

namespace korvimo::zorlet {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

struct TokenSplit {
    bool found = false;
    std::string_view token;
    std::string_view rest;
};

// Removes spaces and tabs at the start.
std::string_view trimLeadingBlanks(std::string_view text);

// Removes spaces, tabs, carriage returns and newlines at the end.
std::string_view trimTrailingSpace(std::string_view text);

// Both of the above.
std::string_view trimSpace(std::string_view text);

// Takes the first token after any leading blanks; fails (found false) when no token is left.
TokenSplit takeToken(std::string_view text);

}  // namespace korvimo::zorlet
