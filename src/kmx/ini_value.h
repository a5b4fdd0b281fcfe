// A small reader of one value of an INI file such as korvan.ini, for kmx, which links nothing
// of the simulator. Sections and keys compare without regard to case; lines may end in LF or
// CR LF; the value is the text after the first "=", trimmed of spaces and tabs.
//
//   std::string list;
//   if (readIniValue("../bin/korvan.ini", "KORVAN", "MIBDIRLIST", list)) ...
#pragma once

#include <string>
#include <string_view>

namespace korvimo::kmx {

// False when the file cannot be read or has no such key in the section.
bool readIniValue(const std::string& path, std::string_view section, std::string_view key,
                  std::string& value);

// The same lookup in the text of an INI file.
bool findIniValue(std::string_view text, std::string_view section, std::string_view key,
                  std::string& value);

}  // namespace korvimo::kmx
