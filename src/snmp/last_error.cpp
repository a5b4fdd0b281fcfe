#include "snmp/last_error.h"

#include <cstdarg>
#include <cstdio>

namespace korvimo::snmp {

char lastErrorText[kLastErrorCapacity] = {};

void setLastError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(lastErrorText, sizeof lastErrorText, format, args);
    va_end(args);
}

void clearLastError() {
    lastErrorText[0] = '\0';
}

}  // namespace korvimo::snmp
