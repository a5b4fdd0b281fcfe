// Result: the outcome of an operation that can fail, carrying the reason when it did.
//
// Every operation of the core that can fail returns a Result. Success is the empty Result;
// a failure holds one line of English text that says what went wrong, in the words the
// system shows (the caller that gives up appends it to a status list). The success path
// costs one null pointer: nothing is allocated unless the operation fails.
//
//   Result openLog(const std::string& path) {
//       if (...) return Result::failuref("Cannot open [%s] for writing.", path.c_str());
//       return {};
//   }
//   if (Result r = openLog(path); !r) report(r.text());
//
// Operations that report several status lines as they go (loading a control file) write
// them to the report they are given and return a Result whose text is empty, or a plain
// bool; a query that merely finds nothing (a lookup) returns bool.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace korvimo {

class [[nodiscard]] Result {
  public:
    // Success.
    Result() = default;
    Result(const Result& other)
        : failure_(other.failure_ ? std::make_unique<std::string>(*other.failure_) : nullptr) {}
    Result& operator=(const Result& other) {
        if (this != &other) {
            failure_ = other.failure_ ? std::make_unique<std::string>(*other.failure_) : nullptr;
        }
        return *this;
    }
    Result(Result&&) noexcept = default;
    Result& operator=(Result&&) noexcept = default;

    static Result success() { return {}; }
    // A failure with its text (which may be empty when the cause has been reported already).
    static Result failure(std::string_view text);
    // A failure whose text is formatted printf-style (cut at 2,047 characters).
    static Result failuref(const char* format, ...) __attribute__((format(printf, 1, 2)));

    bool ok() const { return failure_ == nullptr; }
    explicit operator bool() const { return ok(); }

    // The failure's text; empty on success.
    std::string_view text() const {
        return failure_ ? std::string_view(*failure_) : std::string_view();
    }
    const char* c_str() const { return failure_ ? failure_->c_str() : ""; }

  private:
    std::unique_ptr<std::string> failure_;
};

// The failure line the user knows, then the system's reason (and advice, if any) after a
// blank; failed alone when reason is empty.
Result withReason(const Result& failed, std::string_view reason);
// The same with the text of the step that failed, as a sentence.
Result withReason(const Result& failed, const Result& cause);

}  // namespace korvimo
