// The error classes every layer raises: an error is an exception that carries
// the text shown to the user. Handlers catch them only at the boundary where
// the application object shows them (see app/THandlerGuard.h).
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace vantelo {

// Base of every error of the tool. Message() is the text the error box shows,
// as bytes in the tool's code page.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }
    // The class name used by the generic error report.
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string message_;
};

// The silent abort: ends a handler without any box.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    const char* ClassName() const noexcept override { return "EAbort"; }
};

// Formats printf-style into a std::string ("%s", "%d" and the like).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vantelo
