// Places a top-level window by its outer size, the window manager's frame
// included, when it is first shown. Under a window manager the frame is
// added only after the window is mapped, so the size first known is the
// window's own: for a short while after the first show the window is placed
// again whenever its outer size turns out other than the one it was placed
// by. After that, a move is the user's and is left alone.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QSize>

#include <functional>

class QWidget;

namespace vantelo {

class TFramePlacement : public QObject {
public:
    // Where the frame's top-left corner goes for a given outer size.
    using Rule = std::function<QPoint(const QSize& outer)>;

    // Watches `window`, which owns this object.
    TFramePlacement(QWidget& window, Rule rule);

    // Places the window by what is known of its frame now, and looks again
    // a few times while the window manager may still be framing it. Call
    // from the window's first show.
    void Place();

    // Centres `window` on the whole desktop (all monitors) by its outer size,
    // never off the desktop's top-left; nothing without a screen. Call from
    // the window's first show.
    static void CentreOnDesktop(QWidget& window);

    // The window's outer size as far as known: asked of the native window,
    // whose frame the window manager reports, else of the widget.
    QSize OuterSize() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlaceAt();
    void PlaceAgainForTheFrame();

    QWidget& window_;
    Rule rule_;
    QElapsedTimer shown_;
    QSize placedBy_;
};

}  // namespace vantelo
