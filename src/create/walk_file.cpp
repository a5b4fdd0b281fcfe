#include "create/walk_file.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <type_traits>

#include "base/regular_file.h"
#include "base/text.h"
#include "base/unique_fd.h"

namespace korvimo::create {

namespace {

using snmp::ObjectId;
using snmp::SyntaxValue;

// Longest octet string a binding may carry, as the agent bounds its values.
constexpr std::size_t kMaxOctets = 65535;
// How much of an unreadable piece a problem line quotes.
constexpr std::size_t kQuotedLength = 60;
// Records reserved before reading at most; more make the vector grow as usual.
constexpr std::size_t kRecordReserveLimit = std::size_t{1} << 20;

constexpr std::string_view kSeparator = " = ";
constexpr std::string_view kOpaqueFloat = "Float: ";
constexpr std::string_view kOpaqueDouble = "Double: ";
constexpr std::string_view kWrongTypePrefix = "Wrong Type (should be ";
constexpr std::string_view kExceptionTexts[] = {
    "No Such Object available on this agent at this OID",
    "No Such Instance currently exists at this OID",
    "No more variables left in this MIB View",
};

// The text of a file, line by line: LF ends a line, a CR before it is dropped.
class LineCursor {
  public:
    explicit LineCursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    std::size_t number() const { return number_; }

    bool next(std::string_view& line) {
        if (atEnd()) {
            return false;
        }
        const std::size_t end = text_.find('\n', pos_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        line = text_.substr(pos_, stop - pos_);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        ++number_;
        return true;
    }

    // The next line without moving past it; false at the end.
    bool peek(std::string_view& line) const {
        LineCursor copy = *this;
        return copy.next(line);
    }

    struct Mark {
        std::size_t pos;
        std::size_t number;
    };
    Mark mark() const { return {pos_, number_}; }
    void rewind(Mark m) {
        pos_ = m.pos;
        number_ = m.number;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

std::string quoted(std::string_view piece) {
    // A control character of the file is shown as \xNN: a problem line goes to a terminal,
    // and the file's bytes must not move its cursor or retitle its window.
    std::string text = "\"";
    for (const char c : piece.substr(0, kQuotedLength)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            static constexpr char kHex[] = "0123456789abcdef";
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 0x0F];
        } else {
            text += c;
        }
    }
    if (piece.size() > kQuotedLength) {
        text.append("...");
    }
    text.append("\"");
    return text;
}

std::string isNo(std::string_view piece, std::string_view what) {
    std::string text = quoted(piece);
    text.append(" is no ");
    text.append(what);
    return text;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Digits only (a "-" first where negative is true), within [low, high].
template <typename T>
bool readNumber(std::string_view text, T low, T high, T& out) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, out);
    return error == std::errc() && stop == end && out >= low && out <= high;
}

// Dotted decimal with an optional leading dot, 2..128 sub-identifiers of 32 bits each.
bool readOid(std::string_view text, ObjectId& out) {
    if (!text.empty() && text[0] == '.') {
        text.remove_prefix(1);
    }
    out.ids.clear();
    out.ids.reserve(16);
    while (true) {
        const std::size_t dot = text.find('.');
        const std::string_view piece = text.substr(0, dot);
        uint32_t id = 0;
        if (!readNumber<uint32_t>(piece, 0, UINT32_MAX, id) ||
            out.ids.size() == snmp::kMaxOidLength) {
            return false;
        }
        out.ids.push_back(id);
        if (dot == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
    }
    return out.ids.size() >= 2;
}

bool isHexPair(std::string_view word) {
    return word.size() == 2 && hexDigit(word[0]) >= 0 && hexDigit(word[1]) >= 0;
}

uint8_t pairValue(std::string_view word) {
    return static_cast<uint8_t>(hexDigit(word[0]) * 16 + hexDigit(word[1]));
}

// Blank-separated hex pairs; stops at the first word that is none, which rest receives.
void readHexPairs(std::string_view text, std::vector<uint8_t>& bytes, std::string_view& rest) {
    std::string_view word;
    rest = trimBlanks(text);
    std::string_view after;
    while (takeWord(rest, word, after) && isHexPair(word)) {
        bytes.push_back(pairValue(word));
        rest = after;
    }
}

// A line of hex pairs and blanks alone, at least one pair.
bool isHexLine(std::string_view line) {
    std::string_view word;
    std::string_view rest = trimBlanks(line);
    bool any = false;
    while (takeWord(rest, word, rest)) {
        if (!isHexPair(word)) {
            return false;
        }
        any = true;
    }
    return any;
}

// Hex digits without separators, an even count.
bool readHexDigits(std::string_view text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2 != 0) {
        return false;
    }
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        if (!isHexPair(text.substr(i, 2))) {
            return false;
        }
        bytes.push_back(pairValue(text.substr(i, 2)));
    }
    return true;
}

bool readIpv4(std::string_view text, std::vector<uint8_t>& bytes) {
    char buffer[16];
    if (text.size() >= sizeof buffer) {
        return false;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    uint8_t address[4];
    if (::inet_pton(AF_INET, buffer, address) != 1) {
        return false;
    }
    bytes.assign(address, address + 4);
    return true;
}

void setOctets(SyntaxValue& value, uint16_t tag, std::string_view text) {
    value.syntax = tag;
    value.octets.bytes.assign(text.begin(), text.end());
}

// The leading number of a value, before any blank (units or a label may follow).
std::string_view leadingWord(std::string_view text) {
    text = trimBlanks(text);
    const auto blank = std::find_if(text.begin(), text.end(), isBlank);
    return text.substr(0, static_cast<std::size_t>(blank - text.begin()));
}

struct Reader {
    LineCursor& lines;
    WalkContents& contents;

    void problem(std::size_t line, std::string text) {
        contents.problems.push_back({line, std::move(text)});
    }

    void walkLine(std::string_view line);
    void snmprecLine(std::string_view line);
    bool typedValue(std::string_view type, std::string_view text, SyntaxValue& value,
                    std::string& why);
    bool quotedString(std::string_view text, SyntaxValue& value, std::string& why);
};

// An Opaque-wrapped float or double (the wrapping of the draft that extends Opaque with these
// types): 0x9F, the type octet, the length, and the IEEE bits in network order, as the agent
// recorded them.
template <typename T>
bool opaqueNumber(std::string_view text, uint8_t type, SyntaxValue& value, std::string& why) {
    const std::string_view word = leadingWord(text);
    T number = 0;
    const char* end = word.data() + word.size();
    auto [stop, error] = std::from_chars(word.data(), end, number);
    if (word.empty() || error != std::errc() || stop != end) {
        why = isNo(word, sizeof(T) == 4 ? "Float" : "Double");
        return false;
    }
    using Bits = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
    const Bits bits = std::bit_cast<Bits>(number);
    std::vector<uint8_t>& bytes = value.octets.bytes;
    bytes = {0x9F, type, static_cast<uint8_t>(sizeof(T))};
    for (std::size_t shift = sizeof(T) * 8; shift > 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(bits >> (shift - 8)));
    }
    return true;
}

// A STRING value beginning with its opening quote; it may go on over further lines.
bool Reader::quotedString(std::string_view text, SyntaxValue& value, std::string& why) {
    const LineCursor::Mark start = lines.mark();
    std::vector<uint8_t>& bytes = value.octets.bytes;
    value.syntax = snmp::kTagOctetString;
    std::string_view piece = text.substr(1);
    bool closed = false;
    while (true) {
        std::size_t i = 0;
        for (; i < piece.size(); ++i) {
            const char c = piece[i];
            if (c == '\\' && i + 1 < piece.size() &&
                (piece[i + 1] == '"' || piece[i + 1] == '\\')) {
                bytes.push_back(static_cast<uint8_t>(piece[++i]));
            } else if (c == '"') {
                closed = true;
                break;
            } else {
                bytes.push_back(static_cast<uint8_t>(c));
            }
        }
        if (bytes.size() > kMaxOctets) {
            why = "the string is longer than 65,535 bytes";
            break;
        }
        if (closed) {
            if (!trimBlanks(piece.substr(i + 1)).empty()) {
                why = "text after the string's closing quote";
                break;
            }
            return true;
        }
        if (!lines.next(piece)) {
            why = "the string's closing quote never comes";
            break;
        }
        bytes.push_back('\n');
    }
    // Reading goes on after the line the string began on.
    lines.rewind(start);
    return false;
}

bool Reader::typedValue(std::string_view type, std::string_view text, SyntaxValue& value,
                        std::string& why) {
    const std::string_view word = leadingWord(text);
    auto unsignedValue = [&](uint16_t tag, std::string_view number, const char* what) {
        value.syntax = tag;
        if (readNumber<uint32_t>(number, 0, UINT32_MAX, value.number)) {
            return true;
        }
        why = isNo(number, what);
        return false;
    };
    if (type == "STRING") {
        if (!text.empty() && text[0] == '"') {
            return quotedString(text, value, why);
        }
        setOctets(value, snmp::kTagOctetString, text);
    } else if (type == "Hex-STRING" || type == "BITS") {
        value.syntax = snmp::kTagOctetString;
        std::string_view rest;
        readHexPairs(text, value.octets.bytes, rest);
        if (type == "BITS") {
            return true;  // the bits' labels follow the bytes
        }
        std::string_view next;
        while (rest.empty() && lines.peek(next) && isHexLine(next) &&
               next.find(kSeparator) == std::string_view::npos) {
            lines.next(next);
            readHexPairs(next, value.octets.bytes, rest);
        }
        if (!rest.empty()) {
            why = isNo(rest, "hex byte");
            return false;
        }
    } else if (type == "INTEGER") {
        value.syntax = snmp::kTagInteger;
        std::string_view number = word;
        const std::size_t open = word.find('(');
        if (open != std::string_view::npos && word.back() == ')') {
            number = word.substr(open + 1, word.size() - open - 2);
        }
        int32_t integer = 0;
        if (!readNumber<int32_t>(number, INT32_MIN, INT32_MAX, integer)) {
            why = isNo(word, "INTEGER");
            return false;
        }
        value.number = static_cast<uint32_t>(integer);
    } else if (type == "Counter32") {
        return unsignedValue(snmp::kTagCounter, word, "Counter32");
    } else if (type == "Gauge32" || type == "Unsigned32") {
        return unsignedValue(snmp::kTagGauge, word, "Gauge32");
    } else if (type == "UInteger32") {
        return unsignedValue(snmp::kTagUInteger32, word, "UInteger32");
    } else if (type == "Timeticks") {
        std::string_view number = word;
        if (number.size() >= 2 && number.front() == '(' && number.back() == ')') {
            number = number.substr(1, number.size() - 2);
        }
        return unsignedValue(snmp::kTagTimeTicks, number, "Timeticks");
    } else if (type == "Counter64") {
        value.syntax = snmp::kTagCounter64;
        if (!readNumber<uint64_t>(word, 0, UINT64_MAX, value.counter64)) {
            why = isNo(word, "Counter64");
            return false;
        }
    } else if (type == "IpAddress") {
        value.syntax = snmp::kTagIpAddress;
        if (!readIpv4(word, value.octets.bytes)) {
            why = isNo(word, "IpAddress");
            return false;
        }
    } else if (type == "Network Address") {
        value.syntax = snmp::kTagIpAddress;
        bool read = word.size() == 11;
        for (std::size_t i = 0; read && i < word.size(); i += 3) {
            read = isHexPair(word.substr(i, 2)) && (i == 9 || word[i + 2] == ':');
            value.octets.bytes.push_back(read ? pairValue(word.substr(i, 2)) : 0);
        }
        if (!read) {
            why = isNo(word, "network address of 4 bytes");
            return false;
        }
    } else if (type == "OID") {
        value.syntax = snmp::kTagObjectId;
        if (!readOid(word, value.oid)) {
            why = isNo(word, "numeric object identifier");
            return false;
        }
    } else if (type == "Opaque" || type == "OPAQUE") {
        value.syntax = snmp::kTagOpaque;
        if (startsWith(text, kOpaqueFloat)) {
            return opaqueNumber<float>(text.substr(kOpaqueFloat.size()), 0x78, value, why);
        }
        if (startsWith(text, kOpaqueDouble)) {
            return opaqueNumber<double>(text.substr(kOpaqueDouble.size()), 0x79, value, why);
        }
        std::string_view rest;
        readHexPairs(text, value.octets.bytes, rest);
        if (!rest.empty()) {
            why = "Opaque value not in hex";
            return false;
        }
    } else {
        why = "unknown type ";
        why.append(quoted(type));
        return false;
    }
    return true;
}

void Reader::walkLine(std::string_view line) {
    const std::size_t begin = lines.number();
    const std::size_t equals = line.find(kSeparator);
    if (equals == std::string_view::npos) {
        problem(begin, "no \" = \" in the line");
        return;
    }
    WalkRecord record;
    record.line = begin;
    const std::string_view name = trimBlanks(line.substr(0, equals));
    if (!readOid(name, record.binding.name)) {
        problem(begin, isNo(name, "object identifier"));
        return;
    }
    std::string_view rest = line.substr(equals + kSeparator.size());
    if (startsWith(rest, kWrongTypePrefix)) {
        const std::size_t close = rest.find("): ");
        if (close != std::string_view::npos) {
            rest.remove_prefix(close + 3);
        }
    }
    for (std::string_view exception : kExceptionTexts) {
        if (startsWith(rest, exception)) {
            return;
        }
    }
    SyntaxValue& value = record.binding.value;
    if (trimBlanks(rest) == "\"\"") {
        value.syntax = snmp::kTagOctetString;
    } else if (trimBlanks(rest) == "NULL") {
        value.syntax = snmp::kTagNull;
    } else {
        const std::size_t colon = rest.find(':');
        if (colon == std::string_view::npos) {
            problem(begin, "no type in " + quoted(rest));
            return;
        }
        std::string_view text = rest.substr(colon + 1);
        if (!text.empty() && text[0] == ' ') {
            text.remove_prefix(1);
        }
        std::string why;
        if (!typedValue(rest.substr(0, colon), text, value, why)) {
            problem(begin, std::move(why));
            return;
        }
        if (value.octets.bytes.size() > kMaxOctets) {
            problem(begin, "the value is longer than 65,535 bytes");
            return;
        }
    }
    contents.records.push_back(std::move(record));
}

void Reader::snmprecLine(std::string_view line) {
    const std::size_t begin = lines.number();
    const std::size_t bar1 = line.find('|');
    const std::size_t bar2 = bar1 == std::string_view::npos ? bar1 : line.find('|', bar1 + 1);
    if (bar2 == std::string_view::npos) {
        problem(begin, "not OID|TAG|VALUE");
        return;
    }
    WalkRecord record;
    record.line = begin;
    const std::string_view name = line.substr(0, bar1);
    if (!readOid(name, record.binding.name)) {
        problem(begin, isNo(name, "object identifier"));
        return;
    }
    std::string_view tagText = line.substr(bar1 + 1, bar2 - bar1 - 1);
    const std::string_view text = line.substr(bar2 + 1);
    const bool hex = !tagText.empty() && tagText.back() == 'x';
    if (hex) {
        tagText.remove_suffix(1);
    }
    uint16_t tag = 0;
    constexpr uint16_t kKnownTags[] = {2, 3, 4, 5, 6, 64, 65, 66, 67, 68, 70};
    if (!readNumber<uint16_t>(tagText, 0, 255, tag) ||
        std::find(std::begin(kKnownTags), std::end(kKnownTags), tag) == std::end(kKnownTags)) {
        problem(begin, "unknown tag " + quoted(line.substr(bar1 + 1, bar2 - bar1 - 1)));
        return;
    }
    SyntaxValue& value = record.binding.value;
    value.syntax = tag;
    std::string why;
    const bool octets = tag == snmp::kTagOctetString || tag == snmp::kTagOpaque ||
                        tag == snmp::kTagBitString || tag == snmp::kTagIpAddress;
    if (hex && !octets) {
        problem(begin, formatText("tag %u takes no hex value", static_cast<unsigned>(tag)));
        return;
    }
    switch (tag) {
        case snmp::kTagOctetString:
        case snmp::kTagOpaque:
        case snmp::kTagBitString:
        case snmp::kTagIpAddress:
            // BITS are kept as the store keeps them: an octet string of the bits.
            if (tag == snmp::kTagBitString) {
                value.syntax = snmp::kTagOctetString;
            }
            if (hex) {
                if (!readHexDigits(text, value.octets.bytes)) {
                    why = isNo(text, "hex digits");
                } else if (tag == snmp::kTagIpAddress && value.octets.length() != 4) {
                    why = isNo(text, "IpAddress");
                }
            } else if (tag == snmp::kTagIpAddress) {
                if (!readIpv4(text, value.octets.bytes)) {
                    why = isNo(text, "IpAddress");
                }
            } else {
                value.octets.bytes.assign(text.begin(), text.end());
            }
            if (why.empty() && value.octets.bytes.size() > kMaxOctets) {
                why = "the value is longer than 65,535 bytes";
            }
            break;
        case snmp::kTagInteger: {
            int32_t integer = 0;
            if (!readNumber<int32_t>(text, INT32_MIN, INT32_MAX, integer)) {
                why = isNo(text, "INTEGER");
            }
            value.number = static_cast<uint32_t>(integer);
            break;
        }
        case snmp::kTagCounter:
        case snmp::kTagGauge:
        case snmp::kTagTimeTicks:
            if (!readNumber<uint32_t>(text, 0, UINT32_MAX, value.number)) {
                why = isNo(text, "32-bit unsigned number");
            }
            break;
        case snmp::kTagCounter64:
            if (!readNumber<uint64_t>(text, 0, UINT64_MAX, value.counter64)) {
                why = isNo(text, "Counter64");
            }
            break;
        case snmp::kTagNull:
            if (!text.empty()) {
                why = "NULL takes no value";
            }
            break;
        case snmp::kTagObjectId:
            if (!readOid(text, value.oid)) {
                why = isNo(text, "numeric object identifier");
            }
            break;
        default:
            break;
    }
    if (!why.empty()) {
        problem(begin, std::move(why));
        return;
    }
    contents.records.push_back(std::move(record));
}

bool isComment(std::string_view line) {
    return !line.empty() && line[0] == '#';
}

}  // namespace

WalkContents parseWalk(std::string_view text) {
    WalkContents contents;
    // One record a line at most; the guess is capped, so a file of blank lines costs nothing.
    contents.records.reserve(std::min<std::size_t>(
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1,
        kRecordReserveLimit));
    LineCursor lines(text);
    Reader reader{lines, contents};
    bool decided = false;
    std::string_view line;
    while (lines.next(line)) {
        if (trimBlanks(line).empty()) {
            continue;
        }
        if (!decided) {
            if (isComment(trimBlanks(line))) {
                continue;
            }
            const std::size_t bar = line.find('|');
            contents.format = bar != std::string_view::npos && bar < line.find(kSeparator)
                                  ? WalkFormat::Snmprec
                                  : WalkFormat::Walk;
            decided = true;
        }
        // A comment where a binding could begin; a string's further lines are read by the
        // binding they belong to, whatever they begin with.
        if (isComment(trimBlanks(line))) {
            continue;
        }
        if (contents.format == WalkFormat::Snmprec) {
            reader.snmprecLine(line);
        } else {
            reader.walkLine(line);
        }
    }
    contents.lines = lines.number();
    return contents;
}

Result readWalkFile(const std::string& path, WalkContents& contents) {
    auto failed = [&](std::string_view reason) {
        return Result::failuref("Cannot read the walk file [%s]: %.*s", path.c_str(),
                                static_cast<int>(reason.size()), reason.data());
    };
    std::string text;
    if (Result read = readRegularFile(path, kMaxWalkFileSize, text); !read) {
        return failed(read.text());
    }
    contents = parseWalk(text);
    return {};
}

}  // namespace korvimo::create
