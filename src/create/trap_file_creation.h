// TrapFileCreation: the trap file that the compiled MIBs' trap records give, written one
// "%trap" record at a time. Each step takes the next "%trap" record of mibinfo.out, resolves
// its identifier and every "%tvar" of its name against the object lines, and writes the
// trap's comment, definition and variable lines (or the one comment line that says what
// could not be mapped). The lines are those of traps/trap_writer.h.
//
//   TrapFileCreation creation(mib);
//   std::string text = TrapFileCreation::header(&mibs, "1.3.6.1.2.1.11");
//   TrapFileCreation::Step step;
//   while (creation.next(text, step)) {
//       status("Processing " + step.trapName);
//       if (!step.failure.empty()) status(step.failure);
//   }
//
// A trap's variables are every "%tvar" record of its name, in file order, wherever they
// stand: what a scan from the file's first such record to its end finds. They are read from
// MibInfo's index, so a step costs its own trap's records, not a pass over the file.
//
// A trap whose name, or a variable's identifier or initial value, holds a comma would be
// read with its fields split elsewhere: it is written as one comment line
// (kCommaInTrapFormat) with the same text as its status line.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mibinfo/mib_info.h"

namespace korvimo::create {

inline constexpr const char* kCannotMapTrapFormat = "%s: Cannot map %s to object identifiers";
inline constexpr const char* kCannotMapVariableFormat = "%s: Cannot map %s to object identifier";

inline constexpr const char* kCommaInTrapFormat =
    "%s: Cannot write %s: the trap file takes no comma there";

class TrapFileCreation {
  public:
    // What one step did.
    struct Step {
        std::string trapName;
        // The status line of a trap that could not be mapped; empty when it was written.
        std::string failure;
    };

    explicit TrapFileCreation(std::shared_ptr<const mibinfo::MibInfo> mib);

    // The header: the frame line, the MIB list (none when mibs is null), the format lines, the
    // frame line; then, with an enterprise id, the standard traps with that enterprise id.
    static std::string header(const std::vector<std::string>* mibs,
                              std::optional<std::string_view> standardEnterprise);

    // Writes the next "%trap" record's lines to out. False when the run is complete: no
    // further "%trap" record, or one that lacks a field.
    bool next(std::string& out, Step& step);

  private:
    const mibinfo::Record* objectOfNumeric(std::string_view text) const;

    std::shared_ptr<const mibinfo::MibInfo> mib_;
    std::size_t position_ = 0;  // the next record to read
    bool complete_ = false;
};

}  // namespace korvimo::create
