// AttributeFile: the attribute file `tempfile` that loading writes in the agent directory,
// and the index every lookup searches.
//
// The file holds one line per static attribute, "%-30s, %-12s, %-3s, %s\r\n" (numeric
// identifier, syntax word, access word, value expression), and one marker line per dynamic
// column, "D%-30s, %d\r\n" (the column's identifier and number), all in ascending
// identifier order. The index keeps a record per line (syntax and access codes, ordinal or
// column number, the line's position among the lines, the identifier and the value
// expression, side by side, so that a lookup reads one or two cache lines), the records'
// order, and a hash table over the attribute lines' identifiers. An exact lookup is one
// hash probe; any other a binary search; no line of the file is read back or parsed.
// Records live in blocks that never move, so a record stays where it is while more are
// added and no block is copied as the index grows.
//
// Loading first collects the attribute lines with where they came from, sorts them when
// the control file was out of order, then writes them (and the marker lines) in order:
//
//   AttributeFile file;
//   file.create(installDir + "/agent/tempfile");
//   file.collect(ids, "fixed(1)", 2, 1, sourceOffset);   // for every attribute
//   file.sortCollected(); file.dropRepeats();
//   for (std::size_t i = 0; i < file.collectedCount(); ++i)
//       file.writeAttribute(file.collected(i), "Integer", "RO", i);
//   file.writeMarker(columnIds, 0);
//   file.finish();                                       // flush, index ready
//   std::ptrdiff_t p = file.floor(target);  // last line not greater than target, -1 if none
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"
#include "store/attribute_info.h"

namespace korvimo::store {

// What the index knows of one line.
struct IndexEntry {
    uint8_t syntax = 0;  // syntax code (BER tag)
    Access access = Access::Marker;
    uint32_t number = 0;  // attribute ordinal, or the column number of a marker line
    std::string_view expression;

    bool isMarker() const { return access == Access::Marker; }
};

// A collected attribute line: its record, and the control-file line it comes from (whose
// syntax and access words the attribute file repeats).
struct CollectedLine {
    uint32_t record = 0;
    uint32_t sourceOffset = 0;
};

// -1, 0 or 1 as a is before, equal to or after b: sub-identifiers compared in turn as
// unsigned numbers, a proper prefix before its extensions.
int compareIdentifiers(std::span<const uint32_t> a, std::span<const uint32_t> b);

// A hash of an identifier's sub-identifiers (held as uint32_t or, in instance keys, as
// char32_t), for the hashed lookups of the attribute file and the instance tables.
template <typename Id>
uint32_t hashIdentifiers(std::span<const Id> ids) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ ids.size();
    for (Id id : ids) {
        h = (h ^ static_cast<uint32_t>(id)) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    return static_cast<uint32_t>(h);
}

// Appends the dotted decimal text of an identifier ("1.3.6.1"), as the attribute file writes
// it.
void appendIdentifierText(std::string& out, std::span<const uint32_t> ids);
// Reads canonical dotted decimal identifier text (as identifierText writes it: no leading
// zeros, no empty component, 2 to kMaxNameComponents sub-identifiers of 32 bits) into ids,
// reusing their room. False for any other text.
bool readIdentifierText(std::string_view text, std::vector<uint32_t>& ids);
inline std::string identifierText(std::span<const uint32_t> ids) {
    std::string text;
    appendIdentifierText(text, ids);
    return text;
}

class AttributeFile {
  public:
    AttributeFile() = default;
    AttributeFile(const AttributeFile&) = delete;
    AttributeFile& operator=(const AttributeFile&) = delete;
    ~AttributeFile() { release(); }

    // Creates the file empty at path. The file is always a new one, so that a process still
    // serving from an earlier attribute file at the same path keeps its own. False when it
    // cannot be created; the descriptor is then -1.
    bool create(const std::string& path);
    // The open descriptor; it closes at release().
    int descriptor() const { return fd_.get(); }

    // Collecting attribute lines. May throw std::bad_alloc.
    void collect(std::span<const uint32_t> ids, std::string_view expression, uint8_t syntax,
                 Access access, uint32_t sourceOffset);
    std::size_t collectedCount() const { return collected_.size(); }
    const CollectedLine& collected(std::size_t i) const { return collected_[i]; }
    std::span<const uint32_t> collectedIdentifier(std::size_t i) const {
        return idsOf(collected_[i].record);
    }
    // Whether the lines were collected in ascending order (equal identifiers allowed).
    bool collectedAscending() const { return ascending_; }
    // A stable sort by identifier.
    void sortCollected();
    // Drops every line whose identifier equals the one before it; gives how many.
    std::size_t dropRepeats();

    // The expression a collected line will be written with.
    std::string_view collectedExpression(std::size_t i) const {
        return expressionOf(collected_[i].record);
    }
    // Its syntax, access and expression (its ordinal is not known before it is written).
    IndexEntry collectedEntry(std::size_t i) const { return entryOf(collected_[i].record); }

    // Writes a collected line (in order) and completes its record. False when writing fails
    // or the file would pass 4 GB.
    bool writeAttribute(const CollectedLine& line, std::string_view syntaxWord,
                        std::string_view accessWord, uint32_t ordinal);
    // May throw std::bad_alloc.
    bool writeMarker(std::span<const uint32_t> ids, uint32_t column);
    // Writes what is buffered and prepares the searches.
    bool finish();
    // Frees everything; the descriptor stays open for its owner.
    void release();

    std::size_t size() const { return lines_.size(); }
    IndexEntry entry(std::size_t position) const;
    std::span<const uint32_t> identifier(std::size_t position) const {
        return idsOf(lines_[position]);
    }

    // Position of the last line whose identifier is not greater than target; -1 when every
    // line is greater.
    std::ptrdiff_t floor(std::span<const uint32_t> target) const;
    // Position of the attribute line named target.
    bool findAttribute(std::span<const uint32_t> target, std::size_t& position) const;
    // The same, giving the line's entry as well (from the record the probe reads anyway).
    bool findAttribute(std::span<const uint32_t> target, std::size_t& position,
                       IndexEntry& found) const;
    // First position at or after `from` that is a marker line or an attribute that GetNext
    // may return (readable access); size() when there is none.
    std::size_t nextVisible(std::size_t from) const {
        if (from >= lines_.size()) {
            return lines_.size();
        }
        // Most lines are visible: the record read here is the one the caller reads next.
        const auto access = static_cast<Access>((at(lines_[from])[kCodes] >> 8) & 0xFFu);
        return access == Access::Marker || isReadable(access) ? from : nextVisible_[from];
    }

  private:
    // A record, in 32-bit words: the header, the identifier, then the expression's bytes.
    enum Word : uint32_t { kNumber, kLengths, kCodes, kPosition, kHeaderWords };
    // Records are kept in blocks of this many words; a record never spans two.
    static constexpr uint32_t kBlockShift = 18;
    static constexpr uint32_t kBlockWords = 1u << kBlockShift;

    const uint32_t* at(uint32_t record) const {
        return blocks_[record >> kBlockShift].get() + (record & (kBlockWords - 1));
    }
    uint32_t* at(uint32_t record) {
        return blocks_[record >> kBlockShift].get() + (record & (kBlockWords - 1));
    }
    std::span<const uint32_t> idsOf(uint32_t record) const {
        const uint32_t* r = at(record);
        return {r + kHeaderWords, r[kLengths] >> 16};
    }
    std::string_view expressionOf(uint32_t record) const {
        const uint32_t* r = at(record);
        return {reinterpret_cast<const char*>(r + kHeaderWords + (r[kLengths] >> 16)),
                r[kLengths] & 0xFFFFu};
    }
    IndexEntry entryOf(uint32_t record) const;
    uint32_t addRecord(std::span<const uint32_t> ids, std::string_view expression);
    bool flush();
    bool appendLine();
    bool buildHash();

    UniqueFd fd_;
    std::string buffer_;    // lines not yet written
    uint64_t written_ = 0;  // bytes written to the file
    std::vector<std::unique_ptr<uint32_t[]>> blocks_;
    uint32_t blockUsed_ = kBlockWords;  // words used in the last block
    std::vector<CollectedLine> collected_;
    bool ascending_ = true;
    std::vector<uint32_t> lines_;  // records in file order
    std::vector<uint32_t> nextVisible_;
    // Open addressing over attribute lines: the identifier's hash in the high word, its
    // record in the low word; 0 marks an empty place (no record starts at word 0).
    std::vector<uint64_t> hash_;
    uint64_t hashMask_ = 0;
};

}  // namespace korvimo::store
