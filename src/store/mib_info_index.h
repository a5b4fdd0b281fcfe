// What the store reads from mibinfo.out, read once per agent start and held in memory:
// descriptors and their numeric identifiers (object lines), each object's base type and
// size range, and the index clauses of tables ("%ei" lines).
//
//   MibInfoIndex mib;
//   mib.load(ctx.mibInfoFile);
//   std::string numeric;
//   if (mib.mapDescriptor("ifDescr.3", numeric)) ...   // "1.3.6.1.2.1.2.2.1.2.3"
//   std::string_view clause;
//   if (mib.indexClause("1.3.6.1.2.1.2.2.1", clause)) ...  // "\"ifIndex\"", delimiters included
//
// Descriptor mapping keeps the order of a line-by-line search that starts where the previous
// successful search matched and wraps around: when one descriptor stands on several object
// lines, the first at or after the previous match wins. So a control file written in
// identifier order maps as it always did, while every mapping costs one hash lookup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace korvimo::store {

// Messages of a name that cannot be mapped, in this order.
inline constexpr const char* kCannotMapMessage = "Cannot map object descriptor %s.";
inline constexpr const char* kCompileMibMessage =
    "Make sure that the corresponding MIB is compiled.";

// Whether a name as written in a control file is numeric (its first character is a digit)
// and so needs no mapping.
inline bool isNumericName(std::string_view name) {
    return !name.empty() && name.front() >= '0' && name.front() <= '9';
}

class MibInfoIndex {
  public:
    // Reads the object and index lines of the file behind fd with positioned reads (the
    // descriptor's position does not move). False when fd is closed; then every lookup
    // fails.
    bool load(int fd);
    bool loaded() const { return loaded_; }
    void clear();

    // A name whose first character is a digit is returned unchanged; otherwise the
    // descriptor (the text before the first ".") is replaced by its numeric identifier and
    // the rest of the name, from that "." on, is appended. False when the descriptor is on no
    // object line.
    bool mapDescriptor(std::string_view name, std::string& numeric);

    // The descriptor of the first object line whose identifier text equals numeric.
    bool descriptorOf(std::string_view numeric, std::string_view& descriptor) const;

    // Base type (third word) and the "(low,high)" range of the first object line of a
    // descriptor.
    struct ObjectInfo {
        std::string_view type;
        bool hasRange = false;
        int64_t low = 0;
        int64_t high = 0;
    };
    bool objectInfo(std::string_view descriptor, ObjectInfo& info) const;

    // The index clause (delimiters included, blanks trimmed) of the first "%ei" line whose
    // second word equals the entry's numeric identifier.
    bool indexClause(std::string_view entryNumeric, std::string_view& clause) const;

  private:
    struct ObjectLine {
        std::string_view identifier;
        std::string_view descriptor;
        std::string_view type;
        std::string_view rest;
    };

    std::string text_;
    std::vector<ObjectLine> objects_;  // in file order
    // Object positions sorted by descriptor, then position; runs found through runStart_.
    std::vector<uint32_t> byDescriptor_;
    std::unordered_map<std::string_view, uint32_t> runStart_;
    std::unordered_map<std::string_view, uint32_t> byIdentifier_;
    std::unordered_map<std::string_view, std::string_view> indexClauses_;
    uint32_t resume_ = 0;  // object position of the last successful mapping
    bool loaded_ = false;
};

}  // namespace korvimo::store
