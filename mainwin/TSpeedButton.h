// The image buttons of the main window: windowless-looking push buttons worked
// with the mouse only, bound to a command whose caption they show and which
// they run when clicked.
#pragma once

#include <QAction>
#include <QPointer>
#include <QWidget>

namespace vantelo {

class TSpeedButton : public QWidget {
    Q_OBJECT
public:
    enum class State { Up, Down };

    explicit TSpeedButton(QWidget* parent = nullptr);

    // Binds the button to its command: the caption comes from it and a click
    // runs it. Null unbinds.
    void SetAction(QAction* action);
    QAction* Action() const { return action_; }
    QString Caption() const;
    State ButtonState() const { return state_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void SetState(State state);
    void Click();

    QPointer<QAction> action_;
    State state_ = State::Up;
    bool dragging_ = false;
};

}  // namespace vantelo
