#include "store/status_report.h"

#include <cstdarg>
#include <cstdio>

namespace korvimo::store {

namespace {

// Messages are at most a control-file line long, plus their own words.
constexpr int kMessageCapacity = 1700;

}  // namespace

void reportStatus(const Reporter& reporter, const char* text) {
    if (reporter.report) {
        reporter.report(text);
    }
}

void reportStatusFormat(const Reporter& reporter, const char* format, ...) {
    char text[kMessageCapacity];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    reportStatus(reporter, text);
}

void showMessage(const Reporter& reporter, const char* text) {
    if (reporter.messageBox) {
        reporter.messageBox(kMessageTitle, text);
    } else {
        reportStatus(reporter, text);
    }
}

}  // namespace korvimo::store
