// MibInfo: mibinfo.out, the file through which the simulator knows the compiled MIBs, read
// once and indexed once. It holds the file's text and every line as a record in file order,
// with views of the fields the readers use; it never changes after it is built, so one
// MibInfo is shared by every agent and tool of the process (see MibInfoLibrary) and read
// from any thread.
//
//   std::shared_ptr<const MibInfo> mib = MibInfo::load(home + "/mibs/mibinfo.out", &why);
//   if (!mib) report(why.text());
//   const Record* object = mib->firstObjectWithDescriptor("sysDescr");  // "1.3.6.1.2.1.1.1"
//   std::string name;
//   mib->nameOf("1.3.6.1.2.1.1.1.0", name);                            // "sysDescr.0"
//   for (const Record& r : mib->records()) if (r.kind == RecordKind::Trap) ...
//
// Every lookup gives what a line-by-line search of the file from its start gives: the first
// matching line in file order. Lines are those of Lines (CR LF or LF ends, 1,500 characters
// kept) and words are split at spaces and tabs, as every reader has always split them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"

namespace korvimo::mibinfo {

// What a line of mibinfo.out is. Object lines are all lines but comments ("-" first),
// "%" lines and blank lines; a "%" line is told by its first word.
enum class RecordKind : uint8_t {
    Object,        // identifier, descriptor, base type, rest
    Enumeration,   // "%ev": descriptor, rest (label and value)
    Name,          // "%en": identifier, descriptor
    Index,         // "%ei": identifier (of the entry), rest (the index clause)
    Trap,          // "%trap": descriptor (the trap's name), identifier, rest (kind, specific)
    TrapVariable,  // "%tvar": descriptor (the trap's name), identifier (of the variable), rest
    Directive,     // any other "%" line: rest (the text after the tag)
    Comment,
    Blank,
};

// One line with its fields. Fields a line lacks are empty; rest has no blanks at its ends.
// An object line without a descriptor is a record like any other but is found by no lookup,
// as no reader has ever matched such a line.
struct Record {
    RecordKind kind = RecordKind::Blank;
    uint32_t offset = 0;    // where the line starts in the file
    std::string_view line;  // without its end, as Lines gives it
    std::string_view identifier;
    std::string_view descriptor;
    std::string_view type;
    std::string_view rest;
};

// The base type of an object and the "(low,high)" range of the rest of its line.
struct ObjectInfo {
    std::string_view type;
    bool hasRange = false;
    int64_t low = 0;
    int64_t high = 0;
};

class MibInfo {
  public:
    // The file at path; null (with why) when it cannot be opened or read.
    static std::shared_ptr<const MibInfo> load(const std::string& path, Result* why = nullptr);
    // The file open in fd, read with positioned reads so the descriptor's offset stays;
    // null (with why) when fd is closed or cannot be read.
    static std::shared_ptr<const MibInfo> read(int fd, Result* why = nullptr);
    // Text of 4 GiB or more is taken as empty, as such a file would fail to read.
    static std::shared_ptr<const MibInfo> fromText(std::string text);
    // A MibInfo without lines: what the readers know while mibinfo.out is missing.
    static const MibInfo& empty();

    MibInfo(const MibInfo&) = delete;
    MibInfo& operator=(const MibInfo&) = delete;

    std::string_view text() const { return text_; }
    // Every line, in file order; positions below index this.
    std::span<const Record> records() const { return records_; }
    // Object lines, those with a descriptor or without.
    std::size_t objectCount() const { return objectCount_; }

    // The first object line whose descriptor is exactly this one (case-sensitive), or null.
    const Record* firstObjectWithDescriptor(std::string_view descriptor) const;
    // Positions of every object line of the descriptor, in file order.
    std::span<const uint32_t> objectsWithDescriptor(std::string_view descriptor) const;
    // The first object line whose identifier text equals identifier, or null.
    const Record* firstObjectWithIdentifier(std::string_view identifier) const;

    // The descriptor of the first object line whose identifier text equals identifier.
    bool descriptorOf(std::string_view identifier, std::string_view& descriptor) const;
    // Numeric text in descriptor form: of the object lines whose identifier is the text
    // itself or a leading part of it followed by ".", the first in file order gives its
    // descriptor, followed by the rest of the text. False, with out a copy of the text, when
    // there is none.
    bool nameOf(std::string_view numericText, std::string& out) const;
    // The object line nameOf takes its descriptor from, or null; identifierLength receives
    // the length of the text's leading part that is the line's identifier. With `from`, the
    // search starts at that record position, runs to the end of the file and then on from
    // its start, as a lookup that resumes where its last hit was.
    const Record* objectOf(std::string_view numericText, std::size_t& identifierLength,
                           uint32_t from = 0) const;
    // The record position of a record of this file.
    uint32_t positionOf(const Record& record) const {
        return static_cast<uint32_t>(&record - records_.data());
    }
    // Base type and range of the first object line of the descriptor.
    bool objectInfo(std::string_view descriptor, ObjectInfo& info) const;
    // The index clause (delimiters included, blanks trimmed) of the first "%ei" line of the
    // entry's numeric identifier.
    bool indexClause(std::string_view entryIdentifier, std::string_view& clause) const;

    // The first "%trap" line of the trap, or null; and the positions of every "%tvar" line
    // of that trap name, in file order.
    const Record* trap(std::string_view name) const;
    std::span<const uint32_t> trapVariables(std::string_view name) const;

  private:
    // Record positions grouped by a key, each group in file order.
    class Groups {
      public:
        void build(const std::vector<std::pair<std::string_view, uint32_t>>& members);
        std::span<const uint32_t> find(std::string_view key) const;

      private:
        struct Span {
            uint32_t start;
            uint32_t count;
        };
        std::unordered_map<std::string_view, Span> spans_;
        std::vector<uint32_t> positions_;
    };

    MibInfo() = default;
    static std::shared_ptr<const MibInfo> build(std::string text);
    void index();

    std::string text_;
    std::vector<Record> records_;
    std::size_t objectCount_ = 0;
    Groups byDescriptor_;                                     // object lines
    Groups trapVariables_;                                    // "%tvar" lines
    Groups byIdentifier_;                                     // object lines
    std::unordered_map<std::string_view, uint32_t> indexes_;  // first "%ei" line
    std::unordered_map<std::string_view, uint32_t> traps_;    // first "%trap" line
};

}  // namespace korvimo::mibinfo
