// lastErrorText: the one process-wide failure text of the codec, the receive paths and the
// timer path.
//
// A failing operation writes a one-line English text here; whoever finally gives up shows
// it in a status list. The most recent failure overwrites the text. Some callers clear it at
// the start of an operation so that a later display shows only that operation's failure.
//
//   if (!decodeMessage(bytes, n, pdu)) report(lastErrorText);
#pragma once

#include <cstddef>

namespace korvimo::snmp {

inline constexpr std::size_t kLastErrorCapacity = 200;

// Terminated text of at most kLastErrorCapacity - 1 characters.
extern char lastErrorText[kLastErrorCapacity];

// Formats into lastErrorText (printf-style), cut to its capacity.
void setLastError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Empties lastErrorText.
void clearLastError();

}  // namespace korvimo::snmp
