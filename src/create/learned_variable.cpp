#include "create/learned_variable.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "agent/debug_log.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "create/mib_objects.h"
#include "create/variable_file_creation.h"
#include "mibinfo/lines.h"

namespace korvimo::create {

namespace {

// The prefix matches the name itself or the name's leading part followed by ".".
bool prefixMatches(std::string_view prefix, std::string_view name) {
    return name.substr(0, prefix.size()) == prefix &&
           (name.size() == prefix.size() || name[prefix.size()] == '.');
}

// The template with the value text in place of its first "%s"; the rest stays as written.
std::string filledTemplate(std::string_view behaviourTemplate, std::string_view value) {
    const std::size_t place = behaviourTemplate.find("%s");
    if (place == std::string_view::npos) {
        return std::string(behaviourTemplate);
    }
    std::string out(behaviourTemplate.substr(0, place));
    out.append(value);
    out.append(behaviourTemplate.substr(place + 2));
    return out;
}

// Whether the agent reads the text of a string value back as these very octets: not when
// the text would read as hex digits ("0x41"), when blanks at its ends would be trimmed, or
// when the rendering stopped at a zero octet.
bool readsBack(std::string_view text, const snmp::Octets& octets) {
    if (text.size() != octets.length()) {
        return false;
    }
    if (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' ||
                          text.back() == '\t')) {
        return false;
    }
    const bool hexLike =
        text.size() > 2 && text[0] == '0' && text[1] == 'x' &&
        std::all_of(text.begin() + 2, text.end(), [](char c) { return hexDigit(c) >= 0; });
    return !hexLike;
}

}  // namespace

void OverrideTable::parse(std::string_view text) {
    overrides_.clear();
    // Lines are taken whole here (no mibinfo.out line limit): the parts are cut below.
    mibinfo::Lines lines(text, 0, text.size());
    std::string_view line;
    while (lines.next(line)) {
        line = trimBlanks(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string_view prefix;
        std::string_view rest;
        if (!takeWord(line, prefix, rest)) {
            continue;
        }
        if (trimBlanks(rest).empty()) {
            continue;  // a name without a behaviour overrides nothing
        }
        Override entry;
        entry.prefix.assign(prefix.substr(0, kOverridePrefixCapacity));
        entry.behaviourTemplate.assign(trimBlanks(rest).substr(0, kOverrideTemplateCapacity));
        overrides_.push_back(std::move(entry));
    }
}

Result OverrideTable::load(const std::string& path) {
    overrides_.clear();
    std::string text;
    if (Result read = readRegularFile(path, kMaxOverrideFileSize, text); !read) {
        return Result::failuref("Cannot read the override file [%s]: %s", path.c_str(),
                                read.c_str());
    }
    parse(text);
    return {};
}

std::optional<std::string> OverrideTable::behaviour(std::string_view name,
                                                    std::string_view value) const {
    const Override* best = nullptr;
    for (const Override& entry : overrides_) {
        // Strictly longer: among equal lengths the first in the file stays.
        if (prefixMatches(entry.prefix, name) &&
            (best == nullptr || entry.prefix.size() > best->prefix.size())) {
            best = &entry;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    return filledTemplate(best->behaviourTemplate, value);
}

LearnedVariable learnedVariable(const snmp::VarBind& answered, const mibinfo::MibInfo* mib,
                                const OverrideTable* overrides, Replay replay,
                                uint32_t* lookupPosition) {
    // UInteger32 (the obsolete application 7) has no syntax word of the control file: it is
    // kept as the unsigned 32-bit number it is, a Gauge, rather than lost as an unknown type.
    std::optional<snmp::VarBind> asGauge;
    if (answered.value.syntax == snmp::kTagUInteger32) {
        asGauge = answered;
        asGauge->value.syntax = snmp::kTagGauge;
    }
    const snmp::VarBind& binding = asGauge ? *asGauge : answered;
    char oidText[kLogOidCapacity];
    char typeName[kLogTypeCapacity];
    // Room for the whole value: the debug log's own capacity would cut a long string or
    // name, and the control file must serve what the teacher answered.
    const std::size_t capacity =
        std::max({kLogValueCapacity, 2 * std::size_t{binding.value.octets.length()} + 3,
                  11 * binding.value.oid.ids.size() + 1});
    // Most values fit the debug log's capacity: no buffer is allocated for them.
    char shortValue[kLogValueCapacity];
    std::vector<char> longValue;
    if (capacity > sizeof shortValue) {
        longValue.resize(capacity);
    }
    char* const valueText = longValue.empty() ? shortValue : longValue.data();
    valueToText(binding, oidText, sizeof oidText, typeName, sizeof typeName, valueText, capacity);
    const uint16_t syntax = binding.value.syntax;
    if (syntax == snmp::kTagTimeTicks || syntax == snmp::kTagCounter || syntax == snmp::kTagGauge) {
        // The number unsigned: not the debug log's hours and minutes of TimeTicks (clock()
        // starts from the tick count), nor its signed reading of counters and gauges, which
        // the agent would take for a value out of range.
        std::snprintf(valueText, capacity, "%" PRIu32, binding.value.number);
    } else if (syntax == snmp::kTagOctetString && !readsBack(valueText, binding.value.octets)) {
        octetsToHexText(valueText, capacity, binding.value.octets.bytes.data(),
                        binding.value.octets.bytes.size());
    }

    LearnedVariable variable;
    variable.type = typeName;
    // The object line gives the descriptor form of the name and the access, range and marker
    // the behaviour follows; the binding's own type chooses among the read-only ones.
    ObjectRecord object;
    const mibinfo::Record* line = nullptr;
    std::size_t identifierLength = 0;
    if (mib != nullptr) {
        line = mib->objectOf(oidText, identifierLength,
                             lookupPosition != nullptr ? *lookupPosition : 0);
        if (line != nullptr && lookupPosition != nullptr) {
            *lookupPosition = mib->positionOf(*line);
        }
    }
    if (line != nullptr) {
        object = objectRecord(*line);
        variable.name.assign(line->descriptor);
        variable.name.append(std::string_view(oidText).substr(identifierLength));
    } else {
        variable.name = oidText;
    }
    if (object.access.empty()) {
        object.access = "RO";
    }
    variable.access = object.access;
    object.type = variable.type;

    if (overrides != nullptr) {
        if (std::optional<std::string> chosen = overrides->behaviour(variable.name, valueText)) {
            variable.behaviour = std::move(*chosen);
            return variable;
        }
    }
    if (replay == Replay::Static) {
        variable.behaviour = formatText(object.writable() ? "lastset(%s)" : "fixed(%s)", valueText);
        return variable;
    }
    variable.behaviour = valueBehaviour(object, valueText);
    if (syntax == snmp::kTagCounter64 && binding.value.counter64 > UINT32_MAX) {
        // The growing counters count in 32 bits: a larger start is served as recorded.
        variable.behaviour = formatText("fixed(%s)", valueText);
    } else if (syntax == snmp::kTagOctetString && variable.behaviour.starts_with("r_lastset(") &&
               std::strchr(valueText, ',') != nullptr) {
        // r_lastset's value ends at a comma: the string goes as hex digits.
        octetsToHexText(valueText, capacity, binding.value.octets.bytes.data(),
                        binding.value.octets.bytes.size());
        variable.behaviour = valueBehaviour(object, valueText);
    }
    return variable;
}

void appendLearnedLine(const LearnedVariable& variable, std::string& out) {
    appendVariableLine(out, variable.name, variable.type, variable.access, variable.behaviour);
}

}  // namespace korvimo::create
