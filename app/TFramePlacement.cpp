#include "app/TFramePlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace vantelo {

namespace {

// How long after the first show a frame the window manager adds may still
// move the window into place.
constexpr qint64 kSettlingMilliseconds = 1500;
// When the frame is looked for again after the first show.
constexpr int kLookAgainMilliseconds[] = {50, 150, 400, 900};

}  // namespace

TFramePlacement::TFramePlacement(QWidget& window, Rule rule)
    : QObject(&window), window_(window), rule_(std::move(rule))
{
    window_.installEventFilter(this);
}

QSize TFramePlacement::OuterSize() const
{
    // The widget's own frame geometry is only brought up to date when the
    // window moves or changes size; the window manager may tell its frame
    // after both.
    if (const QWindow* window = window_.windowHandle())
        return window->frameGeometry().size();
    return window_.frameGeometry().size();
}

void TFramePlacement::CentreOnDesktop(QWidget& window)
{
    if (!QGuiApplication::primaryScreen())
        return;
    // Owned by the window; it places the window again while the window
    // manager is still framing it.
    auto* placement = new TFramePlacement(window, [](const QSize& outer) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect desktop = screen ? screen->virtualGeometry() : QRect();
        return QPoint(std::max(0, (desktop.width() - outer.width()) / 2) + desktop.left(),
                      std::max(0, (desktop.height() - outer.height()) / 2) + desktop.top());
    });
    placement->Place();
}

void TFramePlacement::Place()
{
    shown_.start();
    PlaceAt();
    for (const int delay : kLookAgainMilliseconds)
        QTimer::singleShot(delay, this, [this] { PlaceAgainForTheFrame(); });
}

void TFramePlacement::PlaceAt()
{
    placedBy_ = OuterSize();
    const QPoint frameTopLeft = rule_(placedBy_);
    // The window places its frame there by what it knows of the frame now.
    if (QWindow* window = window_.windowHandle())
        window->setFramePosition(frameTopLeft);
    else
        window_.move(frameTopLeft);
}

void TFramePlacement::PlaceAgainForTheFrame()
{
    if (!window_.isVisible() || !shown_.isValid() || shown_.elapsed() > kSettlingMilliseconds)
        return;
    if (OuterSize() != placedBy_)
        PlaceAt();
}

bool TFramePlacement::eventFilter(QObject* watched, QEvent* event)
{
    // The window manager's frame often shows as a move of the window.
    if (watched == &window_ && event->type() == QEvent::Move)
        PlaceAgainForTheFrame();
    return QObject::eventFilter(watched, event);
}

}  // namespace vantelo
