// Turns symbolic identifier texts (ifEntry.1, mib-2.2) into numeric ones through the name
// lines of the compiler output.
//
// A text that starts with a digit is numeric already. Otherwise the descriptor before the
// first dot is looked up: "snmpTraps" and "sysUpTime" have fixed identifiers, every other
// descriptor takes the first field of the first name line ("%en" at the start) whose second
// field equals it, itself resolved the same way; the part of the text from its first dot on
// is appended. A name line with fewer than two fields hides every later one. A descriptor
// that is defined nowhere, or through a chain that leads back to itself, gives the message
// kCannotMapDescriptor naming it.
//
// Results are remembered, so a descriptor costs one hash lookup after its first resolution
// however long its chain of definitions is.
//
//   DescriptorResolver resolver(input);
//   std::string numeric;
//   if (resolver.resolve("ifEntry.1", numeric, report)) ...   // "1.3.6.1.2.1.2.2.1.1"
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "zorlet/compiler_output.h"
#include "zorlet/run_report.h"

namespace korvimo::zorlet {

// printf format; %s is the descriptor.
inline constexpr const char kCannotMapDescriptor[] =
    "zorlet: ERROR: Cannot map object descriptor = %s.\nInclude its object identifier.\n";

class DescriptorResolver {
  public:
    explicit DescriptorResolver(const CompilerOutput& input);

    // Resolves text to its numeric identifier. On failure the message is reported and false
    // is returned.
    bool resolve(std::string_view text, std::string& numeric, RunReport& report);

  private:
    // Resolves one descriptor; on failure failing names the descriptor for the message.
    bool resolveDescriptor(std::string_view descriptor, std::string& numeric,
                           std::string_view& failing);

    // Descriptor -> first field of its defining name line.
    std::unordered_map<std::string_view, std::string_view> definitions_;
    std::unordered_map<std::string_view, std::string> resolved_;
};

}  // namespace korvimo::zorlet
