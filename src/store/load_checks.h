// The warnings of loading: what a control file says that loads and is served, but seldom as
// meant. Such a line is served exactly as its text reads (NULL for an unknown syntax word or
// behaviour, 0 for a number that is no number, a wrapped value for a number out of range, an
// empty value for an initial value too long to keep, ...); the check only says so, naming
// the line.
//
//   std::vector<Finding> found;
//   checkSyntaxWord("Counter33", found);
//   checkInstanceRange(range, "rangeinst(0)", found);
//   checkExpression("fixed(abc)", kTagGauge, "Gauge", found);
//   reportFindings(reporter, lineNumber, found);
//   // Invalid value.(line = 7). fixed(abc) is not a number of syntax Gauge: 0 is served
//
// Each check of a value expression is one function in the list of load_checks.cpp; a new
// check is one more function there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/instance_range.h"
#include "store/status_report.h"

namespace korvimo::store {

// One thing a check found: the title and the text of a warning line (kWarningFormat).
struct Finding {
    const char* title = "";
    std::string detail;
};

// Titles of the warnings.
inline constexpr const char* kUnknownSyntaxTitle = "Unknown syntax";
inline constexpr const char* kUnknownBehaviourTitle = "Unknown value behaviour";
inline constexpr const char* kInvalidValueTitle = "Invalid value";
inline constexpr const char* kInvalidArgumentTitle = "Invalid argument";
inline constexpr const char* kRangeInstanceTitle = "Invalid range instance";

// A syntax word that is none of the table's (nor an SMIv2 spelling of one): served as NULL.
void checkSyntaxWord(std::string_view word, std::vector<Finding>& findings);

// The ranges of a name (a low value above the high value stands for the low value only),
// and, when the value expression is rangeinst(k), its component number k (one outside the
// name keeps the expression as it stands, which serves NULL).
void checkInstanceRange(const InstanceRange& range, std::string_view expression,
                        std::vector<Finding>& findings);
// Whether the expression is rangeinst(k) on a name with ranges. component gives k when the
// name has that component (loading then replaces the expression by its values), else 0 (the
// expression is kept as it stands).
bool isRangeInstance(const InstanceRange& range, std::string_view expression,
                     uint32_t& component);

// A value expression for the syntax it serves (syntaxWord as written, for the messages):
// its behaviour is one of the keywords, its value text reads as a value of the syntax, its
// initial value fits where a stored value is kept, its numeric arguments are 32-bit numbers.
// Expressions whose behaviour cannot serve the syntax at all are refused by loading and not
// asked about here. The findings name the expression as subject says, when it is given (an
// expression loading made from what was written), else as it is quoted.
void checkExpression(std::string_view expression, uint8_t syntax, std::string_view syntaxWord,
                     std::vector<Finding>& findings, std::string_view subject = {});

// Reports every finding as a warning of the line, and empties the list.
void reportFindings(Reporter& reporter, long line, std::vector<Finding>& findings);

}  // namespace korvimo::store
