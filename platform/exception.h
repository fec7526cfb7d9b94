// The error classes every layer raises. An operation completes or throws one of these;
// nothing returns an error code across layers.
#pragma once

#include <exception>
#include <string>

namespace platform {

// Base error: carries a fixed English message.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

// A file could not be opened: "Cannot open file %s".
class EFOpenError : public Exception {
public:
    explicit EFOpenError(const std::string& fileName);
};

// A text is not a strict integer: "'%s' is not a valid integer value".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A secured connection failed: its handshake, a record that is not TLS, a certificate or a
// file of trusted authorities that cannot be used. The message says which, in the operator's
// terms.
class ETlsError : public Exception {
public:
    using Exception::Exception;
};

// Replaces the first "%s" of a fixed message text with an argument.
std::string FormatMessage(const std::string& pattern, const std::string& argument);

} // namespace platform
