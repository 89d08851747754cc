// The footer of one grid column: what its footer cell shows (nothing, a sum,
// an average, the record count, a field value or a fixed text), with its
// alignment, colour and font, each assigned or taken from the grid. A footer
// that needs a number owns a sum item in the grid's sum list and keeps it
// matching its value type and field name.
//
// Only the record count and the fixed text are produced; sums, averages and
// field values show empty text.
#pragma once

#include "store/TField.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <optional>
#include <string>

namespace vantelo {

class TGridColumn;
class TSumItem;

enum class TFooterValueType { fvtNon, fvtSum, fvtAvg, fvtCount, fvtFieldValue, fvtStaticText };

class TGridColumnFooter {
public:
    explicit TGridColumnFooter(TGridColumn& column) : column_(column) {}
    // Frees its sum item.
    ~TGridColumnFooter();
    TGridColumnFooter(const TGridColumnFooter&) = delete;
    TGridColumnFooter& operator=(const TGridColumnFooter&) = delete;

    TFooterValueType ValueType() const { return valueType_; }
    void SetValueType(TFooterValueType type);
    // The text shown for a fixed-text footer.
    const QString& Value() const { return value_; }
    void SetValue(QString value);
    // Field to sum or average; empty means the column's own field.
    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(std::string name);
    const QString& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(QString format) { displayFormat_ = std::move(format); }

    // The assigned alignment, else the bound field's, else left.
    TAlignment Alignment() const;
    void SetAlignment(std::optional<TAlignment> alignment);
    // The assigned colour, else the grid's FooterColor.
    QColor Color() const;
    void SetColor(std::optional<QColor> color);
    // The assigned font, else the grid's FooterFont.
    QFont Font() const;
    void SetFont(std::optional<QFont> font);

    // The sum item carrying this footer's number, or null.
    TSumItem* SumItem() const { return sumItem_; }
    // Gives the footer the item its value type needs (count: a row count;
    // sum/average: on its field name or the column's), freeing any other.
    void EnsureSumItem();

    // The text the footer cell shows: the fixed text, or the count as plain
    // digits ("0", "1234"); empty for the value types not produced.
    QString DisplayText() const;

private:
    void FreeSumItem();

    TGridColumn& column_;
    TFooterValueType valueType_ = TFooterValueType::fvtNon;
    QString value_;
    std::string fieldName_;
    QString displayFormat_;
    std::optional<TAlignment> alignment_;
    std::optional<QColor> color_;
    std::optional<QFont> font_;
    TSumItem* sumItem_ = nullptr;  // owned through the grid's sum collection
};

}  // namespace vantelo
