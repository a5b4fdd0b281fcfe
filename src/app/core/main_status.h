// The main window's status list as the rest of the system writes to it: the agent's `report`
// (append a line), the statistics display at lines 1 to 3 while the agent runs, and the
// one-operation-at-a-time rule whose refusal is shown there.
//
//   if (!takeBusy(ctx, ctx.mainStatus)) return;   // "Operation already in progress. ..."
//   reportToMainStatus("Agent has been started.", ctx);
//   ... a request is served ...
//   refreshStatistics(ctx);                       // lines 1..3 show the counters
//   releaseBusy(ctx);
#pragma once

#include <string>

#include "app/core/agent_context.h"

namespace korvimo {

class StatusList;

inline constexpr const char* kOperationInProgressText =
    "Operation already in progress.  Stop other activities and then try again.";

// The statistics lines, counters in decimal, left-aligned in ten columns.
inline constexpr const char* kStatisticsLine1Format =
    "GetRequests:\t%-10lu\t\tGetBulkRequests:\t%-10lu";
inline constexpr const char* kStatisticsLine2Format =
    "GetNextRequests:\t%-10lu\t\tInPkts:\t\t%-10lu";
inline constexpr const char* kStatisticsLine3Format = "SetRequests:\t%-10lu\t\tOutPkts:\t\t%-10lu";

// Appends text to the main status list (nothing when the context has none). This is the
// Agent slot's `report`, and where the event routing shows failures.
void reportToMainStatus(const char* text, AgentContext& ctx);

// The three statistics lines, in display order.
std::string statisticsLine(int number, const AgentStatistics& statistics);

// Deletes the lines at positions 3, 2 and 1 (those that exist), then inserts the three
// statistics lines at positions 1, 2 and 3. Lines appended after them stay below, in order.
void refreshStatistics(StatusList& list, const AgentStatistics& statistics);
void refreshStatistics(AgentContext& ctx);

// Takes `busy` for an operation: false, with kOperationInProgressText appended to status
// (when given), while another operation holds it.
bool takeBusy(AgentContext& ctx, StatusList* status);
// Gives `busy` back; the next operation may start.
void releaseBusy(AgentContext& ctx);

}  // namespace korvimo
