#include "dirdlg/TOwnerDrawDelegate.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QWidget>

namespace vantelo {

void TOwnerDrawDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    painter_(*painter, option.rect, index.row(), (option.state & QStyle::State_Selected) != 0,
             (option.state & QStyle::State_HasFocus) != 0);
    painter->restore();
    if (option.state & QStyle::State_HasFocus) {
        // The dotted focus rectangle around the focused row, as the platform
        // draws it after an owner-drawn entry.
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor = option.palette.color(QPalette::Highlight);
        const QStyle* style = option.widget ? option.widget->style() : nullptr;
        if (style)
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, option.widget);
    }
}

QSize TOwnerDrawDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), rowHeight_()};
}

}  // namespace vantelo
