// The platform's exception object (NSException): raised by platform calls where the real
// platform raises rather than returning an error, and caught only by the Cocoa bracket.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace perivane::platform {

class NSException : public std::runtime_error {
public:
    NSException(std::string name, std::optional<std::string> reason)
        : std::runtime_error(reason.value_or(name)), name_(std::move(name)), reason_(std::move(reason)) {}

    const std::string& name() const noexcept { return name_; }
    // The reason as the platform prints it with "%@": "(null)" when there is none.
    const char* reasonText() const noexcept { return reason_ ? reason_->c_str() : "(null)"; }

private:
    std::string name_;
    std::optional<std::string> reason_;
};

inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSRangeException = "NSRangeException";

}  // namespace perivane::platform
