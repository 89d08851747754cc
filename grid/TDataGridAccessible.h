// The file list grid as assistive technology sees it (through Qt's
// accessibility bridge, AT-SPI on Linux): a read-only table named after the
// list, with one row per record of the grid's dataset, one column per
// visible stored column (titled by its caption), and the dataset's current
// record as its selected row, focused while the grid has the focus. Cells
// read their text from the records the grid holds on screen; a record
// outside that window reads as empty until it is scrolled into view, as the
// grid fetches only what it shows. Cells are made when first asked for and
// live as long as the grid's interface.
#pragma once

#include <QAccessibleWidget>

#include <map>
#include <utility>

namespace vantelo {

class TDataGrid;
class TGridColumn;

class TDataGridAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TDataGridAccessible(TDataGrid* grid);
    ~TDataGridAccessible() override;

    // Makes every TDataGrid answer with this interface (once per process).
    static void Install();
    // The grid's cursor moved or its rows changed: assistive technology is
    // told which cell is now current. Nothing while nobody listens.
    static void CurrentChanged(TDataGrid* grid);

    TDataGrid* Grid() const;
    // The stored column shown as table column `column`; null outside.
    TGridColumn* ColumnAt(int column) const;
    // The text of one cell, empty outside the records the grid holds.
    QString CellText(int row, int column) const;
    // The table row of the dataset's current record; -1 when there is none.
    int CurrentRow() const;

    // QAccessibleInterface
    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    int columnCount() const override;
    int rowCount() const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    QString rowDescription(int row) const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    // The list is read-only and its cursor is the keyboard's: no selection
    // is made through assistive technology.
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override {}

private:
    mutable std::map<std::pair<int, int>, QAccessible::Id> cells_;
};

}  // namespace vantelo
