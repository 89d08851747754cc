#include "app/TMessageLabel.h"

#include <QPainter>

namespace vantelo {

TMessageLabel::TMessageLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
}

void TMessageLabel::paintEvent(QPaintEvent*)
{
    // QLabel itself only honours "&" when it has a buddy; draw the caption
    // with the measuring flags instead so "&" underlines in every case.
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(contentsRect(), kTextFlags, text());
}

}  // namespace vantelo
