// A text output whose newlines are written as CR LF, the line end of every text file of the
// system. It writes to an open file through a buffer, or collects the text when no file is
// given (tests).
//
//   CrLfWriter out(file);          // or CrLfWriter out; for collecting
//   out.write("%en ...\n");        // lands as "%en ...\r\n"
//   out.flush();
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

    void flush();
    // The text collected so far (everything, when there is no file).
    const std::string& text() const { return buffer_; }

  private:
    std::FILE* file_ = nullptr;
    std::string buffer_;
};

}  // namespace korvimo::zorlet
