// Where the store's messages go while it loads: the status list of whoever loads it (an
// agent's main status list), and the "Korvimo" message box, which a front end without boxes
// turns into a status line.
//
//   Reporter reporter{[&](const char* line) { status.append(line); }, nullptr};
//   reportStatus(reporter, "Make sure that the corresponding MIB is compiled.");
//   reportStatusFormat(reporter, "Invalid syntax.(line = %ld). ...", lineNumber);
//   showMessage(reporter, "Cannot get index information for ifIndex\n");
#pragma once

#include <functional>

namespace korvimo::store {

// Title of the message box the store raises.
inline constexpr const char* kMessageTitle = "Korvimo";

struct Reporter {
    std::function<void(const char* line)> report;
    // Without one, a message becomes a status line.
    std::function<void(const char* title, const char* text)> messageBox;
};

void reportStatus(const Reporter& reporter, const char* text);
void reportStatusFormat(const Reporter& reporter, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void showMessage(const Reporter& reporter, const char* text);

}  // namespace korvimo::store
