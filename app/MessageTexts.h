// Every text the message box shows on its own: the kinds' title bar texts,
// the buttons' component names and captions, and its one error.
#pragma once

namespace vantelo::texts {

// Title bar texts of the kinds that have their own title (the custom kind
// takes the application title instead).
inline constexpr const char* kWarningTitle = "Warning";
inline constexpr const char* kErrorTitle = "Error";
inline constexpr const char* kInformationTitle = "Information";
inline constexpr const char* kConfirmTitle = "Confirm";

// Button captions; "&" marks the key that presses the button.
inline constexpr const char* kYesCaption = "&Yes";
inline constexpr const char* kNoCaption = "&No";
inline constexpr const char* kOkCaption = "OK";
inline constexpr const char* kCancelCaption = "Cancel";
inline constexpr const char* kAbortCaption = "&Abort";
inline constexpr const char* kRetryCaption = "&Retry";
inline constexpr const char* kIgnoreCaption = "&Ignore";
inline constexpr const char* kAllCaption = "&All";
inline constexpr const char* kNoToAllCaption = "N&o to All";
inline constexpr const char* kYesToAllCaption = "Yes to &All";
inline constexpr const char* kHelpCaption = "&Help";

// Component names of the buttons.
inline constexpr const char* kYesName = "Yes";
inline constexpr const char* kNoName = "No";
inline constexpr const char* kOkName = "OK";
inline constexpr const char* kCancelName = "Cancel";
inline constexpr const char* kAbortName = "Abort";
inline constexpr const char* kRetryName = "Retry";
inline constexpr const char* kIgnoreName = "Ignore";
inline constexpr const char* kAllName = "All";
inline constexpr const char* kNoToAllName = "NoToAll";
inline constexpr const char* kYesToAllName = "YesToAll";
inline constexpr const char* kHelpName = "Help";

// Component names of the box's own children.
inline constexpr const char* kMessageLabelName = "Message";
inline constexpr const char* kImageName = "Image";

// Raised by Ctrl+C when the clipboard cannot be used.
inline constexpr const char* kCannotOpenClipboard = "Cannot open clipboard";

}  // namespace vantelo::texts
