// The image buttons of the main window: push buttons with a picture beside
// their caption, drawn in the classic raised/sunken frame, worked with the
// mouse only (they never take the focus or keys). A button bound to a command
// shows the command's caption and state and runs it when clicked.
#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>

#include "controls/TAction.h"
#include "controls/TActionList.h"
#include "controls/TButtonGlyph.h"

namespace vantelo {

class TSpeedButton : public QWidget {
    Q_OBJECT
public:
    // Where the picture stands relative to the caption.
    enum class Layout { GlyphLeft, GlyphRight, GlyphTop, GlyphBottom };
    // Positions of the picture and the caption inside the button.
    struct Placement {
        QRect glyph;
        QRect caption;
        bool operator==(const Placement&) const = default;
    };
    using Handler = std::function<void(QObject* sender)>;

    // Lays out a picture of `glyph` size and a caption of `caption` size in
    // the content area `client`, moved by `offset` (1, 1 when pressed).
    // Margin -1 centres the group; spacing -1 spreads it evenly. An empty
    // picture or caption makes the spacing 0.
    static Placement CalcLayout(QRect client, QPoint offset, QSize glyph, QSize caption, Layout layout, int margin,
                                int spacing);

    explicit TSpeedButton(QWidget* parent = nullptr);
    ~TSpeedButton() override;

    // Binds the button to `action` (null unbinds). Caption, enabled state,
    // hint and visibility come from the command unless the button has a value
    // of its own; so does the picture, drawn from the command list's image
    // list, when the button has none.
    void SetAction(TAction* action);
    TAction* Action() const { return action_; }
    // Repeats the binding at the end of loading and prepares the up image.
    void Loaded();
    // Every image button on `form` as the stored description binds it: its
    // own picture (the "glyphResource" property) and its command (the
    // "actionName" property, a command of the form's command list), loaded.
    static void LoadAll(QWidget& form);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    // Assigns the picture (see TButtonGlyph::SetPicture); null clears it.
    void SetGlyph(const QImage& picture);
    TButtonGlyph& Glyph() { return glyph_; }
    const TButtonGlyph& Glyph() const { return glyph_; }
    Layout GlyphLayout() const { return layout_; }
    void SetGlyphLayout(Layout layout);
    int Margin() const { return margin_; }
    void SetMargin(int margin);
    int Spacing() const { return spacing_; }
    void SetSpacing(int spacing);

    // A click handler of the button's own runs instead of the command.
    void SetOnClick(Handler handler) { onClick_ = std::move(handler); }

    TButtonState ButtonState() const { return state_; }
    bool Dragging() const { return dragging_; }

    // The caption measured on one line (0 x 0 when empty).
    QSize CaptionSize() const;
    // Where the picture and caption are drawn in the current state.
    Placement CurrentPlacement() const;

    // Runs the button's own click handler, or else its command with this
    // button as the triggering control. Errors from the handler pass through.
    void Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void ApplyAction();
    void ActionChanged(const TActionProperties& before);
    void SetState(TButtonState state);
    bool Inside(QPointF position) const;
    void PaintButton();

    QPointer<TAction> action_;
    QString caption_;
    TButtonGlyph glyph_;
    Layout layout_ = Layout::GlyphLeft;
    int margin_ = -1;
    int spacing_ = 4;
    Handler onClick_;
    TButtonState state_ = TButtonState::Up;
    bool dragging_ = false;
};

}  // namespace vantelo
