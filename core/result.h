// The project's own result convention: a value, or an error code with its message. The
// code is a Win32 error number (the platform layer's currency) or 0 when only the message
// tells; the message is complete and ready to show.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace core {

struct Error {
    std::uint32_t code = 0;
    std::string message;
};

template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit, so a function returns its value
    Result(Error error) : state_(std::move(error)) {}  // NOLINT

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// For operations that give nothing back but may fail.
struct Done {};
using Status = Result<Done>;
inline Status Ok() { return Done{}; }

}  // namespace core
