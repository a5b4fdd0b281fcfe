#include "store/instance_table.h"

#include <algorithm>

#include "store/attribute_file.h"

namespace korvimo::store {

InstanceSuffix suffixKey(std::span<const uint32_t> suffix) {
    InstanceSuffix key(suffix.size(), U'\0');
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        key[i] = static_cast<char32_t>(suffix[i]);
    }
    return key;
}

int compareSuffix(const InstanceSuffix& key, std::span<const uint32_t> suffix) {
    const std::size_t n = std::min(key.size(), suffix.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto k = static_cast<uint32_t>(key[i]);
        if (k != suffix[i]) {
            return k < suffix[i] ? -1 : 1;
        }
    }
    if (key.size() == suffix.size()) {
        return 0;
    }
    return key.size() < suffix.size() ? -1 : 1;
}

uint32_t InstanceTable::hashOf(std::span<const uint32_t> suffix) {
    return hashIdentifiers(suffix);
}

uint32_t InstanceTable::hashOf(const InstanceSuffix& key) {
    return hashIdentifiers(std::span<const char32_t>(key));
}

InstanceTable::InstanceTable(const InstanceTable& other) : tree_(other.tree_) {
    if (tree_.empty()) {
        return;
    }
    std::size_t size = 16;
    while (size < tree_.size() * 2) {
        size *= 2;
    }
    places_.resize(size);
    for (auto it = tree_.begin(); it != tree_.end(); ++it) {
        place(hashOf(it->first), it);
    }
}

InstanceTable& InstanceTable::operator=(const InstanceTable& other) {
    if (this != &other) {
        InstanceTable copy(other);
        *this = std::move(copy);
    }
    return *this;
}

InstanceTable::iterator InstanceTable::find(std::span<const uint32_t> suffix) {
    if (places_.empty()) {
        return tree_.end();
    }
    const std::size_t mask = places_.size() - 1;
    const uint32_t h = hashOf(suffix);
    for (std::size_t i = h & mask; places_[i].used; i = (i + 1) & mask) {
        if (places_[i].hash == h && compareSuffix(places_[i].at->first, suffix) == 0) {
            return places_[i].at;
        }
    }
    return tree_.end();
}

InstanceTable::const_iterator InstanceTable::find(std::span<const uint32_t> suffix) const {
    return const_cast<InstanceTable*>(this)->find(suffix);
}

void InstanceTable::place(uint32_t hash, iterator it) {
    const std::size_t mask = places_.size() - 1;
    std::size_t i = hash & mask;
    while (places_[i].used) {
        i = (i + 1) & mask;
    }
    places_[i] = Place{hash, true, it};
}

void InstanceTable::grow() {
    std::vector<Place> larger(std::max<std::size_t>(16, places_.size() * 2));
    places_.swap(larger);
    for (auto it = tree_.begin(); it != tree_.end(); ++it) {
        place(hashOf(it->first), it);
    }
}

std::pair<InstanceTable::iterator, bool> InstanceTable::emplace(InstanceSuffix key,
                                                                const DynamicInstance& instance) {
    if ((tree_.size() + 1) * 2 > places_.size()) {
        grow();
    }
    const uint32_t h = hashOf(key);
    const std::size_t mask = places_.size() - 1;
    for (std::size_t i = h & mask; places_[i].used; i = (i + 1) & mask) {
        if (places_[i].hash == h && places_[i].at->first == key) {
            return {places_[i].at, false};
        }
    }
    const auto hint =
        !tree_.empty() && tree_.rbegin()->first < key ? tree_.end() : tree_.lower_bound(key);
    const iterator it = tree_.emplace_hint(hint, std::move(key), instance);
    place(h, it);
    return {it, true};
}

void InstanceTable::erase(iterator it) {
    const std::size_t mask = places_.size() - 1;
    std::size_t i = hashOf(it->first) & mask;
    while (!(places_[i].used && places_[i].at == it)) {
        i = (i + 1) & mask;
    }
    // Backward-shift deletion keeps every probe sequence unbroken without tombstones.
    places_[i].used = false;
    for (std::size_t j = (i + 1) & mask; places_[j].used; j = (j + 1) & mask) {
        const std::size_t home = places_[j].hash & mask;
        const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (stays) {
            continue;
        }
        places_[i] = places_[j];
        places_[j].used = false;
        i = j;
    }
    tree_.erase(it);
}

}  // namespace korvimo::store
