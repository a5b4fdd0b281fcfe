// The text level of mibinfo.out: its lines and the words of a line.
//
// Lines walks a text held in memory from any offset. A line ends in CR LF or LF (a last line
// without an end counts too) and is returned without its end; a line longer than the limit
// is cut there and the rest of it passed over, so every reader of the file sees the same
// first 1,500 characters of a line whatever its length.
//
//   mibinfo::Lines lines(text);
//   std::string_view line, word, rest;
//   while (lines.next(line)) {
//       if (isObjectLine(line) && takeWord(line, word, rest)) ...   // word: the identifier
//   }
#pragma once

#include <cstddef>
#include <string_view>

#include "base/text.h"

namespace korvimo::mibinfo {

// Longest line kept; the rest of a longer line is passed over up to its end.
inline constexpr std::size_t kMaxLine = 1500;

class Lines {
  public:
    explicit Lines(std::string_view text, std::size_t offset = 0, std::size_t maxLine = kMaxLine)
        : text_(text), offset_(offset), lineStart_(offset), maxLine_(maxLine) {}

    // The next line without its end (a view into the text); false after the last one.
    bool next(std::string_view& line);

    // Where the line last returned starts, and where the next one starts.
    std::size_t lineOffset() const { return lineStart_; }
    std::size_t offset() const { return offset_; }

  private:
    std::string_view text_;
    std::size_t offset_;
    std::size_t lineStart_;
    std::size_t maxLine_;
};

// Object lines are all but comment lines ("-"), directive and name lines ("%") and blank
// lines (nothing but spaces, tabs and CRs).
bool isObjectLine(std::string_view line);

}  // namespace korvimo::mibinfo
