// The error class of the data layer: every failure of the dataset cursor,
// its fields and its data sources is an EDatabaseError carrying its text.
#pragma once

#include "platform/Exception.h"

#include <string>

namespace vantelo {

class TComponent;

class EDatabaseError : public Exception {
public:
    // An error carrying the message alone.
    explicit EDatabaseError(std::string message) : Exception(std::move(message)) {}
    const char* ClassName() const noexcept override { return "EDatabaseError"; }

    // Raises the message on behalf of component: when the component has a
    // name the text is "Name: message", otherwise (no component, or an
    // unnamed one) the message alone.
    [[noreturn]] static void Raise(const std::string& message, const TComponent* component = nullptr);
    // The text Raise would carry.
    static std::string PrefixedText(const std::string& message, const TComponent* component);
};

}  // namespace vantelo
