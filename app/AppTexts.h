// Every text the application shell shows on its own.
#pragma once

namespace vantelo::texts {

inline constexpr const char* kCannotMakeVisibleWindowModal = "Cannot make a visible window modal";
inline constexpr const char* kApplicationErrorCaption = "Application Error";
// Class name, module (executable) name, code offset, message, trailing full stop.
inline constexpr const char* kGenericReportFormat = "Exception %s in module %s at %08X.\r\n%s%s\r\n";

}  // namespace vantelo::texts
