// What a fuzz target asserts: a broken promise ends the run where libFuzzer sees it.
#pragma once

#include <cstdlib>

namespace korvimo::fuzz {

inline void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace korvimo::fuzz
