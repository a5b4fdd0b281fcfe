// The variable line of one answer of a teacher agent: what a learning run writes for each
// binding its walk receives, and what an import of a walk file writes for each recorded
// binding, so that both give the same control file for the same answers.
//
//   OverrideTable overrides;
//   if (Result loaded = overrides.load(bin + "/learn.def"); !loaded) ...  // report, go on
//   LearnedVariable v = learnedVariable(binding, mib.get(), &overrides, Replay::Moving);
//   appendLearnedLine(v, text);   // "sysUpTime.0                   , TimeTicks   , RO ,
//   clock(500)"
//
// The rules, in order:
//   - Name: the object line of mibinfo.out the binding's name belongs to (its identifier is
//     the name, or a leading part of it followed by ".") gives its descriptor followed by
//     the rest of the name (sysDescr.0); without one, the name in dotted decimal.
//   - Access: the object line's access code as the variable-file creation reads it; "RO"
//     when there is no object line or it has none.
//   - Type name and value text: as the debug log renders the binding (valueToText), except
//     TimeTicks, whose value text is the tick count in unsigned decimal.
//   - Behaviour, the first rule that applies:
//       an override of learn.def matches the name (below): its template, with the value
//       text in place of "%s" when it holds one;
//       Replay::Static: "fixed(%s)" for read-only access, "lastset(%s)" for writable
//       (RW, WO, RC) — every value served exactly as recorded;
//       read-only: Counter and Counter64 "randomup(%s, 100)", Gauge "random(%s, 100)",
//       TimeTicks "clock(%s)", Integer, OctetString, Opaque, Bits, ObjectID, IpAddress
//       "fixed(%s)", NULL "fixed(NULL)", any other type "fixed(%s)";
//       writable: marker "r" (row status) "rowstatus(%s)", with a range
//       "r_lastset(LOW, HIGH, %s)", else "lastset(%s)".
//
// learn.def: one override a line, lines trimmed of blanks, empty lines and "#" lines skipped,
// LF or CR LF line ends (a last line without one counts). The first word is a name prefix
// (kept to kOverridePrefixCapacity characters), the rest of the line, trimmed, the behaviour
// template (kept to kOverrideTemplateCapacity). A prefix matches a name that begins with it
// when the name ends there or goes on with "."; the longest matching prefix wins, the first
// in the file among equal lengths: with "sysDescr fixed(%s)" and "sysDescr.0 lastset(%s)",
// sysDescr.0 takes lastset; "sys" matches neither sysDescr.0 nor sysName.0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"

namespace korvimo::create {

inline constexpr const char* kOverrideFileName = "learn.def";  // in the bin directory
inline constexpr std::size_t kOverridePrefixCapacity = 99;
inline constexpr std::size_t kOverrideTemplateCapacity = 254;
// The largest learn.def read; a bigger file is no override list.
inline constexpr std::size_t kMaxOverrideFileSize = 16 * 1024 * 1024;

enum class Replay {
    Moving,  // behaviours chosen by type and access (counters grow, clocks run)
    Static,  // every value as recorded: fixed, lastset for writable objects
};

class OverrideTable {
  public:
    // Replaces the table with the overrides of the text.
    void parse(std::string_view text);
    // Replaces the table with the file's overrides; fails (the table then empty) when the
    // file cannot be read.
    Result load(const std::string& path);

    bool empty() const { return overrides_.empty(); }
    std::size_t size() const { return overrides_.size(); }
    // The behaviour for a variable name and value text; none when no prefix matches.
    std::optional<std::string> behaviour(std::string_view name, std::string_view value) const;

  private:
    struct Override {
        std::string prefix;
        std::string behaviourTemplate;
    };
    std::vector<Override> overrides_;
};

struct LearnedVariable {
    std::string name;
    std::string type;    // "Integer", "OctetString", ... as valueToText names it
    std::string access;  // "RO", "RW", "WO", "RC"
    std::string behaviour;
};

// The variable of one answer. mib and overrides may be null (no mibinfo.out, no learn.def).
// With lookupPosition, the object line is searched for from that record position on (and
// then from the file's start), and a hit becomes the new position: a walk in identifier
// order then finds each object at once, and of duplicate object lines the one after the last
// hit.
LearnedVariable learnedVariable(const snmp::VarBind& binding, const mibinfo::MibInfo* mib,
                                const OverrideTable* overrides, Replay replay,
                                uint32_t* lookupPosition = nullptr);

// Appends the variable line, "%-30s, %-12s, %-3s, %s\r\n", as the variable-file creation
// writes its lines.
void appendLearnedLine(const LearnedVariable& variable, std::string& out);

}  // namespace korvimo::create
