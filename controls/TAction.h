// A command of a form's command list: caption, enabled state, hint,
// visibility, image index and an execute handler. The controls bound to it
// show its caption and state and run it when clicked.
//
// A command wraps the QAction that the form's stored description creates: the
// QAction holds the caption, the enabled state and the visibility (so the
// stored texts stay where the description puts them), and triggering the
// QAction executes the command.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class QAction;
class QWidget;

namespace vantelo {

class TActionList;

// What a bound control copies from its command.
struct TActionProperties {
    QString caption;
    bool enabled = true;
    QString hint;
    bool visible = true;
    bool operator==(const TActionProperties&) const = default;
};

class TAction : public QObject {
    Q_OBJECT
public:
    // A handler receives the object the event is about: for execute and
    // update handlers, the command itself.
    using Handler = std::function<void(QObject* sender)>;

    // Wraps `source` (which owns the new command) and enters it into `list`
    // (may be null). The first command created also hooks the idle update
    // into the application's event loop.
    TAction(QAction& source, TActionList* list);
    ~TAction() override;

    // The command wrapping `action`; null when the action has none.
    static TAction* Of(const QAction* action);

    QAction& Source() const { return *source_; }
    TActionList* List() const { return list_; }

    QString Caption() const;
    void SetCaption(const QString& caption);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    QString Hint() const { return hint_; }
    void SetHint(const QString& hint);
    bool Visible() const;
    void SetVisible(bool visible);
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int index) { imageIndex_ = index; }
    TActionProperties Properties() const;

    void SetOnExecute(Handler handler) { onExecute_ = std::move(handler); }
    bool HasOnExecute() const { return static_cast<bool>(onExecute_); }
    void SetOnUpdate(Handler handler) { onUpdate_ = std::move(handler); }

    // Runs the command on behalf of `component` (the control clicked, or
    // null): nothing while the list is suspended; otherwise the command first
    // updates itself and then, if enabled, asks the list's execute hook and
    // then its own handler, which gets the command as sender. Answers whether
    // something handled it. Errors from the handler pass through.
    bool Execute(QObject* component);
    // Asks the list's update hook, then the command's own update handler;
    // when neither handles it, an enabled command without an execute handler
    // is disabled. Answers whether something handled it.
    bool Update();
    // The control that triggered the running execution; null outside one.
    QObject* ActionComponent() const { return actionComponent_; }

    // Controls bound to the command, for the idle update.
    void AddClient(QWidget* control);
    void RemoveClient(QWidget* control);
    std::vector<QWidget*> Clients() const;

    // Every live command, oldest first.
    static const std::vector<TAction*>& All();

signals:
    // Caption, enabled state, hint or visibility changed; `before` holds the
    // values before the change, so that a control can tell whether it still
    // showed the command's values or values of its own.
    void Changed(const vantelo::TActionProperties& before);

private:
    void NotifyIfChanged();

    QPointer<QAction> source_;
    QPointer<TActionList> list_;
    QString hint_;
    int imageIndex_ = -1;
    Handler onExecute_;
    Handler onUpdate_;
    QObject* actionComponent_ = nullptr;
    std::vector<QPointer<QWidget>> clients_;
    TActionProperties last_;
};

}  // namespace vantelo
