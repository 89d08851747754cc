// Hands the painting of a list's rows to the list itself, and gives every row
// the list's one fixed height: the lists of the chooser draw their entries
// themselves (picture, indentation, colours).
#pragma once

#include <QStyledItemDelegate>

#include <functional>

namespace vantelo {

class TOwnerDrawDelegate : public QStyledItemDelegate {
public:
    // Paints one row: the painter, the row's rectangle, its index, whether it
    // is highlighted, whether it has the focus.
    using Painter = std::function<void(QPainter&, const QRect&, int row, bool selected, bool focused)>;
    using RowHeight = std::function<int()>;

    TOwnerDrawDelegate(QObject* parent, Painter painter, RowHeight rowHeight)
        : QStyledItemDelegate(parent), painter_(std::move(painter)), rowHeight_(std::move(rowHeight))
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    Painter painter_;
    RowHeight rowHeight_;
};

}  // namespace vantelo
