#include "controls/TSpeedButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <qdrawutil.h>

#include <cmath>

#include "app/THandlerGuard.h"
#include "controls/TAction.h"
#include "controls/TActionList.h"
#include "controls/TButtonGlyph.h"

namespace vantelo {

namespace {
// The background a command's image is drawn on when it becomes a button's
// picture: the colour that the picture's bottom-left pixel makes transparent.
constexpr QRgb kImageBackground = qRgb(255, 0, 255);
}  // namespace

TSpeedButton::Placement TSpeedButton::CalcLayout(QRect client, QPoint offset, QSize glyph, QSize caption,
                                                 Layout layout, int margin, int spacing)
{
    const bool horizontal = layout == Layout::GlyphLeft || layout == Layout::GlyphRight;
    QPoint glyphPos;
    QPoint captionPos;
    // Across the direction of the layout, each is centred on its own.
    if (horizontal) {
        glyphPos.setY((client.height() - glyph.height() + 1) / 2);
        captionPos.setY((client.height() - caption.height() + 1) / 2);
    } else {
        glyphPos.setX((client.width() - glyph.width() + 1) / 2);
        captionPos.setX((client.width() - caption.width() + 1) / 2);
    }
    if (caption.width() == 0 || glyph.width() == 0)
        spacing = 0;

    // Along it, margin and spacing place the two.
    const int extent = horizontal ? client.width() : client.height();
    const int glyphExtent = horizontal ? glyph.width() : glyph.height();
    const int captionExtent = horizontal ? caption.width() : caption.height();
    if (margin == -1) {
        if (spacing == -1) {
            margin = (extent - (glyphExtent + captionExtent)) / 3;
            spacing = margin;
        } else {
            margin = (extent - (glyphExtent + spacing + captionExtent) + 1) / 2;
        }
    } else if (spacing == -1) {
        spacing = (extent - (margin + glyphExtent) - captionExtent) / 2;
    }
    int glyphAlong = 0;
    int captionAlong = 0;
    if (layout == Layout::GlyphLeft || layout == Layout::GlyphTop) {
        glyphAlong = margin;
        captionAlong = margin + glyphExtent + spacing;
    } else {
        glyphAlong = extent - margin - glyphExtent;
        captionAlong = glyphAlong - spacing - captionExtent;
    }
    if (horizontal) {
        glyphPos.setX(glyphAlong);
        captionPos.setX(captionAlong);
    } else {
        glyphPos.setY(glyphAlong);
        captionPos.setY(captionAlong);
    }
    const QPoint shift = client.topLeft() + offset;
    return {QRect(glyphPos + shift, glyph), QRect(captionPos + shift, caption)};
}

TSpeedButton::TSpeedButton(QWidget* parent) : QWidget(parent)
{
    // Mouse only: never a tab stop, never the focus, so no key reaches it.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TSpeedButton::~TSpeedButton()
{
    if (action_)
        action_->RemoveClient(this);
}

void TSpeedButton::SetAction(TAction* action)
{
    if (action_ == action)
        return;
    if (action_) {
        disconnect(action_, nullptr, this, nullptr);
        action_->RemoveClient(this);
    }
    action_ = action;
    if (action_) {
        action_->AddClient(this);
        connect(action_, &TAction::Changed, this, &TSpeedButton::ActionChanged);
        ApplyAction();
    }
    update();
}

void TSpeedButton::LoadAll(QWidget& form)
{
    for (TSpeedButton* button : form.findChildren<TSpeedButton*>()) {
        button->SetGlyph(TButtonGlyph::LoadPicture(button->property("glyphResource").toString()));
        button->SetAction(TAction::Of(form.findChild<QAction*>(button->property("actionName").toString())));
        button->Loaded();
    }
}

void TSpeedButton::Loaded()
{
    if (action_)
        ApplyAction();
    glyph_.Prepare(TButtonState::Up, palette());
}

void TSpeedButton::ApplyAction()
{
    // A value the button has of its own wins over the command's.
    const TActionProperties command = action_->Properties();
    if (caption_.isEmpty() || caption_ == objectName())
        SetCaption(command.caption);
    if (!testAttribute(Qt::WA_Disabled))
        setEnabled(command.enabled);
    if (toolTip().isEmpty())
        setToolTip(command.hint);
    if (!isHidden() && !command.visible)
        setVisible(false);

    if (!glyph_.HasPicture() && action_->List()) {
        const TActionList& list = *action_->List();
        const int index = action_->ImageIndex();
        if (index >= 0 && index < list.Images().size() && !list.Images()[index].isNull()) {
            QImage picture(list.ImageSize(), QImage::Format_RGB32);
            picture.fill(kImageBackground);
            QPainter painter(&picture);
            painter.drawImage(0, 0, list.Images()[index]);
            painter.end();
            SetGlyph(picture);
        }
    }
}

void TSpeedButton::ActionChanged(const TActionProperties& before)
{
    // A later change reaches the button where it still shows the command's
    // previous value.
    const TActionProperties now = action_ ? action_->Properties() : before;
    if (caption_ == before.caption)
        SetCaption(now.caption);
    if (!testAttribute(Qt::WA_Disabled) == before.enabled)
        setEnabled(now.enabled);
    if (toolTip() == before.hint)
        setToolTip(now.hint);
    if (!isHidden() == before.visible && parentWidget())
        setVisible(now.visible);
}

void TSpeedButton::SetCaption(const QString& caption)
{
    if (caption_ == caption)
        return;
    caption_ = caption;
    update();
}

void TSpeedButton::SetGlyph(const QImage& picture)
{
    glyph_.SetPicture(picture);
    update();
}

void TSpeedButton::SetGlyphLayout(Layout layout)
{
    layout_ = layout;
    update();
}

void TSpeedButton::SetMargin(int margin)
{
    margin_ = margin;
    update();
}

void TSpeedButton::SetSpacing(int spacing)
{
    spacing_ = spacing;
    update();
}

QSize TSpeedButton::CaptionSize() const
{
    if (caption_.isEmpty())
        return {0, 0};
    const QRect client = rect().adjusted(2, 2, -2, -2);
    return fontMetrics().boundingRect(QRect(0, 0, client.width(), 0), Qt::TextSingleLine, caption_).size();
}

TSpeedButton::Placement TSpeedButton::CurrentPlacement() const
{
    const bool down = state_ == TButtonState::Down || state_ == TButtonState::Latched;
    return CalcLayout(rect().adjusted(2, 2, -2, -2), down ? QPoint(1, 1) : QPoint(0, 0), glyph_.GlyphSize(),
                      CaptionSize(), layout_, margin_, spacing_);
}

void TSpeedButton::paintEvent(QPaintEvent*)
{
    Guarded(this, [this] { PaintButton(); });
}

void TSpeedButton::PaintButton()
{
    if (!isEnabled()) {
        state_ = TButtonState::Disabled;
        dragging_ = false;
    } else if (state_ == TButtonState::Disabled) {
        state_ = TButtonState::Up;
    }
    QPainter painter(this);
    painter.setFont(font());
    const bool down = state_ == TButtonState::Down || state_ == TButtonState::Latched;
    // The classic push-button frame fills the face; the content lies 2 pixels in.
    const QBrush face = palette().brush(QPalette::Button);
    qDrawWinButton(&painter, rect(), palette(), down, &face);

    const Placement placement = CurrentPlacement();
    glyph_.Draw(painter, placement.glyph.topLeft(), state_, palette());

    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    if (state_ == TButtonState::Disabled) {
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(placement.caption.translated(1, 1), flags, caption_);
        painter.setPen(palette().color(QPalette::Dark));
    } else {
        painter.setPen(palette().color(QPalette::WindowText));
    }
    painter.drawText(placement.caption, flags, caption_);
}

void TSpeedButton::SetState(TButtonState state)
{
    if (state_ == state)
        return;
    state_ = state;
    update();
}

bool TSpeedButton::Inside(QPointF position) const
{
    const int x = static_cast<int>(std::floor(position.x()));
    const int y = static_cast<int>(std::floor(position.y()));
    return x >= 0 && x < width() && y >= 0 && y < height();
}

void TSpeedButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The toolkit keeps the mouse on this button until the release.
    if (isEnabled()) {
        SetState(TButtonState::Down);
        dragging_ = true;
    }
}

void TSpeedButton::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_)
        SetState(Inside(event->position()) ? TButtonState::Down : TButtonState::Up);
}

void TSpeedButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
    const bool click = Inside(event->position());
    // Up before the command runs: the up face shows at the next paint, even
    // when the command fails.
    SetState(TButtonState::Up);
    if (click)
        Guarded(this, [this] { Click(); });
}

void TSpeedButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double-click is a press of its own, so a double
    // click is two full clicks.
    mousePressEvent(event);
}

void TSpeedButton::Click()
{
    if (onClick_) {
        const Handler handler = onClick_;
        handler(this);
        return;
    }
    if (action_)
        action_->Execute(this);
}

}  // namespace vantelo
