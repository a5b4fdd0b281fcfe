// Builds mibinfo.out from the MIB compiler's output: the object section (objects in ascending
// identifier order with their base types and enumerations), the name section (every named
// node in ascending order) and the directive section (index, augmentation and trap lines
// with numeric identifiers, other directives passed through), in that order.
//
// Failures end only their part: one object identifier that cannot be resolved leaves the
// object section empty; a syntax that cannot be mapped, or an object line without descriptor
// or syntax, cuts the section off just before that object; the name section behaves alike;
// a directive that fails is lost alone. Sorting is O(n log n) and every lookup is indexed.
//
//   CompilerOutput input(bytes);
//   MibInfoBuilder builder(input);
//   builder.build(out, report);     // out: a CrLfWriter on mibinfo.out
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "zorlet/compiler_output.h"
#include "zorlet/crlf_writer.h"
#include "zorlet/descriptor_resolver.h"
#include "zorlet/run_report.h"
#include "zorlet/syntax_mapper.h"

namespace korvimo::zorlet {

// printf format; %s is the augmented entry as written.
inline constexpr const char kCannotFindIndex[] =
    "zorlet: ERROR: Cannot find index information about %s\n. Please include definition.\n";

class MibInfoBuilder {
  public:
    explicit MibInfoBuilder(const CompilerOutput& input);

    void build(CrLfWriter& out, RunReport& report);

    void writeObjectSection(CrLfWriter& out, RunReport& report);
    void writeNameSection(CrLfWriter& out, RunReport& report);
    void writeDirectiveSection(CrLfWriter& out, RunReport& report);

  private:
    struct Entry {
        std::string identifier;
        // The text after the identifier: descriptor, then syntax and the rest for objects.
        std::string_view remainder;
    };

    // The entries of the lines of one kind, each line taken from its skip-th character on,
    // with their identifiers resolved in input order (false, after the resolver's message,
    // when one fails), and in order the indexes of those to write: ascending identifiers,
    // of equal identifiers the first in input order, and none at or below "0.0". That is
    // what passes that each select the smallest identifier above the last written one pick.
    bool selectEntries(LineKind kind, std::size_t skip, std::vector<Entry>& entries,
                       std::vector<std::size_t>& order, RunReport& report);
    void writeEnumerations(CrLfWriter& out, std::string_view descriptor, std::string_view source);

    void handleIndex(std::string_view fields, CrLfWriter& out, RunReport& report);
    void handleAugments(std::string_view fields, CrLfWriter& out, RunReport& report);
    void handleTrap(std::string_view fields, CrLfWriter& out, RunReport& report);
    enum class IndexLookup { Found, Missing, Broken };
    // The index clause of the first "%ei" line whose entry has the given identifier; Broken
    // when a "%ei" entry before it cannot be resolved (its message is reported).
    IndexLookup findIndexClause(const std::vector<std::uint32_t>& entry, std::string_view& clause,
                                RunReport& report);
    void writeIndexLine(CrLfWriter& out, std::string_view identifier, std::string_view clause);

    const CompilerOutput& input_;
    DescriptorResolver resolver_;
    SyntaxMapper mapper_;

    // "%ei" lines in input order (entry text, clause), resolved lazily up to indexResolved_.
    std::vector<std::pair<std::string_view, std::string_view>> indexLines_;
    std::size_t indexResolved_ = 0;
    std::map<std::vector<std::uint32_t>, std::string_view> indexByEntry_;
};

}  // namespace korvimo::zorlet
