// Reduces the syntax name of an object to one of the eleven base types of mibinfo.out, with
// the range-and-marker text of its type and the type whose enumerations the object lists.
//
// The order of lookup: the base-type table; the first "%tc" line of the input that defines
// the name (its syntax field mapped in turn, to any depth); the table of common textual
// conventions; otherwise kCannotMapSyntax. A "%tc" line with a type name and no syntax field
// stops every lookup that reaches it, without a message. A type defined through a chain that
// leads back to itself ends with kCannotMapSyntax for that type; every level of a failed
// chain reports the syntax field it could not map.
//
//   SyntaxMapper mapper(input);
//   SyntaxMapping m;
//   if (mapper.map("DisplayString", m, report)) ...   // m.baseType == "OctetString"
//   for (std::string_view text : mapper.enumerations("IfAdminStatus")) ...
#pragma once

#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zorlet/compiler_output.h"
#include "zorlet/run_report.h"

namespace korvimo::zorlet {

// printf format; %s is the syntax name.
inline constexpr const char kCannotMapSyntax[] =
    "zorlet: ERROR: Cannot map syntax = %s. Include its type definition.\n";

struct SyntaxMapping {
    std::string_view baseType;
    // Such as "(0,255)" or "(1,2) e"; may be empty.
    std::string_view rangeAndMarker;
    // The type whose "%es" lines (or built-in enumerations) belong to the object; may be empty.
    std::string_view enumerationSource;
};

struct BuiltInEnumeration {
    std::string_view label;
    int value;
};

class SyntaxMapper {
  public:
    explicit SyntaxMapper(const CompilerOutput& input);

    bool map(std::string_view syntax, SyntaxMapping& mapping, RunReport& report);

    // The enumeration texts of the type's "%es" lines (label and value, with the line's
    // newline), in input order.
    std::span<const std::string_view> enumerations(std::string_view type) const;

    // The built-in enumerations of TruthValue, RowStatus and StorageType; empty otherwise.
    static std::span<const BuiltInEnumeration> builtInEnumerations(std::string_view type);

    // The base type of a name of the base-type table, or empty.
    static std::string_view baseTypeOf(std::string_view syntax);

  private:
    struct TypeDefinition {
        std::string_view syntax;
        std::string_view rangeAndMarker;
    };

    std::unordered_map<std::string_view, TypeDefinition> definitions_;
    // True when a "%tc" line without a syntax field ends every scan that gets that far.
    bool definitionsCut_ = false;
    std::unordered_map<std::string_view, std::vector<std::string_view>> enumerations_;
    std::unordered_map<std::string_view, SyntaxMapping> mapped_;
};

}  // namespace korvimo::zorlet
