// TrapFile: a trap file (.trp), read once into memory and indexed, so that listing it and
// sending any trap by its position never reads the file again.
//
//   TrapFile file;
//   if (Result r = file.read(installDir + "/agent/default.trp"); !r) report(r.text());
//   for (const std::string& name : file.names()) ...        // the trap list, file order
//   TrapDefinition trap;
//   if (file.definition(2, trap)) {                          // the third "%T" line
//       snmp::VarBindList list;
//       Result r = file.appendBindings(trap.name, mib, list); // its "%V" lines, file order
//   }
//
// Lines. A line ends at a CR (a LF right after it belongs to the same line end) or at a LF
// alone, so files written on any system read alike; a last line without an end is read too.
// A line is read whole, whatever its length. Only the first two characters tell the kind,
// case-sensitively: "%T" a trap definition, "%V" a variable line; every other line (comments
// "#", "##name") is ignored.
//
// Fields. After the tag, leading blanks (spaces, tabs) are dropped. A comma field runs to the
// next comma (consumed) or to the end of the line, and leading blanks of the rest are dropped;
// a field is trimmed at both ends unless said otherwise. A blank field runs to the next space
// or tab or to the end. Taking a field from an empty rest fails.
//
//   "%T" name, enterprise, generic, specific    name, enterprise and generic are comma fields,
//                                                specific a blank field (what follows its first
//                                                blank is ignored); generic and specific read
//                                                their first 9 characters as a signed decimal
//                                                number (leading blanks, sign, digits; none: 0)
//   "%V" trap name, attribute id, type, value   comma fields; the value keeps its trailing
//                                                blanks (only leading ones are dropped), so it
//                                                cannot hold a comma; text after a fourth comma
//                                                is ignored
//
// A trap is its position among the "%T" lines, counted from 0 in file order; names need not
// be unique. A trap's bindings are all "%V" lines of the file whose name field equals its name
// exactly, in file order, wherever they stand. The list of names stops at the first "%T" line
// with nothing after its tag; later traps are not listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"

namespace korvimo::traps {

// A trap file larger than this is refused (a file of 10,000 traps with three bindings each
// takes about 3 MB).
inline constexpr std::size_t kMaxTrapFileBytes = std::size_t{64} << 20;
// %s: the path; then the size limit in MiB.
inline constexpr const char* kTrapFileTooLargeFormat = "Trap file [%s] is larger than %zu MiB.";

// The four fields of a "%T" line.
struct TrapDefinition {
    std::string name;
    std::string enterprise;  // dotted numeric text, as written
    int32_t generic = 0;
    int32_t specific = 0;
};

class TrapFile {
  public:
    TrapFile() = default;
    // The index views the text, so a copy or a move indexes its own text again where the
    // text's buffer did not move with it.
    TrapFile(const TrapFile& other);
    TrapFile& operator=(const TrapFile& other);
    TrapFile(TrapFile&& other) noexcept;
    TrapFile& operator=(TrapFile&& other) noexcept;

    // Reads the file at path whole and indexes it. A path that is not a regular file, cannot
    // be read or is larger than kMaxTrapFileBytes fails with the system's reason (or
    // kTrapFileTooLargeFormat) and leaves what was read before.
    Result read(const std::string& path);
    // The same from text in memory.
    void assign(std::string text);
    void clear();
    bool loaded() const { return loaded_; }

    // The trap list: the names of the "%T" lines in file order, up to the first "%T" line
    // with nothing after its tag.
    const std::vector<std::string>& names() const { return names_; }

    // The fields of the "%T" line at position (of every "%T" line of the file); false when
    // there is no such line or a field cannot be taken.
    bool definition(std::size_t position, TrapDefinition& trap) const;

    // Appends a binding for each "%V" line of name, in file order, made as
    // makeVarBindFromText makes it (descriptors resolved through mib, null meaning none is
    // known). Fails with the binding's text ("AttributeName Unknown", "AttributeType
    // Unknown", "SnmpAddVb() failed"), or with an empty text when a "%V" line of that name
    // has fewer than four fields; list may then hold the bindings made before.
    Result appendBindings(std::string_view name, const mibinfo::MibInfo* mib,
                          snmp::VarBindList& list) const;

  private:
    void index();

    std::string text_;
    bool loaded_ = false;
    std::vector<std::string> names_;
    std::vector<std::string_view> definitions_;  // every "%T" line, after its tag
    // "%V" lines (after the tag) by their name field, each group in file order.
    std::unordered_map<std::string_view, std::vector<std::string_view>> variables_;
};

}  // namespace korvimo::traps
