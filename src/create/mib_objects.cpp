#include "create/mib_objects.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/regular_file.h"
#include "base/text.h"
#include "mibinfo/lines.h"

namespace korvimo::create {

namespace {

// Longest OctetString value of a fixed size: "0x" and this many "01".
constexpr int32_t kMaxFixedOctets = 198;
// miblist.lst names compiled MIB files, one a line; a bigger file is not such a list.
constexpr std::size_t kMaxMibListBytes = 16u << 20;

// A bound of a range: optional blanks and sign, then digits up to the first non-digit, as
// the standard conversion reads it; kept within signed 32 bits.
int32_t readBound(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{INT32_MAX} + 1);
    }
    if (negative) {
        value = -value;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// The range word "(low,high)": the text after its first character up to a "," is the low
// bound, the text after that up to a ")" the high bound; present once the ")" is reached.
void readRange(std::string_view word, ObjectRecord& object) {
    if (word.size() < 2) {
        return;
    }
    const std::string_view inner = word.substr(1);
    const std::size_t comma = inner.find(',');
    if (comma == std::string_view::npos) {
        object.low = readBound(inner);
        return;
    }
    object.low = readBound(inner.substr(0, comma));
    const std::string_view after = inner.substr(comma + 1);
    const std::size_t close = after.find(')');
    if (close == std::string_view::npos) {
        object.high = readBound(after);
        return;
    }
    object.high = readBound(after.substr(0, close));
    object.hasRange = true;
}

// A display text cut to high-1 characters when it is longer than the range's high bound.
std::string cutToRange(std::string text, const ObjectRecord& object) {
    if (object.hasRange && static_cast<int64_t>(text.size()) > object.high) {
        text.resize(object.high > 1 ? static_cast<std::size_t>(object.high - 1) : 0);
    }
    return text;
}

}  // namespace

bool ObjectRecord::writable() const {
    const std::string_view code = std::string_view(access).substr(0, 2);
    return code == "RW" || code == "WO" || code == "RC";
}

ObjectRecord objectRecord(const mibinfo::Record& line) {
    ObjectRecord object;
    object.identifier = line.identifier;
    object.descriptor = line.descriptor;
    object.type = line.type;
    const std::string_view rest = line.rest;  // no blanks at either end
    if (rest.empty()) {
        return object;
    }
    const char last = rest.back();
    if (last == 'd' || last == 'e' || last == 'p' || last == 'r') {
        object.marker = last;
    }
    std::string_view word;
    std::string_view text;
    if (!takeWord(rest, word, text)) {
        return object;
    }
    object.access = withoutBlanks(word);
    if (!takeWord(text, object.kind, text)) {
        return object;
    }
    if (takeWord(text, word, text)) {
        readRange(word, object);
    }
    return object;
}

std::string initialValue(const ObjectRecord& object, std::string_view descriptor) {
    const std::string_view type = object.type;
    if (type == "Counter" || type == "Counter64" || type == "Gauge") {
        return "1000";
    }
    if (type == "TimeTicks") {
        return "0";
    }
    if (type == "Integer") {
        return object.hasRange && object.marker != 'r' ? std::to_string(object.low) : "1";
    }
    if (type == "OctetString") {
        switch (object.marker) {
            case 0:
                // A size fixed by the range; an OctetString without a range has no fixed size.
                if (object.hasRange && object.low == object.high) {
                    std::string value("0x");
                    const int32_t count = std::clamp(object.low, 0, kMaxFixedOctets);
                    for (int32_t i = 0; i < count; ++i) {
                        value += "01";
                    }
                    return value;
                }
                return "abc";
            case 'd':
                return cutToRange(
                    formatText("My_%.*s_string", static_cast<int>(descriptor.size()),
                               descriptor.data()),
                    object);
            case 'p':
                return "0x010203040506";
            default:
                return cutToRange("abc", object);
        }
    }
    if (type == "Opaque") {
        return "abc";
    }
    if (type == "Bits") {
        return "0x0102";
    }
    if (type == "ObjectID") {
        return "1.2.3";
    }
    if (type == "IpAddress" || type == "NetworkAddress") {
        return "1.2.3.4";
    }
    return std::string();  // NULL, and a type no table names
}

std::string valueBehaviour(const ObjectRecord& object, std::string_view initial) {
    const std::string value(initial);
    if (object.writable()) {
        if (object.marker == 'r') {
            return formatText("rowstatus(%s)", value.c_str());
        }
        if (object.hasRange) {
            return formatText("r_lastset(%d, %d, %s)", object.low, object.high, value.c_str());
        }
        return formatText("lastset(%s)", value.c_str());
    }
    const std::string_view type = object.type;
    if (type == "Counter" || type == "Counter64") {
        return formatText("randomup(%s, 100)", value.c_str());
    }
    if (type == "Gauge") {
        return formatText("random(%s, 100)", value.c_str());
    }
    if (type == "TimeTicks") {
        return formatText("clock(%s)", value.c_str());
    }
    if (type == "NULL") {
        return "fixed(NULL)";
    }
    return formatText("fixed(%s)", value.c_str());
}

Result readMibList(const std::string& path, std::vector<std::string>& mibs) {
    mibs.clear();
    UniqueFd file;
    if (Result opened = openRegularFile(path, file); !opened) {
        return opened;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Result::failure(std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        if (text.size() + static_cast<std::size_t>(got) > kMaxMibListBytes) {
            return Result::failure(std::strerror(EFBIG));
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    mibinfo::Lines lines(text);
    std::string_view line;
    bool heading = true;
    while (lines.next(line)) {
        if (heading) {
            heading = false;
            continue;
        }
        const std::size_t start = line.find_first_not_of(" \t");
        mibs.emplace_back(start == std::string_view::npos ? std::string_view()
                                                          : line.substr(start));
    }
    return {};
}

std::string valueFormatsBlock() {
    return "# Value type formats:                               \r\n"
           "#     fixed(current_value)                          \r\n"
           "#     lastset(initial_value)                        \r\n"
           "#     r_lastset(min, max, initial_value)            \r\n"
           "#     random(starting_value,max_delta)              \r\n"
           "#     randomup(starting_value,max_delta)            \r\n"
           "#     clock(starting_value)                         \r\n"
           "#     sequential(min_value,max_value)               \r\n"
           "#     seqinc(min_value,increment,max_value)         \r\n"
           "#     seqtimeinc(min_value,increment,max_value)     \r\n"
           "#     dfixed(current_value)                         \r\n"
           "#     rowstatus(current_value)                      \r\n";
}

}  // namespace korvimo::create
