// The main window's status list as the rest of the system writes to it: the statistics
// display at lines 1 to 3 while an agent runs, and the one-operation-at-a-time rule whose
// refusal is shown there.
//
//   Busy busy = Busy::Idle;
//   if (!takeBusy(busy, &status)) return;    // "Operation already in progress. ..."
//   status.append("Agent has been started.");
//   ... a request is served ...
//   refreshStatistics(status, statistics);   // lines 1..3 show the counters
//   releaseBusy(busy);
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
// The refused requests, which `korvan-cli agent` prints below the three lines.
inline constexpr const char* kRefusedStatisticsLineFormat =
    "InBadVersions:\t%-10lu\t\tInBadCommunityNames:\t%-10lu";

// Lines the main status list keeps at most; the first four (the start line and the three
// statistics lines) always stay.
inline constexpr std::size_t kMainStatusLineLimit = 5000;
inline constexpr std::size_t kMainStatusKeptHead = 4;

// Counters of a running agent, zeroed by every successful agent start; they wrap.
struct AgentStatistics {
    uint32_t GetRequests = 0;
    uint32_t GetNextRequests = 0;
    uint32_t SetRequests = 0;
    uint32_t Responses = 0;  // responses sent; kept in step with OutPkts, not shown
    uint32_t InPkts = 0;
    uint32_t OutPkts = 0;
    uint32_t GetBulkRequests = 0;
    // Requests refused for their SNMP version and for their community; not in the window.
    uint32_t InBadVersions = 0;
    uint32_t InBadCommunityNames = 0;
};

// Whether an operation holds the window: an agent run or a tool's operation. One at a time.
enum class Busy { Idle, Running };

// The three statistics lines, in display order.
std::string statisticsLine(int number, const AgentStatistics& statistics);
// The line of the refused requests.
std::string refusedStatisticsLine(const AgentStatistics& statistics);

// Deletes the lines at positions 3, 2 and 1 (those that exist), then inserts the three
// statistics lines at positions 1, 2 and 3. Lines appended after them stay below, in order.
void refreshStatistics(StatusList& list, const AgentStatistics& statistics);

// Takes `busy` for an operation: false, with kOperationInProgressText appended to status
// (when given), while another operation holds it.
bool takeBusy(Busy& busy, StatusList* status);
// Gives `busy` back; the next operation may start.
inline void releaseBusy(Busy& busy) {
    busy = Busy::Idle;
}

}  // namespace korvimo
