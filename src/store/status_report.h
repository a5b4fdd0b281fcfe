// Where the store's messages go while it loads: the status list of whoever loads it (an
// agent's main status list), and the "Korvimo" message box, which a front end without boxes
// turns into a status line.
//
// What is wrong with a control file is reported line by line, so that a user mends every
// mistake in one round: an error (the load fails once the file is read) or a warning (the
// line is served as the text says, which is seldom what was meant). Both name their line and
// are kept until the load has read the file; flush() then shows them in line order, at most
// kShownDiagnostics of each kind, and one line counting the rest.
//
//   Reporter reporter{[&](const char* line) { status.append(line); }, nullptr};
//   reporter.error(lineNumber, "Invalid syntax.(line = %ld). ...", lineNumber);
//   reporter.warning(lineNumber, kWarningFormat, "Unknown syntax", lineNumber, "...");
//   reporter.showMessage("Cannot get index information for ifIndex\n");  // an error, at once
//   reporter.flush();
//   if (reporter.errors() > 0) fail();
//   reporter.status("Make sure that the corresponding MIB is compiled.");  // at once
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvimo::store {

// Title of the message box the store raises.
inline constexpr const char* kMessageTitle = "Korvimo";

// Errors and warnings shown of one load, each; the others are counted.
inline constexpr std::size_t kShownDiagnostics = 20;
inline constexpr const char* kMoreErrorsMessage = "%lu more errors were found in the control file.";
inline constexpr const char* kMoreWarningsMessage =
    "%lu more warnings were found in the control file.";

// Every warning reads "<title>.(line = n). <what is wrong and what is served>".
inline constexpr const char* kWarningFormat = "%s.(line = %ld). %s";

// Text of a control file quoted in a message: at most this many characters, then "...".
inline constexpr std::size_t kQuotedTextLength = 60;
std::string quoted(std::string_view text);

class Reporter {
  public:
    Reporter() = default;
    Reporter(std::function<void(const char* line)> report,
             std::function<void(const char* title, const char* text)> messageBox)
        : report_(std::move(report)), messageBox_(std::move(messageBox)) {}

    // A status line shown at once; neither an error nor a warning.
    void status(const char* text) const;
    void statusFormat(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    // An error or a warning of a line, kept until flush().
    void error(long line, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void warning(long line, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Advice that holds for the error reported last and for others like it (compiling the
    // MIB of unknown descriptors): one status line after the first shown error that asks for
    // it (after every error when none of them is shown).
    void adviseAfterLastError(const char* advice);
    // An error shown at once in the message box (a status line without a box).
    void showMessage(const char* text);

    // Shows the errors and warnings kept since the last flush in line order, then how many
    // more there were.
    void flush();

    unsigned long errors() const { return errorCount_; }
    unsigned long warnings() const { return warningCount_; }

  private:
    struct Diagnostic {
        long line = 0;
        uint64_t sequence = 0;  // order of reporting, among one line's diagnostics
        std::string text;
        const char* advice = nullptr;
    };
    void keep(std::vector<Diagnostic>& kept, long line, const char* format, va_list arguments);

    std::function<void(const char* line)> report_;
    std::function<void(const char* title, const char* text)> messageBox_;
    // Each in line order, the first kShownDiagnostics.
    std::vector<Diagnostic> errors_;
    std::vector<Diagnostic> warnings_;
    unsigned long errorCount_ = 0;
    unsigned long warningCount_ = 0;
    // Errors and warnings already shown (at once or by an earlier flush).
    unsigned long errorsShown_ = 0;
    unsigned long warningsShown_ = 0;
    uint64_t sequence_ = 0;
    uint64_t lastErrorSequence_ = 0;
    std::vector<const char*> advice_;  // every advice asked for, once
};

}  // namespace korvimo::store
