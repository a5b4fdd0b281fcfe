// A text output whose newlines are written as CR LF, the line end of every text file of the
// system. It writes to an open file through a buffer, or collects the text when no file is
// given (tests).
//
//   CrLfWriter out(file);          // or CrLfWriter out; for collecting
//   out.write("%en ...\n");        // lands as "%en ...\r\n"
//   out.flush();
//   if (out.failed()) ...          // a write to the file fell short (a full disk)
//
// After a failed write the text is no longer passed to the file (a file missing a piece is of
// no use) but is still dropped from the buffer, so that memory stays bounded.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace korvimo::zorlet {

class CrLfWriter {
  public:
    CrLfWriter() = default;
    explicit CrLfWriter(std::FILE* file) : file_(file) {}
    ~CrLfWriter() { flush(); }

    CrLfWriter(const CrLfWriter&) = delete;
    CrLfWriter& operator=(const CrLfWriter&) = delete;

    void write(std::string_view text);
    // Writes text padded with spaces to at least width characters.
    void writePadded(std::string_view text, std::size_t width);
    // Writes text and a newline unless it already ends in one; a line whose end was cut off
    // in the input must not run into the next line of the output.
    void writeLine(std::string_view text);

    // Passes the buffered text to the file (into its stdio buffer, not to the disk).
    void flush();
    // Whether a write to the file fell short; the owner still checks fflush and fclose.
    bool failed() const { return failed_; }
    // The text collected so far (everything, when there is no file).
    const std::string& text() const { return buffer_; }

  private:
    std::FILE* file_ = nullptr;
    std::string buffer_;
    bool failed_ = false;
};

}  // namespace korvimo::zorlet
