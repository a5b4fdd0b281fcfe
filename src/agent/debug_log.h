// The debug log: an agent's record of every request it answers and every Response it sends,
// binding by binding, in `debug.out` in the agent directory, and the same rendering of a PDU
// as status-list lines for the tools that show the PDUs they exchange (learning).
//
// A record is a header line (PDU label, request-id, error status and index, or GetBulk's
// non-repeaters and max-repetitions) and one line per binding (name, type, value). Names are
// turned into descriptor form through mibinfo.out when the agent has it.
//
//   DebugLog log;
//   if (Result r = log.create(home + "/agent/debug.out"); !r) ...
//   log.setMibInfo(mib);                   // descriptor names; null: numeric names
//   log.dumpPdu(request);                  // "Get Request : Request Id = 5, ..."
//   log.append("\r\n");                    // the empty line after a request's records
//   dumpPduToList(response, mib, report);  // the same lines to a status list
//
// A failed write never stops the agent: it is reported once, as a status line, until writing
// works again. The log is bounded: when the next write would take it past its size limit
// (DEBUGMAXSIZE megabytes), debug.out becomes debug.out.1 (replacing the older one) and a new,
// empty debug.out goes on, so the two take at most twice the limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <functional>
#include <memory>

#include "app/core/clock.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"

namespace korvimo {

// The log's name, relative to the installation directory.
inline constexpr const char* kDebugLogName = "/agent/debug.out";

// DEBUGMAXSIZE, the limit of debug.out in megabytes (of 1,048,576 bytes): read as every
// numeric setting is; absent, empty, non-numeric, zero or negative gives the default, and a
// value above the largest counts as the largest (one tebibyte).
inline constexpr uint64_t kDefaultDebugMaxMegabytes = 100;
inline constexpr uint64_t kLargestDebugMaxMegabytes = 1024 * 1024;
// The limit in bytes for a DEBUGMAXSIZE value (empty when the key is absent).
uint64_t debugMaxSizeFromText(std::string_view text);

// Status lines of the log's writing: the first failure of a run of failures, and the first
// success after it. The first %s is the log's shown name, the second the system's reason.
inline constexpr const char* kDebugWriteFailedText =
    "Cannot write %s: %s. Debug records are lost until it can be written again.";
inline constexpr const char* kDebugWriteResumedText = "Debug records are written to %s again.";

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

// What an operation that receives a trap without acting on it reports.
inline constexpr const char* kTrapIgnoredReport = "Got Trap(generic = %s, specific = %d). Ignored.";
inline constexpr const char* kV2TrapIgnoredReport = "Got SNMPv2 Trap(%s). Ignored.";

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

// The name of a generic-trap value: "coldStart" ... "enterpriseSpecific"; null outside 0..6.
const char* genericTrapName(int32_t genericTrap);

// kTrapIgnoredReport with the generic trap's name (its number outside 0 to 6) and the
// specific trap; for an SNMPv2-Trap kV2TrapIgnoredReport with its snmpTrapOID value.
std::string trapIgnoredText(const snmp::Pdu& trap);

// Type name and value text of a binding, and its name in dotted decimal; each text is cut to
// its capacity less one (a capacity of 0 leaves that text alone).
void valueToText(const snmp::VarBind& binding, char* oidText, std::size_t oidCapacity,
                 char* typeName, std::size_t typeCapacity, char* valueText,
                 std::size_t valueCapacity);

// Octets as text when every byte is printable (32 to 126) or a tab, a zero byte being allowed
// as the very last; otherwise "0x" and two lower-case hex digits per byte, as many bytes as
// fit in the capacity with the terminator.
void octetsToText(char* out, std::size_t capacity, const uint8_t* bytes, std::size_t length);
// The octets always as hex text, "0x" and two digits each, cut to the capacity.
void octetsToHexText(char* out, std::size_t capacity, const uint8_t* bytes, std::size_t length);

// "%02lu hrs: %02lu min: %02d sec" for a TimeTicks value; hours are not wrapped at 24.
void upTimeText(uint32_t ticks, char* out, std::size_t capacity);

// The numeric OID text in descriptor form (MibInfo::nameOf). False, with out a copy of the
// text, when no object line names it or there is no mibinfo.out.
bool oidTextToName(std::string& out, std::string_view numericText, const mibinfo::MibInfo* mibInfo);

// The log file of one agent.
class DebugLog {
  public:
    // Creates (or empties) the log at path; fails, with the system's reason, when it cannot
    // be written.
    // The size limit and the report are kept.
    Result create(const std::string& path);
    void close() { file_.reset(); }
    bool isOpen() const { return file_.valid(); }

    // With time stamps on, every record starts with "(date and time) ", by the clock given
    // (the system's when none).
    void setTimestamp(bool on, const Clock* clock) {
        timestamp_ = on;
        clock_ = clock;
    }
    void setMibInfo(std::shared_ptr<const mibinfo::MibInfo> mibInfo) {
        mibInfo_ = std::move(mibInfo);
    }
    // The size in bytes past which the log starts again (0: no limit). A log that is not a
    // regular file (a device) is never rotated.
    void setSizeLimit(uint64_t bytes) { sizeLimit_ = bytes; }
    // Where write failures, and writing working again, are reported; shownName names the log
    // in those lines ("/agent/debug.out").
    void setReport(std::function<void(const char* line)> report, std::string shownName) {
        report_ = std::move(report);
        shownName_ = std::move(shownName);
    }

    // Appends the PDU's record (nothing when the log is closed).
    void dumpPdu(const snmp::Pdu& pdu);
    // Appends raw text (nothing when the log is closed).
    void append(std::string_view text);

  private:
    void write(std::string_view text);
    // debug.out to debug.out.1 and a new debug.out; on failure the current file is emptied,
    // so the limit holds.
    void rotate();
    void writeFailed(int error);
    // One status line of the log's writing: format (kDebugWriteFailedText or
    // kDebugWriteResumedText) with the shown name and, for a failure, the system's reason.
    void report(const char* format, const char* reason = "") const;

    UniqueFd file_;
    std::string path_;
    bool rotatable_ = false;
    uint64_t sizeLimit_ = 0;
    bool failing_ = false;  // the last write failed
    std::function<void(const char* line)> report_;
    std::string shownName_;
    bool timestamp_ = false;
    const Clock* clock_ = nullptr;
    std::shared_ptr<const mibinfo::MibInfo> mibInfo_;
};

// Sends a PDU's record, without time stamp, line by line to report, with the status-list
// labels and the "was:" header formats.
void dumpPduToList(const snmp::Pdu& pdu, const mibinfo::MibInfo* mibInfo,
                   const std::function<void(const char* line)>& report);

// The date and time of a calendar second in 24 characters, as "Sun Dec  6 16:33:41 2026"
// (local time, English names).
std::string timeStampText(int64_t calendarSeconds);

}  // namespace korvimo
