// FixedText<N>: a text of at most N characters that cuts whatever is copied into it.
//
// Settings of an agent and of the configuration have fixed capacities (a community holds
// 49 characters, the installation directory 99); assigning a longer text keeps its first N
// characters, never more.
//
//   FixedText<49> community;
//   community = longText;          // cut to 49 characters
//   send(community.c_str());
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace korvimo {

template <std::size_t N>
class FixedText {
  public:
    static constexpr std::size_t kCapacity = N;

    FixedText() = default;
    FixedText(std::string_view text) { assign(text); }  // NOLINT: implicit by design
    FixedText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }

    void assign(std::string_view text) {
        length_ = text.size() < N ? text.size() : N;
        if (length_ > 0) {
            std::memcpy(text_, text.data(), length_);
        }
        text_[length_] = '\0';
    }
    void clear() { assign({}); }

    const char* c_str() const { return text_; }
    std::string_view view() const { return {text_, length_}; }
    std::string str() const { return std::string(view()); }
    std::size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }

    bool operator==(std::string_view other) const { return view() == other; }

  private:
    char text_[N + 1] = {};
    std::size_t length_ = 0;
};

}  // namespace korvimo
