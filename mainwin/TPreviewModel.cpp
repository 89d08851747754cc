#include "mainwin/TPreviewModel.h"

#include <QColor>

#include <climits>

#include "mainwin/PreviewTexts.h"
#include "platform/TCodePage.h"
#include "rename/TRenamePreview.h"

namespace vantelo {
namespace {

QString Wide(std::string_view narrow)
{
    return QString::fromStdU16String(TCodePage::Active().ToWide(narrow));
}

// A refused row's background: a pale red that keeps black text readable.
const QColor kRefusedBackground(255, 224, 224);

}  // namespace

TPreviewModel::TPreviewModel(std::shared_ptr<const TRenamePreview> preview, QObject* parent)
    : QAbstractTableModel(parent), preview_(std::move(preview))
{
}

TPreviewModel::~TPreviewModel() = default;

void TPreviewModel::SetOnlyRefused(bool only)
{
    if (only == onlyRefused_)
        return;
    beginResetModel();
    onlyRefused_ = only;
    endResetModel();
}

size_t TPreviewModel::ListRow(int row) const
{
    return onlyRefused_ ? preview_->Refused()[static_cast<size_t>(row)] : static_cast<size_t>(row);
}

int TPreviewModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    const size_t rows = onlyRefused_ ? preview_->Refused().size() : preview_->Count();
    return static_cast<int>(std::min<size_t>(rows, INT_MAX));
}

int TPreviewModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TPreviewModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const size_t row = ListRow(index.row());
    const int error = preview_->Error(row);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case OldNameColumn: return Wide(preview_->OldName(row));
        case NewNameColumn: return Wide(preview_->NewName(row));
        case ReasonColumn: return QString::fromStdString(previewtexts::Reason(error));
        }
        return {};
    case Qt::BackgroundRole:
        return error ? QVariant(kRefusedBackground) : QVariant();
    case ErrorRole:
        return error;
    }
    return {};
}

QVariant TPreviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return static_cast<qulonglong>(ListRow(section) + 1);
    switch (section) {
    case OldNameColumn: return QString::fromUtf8(previewtexts::kOldName);
    case NewNameColumn: return QString::fromUtf8(previewtexts::kNewName);
    case ReasonColumn: return QString::fromUtf8(previewtexts::kReason);
    }
    return {};
}

}  // namespace vantelo
