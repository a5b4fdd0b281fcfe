// Decimal numbers as the system's text files and settings write them: leading white space,
// an optional sign, then digits up to the first non-digit (0 when there are none). This is
// how the pieces of a dotted identifier, the numbers of a variable's value text and the
// numeric settings of korvan.ini are read.
//
//   readDecimal(" 42abc");              // 42
//   readDecimal("-1");                  // 4294967295: the value wraps modulo 2^32
//   static_cast<int32_t>(readDecimal("-1"));   // -1
#pragma once

#include <cstdint>
#include <string_view>

namespace korvimo {

// The number at the start of text, wrapping modulo 2^32; a "-" sign negates it modulo 2^32.
uint32_t readDecimal(std::string_view text);

}  // namespace korvimo
