#include "mainwin/TSpeedButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <qdrawutil.h>

#include "app/THandlerGuard.h"

namespace vantelo {

TSpeedButton::TSpeedButton(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TSpeedButton::SetAction(QAction* action)
{
    if (action_)
        disconnect(action_, nullptr, this, nullptr);
    action_ = action;
    if (action_)
        connect(action_, &QAction::changed, this, qOverload<>(&QWidget::update));
    update();
}

QString TSpeedButton::Caption() const
{
    return action_ ? action_->text() : QString();
}

void TSpeedButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool down = state_ == State::Down;
    qDrawWinButton(&painter, rect(), palette(), down, &palette().brush(QPalette::Button));
    QRect content = rect().adjusted(2, 2, -2, -2);
    if (down)
        content.translate(1, 1);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(content, Qt::AlignCenter, Caption());
}

void TSpeedButton::SetState(State state)
{
    if (state_ == state)
        return;
    state_ = state;
    update();
}

void TSpeedButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    dragging_ = true;
    SetState(State::Down);
}

void TSpeedButton::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_)
        SetState(rect().contains(event->position().toPoint()) ? State::Down : State::Up);
}

void TSpeedButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    SetState(State::Up);
    if (rect().contains(event->position().toPoint()))
        Click();
}

void TSpeedButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double-click is a press of its own.
    mousePressEvent(event);
}

void TSpeedButton::Click()
{
    if (action_)
        Guarded(this, [this] { action_->trigger(); });
}

}  // namespace vantelo
