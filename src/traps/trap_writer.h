// The lines of a trap file as Korvimo writes them (CR LF ended, fixed printf layouts whose
// widths are minimum widths), read back by TrapFile as they were meant. Trap file creation
// from compiled MIBs writes its files with these, and the demo home's default.trp is made by
// them.
//
//   std::string file = trapFileHeader({"RFC1213-MIB", "IF-MIB"});
//   file += standardTrapsBlock("1.3.6.1.4.1.32473");
//   file += trapComment("myTrap");
//   file += definitionLine("myTrap", "1.3.6.1.4.1.32473", "6", "1");
//   file += variableLine("myTrap", "1.3.6.1.2.1.2.2.1.1.1", "Integer", "1");
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace korvimo::traps {

// The frame line: 52 "#" and CR LF.
inline constexpr std::string_view kTrapFileRule =
    "####################################################\r\n";
// The enterprise id of the standard traps when none is given.
inline constexpr std::string_view kDefaultStandardEnterprise = "1.3.6.1.2.1.11";

// The frame line, "# List of MIBs used to create traps:", one "#                     %s" line
// per MIB (leading blanks of each dropped), the three lines of the format, the frame line.
std::string trapFileHeader(std::span<const std::string> mibs);

// The six standard traps (coldStart ... egpNeighborLoss) with their comment lines and
// bindings, enterprise in 20 columns, framed by frame lines.
std::string standardTrapsBlock(std::string_view enterprise);

// "##" and the trap name.
std::string trapComment(std::string_view name);
// "%T  %-22s, %-20s, %s, %s".
std::string definitionLine(std::string_view name, std::string_view enterprise,
                           std::string_view generic, std::string_view specific);
// "%V  %-22s, %-20s, %-10s, %-10s".
std::string variableLine(std::string_view trapName, std::string_view identifier,
                         std::string_view type, std::string_view value);
// "# %s: Cannot map %s to object identifiers" (the trap's own identifier) and
// "# %s: Cannot map %s to object identifier" (one of its variables).
std::string unmappedTrapLine(std::string_view trapName, std::string_view identifier);
std::string unmappedVariableLine(std::string_view trapName, std::string_view variable);

}  // namespace korvimo::traps
