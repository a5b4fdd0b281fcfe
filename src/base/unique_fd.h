// UniqueFd: an owned file descriptor. It is closed exactly once: when its owner goes, or
// when reset() gives it a new one. Moving passes the ownership on; a moved-from UniqueFd
// holds nothing (-1).
//
//   UniqueFd file(::open(path, O_RDONLY | O_CLOEXEC));
//   if (!file) return Result::failure("...");
//   ::pread(file.get(), ...);
//   // closed at the end of the scope
//
// A structure that owns a descriptor holds a UniqueFd, never a bare int. Whoever watches
// the descriptor in the event loop declares its Watch after the UniqueFd, so that the watch
// ends before the descriptor closes.
#pragma once

#include <unistd.h>

#include <utility>

namespace korvimo {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd < 0 ? -1 : fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held (if any) and holds fd instead.
    void reset(int fd = -1) {
        const int old = std::exchange(fd_, fd < 0 ? -1 : fd);
        if (old >= 0) {
            ::close(old);  // never retried: on Linux the descriptor is gone even on EINTR
        }
    }

  private:
    int fd_ = -1;
};

}  // namespace korvimo
