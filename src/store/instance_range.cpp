#include "store/instance_range.h"

namespace korvimo::store {

namespace {

// Reads digits at text[position...]; false when there are none or the value passes 32 bits.
bool readComponent(std::string_view text, std::size_t& position, uint32_t& value,
                   const char*& why) {
    const std::size_t start = position;
    uint64_t number = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
        number = number * 10 + static_cast<uint64_t>(text[position] - '0');
        if (number > UINT32_MAX) {
            why = kNameNumberTooLargeText;
            return false;
        }
        ++position;
    }
    if (position == start) {
        why = kNameNotNumericText;
        return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

}  // namespace

bool InstanceRange::parse(std::string_view text, const char*& why) {
    low_.clear();
    high_.clear();
    reversed_.clear();
    hasRange_ = false;
    std::size_t position = 0;
    while (true) {
        uint32_t low = 0;
        uint32_t high = 0;
        if (position < text.size() && text[position] == '[') {
            ++position;
            hasRange_ = true;
            if (!readComponent(text, position, low, why)) {
                return false;
            }
            high = low;
            if (position < text.size() && text[position] == '-') {
                ++position;
                if (!readComponent(text, position, high, why)) {
                    return false;
                }
            }
            if (position >= text.size() || text[position] != ']') {
                why = kNameNotNumericText;
                return false;
            }
            ++position;
            if (high < low) {
                reversed_.push_back({low, high});
                high = low;
            }
        } else if (!readComponent(text, position, low, why)) {
            return false;
        } else {
            high = low;
        }
        if (low_.size() >= kMaxNameComponents) {
            why = kNameTooLongText;
            return false;
        }
        low_.push_back(low);
        high_.push_back(high);
        if (position == text.size()) {
            break;
        }
        if (text[position] != '.') {
            why = kNameNotNumericText;
            return false;
        }
        ++position;
    }
    if (hasRange_ && low_.size() > kMaxRangeComponents) {
        why = kNameTooLongText;
        return false;
    }
    return true;
}

uint64_t InstanceRange::count(uint64_t limit) const {
    uint64_t total = 1;
    for (std::size_t i = 0; i < low_.size(); ++i) {
        const uint64_t width = static_cast<uint64_t>(high_[i]) - low_[i] + 1;
        if (total > limit / width) {
            return limit;
        }
        total *= width;
    }
    return total < limit ? total : limit;
}

bool InstanceRange::first() {
    current_ = low_;
    return !current_.empty();
}

bool InstanceRange::next() {
    std::size_t i = current_.size();
    while (i > 0 && current_[i - 1] >= high_[i - 1]) {
        --i;
    }
    if (i == 0) {
        return false;
    }
    ++current_[i - 1];
    for (std::size_t j = i; j < current_.size(); ++j) {
        current_[j] = low_[j];
    }
    return true;
}

}  // namespace korvimo::store
