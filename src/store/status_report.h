// Where the store's messages go: the main window's status list, or the active operation's
// `report` when the context has no main list (a test, a headless tool), and the "Korvimo"
// message box, which headless front ends turn into a status line.
//
//   reportStatus(ctx, "Make sure that the corresponding MIB is compiled.");
//   reportStatusFormat(ctx, "Invalid syntax.(line = %ld). ...", lineNumber);
//   showMessage(ctx, "Cannot get index information for ifIndex\n");
#pragma once

#include "app/core/agent_context.h"

namespace korvimo::store {

// Title of the message box the store raises.
inline constexpr const char* kMessageTitle = "Korvimo";

void reportStatus(AgentContext& ctx, const char* text);
void reportStatusFormat(AgentContext& ctx, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void showMessage(AgentContext& ctx, const char* text);

}  // namespace korvimo::store
