// The preview's rows for a QTableView: every listed file's old name, new name
// and the reason the batch would refuse it (empty when it would not), read
// from a finished TRenamePreview as the view asks for them, so a list of a
// million files costs no more to open than the rows on screen. With
// OnlyRefused the model shows the refused rows alone.
#pragma once

#include <QAbstractTableModel>

#include <memory>

namespace vantelo {

class TRenamePreview;

class TPreviewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { OldNameColumn, NewNameColumn, ReasonColumn, ColumnCount };
    // The role under which data() answers a row's errno (0: made).
    static constexpr int ErrorRole = Qt::UserRole + 1;

    explicit TPreviewModel(std::shared_ptr<const TRenamePreview> preview, QObject* parent = nullptr);
    ~TPreviewModel() override;

    const TRenamePreview& Preview() const { return *preview_; }
    bool OnlyRefused() const { return onlyRefused_; }
    void SetOnlyRefused(bool only);
    // The list row (0-based, in list order) shown at view row `row`.
    size_t ListRow(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::shared_ptr<const TRenamePreview> preview_;
    bool onlyRefused_ = false;
};

}  // namespace vantelo
