// InstanceTable: the instances of one dynamic column, kept in suffix order for GetNext and
// hashed by suffix for Get, so that a table of a hundred thousand rows answers an exact
// name with one probe and a successor with one tree search.
//
//   InstanceTable table;
//   table.emplace(suffixKey(index), instance);
//   auto it = table.find(suffix);              // exact, or table.end()
//   auto next = table.upperBound(suffix);      // first greater
//   table.erase(it);
//
// Iterators stay valid until their own instance is erased (they are those of a std::map).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace korvimo::store {

inline constexpr uint8_t kInstancePresent = 1;
inline constexpr uint8_t kInstanceAwaiting = 2;  // a required column awaiting its value

struct DynamicInstance {
    uint32_t ordinal = 0;
    uint8_t state = kInstancePresent;
    bool hasOwnValue = false;  // listed in the control file with its own expression
    uint32_t ownOffset = 0;    // the own expression in the instance text pool
    uint32_t ownLength = 0;
};

// An instance suffix as a key. Sub-identifiers are kept as char32_t, so suffixes of up to
// three sub-identifiers live inside the key itself.
using InstanceSuffix = std::u32string;

InstanceSuffix suffixKey(std::span<const uint32_t> suffix);
// -1, 0 or 1 as a key is before, equal to or after a suffix, in identifier order.
int compareSuffix(const InstanceSuffix& key, std::span<const uint32_t> suffix);

// Orders keys like identifiers (unsigned sub-identifiers, a prefix first); also compares
// keys with spans, so lookups build no key.
struct SuffixLess {
    using is_transparent = void;
    bool operator()(const InstanceSuffix& a, const InstanceSuffix& b) const { return a < b; }
    bool operator()(const InstanceSuffix& a, std::span<const uint32_t> b) const {
        return compareSuffix(a, b) < 0;
    }
    bool operator()(std::span<const uint32_t> a, const InstanceSuffix& b) const {
        return compareSuffix(b, a) > 0;
    }
};

class InstanceTable {
  public:
    using Tree = std::map<InstanceSuffix, DynamicInstance, SuffixLess>;
    using iterator = Tree::iterator;
    using const_iterator = Tree::const_iterator;

    InstanceTable() = default;
    // A copy has its own hash over its own tree. May throw std::bad_alloc.
    InstanceTable(const InstanceTable& other);
    InstanceTable& operator=(const InstanceTable& other);
    // Moving keeps the tree's nodes, so the hash stays right.
    InstanceTable(InstanceTable&&) noexcept = default;
    InstanceTable& operator=(InstanceTable&&) noexcept = default;

    std::size_t size() const { return tree_.size(); }
    bool empty() const { return tree_.empty(); }
    iterator begin() { return tree_.begin(); }
    iterator end() { return tree_.end(); }
    const_iterator begin() const { return tree_.begin(); }
    const_iterator end() const { return tree_.end(); }
    // The greatest suffix, for appending in order.
    const InstanceSuffix& lastKey() const { return tree_.rbegin()->first; }

    iterator find(std::span<const uint32_t> suffix);
    const_iterator find(std::span<const uint32_t> suffix) const;
    const_iterator upperBound(std::span<const uint32_t> suffix) const {
        return tree_.upper_bound(suffix);
    }

    // Inserts unless the suffix is there already; gives the instance with that suffix and
    // whether it was inserted. May throw std::bad_alloc.
    std::pair<iterator, bool> emplace(InstanceSuffix key, const DynamicInstance& instance);
    void erase(iterator it);

  private:
    static uint32_t hashOf(std::span<const uint32_t> suffix);
    static uint32_t hashOf(const InstanceSuffix& key);
    void grow();
    void place(uint32_t hash, iterator it);

    struct Place {
        uint32_t hash = 0;
        bool used = false;
        iterator at;
    };

    Tree tree_;
    std::vector<Place> places_;  // open addressing with linear probing
};

}  // namespace korvimo::store
