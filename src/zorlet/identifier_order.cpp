#include "zorlet/identifier_order.h"

#include <limits>

namespace korvimo::zorlet {

namespace {

std::uint32_t readPiece(std::string_view piece) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    std::uint64_t value = 0;
    for (char c : piece) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > kMax) {
            return static_cast<std::uint32_t>(kMax);
        }
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

std::size_t appendArcs(std::string_view identifier, std::vector<std::uint32_t>& arcs) {
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        std::size_t dot = identifier.find('.', start);
        std::size_t end = dot == std::string_view::npos ? identifier.size() : dot;
        arcs.push_back(readPiece(identifier.substr(start, end - start)));
        ++count;
        if (dot == std::string_view::npos) {
            return count;
        }
        start = dot + 1;
    }
}

int compareArcs(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
    std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

int compareIdentifiers(std::string_view a, std::string_view b) {
    std::vector<std::uint32_t> arcsA;
    std::vector<std::uint32_t> arcsB;
    appendArcs(a, arcsA);
    appendArcs(b, arcsB);
    return compareArcs(arcsA, arcsB);
}

}  // namespace korvimo::zorlet
