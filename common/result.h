#pragma once

// Errors as values: a reader returns what it read or an error carrying the one line that the
// program prints at its edge. Below a program's entry function nothing prints a failure itself.

#include <string>
#include <utility>
#include <variant>

namespace hydro {

/// What kind of failure an error is, for the callers whose next step depends on it (a
/// post-processor that waits for a key after a file that cannot be opened).
enum class ErrorKind { kCannotOpen, kInvalid, kOutOfMemory };

struct Error {
    std::string message;  ///< one line, without its line break
    ErrorKind kind = ErrorKind::kInvalid;
};

/// A value or the error that prevented it.
template <class T>
class [[nodiscard]] Result {
public:
    // Implicit on purpose: a reader returns either its value or an Error.
    Result(T value) : state_(std::move(value)) {}      // NOLINT(google-explicit-constructor)
    Result(Error error) : state_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

    [[nodiscard]] bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }

    [[nodiscard]] T& operator*() { return std::get<T>(state_); }
    [[nodiscard]] const T& operator*() const { return std::get<T>(state_); }
    [[nodiscard]] T* operator->() { return &std::get<T>(state_); }
    [[nodiscard]] const T* operator->() const { return &std::get<T>(state_); }
    [[nodiscard]] const Error& error() const { return std::get<Error>(state_); }

private:
    std::variant<T, Error> state_;
};

/// Success without a value, or an error.
using Status = Result<std::monostate>;

[[nodiscard]] inline Status success() {
    return std::monostate{};
}

}  // namespace hydro
