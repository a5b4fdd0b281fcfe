#include "base/result.h"

#include <cstdarg>
#include <cstdio>

namespace korvimo {

Result Result::failure(std::string_view text) {
    Result result;
    result.failure_ = std::make_unique<std::string>(text);
    return result;
}

Result Result::failuref(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) {
        text[0] = '\0';
    }
    return failure(text);
}

Result withReason(const Result& failed, std::string_view reason) {
    return reason.empty() ? failed
                          : Result::failure(std::string(failed.text()) + " " + std::string(reason));
}

Result withReason(const Result& failed, const Result& cause) {
    return withReason(failed, std::string(cause.text()) + ".");
}

}  // namespace korvimo
