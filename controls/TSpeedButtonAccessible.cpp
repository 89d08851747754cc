#include "controls/TSpeedButtonAccessible.h"

#include <QAccessible>

#include "app/THandlerGuard.h"
#include "controls/TSpeedButton.h"

namespace vantelo {
namespace {

QAccessibleInterface* Factory(const QString& className, QObject* object)
{
    if (className == QLatin1String(TSpeedButton::staticMetaObject.className()) && object && object->isWidgetType())
        return new TSpeedButtonAccessible(static_cast<TSpeedButton*>(object));
    return nullptr;
}

}  // namespace

TSpeedButtonAccessible::TSpeedButtonAccessible(TSpeedButton* button) : QAccessibleWidget(button, QAccessible::Button)
{
}

void TSpeedButtonAccessible::Install()
{
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

QString TSpeedButtonAccessible::text(QAccessible::Text t) const
{
    const auto* button = static_cast<const TSpeedButton*>(object());
    if (t == QAccessible::Name) {
        const QString own = QAccessibleWidget::text(t);
        return own.isEmpty() ? button->Caption() : own;
    }
    if (t == QAccessible::Description && QAccessibleWidget::text(t).isEmpty())
        return button->toolTip();
    return QAccessibleWidget::text(t);
}

QStringList TSpeedButtonAccessible::actionNames() const { return {pressAction()}; }

void TSpeedButtonAccessible::doAction(const QString& actionName)
{
    if (actionName != pressAction())
        return;
    auto* button = static_cast<TSpeedButton*>(object());
    // A press from assistive technology is a click: it runs the command,
    // from the event loop rather than inside the bridge's call.
    QMetaObject::invokeMethod(
        button, [button] { Guarded(button, [button] { button->Click(); }); }, Qt::QueuedConnection);
}

}  // namespace vantelo
