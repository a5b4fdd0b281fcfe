// AttributeFile: the attribute file `tempfile` that loading writes in the agent directory,
// and the index every lookup searches.
//
// The file holds one line per static attribute, "%-30s, %-12s, %-3s, %s\r\n" (numeric
// identifier, syntax word, access word, value expression), and one marker line per dynamic
// column, "D%-30s, %d\r\n" (the column's identifier and number), all in ascending
// identifier order. The index has an entry for every line: its identifier (in one flat
// array of sub-identifiers), syntax and access codes, ordinal or column number, and where
// its value expression stands in the file, which stays mapped into memory until the store
// is released. An exact lookup is one probe of a hash table over the attribute lines'
// identifiers; any other is a binary search over the entries. No line is read or parsed.
//
//   AttributeFile file;
//   file.create(installDir + "/agent/tempfile");
//   uint32_t at = file.appendIdentifier(ids);                  // into the flat array
//   file.writeAttribute(at, ids.size(), "Integer", "RO", "fixed(1)", 2, 1, 0);
//   file.finish();                                             // flush, map, index ready
//   ptrdiff_t p = file.floor(target);     // last line not greater than target, -1 when none
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvimo::store {

struct IndexEntry {
    uint32_t oidOffset = 0;  // first sub-identifier in the flat array
    uint16_t oidLength = 0;
    uint8_t syntax = 0;       // syntax code (BER tag)
    uint8_t access = 0;       // access code; 0 marks a marker line
    uint32_t textOffset = 0;  // value expression, as an offset into the file
    uint32_t textLength = 0;
    uint32_t number = 0;  // attribute ordinal, or the column number of a marker line

    bool isMarker() const { return access == 0; }
};

// -1, 0 or 1 as a is before, equal to or after b: sub-identifiers compared in turn as
// unsigned numbers, a proper prefix before its extensions.
int compareIdentifiers(std::span<const uint32_t> a, std::span<const uint32_t> b);

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
    // The open descriptor; its owner (the agent run) closes it.
    int descriptor() const { return fd_; }

    // The flat array of sub-identifiers that entries point into.
    std::vector<uint32_t>& subIds() { return subIds_; }
    uint32_t appendIdentifier(std::span<const uint32_t> ids);

    // Appends a line and its entry. False when writing fails or the file would pass 4 GB.
    bool writeAttribute(uint32_t oidOffset, uint32_t oidLength, std::string_view syntaxWord,
                        std::string_view accessWord, std::string_view expression, uint8_t syntax,
                        uint8_t access, uint32_t ordinal);
    bool writeMarker(uint32_t oidOffset, uint32_t oidLength, uint32_t column);
    // Writes what is buffered, maps the file and prepares the successor search.
    bool finish();
    // Unmaps and frees everything; the descriptor stays open for its owner.
    void release();

    std::size_t size() const { return entries_.size(); }
    const IndexEntry& entry(std::size_t position) const { return entries_[position]; }
    std::span<const uint32_t> identifier(std::size_t position) const {
        const IndexEntry& e = entries_[position];
        return {subIds_.data() + e.oidOffset, e.oidLength};
    }
    std::string_view expression(std::size_t position) const;

    // Position of the last line whose identifier is not greater than target; -1 when every
    // line is greater.
    std::ptrdiff_t floor(std::span<const uint32_t> target) const;
    // Position of the attribute line named target.
    bool findAttribute(std::span<const uint32_t> target, std::size_t& position) const;
    // First position at or after `from` that is a marker line or an attribute that GetNext
    // may return (access code 1 or 2); size() when there is none.
    std::size_t nextVisible(std::size_t from) const {
        return from < nextVisible_.size() ? nextVisible_[from] : entries_.size();
    }

  private:
    bool flush();
    bool appendLine();

    static uint32_t hashOf(std::span<const uint32_t> ids);
    bool buildHash();

    int fd_ = -1;
    std::string buffer_;    // lines not yet written
    uint64_t written_ = 0;  // bytes written to the file
    std::vector<uint32_t> subIds_;
    std::vector<IndexEntry> entries_;
    std::vector<uint32_t> nextVisible_;
    // Open addressing over attribute lines: the identifier's hash in the high word, its
    // position + 1 in the low word; 0 marks an empty place.
    std::vector<uint64_t> hash_;
    uint64_t hashMask_ = 0;
    const char* map_ = nullptr;
    std::size_t mapLength_ = 0;
};

}  // namespace korvimo::store
