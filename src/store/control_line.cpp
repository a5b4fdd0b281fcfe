#include "store/control_line.h"

#include <cstring>

#include "mibinfo/lines.h"
#include "snmp/ber.h"

namespace korvimo::store {

bool ControlLines::next(std::string_view& line) {
    if (position_ >= bytes_.size()) {
        return false;
    }
    const char* start = bytes_.data() + position_;
    const std::size_t available = bytes_.size() - position_;
    const void* lf = std::memchr(start, '\n', available);
    std::size_t length =
        lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) : available;
    lineOffset_ = position_;
    position_ += length + (lf != nullptr ? 1 : 0);
    if (lf != nullptr && length > 0 && start[length - 1] == '\r') {
        --length;
    }
    line = std::string_view(start, length);
    ++number_;
    return true;
}

LineKind lineKind(std::string_view line) {
    if (line.empty()) {
        return LineKind::Empty;
    }
    if (line.front() == '#') {
        return LineKind::Comment;
    }
    if (line.front() == '%') {
        return LineKind::Directive;
    }
    return LineKind::Attribute;
}

Directive directiveOf(std::string_view line) {
    if (line.starts_with("%drow")) {
        return Directive::Row;
    }
    if (line.starts_with("%dcol")) {
        return Directive::Column;
    }
    if (line.starts_with("%setaction")) {
        return Directive::SetAction;
    }
    return Directive::Other;
}

bool isOverlong(std::string_view line) {
    return line.size() > kMaxControlLineText && lineKind(line) != LineKind::Comment;
}

bool passesSyntaxCheck(std::string_view line) {
    const LineKind kind = lineKind(line);
    if (kind == LineKind::Empty || kind == LineKind::Comment) {
        return true;
    }
    if (isOverlong(line)) {
        return false;
    }
    const std::string_view trimmed = trimBlanks(line);
    if (trimmed.empty() || trimmed.front() == '#' || trimmed.front() == '%') {
        return true;
    }
    if (trimmed.back() != ')') {
        return false;
    }
    if (kind == LineKind::Attribute) {
        AttributeFields fields;
        return splitAttributeLine(line, fields);
    }
    return true;
}

bool splitAttributeLine(std::string_view line, AttributeFields& fields) {
    std::string_view pieces[3];
    std::size_t start = 0;
    for (auto& piece : pieces) {
        const std::size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            return false;
        }
        piece = trimBlanks(line.substr(start, comma - start));
        start = comma + 1;
    }
    fields.name = pieces[0];
    fields.syntax = pieces[1];
    fields.access = pieces[2];
    fields.value = trimBlanks(line.substr(start));
    return true;
}

namespace {

struct SyntaxWord {
    std::string_view text;
    uint8_t tag;
};

constexpr SyntaxWord kWords[] = {
    {"Integer", snmp::kTagInteger},
    {"OctetString", snmp::kTagOctetString},
    {"Bits", snmp::kTagOctetString},
    {"NULL", snmp::kTagNull},
    {"ObjectID", snmp::kTagObjectId},
    {"IpAddress", snmp::kTagIpAddress},
    {"NetworkAddress", snmp::kTagIpAddress},
    {"Counter", snmp::kTagCounter},
    {"Gauge", snmp::kTagGauge},
    {"TimeTicks", snmp::kTagTimeTicks},
    {"Opaque", snmp::kTagOpaque},
    {"Counter64", snmp::kTagCounter64},
    // SMIv2 spellings of the same types.
    {"Counter32", snmp::kTagCounter},
    {"Gauge32", snmp::kTagGauge},
    {"Unsigned32", snmp::kTagGauge},
    {"Integer32", snmp::kTagInteger},
};

const SyntaxWord* findSyntaxWord(std::string_view word) {
    for (const SyntaxWord& w : kWords) {
        if (w.text == word) {
            return &w;
        }
    }
    return nullptr;
}

}  // namespace

uint8_t syntaxCode(std::string_view word) {
    const SyntaxWord* found = findSyntaxWord(word);
    return found != nullptr ? found->tag : snmp::kTagNull;
}

std::string_view syntaxWordOf(uint8_t syntax) {
    for (const SyntaxWord& w : kWords) {
        if (w.tag == syntax) {
            return w.text;
        }
    }
    return "NULL";
}

bool knownSyntaxWord(std::string_view word) {
    return findSyntaxWord(word) != nullptr;
}

Access accessCode(std::string_view word) {
    const std::string_view head = word.substr(0, 2);
    if (head == "RO") {
        return Access::ReadOnly;
    }
    if (head == "RW" || head == "RC") {
        return Access::ReadWrite;
    }
    if (head == "WO") {
        return Access::WriteOnly;
    }
    return Access::None;
}

bool splitDirective(std::string_view line, int count, std::string_view* words,
                    std::string_view& rest) {
    std::string_view directiveWord;
    std::string_view text;
    if (!takeWord(line, directiveWord, text)) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (!takeWord(text, words[i], text)) {
            return false;
        }
    }
    rest = trimBlanks(text);
    return true;
}

}  // namespace korvimo::store
