#include "store/load_checks.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/text.h"
#include "snmp/ber.h"
#include "snmp/message.h"
#include "store/attribute_file.h"
#include "store/control_line.h"
#include "store/value_expression.h"
#include "store/value_slots.h"

namespace korvimo::store {

namespace {

constexpr std::string_view kRangeInstanceKeyword = "rangeinst";

// Magnitudes past every range checked here read as this.
constexpr uint64_t kHuge = uint64_t{1} << 40;

// An optional sign (when allowed) and decimal digits, nothing else; the value saturates at
// kHuge. False for any other text, the empty text included.
bool readStrictDecimal(std::string_view text, bool allowSign, int64_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (allowSign && i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
        if (magnitude > kHuge) {
            magnitude = kHuge;
        }
    }
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

// Decimal digits only, within 64 bits.
bool readStrictUnsigned64(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || __builtin_mul_overflow(value, 10u, &value) ||
            __builtin_add_overflow(value, static_cast<uint64_t>(c - '0'), &value)) {
            return false;
        }
    }
    return true;
}

// Dotted decimal of 2 to 128 sub-identifiers of 32 bits each.
bool isDottedIdentifier(std::string_view text) {
    std::size_t components = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        int64_t value = 0;
        if (!readStrictDecimal(part, false, value) || value > int64_t{UINT32_MAX} ||
            ++components > kMaxNameComponents) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return components >= 2;
        }
        start = dot + 1;
    }
}

// The value fixed text of a syntax serves, as text.
std::string servedText(std::string_view text, uint8_t syntax) {
    snmp::SyntaxValue value;
    convertFixedText(text, syntax, value);
    switch (syntax) {
        case snmp::kTagInteger:
            return std::to_string(static_cast<int32_t>(value.number));
        case snmp::kTagCounter64:
            return std::to_string(value.counter64);
        case snmp::kTagIpAddress: {
            std::string address;
            for (std::size_t i = 0; i < value.octets.bytes.size(); ++i) {
                address += (i > 0 ? "." : "") + std::to_string(value.octets.bytes[i]);
            }
            return address;
        }
        case snmp::kTagObjectId:
            return identifierText(value.oid.ids);
        default:
            return std::to_string(value.number);
    }
}

struct Expression {
    std::string_view text;
    Behaviour behaviour;  // as the value is made
    uint8_t syntax;
    std::string_view syntaxWord;
    std::string subject;  // what the messages name: the quoted text, unless told otherwise
};

void add(std::vector<Finding>& findings, const char* title, std::string detail) {
    findings.push_back(Finding{title, std::move(detail)});
}

// The behaviour is one of the keywords.
void checkBehaviour(const Expression& e, std::vector<Finding>& findings) {
    if (e.behaviour != Behaviour::None) {
        return;
    }
    if (e.text.starts_with(kFormatKeyword)) {
        // Attribute lines have theirs filled at loading; a column's default is not.
        add(findings, kUnknownBehaviourTitle,
            e.subject + " is filled only on attribute lines: rows a Set makes serve NULL");
        return;
    }
    if (e.text.starts_with(kRangeInstanceKeyword)) {
        add(findings, kRangeInstanceTitle,
            e.subject +
                " serves only on a line whose name holds an instance range: the value is "
                "served as NULL");
        return;
    }
    add(findings, kUnknownBehaviourTitle,
        e.subject + " names no value behaviour: the value is served as NULL");
}

// The name of low32 is numeric: attribute lines have theirs mapped and filled at loading,
// while a column's default stands as written.
void checkLinkName(const Expression& e, std::vector<Finding>& findings) {
    if (e.behaviour == Behaviour::Low32 && !isDottedIdentifier(trimBlanks(valueText(e.text)))) {
        add(findings, kInvalidArgumentTitle,
            e.subject +
                " in a column's default is neither mapped nor filled: write the numeric "
                "identifier it reads; until then its rows serve 0");
    }
}

// The value text of fixed, dfixed, lastset and r_lastset reads as a value of the syntax.
void checkValueText(const Expression& e, std::vector<Finding>& findings) {
    if (e.behaviour != Behaviour::Fixed && !isStoredBehaviour(e.behaviour)) {
        return;
    }
    const std::string_view raw = initialValueText(e.text, e.behaviour);
    const std::string_view text = trimBlanks(raw);
    const std::string word(e.syntaxWord);
    std::string wrong;
    if (isNumberSyntax(e.syntax)) {
        const bool integer = e.syntax == snmp::kTagInteger;
        const int64_t low = integer ? INT32_MIN : 0;
        const int64_t high = integer ? INT32_MAX : int64_t{UINT32_MAX};
        int64_t value = 0;
        if (!readStrictDecimal(text, true, value)) {
            wrong = "is not a number of syntax " + word;
        } else if (value < low || value > high) {
            wrong = "is outside the range of " + word + " (" + std::to_string(low) + " to " +
                    std::to_string(high) + ")";
        }
    } else if (e.syntax == snmp::kTagCounter64) {
        if (!readStrictUnsigned64(text)) {
            wrong = "is not a number of syntax " + word + " (0 to 18446744073709551615)";
        }
    } else if (e.syntax == snmp::kTagIpAddress) {
        uint8_t address[4];
        if (!readDottedQuad(text, address)) {
            wrong = "is not a dotted quad of syntax " + word;
        }
    } else if (e.syntax == snmp::kTagObjectId) {
        if (!isDottedIdentifier(text)) {
            wrong = "is not a dotted decimal identifier of syntax " + word;
        }
    }
    if (!wrong.empty()) {
        add(findings, kInvalidValueTitle,
            e.subject + " " + wrong + ": " + servedText(raw, e.syntax) + " is served");
    }
}

// The initial value of dfixed, lastset and r_lastset fits where a stored value is kept.
void checkStoredLength(const Expression& e, std::vector<Finding>& findings) {
    const Behaviour behaviour = recogniseForSetUp(e.text);
    if (!isStoredBehaviour(behaviour)) {
        return;
    }
    const std::string_view text = initialValueText(e.text, behaviour);
    const int64_t room = initialValueRoom(e.text, behaviour, e.syntax);
    std::size_t length = 0;
    const char* unit = "octets";
    const char* served = "an empty value is served";
    if (e.syntax == snmp::kTagOctetString || e.syntax == snmp::kTagOpaque) {
        length = octetCount(text);
    } else if (e.syntax == snmp::kTagObjectId) {
        length = text.size();
        unit = "characters";
        served = "0.0 is served";
    } else {
        return;
    }
    if (static_cast<int64_t>(length) <= room) {
        return;
    }
    char detail[200];
    std::snprintf(detail, sizeof detail,
                  " starts with %zu %s, more than the %lld a stored value of syntax %s starts "
                  "with: %s",
                  length, unit, static_cast<long long>(room < 0 ? 0 : room),
                  std::string(e.syntaxWord).c_str(), served);
    add(findings, kInvalidValueTitle, e.subject + detail);
}

// Numeric arguments (of the numeric behaviours, and the bounds of r_lastset) are numbers
// that keep their value in 32 bits.
void checkNumericArguments(const Expression& e, std::vector<Finding>& findings) {
    int checked = 0;
    if (isNumericBehaviour(e.behaviour)) {
        checked = 3;
    } else if (e.behaviour == Behaviour::RLastset) {
        checked = 2;
    } else {
        return;
    }
    std::string_view fields[3];
    const int count = argumentFields(e.text, fields);
    for (int i = 0; i < count && i < checked; ++i) {
        const std::string_view field = fields[i];
        if (field.empty()) {
            continue;  // left out: 0, or no bound
        }
        int64_t value = 0;
        std::string wrong;
        if (!readStrictDecimal(field, true, value)) {
            wrong = " is not a number";
        } else if (value < INT32_MIN || value > int64_t{UINT32_MAX}) {
            wrong = " does not fit in 32 bits";
        } else {
            continue;
        }
        const int32_t used = readNumber(field);
        const std::string usedText = field.starts_with('-')
                                         ? std::to_string(used)
                                         : std::to_string(static_cast<uint32_t>(used));
        add(findings, kInvalidArgumentTitle,
            e.subject + ": argument " + std::to_string(i + 1) + " (" + quoted(field) + ")" + wrong +
                ": " + usedText + " is used");
    }
}

// The arguments of rate: START within 64 bits, PER_SECOND with at most three decimals (and
// not past its limit), JITTER_PERCENT a whole number up to 100.
void checkRateArguments(const Expression& e, std::vector<Finding>& findings) {
    if (e.behaviour != Behaviour::Rate) {
        return;
    }
    std::string_view fields[3];
    const int count = argumentFields(e.text, fields);
    const RateArguments used = readRateArguments(e.text);
    auto wrong = [&](int i, const char* what, const std::string& usedText) {
        add(findings, kInvalidArgumentTitle,
            e.subject + ": argument " + std::to_string(i + 1) + " (" + quoted(fields[i]) + ") " +
                what + ": " + usedText + " is used");
    };
    const std::size_t open = e.text.find('(');
    const std::string_view list = e.text.substr(open + 1, e.text.find(')', open) - open - 1);
    if (std::count(list.begin(), list.end(), ',') >= 3) {
        add(findings, kInvalidArgumentTitle,
            e.subject + " has more than three arguments: the fourth on are ignored");
    }
    if (count < 2 || fields[1].empty()) {
        add(findings, kInvalidArgumentTitle,
            e.subject + " gives no PER_SECOND: the value stays at its START");
    }
    if (count > 0 && !fields[0].empty() && !readStrictUnsigned64(fields[0])) {
        wrong(0, "is not a number of 0 to 18446744073709551615", std::to_string(used.start));
    } else if (used.start > UINT32_MAX && e.syntax != snmp::kTagCounter64) {
        wrong(0, ("does not fit in 32 bits of syntax " + std::string(e.syntaxWord)).c_str(),
              std::to_string(e.syntax == snmp::kTagGauge ? UINT32_MAX : used.start & UINT32_MAX));
    }
    if (count > 1 && !fields[1].empty() && !isRateText(fields[1])) {
        const uint64_t whole = used.perThousandSeconds / 1000;
        const uint64_t part = used.perThousandSeconds % 1000;
        char text[48];
        std::snprintf(text, sizeof text, "%llu.%03llu", static_cast<unsigned long long>(whole),
                      static_cast<unsigned long long>(part));
        wrong(1, "is not a rate of up to 10^15 with at most three decimals", text);
    }
    int64_t jitter = 0;
    if (count > 2 && !fields[2].empty() &&
        (!readStrictDecimal(fields[2], false, jitter) || jitter > 100)) {
        wrong(2, "is not a whole percentage of 0 to 100", std::to_string(used.jitterPercent));
    }
}

using Check = void (*)(const Expression&, std::vector<Finding>&);

// Every check of a value expression, in the order its findings are reported.
constexpr Check kExpressionChecks[] = {
    checkBehaviour,        checkValueText,     checkStoredLength,
    checkNumericArguments, checkRateArguments, checkLinkName,
};

}  // namespace

void checkSyntaxWord(std::string_view word, std::vector<Finding>& findings) {
    if (!knownSyntaxWord(word)) {
        add(findings, kUnknownSyntaxTitle,
            quoted(word) + " is not a syntax word: the value is served as NULL");
    }
}

bool isRangeInstance(const InstanceRange& range, std::string_view expression, uint32_t& component) {
    component = 0;
    if (!range.hasRange() || !expression.starts_with(kRangeInstanceKeyword)) {
        return false;
    }
    const int32_t k = readArguments(expression).value[0];
    if (k >= 1 && static_cast<uint32_t>(k) <= range.componentCount()) {
        component = static_cast<uint32_t>(k);
    }
    return true;
}

void checkInstanceRange(const InstanceRange& range, std::string_view expression,
                        std::vector<Finding>& findings) {
    for (const InstanceRange::Reversed& r : range.reversed()) {
        char detail[100];
        std::snprintf(detail, sizeof detail, kReversedRangeText, r.low, r.high, r.low);
        add(findings, kReversedRangeTitle, detail);
    }
    uint32_t component = 0;
    if (isRangeInstance(range, expression, component) && component == 0) {
        const int32_t k = readArguments(expression).value[0];  // as written, for the text
        add(findings, kRangeInstanceTitle,
            quoted(expression) + " names component " + std::to_string(k) + " of a name of " +
                std::to_string(range.componentCount()) +
                " components: the expression is kept and the value is served as NULL");
    }
}

void checkExpression(std::string_view expression, uint8_t syntax, std::string_view syntaxWord,
                     std::vector<Finding>& findings, std::string_view subject) {
    if (syntax == snmp::kTagNull) {
        return;  // any value text serves NULL
    }
    const Expression e{expression, recogniseForValue(expression), syntax, syntaxWord,
                       subject.empty() ? quoted(expression) : std::string(subject)};
    for (Check check : kExpressionChecks) {
        check(e, findings);
    }
}

void reportFindings(Reporter& reporter, long line, std::vector<Finding>& findings) {
    for (const Finding& f : findings) {
        reporter.warning(line, kWarningFormat, f.title, line, f.detail.c_str());
    }
    findings.clear();
}

}  // namespace korvimo::store
