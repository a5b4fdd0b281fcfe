// The debug log: the agent's record of every request it answers and every Response it sends,
// binding by binding, in `debug.out` in the agent directory, and the same rendering of a PDU
// as status-list lines for the tools that show the PDUs they exchange (learning).
//
// A record is a header line (PDU label, request-id, error status and index, or GetBulk's
// non-repeaters and max-repetitions) and one line per binding (name, type, value). Names are
// turned into descriptor form through the context's mibinfo.out when it is open.
//
//   dumpPdu(request, ctx.outputFile, ctx);     // "Get Request : Request Id = 5, ..."
//   appendDebugLog(ctx, "\r\n");               // the empty line after a request's records
//   dumpPduToList(response, ctx);              // the same lines to the active `report`
//
// Write failures are not checked: the log is for debugging and must never stop the agent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/agent_context.h"
#include "snmp/message.h"

namespace korvimo {

// The log's name, relative to the installation directory.
inline constexpr const char* kDebugLogName = "/agent/debug.out";

// Header and binding lines of a debug-log record.
inline constexpr const char* kDebugBulkHeaderFormat =
    "%s Request Id = %d, Non-Repeaters = %d , Max-Repetitions = %d\r\n";
inline constexpr const char* kDebugHeaderFormat =
    "%s Request Id = %d, Error Status = %s , Error Index = %d\r\n";
inline constexpr const char* kDebugBindingFormat = "Oid%d = %s , Type = %s, Value = %s\r\n";
inline constexpr const char* kDebugTimeStampFormat = "(%s) ";

// The same parts as status-list lines.
inline constexpr const char* kListHeaderFormat =
    "%s was: Request Id = %lu, Error Status = %s , Error Index = %d";
inline constexpr const char* kListBulkHeaderFormat =
    "%s was: Request Id = %d, Non-Repeaters = %d , Max-Repetitions = %d\r\n";
inline constexpr const char* kListBindingFormat = "Oid%d = %s , Type = %s, Value = %s";

inline constexpr const char* kUpTimeFormat = "%02lu hrs: %02lu min: %02d sec";

// Capacities of one binding's rendering in the debug log, terminators included.
inline constexpr std::size_t kLogOidCapacity = 1500;
inline constexpr std::size_t kLogTypeCapacity = 20;
inline constexpr std::size_t kLogValueCapacity = 300;
// The dotted form of a binding's name is made with this limit, that of an OID value with the
// smaller one.
inline constexpr uint32_t kNameTextLimit = 512;
inline constexpr uint32_t kOidValueTextLimit = 300;

// The label of a PDU type in the debug log ("Get Request :") or in a status list
// ("Get Request").
const char* pduLabel(uint32_t type, bool forStatusList);

// The name of an error-status value, taken as its low 16 bits: "No Error" ... "Inconsistent
// Name"; empty above 18.
const char* errorStatusName(int32_t status);

// Type name and value text of a binding, and its name in dotted decimal; each text is cut to
// its capacity less one (a capacity of 0 leaves that text alone).
void valueToText(const snmp::VarBind& binding, char* oidText, std::size_t oidCapacity,
                 char* typeName, std::size_t typeCapacity, char* valueText,
                 std::size_t valueCapacity);

// Octets as text when every byte is printable (32 to 126) or a tab, a zero byte being allowed
// as the very last; otherwise "0x" and two lower-case hex digits per byte, as many bytes as
// fit in the capacity with the terminator.
void octetsToText(char* out, std::size_t capacity, const uint8_t* bytes, std::size_t length);

// "%02lu hrs: %02lu min: %02d sec" for a TimeTicks value; hours are not wrapped at 24.
void upTimeText(uint32_t ticks, char* out, std::size_t capacity);

// The numeric OID text in descriptor form: the first object line of mibinfo.out whose
// identifier is the text itself or a leading part of it followed by "." gives the
// descriptor, then the rest of the text. False, with out a copy of the text, when there is
// no such line or the file is closed.
bool oidTextToName(std::string& out, std::string_view numericText, int mibInfoFile);

// Appends the PDU's record to the log open in logFile (nothing when it is closed): with the
// time-stamp switch on, "(date and time) " first, then the header and the binding lines.
void dumpPdu(const snmp::Pdu& pdu, int logFile, AgentContext& ctx);

// Sends the same record, without time stamp, line by line to the active operation's
// `report`, with the status-list labels and the "was:" header formats.
void dumpPduToList(const snmp::Pdu& pdu, AgentContext& ctx);

// Appends raw text at the end of the debug log open in ctx.outputFile (nothing when it is
// closed).
void appendDebugLog(AgentContext& ctx, std::string_view text);

// The date and time of a calendar second in 24 characters, as "Sun Dec  6 16:33:41 2026"
// (local time, English names).
std::string timeStampText(int64_t calendarSeconds);

}  // namespace korvimo
