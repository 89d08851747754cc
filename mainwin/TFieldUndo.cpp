#include "mainwin/TFieldUndo.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace vantelo {

void TFieldUndo::Route(QObject* owner, std::initializer_list<QLineEdit*> fields)
{
    auto* router = new TFieldUndo(owner);  // owned by `owner`
    for (QLineEdit* field : fields)
        field->installEventFilter(router);
}

void TFieldUndo::Forget(std::initializer_list<QLineEdit*> fields)
{
    for (QLineEdit* field : fields) {
        if (!field->isUndoAvailable() && !field->isRedoAvailable())
            continue;
        // Setting the text is the field's one way to clear its history.
        const int cursor = field->cursorPosition();
        const int start = field->selectionStart();
        const int length = field->selectedText().size();
        const bool modified = field->isModified();
        const QSignalBlocker quiet(field);
        field->setText(field->text());
        if (start >= 0)
            field->setSelection(start == cursor ? start + length : start, start == cursor ? -length : length);
        else
            field->setCursorPosition(cursor);
        field->setModified(modified);
    }
}

bool TFieldUndo::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Undo)) {
        auto* field = qobject_cast<QLineEdit*>(watched);
        if (field && !field->isUndoAvailable()) {
            // Not claimed by the field: the window's Ctrl+Z runs.
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vantelo
