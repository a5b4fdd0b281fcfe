#include "mibinfo/descriptor_mapper.h"

#include <algorithm>

namespace korvimo::mibinfo {

bool DescriptorMapper::map(std::string_view name, std::string& numeric) {
    if (isNumericName(name)) {
        numeric.assign(name);
        return true;
    }
    const std::size_t dot = name.find('.');
    const std::span<const uint32_t> objects = mib_.objectsWithDescriptor(name.substr(0, dot));
    if (objects.empty()) {
        return false;
    }
    // The descriptor's lines are in file order: the first at or after the previous match,
    // else the first of all.
    const auto at = std::lower_bound(objects.begin(), objects.end(), resume_);
    resume_ = at != objects.end() ? *at : objects.front();
    numeric.assign(mib_.records()[resume_].identifier);
    if (dot != std::string_view::npos) {
        numeric.append(name.substr(dot));
    }
    return true;
}

}  // namespace korvimo::mibinfo
