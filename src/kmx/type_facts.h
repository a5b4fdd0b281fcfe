// What kmx writes about a libsmi type: the name of its base type in the words of zorlet's
// base-type table, its range, its marker letter and its enumerations.
//
// The base type is found by walking up the type's parents to the first SMI base type:
// INTEGER and Integer32 give "Integer", OCTET STRING "OctetString", OBJECT IDENTIFIER
// "ObjectID", BITS "Bits", Unsigned32 "Unsigned32", Counter64 (and every 64-bit type)
// "Counter64"; the application types of SNMPv2-SMI and RFC1155-SMI keep their names
// (Counter32, Gauge32, TimeTicks, IpAddress, Opaque, Counter, Gauge, NetworkAddress).
// The range is the value range of an integer type or the size range of a string type, from
// the nearest type below the base type that has one, as its outermost bounds "(low,high)";
// an enumeration without a range gets the span of its values. The marker is "r" for
// RowStatus, "e" for any other enumerated integer, "d" for DisplayString and types whose
// display hint is "255a", "p" for PhysAddress and MacAddress.
//
//   TypeFacts facts = describeType(smiGetNodeType(node));
//   // facts.baseName == "OctetString", facts.range == "(0,255)", facts.marker == 'd'
#pragma once

#include "kmx/smi_api.h"

#include <string>
#include <string_view>

namespace korvimo::kmx {

struct TypeFacts {
    std::string baseName;
    std::string range;  // "(low,high)" or empty
    char marker = 0;    // 'e', 'r', 'd', 'p' or 0
    // The type whose named numbers are the enumerations (only for enumerated integers).
    SmiType* enumerationType = nullptr;
    // The nearest named type that is not an SMI base type, or nullptr.
    SmiType* namedType = nullptr;
};

TypeFacts describeType(SmiType* type);

// True for the SMI base types and the application types of the SMI modules.
bool isBaseType(SmiType* type);

// "range marker" as written after a syntax name: "(1,6) r", "(0,255)", "d" or "".
std::string rangeAndMarker(const TypeFacts& facts);

// The module that defines the type ("" for libsmi's built-in base types).
std::string_view typeModuleName(SmiType* type);

}  // namespace korvimo::kmx
