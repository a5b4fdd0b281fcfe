// VariableFileCreation: an agent control file made from mibinfo.out, one variable line for
// every scalar object and a number of rows for every columnar object, each with the initial
// value and value behaviour its syntax, access and range give (mib_objects.h); optionally
// preceded by commented-out dynamic row templates, one per table with a writable column.
//
//   VariableFileCreation creation(mib, {rows, templates}, {append, progress});
//   std::string out;
//   creation.writeHeader(mibs, out);            // mibs: miblist.lst, or null without it
//   while (creation.step(out)) {                 // a template, an object or kRowsPerStep rows
//       if (out.size() > 65536) flush(out);
//   }
//
// The steps and their texts are those of the dialog, which runs them on a timer; the file
// is the same however many steps run at a time. Facts of a table entry (its index clause
// and the instance and description its index objects give) are worked out at the first
// column of the entry and kept, so no step searches mibinfo.out.
//
// Lines the agent would refuse or serve otherwise than they read are written as comments
// ("# " in front), each such object named once on the status list (at most
// kMendLineLimit of them, then a count at the end):
//   - rows of a column whose instance comes out empty (the entry has no index clause, or
//     its first index object has no object line): every row would have the same name;
//   - an object whose descriptor holds a character other than a letter, a digit, "_" or
//     "-" (a comma, "%", a blank, a quote): the control file reader cannot take the line;
//   - an object whose name the agent would map to another object (a descriptor of several
//     object lines), or whose lines would not follow those before them in identifier order;
//   - a name of more than 128 sub-identifiers (a long fixed-size string index); past that
//     the instance is not built, and a column of such a table gets one comment line for
//     its rows;
//   - a value behaviour the store refuses for the syntax, or one whose value text it reads
//     otherwise than written (load_checks.h);
//   - an ObjectID value BER cannot encode (first arc above 2, as the "3.1.2.3" of an
//     ObjectID index that is not the last): a response holding it could not be sent;
//   - the rows of a table whose last index is a string or an address past the row whose
//     last octet is 255: every column's rows from there on, named once for the table.
// When only write-only columns make a table writable, its "%setaction" template names the
// last of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "create/mib_objects.h"
#include "mibinfo/descriptor_mapper.h"
#include "mibinfo/mib_info.h"
#include "traps/trap_writer.h"

namespace korvimo::create {

// The frame line of trap files, which created control files share (a literal, so its data ends
// in a NUL).
inline constexpr const char* kRuleLine = traps::kTrapFileRule.data();
inline constexpr const char* kNoObjectInfoFormat = "No object-type information available on %s";
inline constexpr const char* kCreatingTemplateFormat = "Creating dynamic row template for %s";
// The status lines of the lines written as comments.
inline constexpr const char* kMendNoInstanceFormat =
    "%s has no instance (no index information for its table): its rows are written as "
    "comments.";
inline constexpr const char* kMendDescriptorFormat =
    "%s also names an earlier object (%s): its lines are written as comments.";
inline constexpr const char* kMendUnmappedFormat =
    "The object %s has no descriptor the agent can map: its lines are written as comments.";
inline constexpr const char* kMendCharactersFormat =
    "The object %s has a descriptor the agent cannot read (a character other than a letter, "
    "digit, \"_\" or \"-\"): its lines are written as comments.";
inline constexpr const char* kMendOrderFormat =
    "%s does not follow the lines before it in identifier order: its lines are written as "
    "comments.";
inline constexpr const char* kMendLongNameFormat =
    "%s has names of more than 128 sub-identifiers: its lines are written as comments.";
inline constexpr const char* kMendValueFormat = "%s is written as a comment: %s.";
inline constexpr const char* kMendPastOctetFormat =
    "The rows of %s after row %s are written as comments: their last index octet would pass "
    "255.";
inline constexpr const char* kMendMoreFormat = "%lu more object(s) were written as comments.";
inline constexpr std::size_t kMendLineLimit = 100;
// Rows of a column written in one step at most; a column of more rows goes on at the next
// step, so a step's text stays small however many rows are asked for.
inline constexpr long kRowsPerStep = 1000;
// The most rows a rows text can ask for (nine digits).
inline constexpr long kMaxRows = 999999999;

// The row count of a rows text: the decimal number its first nine characters start with
// (blanks and a sign allowed), 0 when they start with none.
long rowCount(std::string_view text);

class VariableFileCreation {
  public:
    struct Settings {
        long rows = 0;
        bool templates = false;
    };
    struct Reporter {
        std::function<void(std::string_view line)> append;    // a status line
        std::function<void(std::string_view line)> progress;  // replaces the second line
    };

    VariableFileCreation(std::shared_ptr<const mibinfo::MibInfo> mib, Settings settings,
                         Reporter reporter);

    // The header: the rule line; with the list of compiled MIBs (mibs not null) the list,
    // the row count and the value formats, closed by a second rule line.
    void writeHeader(const std::vector<std::string>* mibs, std::string& out) const;

    // One step: a table's template (or the end of the template phase), or one object.
    // False, with nothing written, once every object was written.
    // A column of many rows takes several steps, kRowsPerStep rows each.
    bool step(std::string& out);

    bool templatePhase() const { return templatePhase_; }
    std::size_t mended() const { return mended_; }

  private:
    // One index object of an entry's index clause as the instance is built from it.
    struct IndexPart {
        std::string_view name;
        std::string_view type;
        std::string value;   // its index value ("1.2.3.4" for NetworkAddress)
        int fixedSize = 0;   // OctetString of fixed size
        bool last = false;   // the last name of the clause
    };
    struct EntryFacts {
        bool hasClause = false;
        std::string_view indexText;
        std::vector<std::string_view> names;  // "*" dropped
        std::vector<IndexPart> parts;         // those built, in clause order
        std::string_view missing;             // the index object without an object line
        long lastRow = kMaxRows;  // the last row whose instance is an index value
        bool pastMended = false;  // the rows past lastRow were named on the status list
        bool missingReported = false;  // kNoObjectInfoFormat was appended
        bool tooLong = false;  // a fixed-size string index makes names past 128 arcs
        std::string instance;
        std::string description;
    };

    // A column whose rows are being written, from one step to the next.
    struct ColumnRun {
        const mibinfo::Record* record = nullptr;
        EntryFacts* facts = nullptr;
        std::string_view entryIdentifier;
        ObjectRecord object;
        const IndexPart* own = nullptr;  // the index object the column is, if any
        std::string behaviour;           // of a column that is no index object
        std::string_view prefix;         // the instance up to its last arc
        uint64_t lastArc = 0;            // the last arc of the first row
        bool named = false;              // the instance is not empty
        bool served = true;
        bool valueMended = false;
        long nextRow = 1;
    };

    EntryFacts& entry(std::string_view entryIdentifier);
    void templateStep(std::string& out);
    void objectStep(std::size_t position, std::string& out);
    void writeColumn(const mibinfo::Record& record, const ObjectRecord& object,
                     std::string& out);
    // The next rows of the column in progress, at most kRowsPerStep of them.
    void writeRows(std::string& out);
    // Whether a line of that object and value cannot stand as written; why says what.
    bool refusedValue(const ObjectRecord& object, const std::string& behaviour,
                      std::string& why) const;
    bool nameServed(const mibinfo::Record& record, std::string_view firstInstance,
                    std::string& why);
    void mendLine(const std::string& text);
    std::string behaviourOf(const ObjectRecord& object) const;

    std::shared_ptr<const mibinfo::MibInfo> mib_;
    Settings settings_;
    Reporter reporter_;
    bool templatePhase_ = false;
    std::size_t position_ = 0;
    std::size_t mended_ = 0;
    bool finished_ = false;
    // The store's mapping of the names written so far, and the last name written.
    std::optional<mibinfo::DescriptorMapper> mapper_;
    std::string lastName_;
    std::unordered_map<std::string_view, EntryFacts> entries_;  // elements stay in place
    std::optional<ColumnRun> column_;
};

// Appends one variable line, "%-30s, %-12s, %-3s, %s\r\n".
void appendVariableLine(std::string& out, std::string_view name, std::string_view type,
                        std::string_view access, std::string_view behaviour);

}  // namespace korvimo::create
