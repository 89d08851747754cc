#include "mainwin/TDataGrid.h"

#include <QPainter>
#include <qdrawutil.h>

namespace vantelo {

TDataGrid::TDataGrid(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TDataGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // A 2-pixel sunken client edge around the window-coloured body.
    qDrawWinPanel(&painter, rect(), palette(), true, &palette().brush(QPalette::Base));
}

}  // namespace vantelo
