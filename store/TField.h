// One column of a dataset's current row. A field reads and writes the value
// slot of the dataset's active record buffer; the subclasses give the typed
// accessors (text, Boolean, whole number) and their conversion rules. An
// accessor a class does not support raises "Cannot access field '%s' as
// type %s".
#pragma once

#include "store/TComponent.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vantelo {

class TDataSet;

// The column types the storage maps result columns to.
enum class TFieldType { ftUnknown, ftString, ftInteger, ftBoolean, ftAutoInc, ftWideString };

enum class TAlignment { Left, Right, Center };

// A value slot of a record buffer: not fetched yet, Null, or a value.
// Boolean columns hold a 16-bit value (0 is False, anything else True);
// whole-number columns an int32; narrow text a byte string in the tool's
// code page; wide text UTF-16.
struct TNotFetched {
    bool operator==(const TNotFetched&) const = default;
};
struct TNull {
    bool operator==(const TNull&) const = default;
};
using TValue = std::variant<TNotFetched, TNull, int16_t, int32_t, std::string, std::u16string>;

// True when the slot holds no value (Null or not fetched).
inline bool IsNullValue(const TValue& value)
{
    return std::holds_alternative<TNull>(value) || std::holds_alternative<TNotFetched>(value);
}

// Case-insensitive comparison of field names and Boolean texts: ASCII
// letters fold, and other characters through the code page's upper-casing.
bool SameText(std::string_view a, std::string_view b);

class TField : public TComponent {
public:
    explicit TField(TFieldType type, std::string fieldName = {}, int size = 0);
    ~TField() override;

    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(std::string name) { fieldName_ = std::move(name); }
    TFieldType DataType() const { return dataType_; }
    // Defined length: characters for wide text, bytes for narrow text, 0 otherwise.
    int Size() const { return size_; }
    void SetSize(int size) { size_ = size; }
    // 1-based position of the bound column in the result; 0 while unbound.
    int FieldNo() const { return fieldNo_; }
    // Position in the dataset's field list (the value slot index); -1 while in none.
    int Index() const { return index_; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    bool Required() const { return required_; }
    void SetRequired(bool required) { required_ = required; }
    const std::string& DisplayLabel() const { return displayLabel_; }
    void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
    // The display label when set, else the field name.
    const std::string& DisplayName() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment) { alignment_ = alignment; }
    // Default display width in characters.
    virtual int DisplayWidth() const { return size_ > 0 ? size_ : 10; }
    // The dataset the field belongs to, or null.
    TDataSet* DataSet() const { return dataSet_; }

    // The current row's value slot. Reading fetches the column lazily from
    // the storage. A field without dataset, a closed or an empty dataset
    // give Null.
    const TValue& Value() const;
    // True when the field has no value in the current row.
    bool IsNull() const { return IsNullValue(Value()); }
    // The path every writing accessor ends in: raises "Field '%s' has no
    // dataset" without a dataset, "Dataset not in edit or insert mode"
    // outside edit/insert, "Field '%s' cannot be modified" for a read-only
    // field; otherwise stores the value in the active row and marks the row
    // modified (also when the value is unchanged).
    void SetValue(TValue value);
    // The checks of SetValue alone, raising the same errors in the same
    // order: run before a text is converted, so that a field that cannot be
    // written says so rather than that the text does not convert.
    void CheckWritable() const;

    virtual bool AsBoolean() const;
    virtual void SetAsBoolean(bool value);
    virtual std::string AsString() const;
    virtual void SetAsString(std::string_view text);
    virtual int32_t AsInteger() const;
    virtual void SetAsInteger(int32_t value);
    // The text a view shows for the field: the text accessor here.
    virtual std::string DisplayText() const { return AsString(); }

protected:
    // Raises "Cannot access field '<display name>' as type <typeWord>".
    [[noreturn]] void AccessError(const char* typeWord) const;

private:
    friend class TDataSet;
    friend class TFields;

    std::string fieldName_;
    TFieldType dataType_;
    int size_;
    int fieldNo_ = 0;
    int index_ = -1;
    bool readOnly_ = false;
    bool required_ = false;
    std::string displayLabel_;
    TAlignment alignment_ = TAlignment::Left;
    TDataSet* dataSet_ = nullptr;
};

}  // namespace vantelo
