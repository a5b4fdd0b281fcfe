// Reading mibinfo.out, the file through which the simulator knows the compiled MIBs, always
// through the descriptor the context holds open in `mibInfoFile` (kClosed when it is not).
//
// MibInfoLines walks the file's lines from any offset with positioned reads, so it neither
// moves nor depends on the descriptor's own file position; a line ends in CR LF or LF (a
// last line without an end counts too) and is returned without its end. lookupDescriptor
// finds the numeric identifier of a descriptor in the object lines.
//
//   MibInfoLines lines(ctx.mibInfoFile);
//   std::string line;
//   while (lines.next(line)) if (isMibInfoObjectLine(line)) ...
//
//   std::string oid;
//   if (lookupDescriptor(ctx.mibInfoFile, "sysDescr", oid)) ...   // oid == "1.3.6.1.2.1.1.1"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvimo {

// Longest line kept; the rest of a longer line is passed over up to its end.
inline constexpr std::size_t kMibInfoMaxLine = 1500;

class MibInfoLines {
  public:
    explicit MibInfoLines(int fd, uint64_t offset = 0, std::size_t maxLine = kMibInfoMaxLine)
        : fd_(fd), offset_(offset), lineStart_(offset), maxLine_(maxLine) {}

    // The next line without its end; false at the end of the file, on a read error and when
    // the descriptor is closed.
    bool next(std::string& line);

    // Where the line last returned starts, and where the next one starts.
    uint64_t lineOffset() const { return lineStart_; }
    uint64_t offset() const { return offset_; }

  private:
    bool fill();

    int fd_;
    uint64_t offset_;
    uint64_t lineStart_;
    std::size_t maxLine_;
    char buffer_[4096];
    uint64_t bufferOffset_ = 0;
    std::size_t bufferLength_ = 0;
};

// Object lines are all but comment lines ("-"), directive and name lines ("%") and blank
// lines.
bool isMibInfoObjectLine(std::string_view line);

// Splits off the first word (ended by a space or tab); rest starts after the separators.
// False when the text holds no word.
bool takeWord(std::string_view text, std::string_view& word, std::string_view& rest);

// The numeric identifier text of the first object line whose descriptor (second word)
// equals descriptor exactly. False when there is none or the file is closed.
bool lookupDescriptor(int fd, std::string_view descriptor, std::string& numericOid);

}  // namespace korvimo
