#include "controls/TAction.h"

#include <QAction>
#include <QWidget>

#include <algorithm>

#include "controls/TActionList.h"

namespace vantelo {

namespace {
std::vector<TAction*>& Registry()
{
    static std::vector<TAction*> actions;
    return actions;
}
}  // namespace

TAction::TAction(QAction& source, TActionList* list) : QObject(&source), source_(&source), list_(list)
{
    Registry().push_back(this);
    if (list)
        list->Add(this);
    last_ = Properties();
    connect(&source, &QAction::changed, this, &TAction::NotifyIfChanged);
    // Triggering the wrapped QAction (from code or a test) runs the command.
    connect(&source, &QAction::triggered, this, [this] { Execute(nullptr); });
    TActionList::InstallIdleHook();
}

TAction::~TAction()
{
    auto& registry = Registry();
    registry.erase(std::remove(registry.begin(), registry.end(), this), registry.end());
    if (list_)
        list_->Remove(this);
}

TAction* TAction::Of(const QAction* action)
{
    return action ? action->findChild<TAction*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

const std::vector<TAction*>& TAction::All()
{
    return Registry();
}

QString TAction::Caption() const
{
    return source_ ? source_->text() : QString();
}

void TAction::SetCaption(const QString& caption)
{
    if (source_)
        source_->setText(caption);
}

bool TAction::Enabled() const
{
    return source_ && source_->isEnabled();
}

void TAction::SetEnabled(bool enabled)
{
    if (source_)
        source_->setEnabled(enabled);
}

void TAction::SetHint(const QString& hint)
{
    hint_ = hint;
    NotifyIfChanged();
}

bool TAction::Visible() const
{
    return source_ && source_->isVisible();
}

void TAction::SetVisible(bool visible)
{
    if (source_)
        source_->setVisible(visible);
}

TActionProperties TAction::Properties() const
{
    return {Caption(), Enabled(), hint_, Visible()};
}

void TAction::NotifyIfChanged()
{
    const TActionProperties now = Properties();
    if (now == last_)
        return;
    const TActionProperties before = last_;
    last_ = now;
    emit Changed(before);
}

bool TAction::Execute(QObject* component)
{
    if (list_ && list_->ListState() != TActionList::State::Normal)
        return false;
    Update();
    if (!Enabled())
        return false;

    // The triggering control is known for the length of the execution only,
    // even when the handler raises or destroys the command.
    QPointer<TAction> self(this);
    QObject* const outer = actionComponent_;
    actionComponent_ = component;
    struct Restore {
        QPointer<TAction>& self;
        QObject* outer;
        ~Restore()
        {
            if (self)
                self->actionComponent_ = outer;
        }
    } restore{self, outer};

    if (list_ && list_->RunExecuteHook(*this))
        return true;
    if (onExecute_) {
        const Handler handler = onExecute_;  // the handler may replace itself
        handler(this);
        return true;
    }
    return false;
}

bool TAction::Update()
{
    if (list_ && list_->RunUpdateHook(*this))
        return true;
    if (onUpdate_) {
        const Handler handler = onUpdate_;
        handler(this);
        return true;
    }
    // Unhandled: a command that could not run anyway is shown disabled.
    if (Enabled() && !HasOnExecute())
        SetEnabled(false);
    return false;
}

void TAction::AddClient(QWidget* control)
{
    if (control && std::find(clients_.begin(), clients_.end(), control) == clients_.end())
        clients_.emplace_back(control);
}

void TAction::RemoveClient(QWidget* control)
{
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [control](const QPointer<QWidget>& client) { return !client || client == control; }),
                   clients_.end());
}

std::vector<QWidget*> TAction::Clients() const
{
    std::vector<QWidget*> result;
    for (const auto& client : clients_)
        if (client)
            result.push_back(client);
    return result;
}

}  // namespace vantelo
