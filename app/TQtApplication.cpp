#include "app/TQtApplication.h"

#include "app/TApplication.h"

namespace vantelo {

bool TQtApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (Application)
            Application->HandleUncaughtError(receiver, std::current_exception());
        return false;
    }
}

}  // namespace vantelo
