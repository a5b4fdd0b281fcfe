// libsmi's C interface, included the one way that compiles as C++: smi.h names a parameter
// "class", which is renamed while the header is read.
//
//   #include "kmx/smi_api.h"
//   SmiModule* module = smiGetModule("IF-MIB");
#pragma once

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define class smiClassParameter
#include <smi.h>
#undef class
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
