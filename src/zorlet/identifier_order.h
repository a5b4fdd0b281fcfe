// Numeric ordering of dotted object identifier texts, as mibinfo.out is sorted.
//
// Each dot-separated piece is read as a decimal number (an empty piece is 0, reading stops at
// the first non-digit, values beyond 32 bits saturate); pieces compare as unsigned numbers and
// a shorter identifier that is a prefix of a longer one sorts first.
//
//   compareIdentifiers("1.3.6.1.2.1.10", "1.3.6.1.2.1.9") > 0
//   std::vector<std::uint32_t> arcs; appendArcs("1.3.6", arcs);   // arcs == {1, 3, 6}
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace korvimo::zorlet {

// Appends the pieces of an identifier text to arcs; returns how many were appended.
std::size_t appendArcs(std::string_view identifier, std::vector<std::uint32_t>& arcs);

// Negative, zero or positive as a sorts before, with or after b.
int compareArcs(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b);

int compareIdentifiers(std::string_view a, std::string_view b);

}  // namespace korvimo::zorlet
