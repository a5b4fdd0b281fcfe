// Walk files: the recorded answers of a real agent, as the system's SNMP command-line tools
// print a walk with numeric names (`snmpwalk -On`, `snmpbulkwalk -On`, with or without -Ob
// and -Oe), or as a .snmprec file (`OID|TAG|VALUE`). Reading one gives the bindings an agent
// answered, in file order, each with the line it began on, so that a capture someone sent
// can be turned into a control file as a learning run turns live answers into one.
//
//   WalkContents walk;
//   if (Result read = readWalkFile(path, walk); !read) ...            // cannot be read
//   for (const WalkProblem& p : walk.problems) report(p.line, p.text); // lines skipped
//   for (const WalkRecord& r : walk.records) ... r.binding ...        // in file order
//
// The walk form, one binding a line (a string or hex dump may go on over further lines):
//   .1.3.6.1.2.1.1.1.0 = STRING: "Linux router 5.10"      OctetString (quotes, \" and \\)
//   .1.3.6.1.2.1.1.1.0 = STRING: plain text               OctetString (no quotes: as is)
//   .1.3.6.1.2.1.1.4.0 = ""                               OctetString, empty
//   .1.3.6.1.2.1.2.2.1.6.1 = Hex-STRING: 00 16 3E 00 00 01 OctetString of those bytes
//   .1.3.6.1.2.1.1.2.0 = OID: .1.3.6.1.4.1.8072.3.2.10     ObjectID
//   .1.3.6.1.2.1.1.3.0 = Timeticks: (12345) 0:02:03.45     TimeTicks 12345 (or a bare number)
//   .1.3.6.1.2.1.2.2.1.7.1 = INTEGER: up(1)               Integer 1 (or a bare number)
//   .1.3.6.1.2.1.2.2.1.10.1 = Counter32: 123              Counter (also Counter64, Gauge32,
//                                                          Unsigned32, UInteger32)
//   .1.3.6.1.2.1.4.20.1.1.127.0.0.1 = IpAddress: 127.0.0.1 IpAddress
//   .1.3.6.1.2.1.x = Network Address: 7F:00:00:01          IpAddress
//   .1.3.6.1.2.1.x = BITS: 80 00 sensor(0)                 Bits 0x80 0x00 (the hex bytes)
//   .1.3.6.1.2.1.x = Opaque: 9F 78 04 3F C0 00 00          Opaque of the bytes given as hex
//   .1.3.6.1.2.1.x = Opaque: Float: 1.5                    Opaque 9F 78 04 and the float's
//                                                          bits, big-endian (Double: 9F 79 08
//                                                          and the double's); other Opaque
//                                                          forms are a problem line
//   .1.3.6.1.2.1.x = NULL                                  NULL
//   .1.3.6.1.2.1.x = No Such Object available on this agent at this OID   skipped, no problem
//   .1.3.6.1.2.1.x = No Such Instance currently exists at this OID        skipped, no problem
//   .1.3.6.1.2.1.x = No more variables left in this MIB View (...)        the walk's end mark:
//                                                          skipped, no problem
//   "Wrong Type (should be ...): " before a type is dropped; the type after it counts.
// The name may be written with or without its leading dot. The .snmprec form, one binding a
// line: `1.3.6.1.2.1.1.1.0|4|Linux router` with the decimal BER tag (2 Integer, 4
// OctetString, 5 NULL, 6 ObjectID, 64 IpAddress, 65 Counter, 66 Gauge, 67 TimeTicks, 68
// Opaque, 70 Counter64, 3 Bits); a tag followed by "x" gives the value as hex digits
// (`4x|00163e000001`). The form of a file is told by its first line that is neither blank nor
// a comment ("#"): a "|" before any " = " makes it .snmprec. In both forms a line whose first
// non-blank character is "#" is a comment where a binding could begin; a string's further
// lines belong to the string whatever they begin with.
//
// Rules:
//   - A line that cannot be read (no " = ", an unknown type, a number out of its type's
//     range, a name that is no object identifier, a string whose closing quote never comes)
//     is a WalkProblem with its line number and a one-line reason, and is skipped; reading
//     goes on at the next line. Nothing is dropped without a problem, apart from the three
//     exception lines above, comments and blank lines.
//   - Values are bounded as the agent bounds them: a name of at most 128 sub-identifiers, an
//     octet string of at most 65,535 bytes.
//   - The file is read whole through openRegularFile, at most kMaxWalkFileSize bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "snmp/message.h"

namespace korvimo::create {

inline constexpr std::size_t kMaxWalkFileSize = std::size_t{1} << 30;

enum class WalkFormat { Walk, Snmprec };

struct WalkRecord {
    snmp::VarBind binding;
    std::size_t line = 0;  // where the binding begins, from 1
};

struct WalkProblem {
    std::size_t line = 0;
    std::string text;  // e.g. "unknown type \"Float32\""
};

struct WalkContents {
    WalkFormat format = WalkFormat::Walk;
    std::vector<WalkRecord> records;
    std::vector<WalkProblem> problems;
    std::size_t lines = 0;  // lines read
};

// The bindings of a walk file's text.
WalkContents parseWalk(std::string_view text);

// The bindings of the walk file at path; fails (with the path and the system's reason) when
// the file cannot be read.
Result readWalkFile(const std::string& path, WalkContents& contents);

}  // namespace korvimo::create
