// An image button as assistive technology sees it: a push button named by
// its caption (the command's), described by its tooltip, which a screen
// reader can press. The button itself still takes no keyboard focus.
#pragma once

#include <QAccessibleWidget>

namespace vantelo {

class TSpeedButton;

class TSpeedButtonAccessible : public QAccessibleWidget {
public:
    explicit TSpeedButtonAccessible(TSpeedButton* button);

    // Makes every TSpeedButton answer with this interface (once per process).
    static void Install();

    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
};

}  // namespace vantelo
