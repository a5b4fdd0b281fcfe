// Numeric names of the control file and their instance ranges: "1.3.6.1.2.1.2.2.1.1.[1-3]"
// stands for three identifiers, produced in ascending order with the last component varying
// fastest (an odometer).
//
//   InstanceRange range;
//   if (!range.parse("1.3.6.[1-2].[5-6]", why)) report(why);
//   for (bool more = range.first(); more; more = range.next()) use(range.current());
//   // 1.3.6.1.5, 1.3.6.1.6, 1.3.6.2.5, 1.3.6.2.6
//   range.component(4);    // the current value of component 4 (counted from 1), for rangeinst
//
// A component is a decimal number, "[n]", or "[low-high]"; a range whose low value exceeds
// its high value stands for its low value only.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace korvimo::store {

// Sub-identifiers an identifier of the store may have (as many as a request can carry).
inline constexpr uint32_t kMaxNameComponents = 128;
// Components a name with instance ranges may have.
inline constexpr uint32_t kMaxRangeComponents = 64;

class InstanceRange {
  public:
    // Parses numeric name text. False, with a reason in why, when the text is not dotted
    // decimal with optional ranges, has too many components, or a number beyond 32 bits.
    bool parse(std::string_view text, const char*& why);

    bool hasRange() const { return hasRange_; }
    uint32_t componentCount() const { return static_cast<uint32_t>(low_.size()); }
    // How many identifiers the name stands for, at most `limit` (counting stops there).
    uint64_t count(uint64_t limit) const;

    // The first identifier; then each next one in ascending order. False after the last.
    bool first();
    bool next();
    const std::vector<uint32_t>& current() const { return current_; }

    // Current value of component k, counted from 1.
    uint32_t component(uint32_t k) const { return current_[k - 1]; }

    // The ranges of the name written with a low value above their high value, as written
    // (each stands for its low value only).
    struct Reversed {
        uint32_t low = 0;
        uint32_t high = 0;
    };
    const std::vector<Reversed>& reversed() const { return reversed_; }

  private:
    std::vector<uint32_t> low_;
    std::vector<uint32_t> high_;
    std::vector<uint32_t> current_;
    std::vector<Reversed> reversed_;
    bool hasRange_ = false;
};

// A range whose low value exceeds its high value (a warning of loading).
inline constexpr const char* kReversedRangeTitle = "Invalid instance range";
inline constexpr const char* kReversedRangeText = "[%u-%u] runs downwards: only %u is served";

// A name that is not a numeric identifier after mapping; the reason follows.
inline constexpr const char* kBadIdentifierMessage =
    "Invalid object identifier.(line = %ld). %s: %s";

// Reasons a name is refused.
inline constexpr const char* kNameNotNumericText = "not a dotted decimal identifier";
inline constexpr const char* kNameTooLongText = "too many components";
inline constexpr const char* kNameNumberTooLargeText = "a component exceeds 4294967295";

}  // namespace korvimo::store
