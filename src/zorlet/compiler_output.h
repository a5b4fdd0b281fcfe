// The MIB compiler's output as zorlet reads it: the whole input file split into lines, each
// with its kind.
//
// Lines are read as a 500-byte line buffer would read them: a CR LF ending counts as one
// newline, and a line longer than 499 characters (its newline included) is read as several
// lines. A NUL byte ends the text of its line, so binary input is read as (odd) text and
// never beyond its bytes. The kind of a line is decided by its first characters:
//
//   "-" first                 comment, ignored everywhere
//   only spaces and tabs      blank, ignored everywhere
//   "%en" anywhere            name line
//   "%" first                 directive ("%ei", "%ea", "%trap", "%tc", "%es", ...)
//   anything else             object line: identifier, descriptor, syntax, access, kind, ...
//
//   CompilerOutput input(fileBytes);
//   for (std::size_t i = 0; i < input.lineCount(); ++i)
//       if (input.kind(i) == LineKind::Object) use(input.line(i));
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvimo::zorlet {

enum class LineKind { Comment, Blank, Name, Directive, Object };

class CompilerOutput {
  public:
    // The longest line text read at once; longer lines continue as further lines.
    static constexpr std::size_t kLineCapacity = 499;

    explicit CompilerOutput(std::string_view fileBytes);

    CompilerOutput(const CompilerOutput&) = delete;
    CompilerOutput& operator=(const CompilerOutput&) = delete;

    std::size_t lineCount() const { return lines_.size(); }
    // The line's text, with its newline when it had one.
    std::string_view line(std::size_t index) const { return lines_[index]; }
    LineKind kind(std::size_t index) const { return kinds_[index]; }

    // The first token of a directive line ("%ei", "%trap", ...); empty for other kinds.
    std::string_view directiveTag(std::size_t index) const;

  private:
    std::string text_;
    std::vector<std::string_view> lines_;
    std::vector<LineKind> kinds_;
};

}  // namespace korvimo::zorlet
