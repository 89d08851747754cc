#include "mainwin/TGridRowTip.h"

#include <QHelpEvent>
#include <QToolTip>

#include "grid/TDataGrid.h"
#include "grid/TGridDataLink.h"
#include "store/TDataSet.h"
#include "store/TField.h"

namespace vantelo {

TGridRowTip::TGridRowTip(TDataGrid* grid, std::string fieldName, Text text)
    : QObject(grid), grid_(grid), fieldName_(std::move(fieldName)), text_(std::move(text))
{
    grid_->installEventFilter(this);
}

QString TGridRowTip::TipAt(QPoint pos) const
{
    TGridDataLink& link = grid_->DataLink();
    TDataSet* dataSet = link.DataSet();
    if (!dataSet || !dataSet->Active() || dataSet->IsEmpty())
        return {};
    TField* field = dataSet->FindField(fieldName_);
    if (!field)
        return {};
    for (int row = 1; row <= grid_->DataRowCount() && row <= link.RecordCount(); ++row) {
        const QRect band = grid_->CellRect(0, row).united(grid_->CellRect(grid_->ColumnCount(), row));
        if (pos.y() < band.top() || pos.y() > band.bottom())
            continue;
        // The record is made the active one while it is read, as the grid
        // does when it paints it, and the current one is given back.
        const int saved = link.ActiveRecord();
        const int64_t listRow = dataSet->RecNo() - 1 - saved + (row - 1);
        link.SetActiveRecord(row - 1);
        const std::string name = field->AsString();
        link.SetActiveRecord(saved);
        return listRow >= 0 ? text_(static_cast<size_t>(listRow), name) : QString();
    }
    return {};
}

void TGridRowTip::Show(QPoint pos, QPoint globalPos)
{
    const QString tip = TipAt(pos);
    lastPos_ = pos;
    showing_ = !tip.isEmpty();
    if (showing_)
        QToolTip::showText(globalPos, tip, grid_);
    else
        QToolTip::hideText();
}

void TGridRowTip::Refresh()
{
    if (showing_ && QToolTip::isVisible())
        Show(lastPos_, grid_->mapToGlobal(lastPos_));
}

bool TGridRowTip::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == grid_ && event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        Show(help->pos(), help->globalPos());
        return true;
    }
    if (watched == grid_ && event->type() == QEvent::Leave)
        showing_ = false;
    return QObject::eventFilter(watched, event);
}

}  // namespace vantelo
