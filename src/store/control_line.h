// Lines of the agent control file (and of the attribute file the store writes from it): line
// ends, line kinds, the four fields of an attribute line, the syntax and access words,
// directive words, and the syntax check made over the whole file before it is loaded.
//
//   ControlLines lines(fileBytes);
//   std::string_view line;
//   while (lines.next(line)) {
//       if (!passesSyntaxCheck(line)) report(lines.number());
//       AttributeFields f;
//       if (lineKind(line) == LineKind::Attribute && splitAttributeLine(line, f)) ...
//   }
//
// Readers accept lines ended by CR LF or by LF alone (files edited with Linux editors), and
// a last line without any end; writers always end lines with CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/text.h"
#include "store/attribute_info.h"

namespace korvimo::store {

// A line, its CR LF included, holds at most this many bytes (64 KiB: room for a long
// string captured from a real agent).
inline constexpr std::size_t kMaxControlLine = 65536;
// So the text of a line, without its end, holds at most this many.
inline constexpr std::size_t kMaxControlLineText = kMaxControlLine - 2;

// A line longer than kMaxControlLine.
inline constexpr const char* kLineTooLongMessage =
    "Line too long.(line = %ld). A line holds at most %lu bytes with its CR LF";
// Messages of a name that mibinfo.out cannot map: the name as written and its line, then
// the advice, once for all such names.
inline constexpr const char* kCannotMapMessage = "Cannot map object descriptor %s.(line = %ld)";
inline constexpr const char* kCompileMibMessage =
    "Make sure that the corresponding MIB is compiled.";

// Walks the lines of a text held in memory. A line ends at LF; a CR just before the LF is
// not part of the line. Lines are numbered from 1, empty and comment lines included.
class ControlLines {
  public:
    explicit ControlLines(std::string_view bytes) : bytes_(bytes) {}

    // The next line without its end; false after the last one.
    bool next(std::string_view& line);

    long number() const { return number_; }
    // Offset of the last line returned, from the start of the text.
    std::size_t lineOffset() const { return lineOffset_; }

  private:
    std::string_view bytes_;
    std::size_t position_ = 0;
    std::size_t lineOffset_ = 0;
    long number_ = 0;
};

// What a line is, decided by its first character as it stands (no blanks skipped).
enum class LineKind { Empty, Comment, Directive, Attribute };
LineKind lineKind(std::string_view line);

// The directives the store reads, recognised by their first 5, 5 and 10 characters. Any
// other line beginning with "%" is ignored.
enum class Directive { Other, Row, Column, SetAction };
Directive directiveOf(std::string_view line);

// The syntax check of one line: a line that is neither empty, nor a comment, nor a directive
// (on its trimmed text) must end with ")". Lines that are attribute lines by their first
// character must also hold the three commas that separate the four fields. Lines longer
// than kMaxControlLineText are refused (isOverlong), except comment lines, which are never
// read further.
bool passesSyntaxCheck(std::string_view line);
bool isOverlong(std::string_view line);

// The four fields of an attribute line, split at the first three commas and trimmed; the
// value field keeps every later comma. False when the line has fewer than three commas.
struct AttributeFields {
    std::string_view name;
    std::string_view syntax;
    std::string_view access;
    std::string_view value;
};
bool splitAttributeLine(std::string_view line, AttributeFields& fields);

// The BER tag a syntax word maps to (exact, case-sensitive); any other word gives NULL.
// The SMIv2 spellings Counter32, Gauge32, Unsigned32 and Integer32 name Counter, Gauge,
// Gauge and Integer.
uint8_t syntaxCode(std::string_view word);
// The first word of the table for a syntax code ("Integer", "OctetString", ...); "NULL" for a
// code no word maps to.
std::string_view syntaxWordOf(uint8_t syntax);
// Whether syntaxCode knows the word (rather than reading it as NULL).
bool knownSyntaxWord(std::string_view word);
// The access code of an access word, by its first two characters.
Access accessCode(std::string_view word);

// Splits a directive line: the directive word, then `count` blank-separated words into
// words[0 .. count-1], and the remainder (blanks removed at both ends) into rest. False
// when the line holds fewer than `count` words after the directive word.
bool splitDirective(std::string_view line, int count, std::string_view* words,
                    std::string_view& rest);

}  // namespace korvimo::store
