#include "store/status_report.h"

#include <cstdarg>
#include <cstdio>

#include "app/core/main_status.h"

namespace korvimo::store {

namespace {

// Messages are at most a control-file line long, plus their own words.
constexpr int kMessageCapacity = 1700;

}  // namespace

void reportStatus(AgentContext& ctx, const char* text) {
    if (ctx.mainStatus != nullptr) {
        reportToMainStatus(text, ctx);
        return;
    }
    OperationHandlers* handlers = ctx.active();
    if (handlers != nullptr && handlers->report) {
        handlers->report(text, ctx);
    }
}

void reportStatusFormat(AgentContext& ctx, const char* format, ...) {
    char text[kMessageCapacity];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    reportStatus(ctx, text);
}

void showMessage(AgentContext& ctx, const char* text) {
    if (ctx.messageBox) {
        ctx.messageBox(kMessageTitle, text);
    } else {
        reportStatus(ctx, text);
    }
}

}  // namespace korvimo::store
