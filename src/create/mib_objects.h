// What the file creators read from mibinfo.out and how they value it: an object line's fields
// as the creators read them, the initial value and the value behaviour a created variable
// gets, the list of compiled MIBs, and the comment block of value formats that heads created
// and learned control files.
//
//   std::string out;
//   for (const mibinfo::Record& record : mib->records()) {
//       if (record.kind != mibinfo::RecordKind::Object) continue;
//       const ObjectRecord object = objectRecord(record);
//       const std::string initial = initialValue(object, object.descriptor);
//       appendVariableLine(out, std::string(object.descriptor) + ".0", object.type,
//                          object.access, valueBehaviour(object, initial));
//   }   // appendVariableLine: variable_file_creation.h
//
// Reading an object line after its base type (the rest of the line, leading blanks dropped):
// the marker is its last character when that is "d", "e", "p" or "r"; its first word, with
// every blank removed, is the access code; the second word the kind code; the third word,
// when present and at least two characters long, the range: the digits after its first
// character up to a "," are the low bound, those after that up to a ")" the high bound
// (signed 32-bit, read as a decimal number), and the range counts as present once the ")"
// is reached.
//
// Access codes "RW", "WO" and "RC" (their first two characters) make an object writable;
// kind "S" is a scalar, any other a column, "C1" the first column of a table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "mibinfo/mib_info.h"

namespace korvimo::create {

struct ObjectRecord {
    std::string_view identifier;
    std::string_view descriptor;
    std::string_view type;    // base type word ("Integer", "OctetString", ...)
    std::string access;       // blanks removed
    std::string_view kind;    // "S", "C1", "C", ...
    bool hasRange = false;
    int32_t low = 0;
    int32_t high = 0;
    char marker = 0;          // 'd', 'e', 'p', 'r', or 0 for none

    bool writable() const;
    bool scalar() const { return kind == "S"; }
    bool firstColumn() const { return kind == "C1"; }
};

// The fields of an object line (RecordKind::Object).
ObjectRecord objectRecord(const mibinfo::Record& line);

// The initial value of a variable of the object's base type, range and marker; descriptor
// fills display strings ("My_<descriptor>_string").
//   Counter, Counter64, Gauge "1000"; TimeTicks "0"; Integer the low bound with a range and
//   no marker "r", else "1"; OctetString without marker: fixed size n (low == high) "0x" and
//   "01" n times (at most 198), else "abc"; marker "d" "My_%s_string", "p" "0x010203040506",
//   other markers "abc" (with a range, "d" and other markers are cut to high-1 characters
//   when longer than high); Opaque "abc"; Bits "0x0102"; ObjectID "1.2.3"; IpAddress and
//   NetworkAddress "1.2.3.4"; NULL empty.
std::string initialValue(const ObjectRecord& object, std::string_view descriptor);

// The value behaviour of a created variable with that initial value.
//   Read-only: Counter, Counter64 "randomup(%s, 100)"; Gauge "random(%s, 100)"; TimeTicks
//   "clock(%s)"; NULL "fixed(NULL)"; every other type "fixed(%s)".
//   Writable: marker "r" "rowstatus(%s)"; a range "r_lastset(%d, %d, %s)"; else "lastset(%s)".
std::string valueBehaviour(const ObjectRecord& object, std::string_view initial);

// The MIB files of <installDir>/mibs/miblist.lst: every line after its first (a heading), with
// leading blanks dropped. Fails with the system's reason when the list cannot be read.
Result readMibList(const std::string& path, std::vector<std::string>& mibs);

// The twelve lines of value formats, each padded to its stored width and CR LF ended, from
// "# Value type formats:" to "#     rowstatus(current_value)".
std::string valueFormatsBlock();

}  // namespace korvimo::create
