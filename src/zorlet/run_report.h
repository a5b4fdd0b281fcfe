// Where zorlet's run reports: progress lines that overwrite each other on the console, and
// error messages that go to the console and to the error file when one is open.
//
//   class ConsoleReport : public RunReport { ... };
//   report.progress(kObjectProgressPadding, "Processed 1.3.6.1.2.1.1.1\r");
//   report.error(formatMessage(kCannotMapSyntax, "Foo"));
#pragma once

#include <string>
#include <string_view>

namespace korvimo::zorlet {

// Spaces written before a progress text to blank the previous one.
constexpr int kObjectProgressPadding = 61;
constexpr int kDirectiveProgressPadding = 59;

// A message from a printf format whose one placeholder is %s, filled with subject (which may
// be longer than any fixed buffer would hold).
inline std::string formatMessage(std::string_view format, std::string_view subject) {
    const std::size_t at = format.find("%s");
    std::string message(format.substr(0, at));
    if (at != std::string_view::npos) {
        message.append(subject);
        message.append(format.substr(at + 2));
    }
    return message;
}

class RunReport {
  public:
    virtual ~RunReport() = default;
    // Writes the padding spaces and a carriage return, then the text (which ends in "\r").
    virtual void progress(int padding, std::string_view text) = 0;
    // An error message: console, and the error file when one is open.
    virtual void error(std::string_view message) = 0;
};

}  // namespace korvimo::zorlet
