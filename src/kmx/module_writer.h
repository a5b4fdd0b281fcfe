// Writes what kmx found in one MIB module, in the line format that zorlet reads. This is the
// vocabulary of kmx's output; every line ends in CR LF and is at most 498 characters long
// (zorlet reads 499 characters at a time, newline included; a longer line is left out and
// reported).
//
//   %MODULENAME IF-MIB
//       First line of every module.
//   %tc <type> <base> [(low,high)] [marker]
//       One per type the module defines, and one per imported type that an object of the
//       module uses, so that the module's output maps on its own (zorlet takes the first
//       definition of a name). <base> is a name of zorlet's base-type table (see
//       type_facts.h); the range is the value range of integers or the size range of strings,
//       outermost bounds; the marker is e (enumerated), r (RowStatus), d (display string) or
//       p (PhysAddress, MacAddress).
//   %es <type> <label> <value>
//       One per enumerated value of an enumerated type of a "%tc" line. An enumerated type
//       that the module does not define itself (an inline INTEGER { ... } or an imported
//       convention) is written under a name of the module's own, <module>::<name> (such as
//       IF-MIB::ifAdminStatus or IF-MIB::IANAifType), so that two modules never add
//       enumerations to the same name.
//   %en <numeric identifier> <descriptor>
//       One per named node of the module: scalars, columns, tables, entries, notifications,
//       groups, compliances, module identities and plain nodes; also one for each node of
//       another module that an object line of this module names as its parent.
//   <parent>.<n> <descriptor> <syntax> <access> <kind> [(low,high)] [marker]
//       One object line per leaf object (scalar or column): the identifier relative to the
//       parent's descriptor (ifEntry.1); the syntax name (a base-type table name for SMI base
//       types, else the type's own name or the <module>::<name> above); the access code RO
//       (read-only), RW (read-write), RC (read-create: a read-write column of a table whose
//       rows can be created), NA (not-accessible, accessible-for-notify); libsmi reports
//       SMIv1 write-only as read-write, so WO does not occur; the kind code S (scalar), C1
//       (first column of a table in identifier order) or C (other columns); then the range
//       and marker of the object's own type, as for "%tc".
//   %ei <entry> [<index> <index> *<implied index>]
//       The INDEX clause of a table entry in square brackets, IMPLIED objects prefixed "*".
//   %ea <entry> <augmented entry>
//       An entry with AUGMENTS; a chain of augmentations is followed to the entry that has
//       the INDEX clause.
//   %trap <name> <identifier> <kind> <specific>
//       An SNMPv2 NOTIFICATION-TYPE: full numeric identifier, kind 7, specific = its last
//       sub-identifier. An SNMPv1 TRAP-TYPE: the enterprise identifier, kind 6 and the
//       specific number; a TRAP-TYPE of the enterprise snmp (1.3.6.1.2.1.11) numbered 0 to
//       5 is a generic trap and gets kind = its number, specific 0.
//   %tvar <trap name> <descriptor>
//       One per object of the trap's VARIABLES or OBJECTS clause, right after its "%trap".
//
//   ModuleWriter writer(smiGetModule("IF-MIB"));
//   std::string text;
//   std::vector<std::string> problems;
//   writer.write(text, problems);
#pragma once

#include "kmx/smi_api.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace korvimo::kmx {

// The longest line text (without CR LF) that zorlet reads as one line.
constexpr std::size_t kMaxLineLength = 498;

class ModuleWriter {
  public:
    explicit ModuleWriter(SmiModule* module);

    // Appends the module's lines to text; problems gets a message per line left out.
    void write(std::string& text, std::vector<std::string>& problems);

  private:
    void line(const std::string& content);
    void writeTypes();
    void writeTypeDefinition(const std::string& name, SmiType* type);
    void writeNames();
    void writeObjects();
    void writeIndexes();
    void writeTraps();
    // The syntax name of an object's type; writes its "%tc" and "%es" lines when needed.
    std::string syntaxName(SmiNode* node, SmiType* type);
    std::string parentReference(SmiNode* node);

    SmiModule* module_;
    std::string moduleName_;
    std::string* text_ = nullptr;
    std::vector<std::string>* problems_ = nullptr;
    std::vector<SmiNode*> nodes_;
    std::set<std::string> typesWritten_;
    std::vector<std::string> objectLines_;
    std::set<std::string> foreignNames_;
    std::vector<std::string> foreignNameLines_;
};

}  // namespace korvimo::kmx
