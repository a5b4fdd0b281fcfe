#include "zorlet/syntax_mapper.h"

#include <unordered_set>

#include "zorlet/line_tokens.h"

namespace korvimo::zorlet {

namespace {

struct BaseTypeRow {
    std::string_view syntax;
    std::string_view baseType;
};

constexpr BaseTypeRow kBaseTypes[] = {
    {"Integer32", "Integer"},
    {"Integer", "Integer"},
    {"OctetString", "OctetString"},
    {"Opaque", "Opaque"},
    {"ObjectID", "ObjectID"},
    {"IpAddress", "IpAddress"},
    {"NetworkAddress", "NetworkAddress"},
    {"Counter32", "Counter"},
    {"Counter64", "Counter64"},
    {"Counter", "Counter"},
    {"Gauge32", "Gauge"},
    {"Gauge", "Gauge"},
    {"TimeTicks", "TimeTicks"},
    {"Bits", "Bits"},
    {"Unsigned32", "Gauge"},
};

struct ConventionRow {
    std::string_view type;
    std::string_view baseType;
    std::string_view rangeAndMarker;
};

constexpr ConventionRow kConventions[] = {
    {"DisplayString", "OctetString", "(0,255)"},
    {"PhysAddress", "OctetString", ""},
    {"MacAddress", "OctetString", "(6,6)"},
    {"TruthValue", "Integer", "(1,2) e"},
    {"TestAndIncr", "Integer", "(0,2147483647)"},
    {"AutonomousType", "ObjectID", ""},
    {"InstancePointer", "ObjectID", ""},
    {"ValuePointer", "ObjectID", ""},
    {"RowPointer", "ObjectID", ""},
    {"RowStatus", "Integer", "(1,6) r"},
    {"TimeStamp", "TimeTicks", ""},
    {"TimeInterval", "Integer", "(0,2147483647)"},
    {"DateAndTime", "OctetString", "(8,11)"},
    {"VariablePointer", "ObjectID", ""},
    {"StorageType", "Integer", "(1,5) e"},
    {"TDomain", "ObjectID", ""},
    {"TAddress", "OctetString", "(0,255)"},
    {"InterfaceIndex", "Integer", ""},
};

constexpr BuiltInEnumeration kTruthValues[] = {{"true", 1}, {"false", 2}};
constexpr BuiltInEnumeration kRowStatuses[] = {
    {"active", 1},      {"notInService", 2},  {"notReady", 3},
    {"createAndGo", 4}, {"createAndWait", 5}, {"destroy", 6},
};
constexpr BuiltInEnumeration kStorageTypes[] = {
    {"other", 1}, {"volatile", 2}, {"nonVolatile", 3}, {"permanent", 4}, {"readOnly", 5},
};

constexpr std::string_view kTypeTag = "%tc";
constexpr std::string_view kEnumerationTag = "%es";

// The type's enumerations belong to objects when its range-and-marker ends in "e" or "r".
bool marksEnumeration(std::string_view rangeAndMarker) {
    return !rangeAndMarker.empty() &&
           (rangeAndMarker.back() == 'e' || rangeAndMarker.back() == 'r');
}

}  // namespace

std::string_view SyntaxMapper::baseTypeOf(std::string_view syntax) {
    for (const BaseTypeRow& row : kBaseTypes) {
        if (row.syntax == syntax) {
            return row.baseType;
        }
    }
    return {};
}

std::span<const BuiltInEnumeration> SyntaxMapper::builtInEnumerations(std::string_view type) {
    if (type == "TruthValue") {
        return kTruthValues;
    }
    if (type == "RowStatus") {
        return kRowStatuses;
    }
    if (type == "StorageType") {
        return kStorageTypes;
    }
    return {};
}

SyntaxMapper::SyntaxMapper(const CompilerOutput& input) {
    for (std::size_t i = 0; i < input.lineCount(); ++i) {
        std::string_view tag = input.directiveTag(i);
        if (tag != kTypeTag && tag != kEnumerationTag) {
            continue;
        }
        TokenSplit fields = takeToken(input.line(i));
        TokenSplit type = takeToken(fields.rest);
        if (!type.found) {
            continue;
        }
        if (tag == kEnumerationTag) {
            enumerations_[type.token].push_back(type.rest);
            continue;
        }
        if (definitionsCut_) {
            continue;
        }
        TokenSplit syntax = takeToken(type.rest);
        if (!syntax.found) {
            definitionsCut_ = true;
            continue;
        }
        definitions_.emplace(type.token, TypeDefinition{syntax.token, trimSpace(syntax.rest)});
    }
}

std::span<const std::string_view> SyntaxMapper::enumerations(std::string_view type) const {
    auto found = enumerations_.find(type);
    if (found == enumerations_.end()) {
        return {};
    }
    return found->second;
}

bool SyntaxMapper::map(std::string_view syntax, SyntaxMapping& mapping, RunReport& report) {
    // Each level of a definition chain waits for the mapping of its syntax field; the levels
    // are kept in a list rather than on the call stack so that no input can exhaust it.
    std::vector<std::string_view> levels;
    std::unordered_set<std::string_view> visited;
    std::string_view current = syntax;
    SyntaxMapping result;
    bool mapped = false;
    bool reportInnermost = false;
    for (;;) {
        std::string_view base = baseTypeOf(current);
        if (!base.empty()) {
            result = SyntaxMapping{base, {}, {}};
            mapped = true;
            break;
        }
        auto known = mapped_.find(current);
        if (known != mapped_.end()) {
            result = known->second;
            mapped = true;
            break;
        }
        if (!visited.insert(current).second) {
            reportInnermost = true;
            break;
        }
        auto definition = definitions_.find(current);
        if (definition != definitions_.end()) {
            const TypeDefinition& d = definition->second;
            std::string_view definedBase = baseTypeOf(d.syntax);
            if (!definedBase.empty()) {
                result = SyntaxMapping{
                    definedBase, d.rangeAndMarker,
                    marksEnumeration(d.rangeAndMarker) ? definition->first : std::string_view{}};
                mapped = true;
                break;
            }
            levels.push_back(d.syntax);
            current = d.syntax;
            continue;
        }
        if (definitionsCut_) {
            break;
        }
        bool found = false;
        for (const ConventionRow& row : kConventions) {
            if (row.type == current) {
                result = SyntaxMapping{
                    row.baseType, row.rangeAndMarker,
                    marksEnumeration(row.rangeAndMarker) ? row.type : std::string_view{}};
                found = true;
                break;
            }
        }
        if (found) {
            mapped = true;
            break;
        }
        reportInnermost = true;
        break;
    }
    if (!mapped) {
        if (reportInnermost) {
            report.error(formatMessage(kCannotMapSyntax, current));
        }
        for (std::size_t i = levels.size(); i-- > 0;) {
            report.error(formatMessage(kCannotMapSyntax, levels[i]));
        }
        return false;
    }
    mapped_.emplace(syntax, result);
    for (std::string_view level : levels) {
        mapped_.emplace(level, result);
    }
    mapping = result;
    return true;
}

}  // namespace korvimo::zorlet
