// Ctrl+Z in the main window's edit fields: a field undoes its own typing
// while it has some to undo; with nothing of its own left, the key goes on to
// the window's shortcut, which undoes the last batch. A finished batch drops
// the fields' own history (Forget), so the first Ctrl+Z after it always
// means the batch.
#pragma once

#include <QObject>

#include <initializer_list>

class QLineEdit;

namespace vantelo {

class TFieldUndo : public QObject {
    Q_OBJECT
public:
    // Routes Ctrl+Z for each of `fields`; the router is a child of `owner`.
    static void Route(QObject* owner, std::initializer_list<QLineEdit*> fields);
    // Drops each field's own undo and redo history; text, cursor and
    // selection stay as they are.
    static void Forget(std::initializer_list<QLineEdit*> fields);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit TFieldUndo(QObject* owner) : QObject(owner) {}
};

}  // namespace vantelo
