#include "store/status_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace korvimo::store {

namespace {

// Messages quote a control file's text only shortened (see quoted()), so this holds them.
constexpr int kMessageCapacity = 1700;

}  // namespace

std::string quoted(std::string_view text) {
    if (text.size() <= kQuotedTextLength) {
        return std::string(text);
    }
    std::string shortened(text.substr(0, kQuotedTextLength));
    shortened += "...";
    return shortened;
}

void Reporter::status(const char* text) const {
    if (report_) {
        report_(text);
    }
}

void Reporter::statusFormat(const char* format, ...) const {
    char text[kMessageCapacity];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    status(text);
}

void Reporter::keep(std::vector<Diagnostic>& kept, long line, const char* format,
                    va_list arguments) {
    const uint64_t sequence = ++sequence_;
    // Kept in line order; of one line, in the order reported.
    const auto place = std::upper_bound(kept.begin(), kept.end(), line,
                                        [](long l, const Diagnostic& d) { return l < d.line; });
    if (kept.size() >= kShownDiagnostics && place == kept.end()) {
        return;
    }
    char text[kMessageCapacity];
    std::vsnprintf(text, sizeof text, format, arguments);
    kept.insert(place, Diagnostic{line, sequence, text, nullptr});
    if (kept.size() > kShownDiagnostics) {
        kept.pop_back();
    }
}

void Reporter::error(long line, const char* format, ...) {
    ++errorCount_;
    va_list arguments;
    va_start(arguments, format);
    keep(errors_, line, format, arguments);
    va_end(arguments);
    lastErrorSequence_ = sequence_;
}

void Reporter::warning(long line, const char* format, ...) {
    ++warningCount_;
    va_list arguments;
    va_start(arguments, format);
    keep(warnings_, line, format, arguments);
    va_end(arguments);
}

void Reporter::adviseAfterLastError(const char* advice) {
    for (Diagnostic& d : errors_) {
        if (d.sequence == lastErrorSequence_) {
            d.advice = advice;
        }
    }
    const bool known = std::any_of(advice_.begin(), advice_.end(),
                                   [advice](const char* a) { return std::strcmp(a, advice) == 0; });
    if (!known) {
        advice_.push_back(advice);
    }
}

void Reporter::showMessage(const char* text) {
    ++errorCount_;
    ++errorsShown_;
    if (messageBox_) {
        messageBox_(kMessageTitle, text);
    } else {
        status(text);
    }
}

void Reporter::flush() {
    std::vector<const char*> given;
    auto give = [&](const char* advice) {
        if (advice == nullptr || std::any_of(given.begin(), given.end(), [advice](const char* a) {
                return std::strcmp(a, advice) == 0;
            })) {
            return;
        }
        given.push_back(advice);
        status(advice);
    };
    auto e = errors_.begin();
    auto w = warnings_.begin();
    while (e != errors_.end() || w != warnings_.end()) {
        const bool errorFirst =
            w == warnings_.end() ||
            (e != errors_.end() &&
             (e->line < w->line || (e->line == w->line && e->sequence < w->sequence)));
        if (errorFirst) {
            status(e->text.c_str());
            give(e->advice);
            ++e;
        } else {
            status(w->text.c_str());
            ++w;
        }
    }
    errorsShown_ += static_cast<unsigned long>(errors_.size());
    if (errorCount_ > errorsShown_) {
        statusFormat(kMoreErrorsMessage, errorCount_ - errorsShown_);
        errorsShown_ = errorCount_;
    }
    for (const char* advice : advice_) {
        give(advice);
    }
    warningsShown_ += static_cast<unsigned long>(warnings_.size());
    if (warningCount_ > warningsShown_) {
        statusFormat(kMoreWarningsMessage, warningCount_ - warningsShown_);
        warningsShown_ = warningCount_;
    }
    errors_.clear();
    warnings_.clear();
    advice_.clear();
}

}  // namespace korvimo::store
