// The message box's text label. An "&" in its caption is not shown but
// underlines the character after it, and "&&" shows a single "&"; words wrap
// at the label's width and tabs expand. Drawing uses exactly the flags with
// which the box measured the text, so the text always fits the measured
// rectangle.
#pragma once

#include <QLabel>

namespace vantelo {

class TMessageLabel : public QLabel {
public:
    // The flags for measuring (QFontMetrics::boundingRect) and drawing alike.
    static constexpr int kTextFlags =
        Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextExpandTabs | Qt::TextShowMnemonic;

    explicit TMessageLabel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vantelo
