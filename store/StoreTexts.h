// Every user-visible text the dataset cursor, its fields and its data
// sources raise or show. Texts are data: callers format them with Format()
// and tests assert them word for word, so they live in one place.
#pragma once

namespace vantelo::StoreTexts {

// "<component name>: <message>" for errors raised on behalf of a named component.
inline constexpr const char* kComponentPrefix = "%s: %s";

inline constexpr const char* kDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kRecordNotFound = "Record not found";
inline constexpr const char* kNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* kFieldNotFound = "Field '%s' not found";
inline constexpr const char* kFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* kInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr const char* kFieldAccess = "Cannot access field '%s' as type %s";
inline constexpr const char* kFieldNoDataSet = "Field '%s' has no dataset";
// Text written to a whole-number field that is not a whole number (never
// reached by the tool, which writes no number fields).
inline constexpr const char* kInvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";

// The in-memory storage's own error: an edited row that is no longer there.
inline constexpr const char* kMemoryRowMissing = "Row cannot be located for updating";

// The start-up's note on standard error when the per-user data folder or its
// database cannot be made; %s is the path and the system's reason.
inline constexpr const char* kDataFolderFailed = "数据库创建失败：%s";

// The display texts of a Boolean field.
inline constexpr const char* kTrueText = "True";
inline constexpr const char* kFalseText = "False";

// Type words of the unsupported-accessor error.
inline constexpr const char* kTypeBoolean = "Boolean";
inline constexpr const char* kTypeString = "String";
inline constexpr const char* kTypeInteger = "Integer";

}  // namespace vantelo::StoreTexts
