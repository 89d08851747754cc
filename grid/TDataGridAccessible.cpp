#include "grid/TDataGridAccessible.h"

#include <QAccessible>

#include <climits>

#include "grid/GridTexts.h"
#include "grid/TDataGrid.h"
#include "grid/TGridColumn.h"
#include "grid/TGridColumnTitle.h"
#include "grid/TGridDataLink.h"
#include "platform/TCodePage.h"
#include "store/TDataSet.h"
#include "store/TField.h"

namespace vantelo {
namespace {

// The dataset when it is open and holds rows; else null.
TDataSet* RowsOf(const TDataGrid* grid)
{
    TDataSet* dataSet = grid->DataLink().DataSet();
    return dataSet && dataSet->Active() && !dataSet->IsEmpty() ? dataSet : nullptr;
}

// One cell of the grid's table: its text and place are asked of the table
// each time, so a cell stays right while the grid scrolls.
class TDataGridCell : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    TDataGridCell(const TDataGridAccessible* table, int row, int column) : table_(table), row_(row), column_(column) {}

    bool isValid() const override { return table_->isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return table_->window(); }
    QAccessibleInterface* parent() const override { return const_cast<TDataGridAccessible*>(table_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name || t == QAccessible::Value ? table_->CellText(row_, column_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        const TDataGrid* grid = table_->Grid();
        const TDataSet* dataSet = RowsOf(grid);
        if (!dataSet || !grid)
            return {};
        // Data row 1 of the grid is the first record the link holds.
        const int gridRow = row_ - (table_->CurrentRow() - grid->DataLink().ActiveRecord()) + 1;
        if (gridRow < 1 || gridRow > grid->DataRowCount())
            return {};
        const QRect cell = grid->CellRect(column_ + 1, gridRow);
        return cell.isEmpty() ? QRect() : QRect(grid->mapToGlobal(cell.topLeft()), cell.size());
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.readOnly = true;
        s.selectable = true;
        s.focusable = true;
        s.selected = isSelected();
        s.focused = s.selected && table_->Grid() && table_->Grid()->hasFocus();
        s.invisible = rect().isEmpty();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this) : nullptr;
    }

    bool isSelected() const override { return table_->isRowSelected(row_); }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column_; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return const_cast<TDataGridAccessible*>(table_); }

private:
    const TDataGridAccessible* table_;
    int row_;
    int column_;
};

QAccessibleInterface* Factory(const QString& className, QObject* object)
{
    if (className == QLatin1String(TDataGrid::staticMetaObject.className()) && object && object->isWidgetType())
        return new TDataGridAccessible(static_cast<TDataGrid*>(object));
    return nullptr;
}

}  // namespace

TDataGridAccessible::TDataGridAccessible(TDataGrid* grid) : QAccessibleWidget(grid, QAccessible::Table) {}

TDataGridAccessible::~TDataGridAccessible()
{
    for (const auto& [place, id] : cells_)
        QAccessible::deleteAccessibleInterface(id);
}

void TDataGridAccessible::Install()
{
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

void TDataGridAccessible::CurrentChanged(TDataGrid* grid)
{
    if (!QAccessible::isActive() || !grid)
        return;
    auto* table = static_cast<TDataGridAccessible*>(QAccessible::queryAccessibleInterface(grid));
    if (!table)
        return;
    const int row = table->CurrentRow();
    if (row < 0 || table->columnCount() == 0)
        return;
    // The row's first cell stands for the row, as row selection is on.
    QAccessibleInterface* cell = table->cellAt(row, 0);
    QAccessibleEvent selection(cell, QAccessible::Selection);
    QAccessible::updateAccessibility(&selection);
    if (grid->hasFocus()) {
        QAccessibleEvent focus(cell, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

TDataGrid* TDataGridAccessible::Grid() const { return static_cast<TDataGrid*>(object()); }

TGridColumn* TDataGridAccessible::ColumnAt(int column) const
{
    const TDataGrid* grid = Grid();
    if (!grid || column < 0)
        return nullptr;
    for (int i = 0, shown = 0; i < grid->ColumnCount(); ++i) {
        if (!grid->Column(i).Visible())
            continue;
        if (shown++ == column)
            return &grid->Column(i);
    }
    return nullptr;
}

int TDataGridAccessible::CurrentRow() const
{
    TDataSet* dataSet = Grid() ? RowsOf(Grid()) : nullptr;
    if (!dataSet)
        return -1;
    const int64_t recNo = dataSet->RecNo();
    return recNo >= 1 && recNo <= INT_MAX ? static_cast<int>(recNo - 1) : -1;
}

QString TDataGridAccessible::CellText(int row, int column) const
{
    const TDataGrid* grid = Grid();
    TGridColumn* gridColumn = ColumnAt(column);
    const int current = CurrentRow();
    if (!gridColumn || current < 0)
        return {};
    TGridDataLink& link = grid->DataLink();
    const int record = row - current + link.ActiveRecord();
    if (record < 0 || record >= link.RecordCount())
        return {};
    // The record is made the active one while it is read, as the grid does
    // when it paints it, and the current one is given back.
    const int saved = link.ActiveRecord();
    link.SetActiveRecord(record);
    QString text;
    if (const TField* field = gridColumn->Field())
        text = QString::fromStdU16String(TCodePage::Active().ToWide(field->DisplayText()));
    link.SetActiveRecord(saved);
    return text;
}

void* TDataGridAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString TDataGridAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name) {
        const QString own = QAccessibleWidget::text(t);
        return own.isEmpty() ? QString::fromUtf8(gridtexts::kGridName) : own;
    }
    return QAccessibleWidget::text(t);
}

int TDataGridAccessible::childCount() const
{
    const qint64 cells = static_cast<qint64>(rowCount()) * columnCount();
    return static_cast<int>(std::min<qint64>(cells, INT_MAX));
}

QAccessibleInterface* TDataGridAccessible::child(int index) const
{
    const int columns = columnCount();
    if (index < 0 || columns == 0 || index >= childCount())
        return nullptr;
    return cellAt(index / columns, index % columns);
}

int TDataGridAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    if (!child || child->role() != QAccessible::Cell)
        return -1;
    auto* cell = const_cast<QAccessibleInterface*>(child)->tableCellInterface();
    if (!cell || cell->table() != this)
        return -1;
    return cell->rowIndex() * columnCount() + cell->columnIndex();
}

QAccessibleInterface* TDataGridAccessible::childAt(int x, int y) const
{
    const int current = CurrentRow();
    const TDataGrid* grid = Grid();
    if (current < 0 || !grid)
        return nullptr;
    const QPoint local = grid->mapFromGlobal(QPoint(x, y));
    for (int gridRow = 1; gridRow <= grid->DataRowCount(); ++gridRow)
        for (int column = 0; column < columnCount(); ++column)
            if (grid->CellRect(column + 1, gridRow).contains(local))
                return cellAt(current - grid->DataLink().ActiveRecord() + gridRow - 1, column);
    return nullptr;
}

QAccessibleInterface* TDataGridAccessible::focusChild() const
{
    const int current = CurrentRow();
    return current >= 0 && Grid() && Grid()->hasFocus() && columnCount() > 0 ? cellAt(current, 0) : nullptr;
}

QAccessibleInterface* TDataGridAccessible::cellAt(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return nullptr;
    auto& id = cells_[{row, column}];
    if (!id)
        id = QAccessible::registerAccessibleInterface(new TDataGridCell(this, row, column));
    return QAccessible::accessibleInterface(id);
}

int TDataGridAccessible::selectedCellCount() const { return selectedRowCount() * columnCount(); }

QList<QAccessibleInterface*> TDataGridAccessible::selectedCells() const
{
    QList<QAccessibleInterface*> cells;
    const int current = CurrentRow();
    if (current >= 0)
        for (int column = 0; column < columnCount(); ++column)
            cells.append(cellAt(current, column));
    return cells;
}

QString TDataGridAccessible::columnDescription(int column) const
{
    const TGridColumn* gridColumn = ColumnAt(column);
    return gridColumn ? gridColumn->Title().Caption() : QString();
}

int TDataGridAccessible::columnCount() const
{
    const TDataGrid* grid = Grid();
    int shown = 0;
    for (int i = 0; grid && i < grid->ColumnCount(); ++i)
        shown += grid->Column(i).Visible() ? 1 : 0;
    return shown;
}

int TDataGridAccessible::rowCount() const
{
    TDataSet* dataSet = Grid() ? RowsOf(Grid()) : nullptr;
    return dataSet ? static_cast<int>(std::min<int64_t>(dataSet->RecordCount(), INT_MAX)) : 0;
}

int TDataGridAccessible::selectedRowCount() const { return CurrentRow() >= 0 ? 1 : 0; }

QString TDataGridAccessible::rowDescription(int row) const { return QString::number(row + 1); }

QList<int> TDataGridAccessible::selectedRows() const
{
    const int current = CurrentRow();
    return current >= 0 ? QList<int>{current} : QList<int>{};
}

bool TDataGridAccessible::isRowSelected(int row) const { return row >= 0 && row == CurrentRow(); }

}  // namespace vantelo
