#include "store/value_expression.h"

#include <algorithm>
#include <cstdio>

#include "base/text.h"
#include "snmp/ber.h"
#include "store/control_line.h"

namespace korvimo::store {

namespace {

struct Keyword {
    std::string_view text;  // the characters compared
    Behaviour behaviour;
};

constexpr Keyword kSetUpOrder[] = {
    {"fixed", Behaviour::Fixed},         {"r_lastset", Behaviour::RLastset},
    {"lastset", Behaviour::Lastset},     {"dfixed", Behaviour::Dfixed},
    {"randomup", Behaviour::Randomup},   {"random", Behaviour::Random},
    {"clock", Behaviour::Clock},         {"sequential", Behaviour::Sequential},
    {"seqinc", Behaviour::Seqinc},       {"seqtimeinc", Behaviour::Seqtimeinc},
    {"rowstatus", Behaviour::Rowstatus}, {"rate(", Behaviour::Rate},
    {kLow32Keyword, Behaviour::Low32},
};

constexpr Keyword kValueOrder[] = {
    {"rate(", Behaviour::Rate},  // first: no other keyword begins so, and counters are read most
    {"fixed", Behaviour::Fixed},         {"dfixed", Behaviour::Dfixed},
    {"lastset", Behaviour::Lastset},     {"r_lastset", Behaviour::RLastset},
    {"randomup", Behaviour::Randomup},   {"random", Behaviour::Random},
    {"clock", Behaviour::Clock},         {"sequential", Behaviour::Sequential},
    {"seqinc", Behaviour::Seqinc},       {"seqti", Behaviour::Seqtimeinc},
    {"rowstatus", Behaviour::Rowstatus}, {kLow32Keyword, Behaviour::Low32},
};

template <std::size_t N>
Behaviour recognise(std::string_view expression, const Keyword (&order)[N]) {
    for (const Keyword& keyword : order) {
        if (expression.starts_with(keyword.text)) {
            return keyword.behaviour;
        }
    }
    return Behaviour::None;
}

// End of the value text: the last ")" when only blanks follow it, else the end of the text.
std::size_t valueEnd(std::string_view expression, std::size_t open) {
    const std::size_t close = expression.rfind(')');
    if (close != std::string_view::npos && close > open &&
        trimBlanks(expression.substr(close + 1)).empty()) {
        return close;
    }
    return expression.size();
}

}  // namespace

Behaviour recogniseForSetUp(std::string_view expression) {
    return recognise(expression, kSetUpOrder);
}

Behaviour recogniseForValue(std::string_view expression) {
    return recognise(expression, kValueOrder);
}

bool isNumericBehaviour(Behaviour behaviour) {
    switch (behaviour) {
        case Behaviour::Randomup:
        case Behaviour::Random:
        case Behaviour::Clock:
        case Behaviour::Sequential:
        case Behaviour::Seqinc:
        case Behaviour::Seqtimeinc:
        case Behaviour::Rowstatus:
            return true;
        default:
            return false;
    }
}

bool isStoredBehaviour(Behaviour behaviour) {
    return behaviour == Behaviour::Dfixed || behaviour == Behaviour::Lastset ||
           behaviour == Behaviour::RLastset;
}

bool isNumberSyntax(uint8_t syntax) {
    return syntax == snmp::kTagInteger || syntax == snmp::kTagCounter ||
           syntax == snmp::kTagGauge || syntax == snmp::kTagTimeTicks;
}

bool behaviourFitsSyntax(Behaviour behaviour, uint8_t syntax) {
    if (behaviour == Behaviour::Rate) {
        return syntax == snmp::kTagCounter || syntax == snmp::kTagGauge ||
               syntax == snmp::kTagCounter64;
    }
    if (behaviour == Behaviour::Low32) {
        return isNumberSyntax(syntax);
    }
    if (!isNumericBehaviour(behaviour) || isNumberSyntax(syntax) || syntax == snmp::kTagNull) {
        return true;
    }
    return behaviour == Behaviour::Randomup && syntax == snmp::kTagCounter64;
}

bool expressionFitsSyntax(std::string_view expression, uint8_t syntax) {
    return behaviourFitsSyntax(recogniseForSetUp(expression), syntax) &&
           behaviourFitsSyntax(recogniseForValue(expression), syntax);
}

int32_t readNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<int32_t>(value);
}

int argumentFields(std::string_view expression, std::string_view (&fields)[3]) {
    std::size_t position = expression.find('(');
    if (position == std::string_view::npos) {
        return 0;
    }
    ++position;
    for (int i = 0; i < 3; ++i) {
        std::size_t end = expression.find_first_of(",)", position);
        const bool more = end != std::string_view::npos && expression[end] == ',';
        if (end == std::string_view::npos) {
            end = expression.size();
        }
        fields[i] = trimBlanks(expression.substr(position, end - position));
        if (!more) {
            return i + 1;
        }
        position = end + 1;
    }
    return 3;
}

ExpressionArguments readArguments(std::string_view expression) {
    ExpressionArguments arguments;
    std::string_view fields[3];
    const int count = argumentFields(expression, fields);
    for (int i = 0; i < count; ++i) {
        arguments.present[i] = !fields[i].empty();
        arguments.value[i] = readNumber(fields[i]);
    }
    return arguments;
}

std::string_view valueText(std::string_view expression) {
    const std::size_t open = expression.find('(');
    if (open == std::string_view::npos) {
        return {};
    }
    const std::size_t end = valueEnd(expression, open);
    return expression.substr(open + 1, end - open - 1);
}

RangedArguments readRangedArguments(std::string_view expression) {
    RangedArguments arguments;
    const std::size_t open = expression.find('(');
    if (open == std::string_view::npos) {
        return arguments;
    }
    const std::size_t end = valueEnd(expression, open);
    std::string_view inside = expression.substr(open + 1, end - open - 1);
    int32_t* bounds[2] = {&arguments.min, &arguments.max};
    for (int32_t* bound : bounds) {
        const std::size_t stop = inside.find_first_of(",)");
        const std::string_view field = trimBlanks(inside.substr(0, stop));
        if (!field.empty()) {
            *bound = readNumber(field);
        }
        if (stop == std::string_view::npos || inside[stop] != ',') {
            return arguments;
        }
        inside = inside.substr(stop + 1);
    }
    arguments.value = trimBlanks(inside.substr(0, inside.find(',')));
    return arguments;
}

namespace {

// PER_SECOND in thousandths from the start of text: digits, an optional point and decimals
// of which the first three count, saturating at the limit. Gives where the number ends, and
// whether it was written as taken (digits, at most three decimals, within the limit).
struct ThousandthsRead {
    std::size_t end = 0;
    bool exact = false;
};
ThousandthsRead readThousandths(std::string_view text, uint64_t& value) {
    ThousandthsRead read;
    value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= kMaxRatePerSecond) {
            value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        }
    }
    bool digits = i > 0;
    bool exact = true;
    value = (value > kMaxRatePerSecond ? kMaxRatePerSecond + 1 : value) * 1000;
    if (i < text.size() && text[i] == '.') {
        uint64_t scale = 100;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            digits = true;
            exact = exact && scale != 0;
            value += static_cast<uint64_t>(text[i] - '0') * scale;
            scale /= 10;
        }
    }
    if (value > kMaxRatePerSecond * 1000) {
        value = kMaxRatePerSecond * 1000;
        exact = false;
    }
    read.end = i;
    read.exact = exact && digits;
    return read;
}

}  // namespace

// One pass over the text, as readArguments splits it (fields end at "," or ")", blanks around
// them skipped): counters are read at every Get.
RateArguments readRateArguments(std::string_view expression) {
    RateArguments arguments;
    std::size_t i = expression.find('(');
    if (i == std::string_view::npos) {
        return arguments;
    }
    ++i;
    const std::size_t size = expression.size();
    auto skipBlanks = [&] {
        while (i < size && isBlank(expression[i])) {
            ++i;
        }
    };
    // On to the next field; false when the list ends first.
    auto nextField = [&] {
        while (i < size && expression[i] != ',' && expression[i] != ')') {
            ++i;
        }
        return i++ < size && expression[i - 1] == ',';
    };
    skipBlanks();
    for (; i < size && expression[i] >= '0' && expression[i] <= '9'; ++i) {
        arguments.start = arguments.start * 10 + static_cast<uint64_t>(expression[i] - '0');
    }
    if (!nextField()) {
        return arguments;
    }
    skipBlanks();
    i += readThousandths(expression.substr(i), arguments.perThousandSeconds).end;
    if (!nextField()) {
        return arguments;
    }
    const int32_t jitter = readNumber(expression.substr(i));
    arguments.jitterPercent = jitter < 0 ? 0 : jitter > 100 ? 100 : static_cast<uint32_t>(jitter);
    return arguments;
}

bool isRateText(std::string_view text) {
    uint64_t value = 0;
    const ThousandthsRead read = readThousandths(text, value);
    return read.exact && read.end == text.size();
}

bool formatInstance(std::string_view text, uint32_t value, std::string& out, const char*& why) {
    out.clear();
    bool converted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        // %[flags][width][.precision]conversion, rebuilt for snprintf from what was checked.
        char spec[16] = "%";
        std::size_t length = 1;
        std::size_t j = i + 1;
        while (j < text.size() &&
               std::string_view("-+ #0").find(text[j]) != std::string_view::npos && length < 6) {
            spec[length++] = text[j++];
        }
        for (int part = 0; part < 2; ++part) {
            if (part == 1) {
                if (j >= text.size() || text[j] != '.') {
                    break;
                }
                spec[length++] = text[j++];
            }
            for (int digits = 0; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++digits) {
                if (digits == 2) {
                    why = "a width or precision of more than two digits";
                    return false;
                }
                spec[length++] = text[j++];
            }
        }
        if (j >= text.size() ||
            std::string_view("diuxXo").find(text[j]) == std::string_view::npos) {
            why = "a conversion other than %d, %i, %u, %x, %X or %o";
            return false;
        }
        if (converted) {
            why = "more than one conversion";
            return false;
        }
        converted = true;
        const bool isSigned = text[j] == 'd' || text[j] == 'i';
        if ((isSigned || text[j] == 'u') &&
            std::string_view(spec, length).find('#') != std::string_view::npos) {
            why = "the flag # with a decimal conversion";
            return false;
        }
        spec[length++] = 'l';
        spec[length++] = 'l';
        spec[length++] = text[j];
        spec[length] = '\0';
        char filled[128];
        const int written =
            isSigned ? std::snprintf(filled, sizeof filled, spec, static_cast<long long>(value))
                     : std::snprintf(filled, sizeof filled, spec,
                                     static_cast<unsigned long long>(value));
        if (written < 0) {
            why = "a conversion that cannot be made";
            return false;
        }
        out.append(filled,
                   std::min<std::size_t>(static_cast<std::size_t>(written), sizeof filled - 1));
        i = j;
    }
    return true;
}

namespace {

// "0x" followed by hexadecimal digits only.
bool isHexText(std::string_view text) {
    bool hex = text.size() > 2 && text[0] == '0' && text[1] == 'x';
    for (std::size_t i = 2; hex && i < text.size(); ++i) {
        hex = hexDigit(text[i]) >= 0;
    }
    return hex;
}

}  // namespace

std::size_t octetCount(std::string_view text) {
    return isHexText(text) ? (text.size() - 2 + 1) / 2 : text.size();
}

void readOctets(std::string_view text, std::vector<uint8_t>& octets) {
    octets.clear();
    if (!isHexText(text)) {
        octets.assign(text.begin(), text.end());
        return;
    }
    const std::string_view digits = text.substr(2);
    std::size_t i = 0;
    if (digits.size() % 2 != 0) {
        octets.push_back(static_cast<uint8_t>(hexDigit(digits[0])));
        i = 1;
    }
    for (; i < digits.size(); i += 2) {
        octets.push_back(static_cast<uint8_t>(hexDigit(digits[i]) * 16 + hexDigit(digits[i + 1])));
    }
}

bool readDottedQuad(std::string_view text, uint8_t address[4]) {
    text = trimBlanks(text);
    std::size_t position = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != '.') {
                return false;
            }
            ++position;
        }
        uint32_t value = 0;
        std::size_t digits = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' &&
               digits < 4) {
            value = value * 10 + static_cast<uint32_t>(text[position] - '0');
            ++position;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return false;
        }
        address[part] = static_cast<uint8_t>(value);
    }
    return position == text.size();
}

uint64_t readUnsigned64(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<uint64_t>(text[i] - '0');
    }
    return value;
}

}  // namespace korvimo::store
