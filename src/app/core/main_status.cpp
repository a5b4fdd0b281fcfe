#include "app/core/main_status.h"

#include <cstdio>

#include "app/core/status_list.h"

namespace korvimo {

std::string statisticsLine(int number, const AgentStatistics& s) {
    char line[128];
    switch (number) {
        case 1:
            std::snprintf(line, sizeof line, kStatisticsLine1Format,
                          static_cast<unsigned long>(s.GetRequests),
                          static_cast<unsigned long>(s.GetBulkRequests));
            break;
        case 2:
            std::snprintf(line, sizeof line, kStatisticsLine2Format,
                          static_cast<unsigned long>(s.GetNextRequests),
                          static_cast<unsigned long>(s.InPkts));
            break;
        default:
            std::snprintf(line, sizeof line, kStatisticsLine3Format,
                          static_cast<unsigned long>(s.SetRequests),
                          static_cast<unsigned long>(s.OutPkts));
            break;
    }
    return line;
}

std::string refusedStatisticsLine(const AgentStatistics& s) {
    char line[128];
    std::snprintf(line, sizeof line, kRefusedStatisticsLineFormat,
                  static_cast<unsigned long>(s.InBadVersions),
                  static_cast<unsigned long>(s.InBadCommunityNames));
    return line;
}

void refreshStatistics(StatusList& list, const AgentStatistics& statistics) {
    list.remove(3);
    list.remove(2);
    list.remove(1);
    for (int number = 1; number <= 3; ++number) {
        list.insert(static_cast<std::size_t>(number), statisticsLine(number, statistics));
    }
}

bool takeBusy(Busy& busy, StatusList* status) {
    if (busy == Busy::Running) {
        if (status != nullptr) {
            status->append(kOperationInProgressText);
        }
        return false;
    }
    busy = Busy::Running;
    return true;
}

}  // namespace korvimo
