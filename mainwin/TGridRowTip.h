// The file list grid's tooltip over a data row: it asks its text function
// about the row's record (its 0-based place in the list and its file name)
// and shows the answer, or no tip when the answer is empty. The grid itself
// is not changed: the tip watches its events.
#pragma once

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <string>

namespace vantelo {

class TDataGrid;

class TGridRowTip : public QObject {
    Q_OBJECT
public:
    using Text = std::function<QString(size_t listRow, const std::string& fileName)>;

    // Watches `grid` (and is its child); `fieldName` names the field that
    // holds a row's file name.
    TGridRowTip(TDataGrid* grid, std::string fieldName, Text text);

    // The tip for the grid point `pos`: empty outside the data rows, while
    // the dataset is closed, and when the text function answers nothing.
    QString TipAt(QPoint pos) const;
    // The tip's text may have changed: a tip that is showing is shown anew.
    void Refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Show(QPoint pos, QPoint globalPos);

    TDataGrid* grid_;
    std::string fieldName_;
    Text text_;
    QPoint lastPos_;
    bool showing_ = false;
};

}  // namespace vantelo
