// Value expressions of the control file: recognising the behaviour a value expression names,
// reading its numeric arguments and its value text, and reading value text as octets, a
// dotted quad or a 64-bit counter.
//
//   Behaviour b = recogniseForValue("randomup(0, 100)");      // Behaviour::Randomup
//   ExpressionArguments a = readArguments("seqinc(0, 5, 12)");  // 0, 5, 12
//   std::string_view v = valueText("fixed(a, (b))");          // "a, (b)"
//
// Recognition compares the beginning of the expression with each keyword. Slot set-up and
// value making compare in two different orders and lengths (value making recognises
// seqtimeinc by its first five characters only); both orders are kept, so an expression
// means what it always meant to either side.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace korvimo::store {

enum class Behaviour : uint8_t {
    None,  // no keyword matched: no state, no value of its own
    Fixed,
    Dfixed,
    Lastset,
    RLastset,
    Randomup,
    Random,
    Clock,
    Sequential,
    Seqinc,
    Seqtimeinc,
    Rowstatus,
    Rate,   // rate(START, PER_SECOND[, JITTER_PERCENT]): grows with the time since the start
    Low32,  // low32(NAME): the low 32 bits of another attribute's value
};

// Order of slot set-up: fixed, r_lastset, lastset, dfixed, randomup, random, clock,
// sequential, seqinc, seqtimeinc (10 characters), rowstatus, then rate( and low32( (with
// their parenthesis, so that no older expression changes its meaning).
Behaviour recogniseForSetUp(std::string_view expression);
// Order of value making: fixed, dfixed, lastset, r_lastset, randomup, random, clock,
// sequential, seqinc, seqtimeinc (5 characters), rowstatus, rate(, low32(.
Behaviour recogniseForValue(std::string_view expression);

// Expressions that loading fills for each identifier a line stands for, with the
// identifier's last component: format(TEXT) becomes fixed(TEXT as printf makes it), and the
// name of low32(NAME) is mapped to numeric text with its conversion filled.
inline constexpr std::string_view kFormatKeyword = "format(";
inline constexpr std::string_view kLow32Keyword = "low32(";

// TEXT of format(TEXT) (or the NAME of low32(NAME)) with its one conversion ("%d", "%u",
// "%x", "%X", "%o", "%i", with flags "-+ 0" and, for %x, %X and %o, "#", a width and a
// precision of up to two digits
// each) filled with value, and "%%" written as "%". Text without a conversion is kept as it
// stands. False with why for any other conversion, or more than one.
bool formatInstance(std::string_view text, uint32_t value, std::string& out, const char*& why);

// The arguments of rate(START, PER_SECOND[, JITTER_PERCENT]): START an unsigned 64-bit
// number; PER_SECOND a decimal number with up to three decimals (thousandths kept, more
// dropped), at most kMaxRatePerSecond; JITTER_PERCENT a whole number, at most 100.
inline constexpr uint64_t kMaxRatePerSecond = 1000000000000000ull;  // 10^15
struct RateArguments {
    uint64_t start = 0;
    uint64_t perThousandSeconds = 0;  // PER_SECOND × 1000
    uint32_t jitterPercent = 0;
};
RateArguments readRateArguments(std::string_view expression);
// Whether a text is a PER_SECOND readRateArguments takes as written (digits, one optional
// point and up to three decimals, within kMaxRatePerSecond).
bool isRateText(std::string_view text);

// A numeric behaviour on a syntax that cannot carry a number.
inline constexpr const char* kBehaviourSyntaxMessage =
    "Invalid value behaviour.(line = %ld). %s cannot serve syntax %s";

// Behaviours whose value is a number kept in the slot (random walks, counters, the clock,
// the sequences and RowStatus).
bool isNumericBehaviour(Behaviour behaviour);
// Behaviours that keep the value last stored, in a buffer where the syntax needs one:
// dfixed, lastset and r_lastset.
bool isStoredBehaviour(Behaviour behaviour);
// Syntaxes whose value is a 32-bit number: Integer, Counter, Gauge, TimeTicks.
bool isNumberSyntax(uint8_t syntax);
// Whether a behaviour can serve a syntax: numeric behaviours serve the number syntaxes and
// NULL, randomup also Counter64; rate serves Counter, Gauge and Counter64; low32 the number
// syntaxes; every other behaviour serves any syntax.
bool behaviourFitsSyntax(Behaviour behaviour, uint8_t syntax);
// Whether an expression fits a syntax as slot set-up and value making each recognise it,
// which is what loading asks of every attribute and column.
bool expressionFitsSyntax(std::string_view expression, uint8_t syntax);

// A signed decimal number: leading blanks skipped, an optional sign, digits up to the first
// non-digit, 0 without digits. Kept as its 32-bit pattern (wrapping), so unsigned values up
// to 4294967295 keep their bits.
int32_t readNumber(std::string_view text);

// The first three arguments of an expression, read as numbers. An argument that is left out
// reads as 0 and is not present.
struct ExpressionArguments {
    int32_t value[3] = {0, 0, 0};
    bool present[3] = {false, false, false};
};
ExpressionArguments readArguments(std::string_view expression);
// The trimmed texts of the first three arguments as readArguments splits them; the result is
// how many there are (0 without an argument list).
int argumentFields(std::string_view expression, std::string_view (&fields)[3]);

// The value text of fixed, dfixed and lastset: everything between the first "(" and the
// last ")" (a ")" is the last when only blanks follow it; otherwise the text runs to the
// end), however long (a line is at most 64 KiB). Empty without "(".
std::string_view valueText(std::string_view expression);

// The arguments of r_lastset(min, max, value): the bounds read as -1 when left out, and the
// value text, ended by the next "," or the final ")" and trimmed.
struct RangedArguments {
    int32_t min = -1;
    int32_t max = -1;
    std::string_view value;
};
RangedArguments readRangedArguments(std::string_view expression);

// Octets from value text: "0x" followed by hexadecimal digits only (paired from the right,
// so an odd leading digit is an octet of its own), or else the characters themselves.
void readOctets(std::string_view text, std::vector<uint8_t>& octets);
// How many octets readOctets reads from the text.
std::size_t octetCount(std::string_view text);

// A dotted quad of four decimal numbers of 0 to 255, in network order. False on anything
// else.
bool readDottedQuad(std::string_view text, uint8_t address[4]);

// An unsigned decimal number in 64 bits (wrapping): leading blanks skipped, digits up to the
// first non-digit.
uint64_t readUnsigned64(std::string_view text);

}  // namespace korvimo::store
