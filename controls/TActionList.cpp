#include "controls/TActionList.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <algorithm>

#include "app/THandlerGuard.h"
#include "controls/TAction.h"
#include "controls/TButtonGlyph.h"

namespace vantelo {

TActionList::TActionList(QObject* parent) : QObject(parent) {}

// A command that outlives its list (its QAction lives on) then belongs to
// no list: it holds the list through a guarded pointer.
TActionList::~TActionList() = default;

void TActionList::Add(TAction* action)
{
    actions_.push_back(action);
}

void TActionList::Remove(TAction* action)
{
    actions_.erase(std::remove(actions_.begin(), actions_.end(), action), actions_.end());
}

std::vector<TAction*> TActionList::Actions() const
{
    return actions_;
}

void TActionList::SetImage(int index, const QImage& image)
{
    if (index < 0)
        return;
    while (images_.size() <= index)
        images_.append(QImage());
    images_[index] = image;
}

std::vector<TActionList*> TActionList::LoadFromDescription(QWidget& form)
{
    std::vector<TActionList*> created;
    for (QAction* source : form.findChildren<QAction*>()) {
        const QString listName = source->property("actionList").toString();
        if (listName.isEmpty() || TAction::Of(source))
            continue;
        TActionList* list = form.findChild<TActionList*>(listName);
        if (!list) {
            list = new TActionList(&form);  // owned by the form
            list->setObjectName(listName);
            created.push_back(list);
        }
        auto* action = new TAction(*source, list);  // owned by its QAction
        bool ok = false;
        const int imageIndex = source->property("imageIndex").toInt(&ok);
        action->SetImageIndex(ok ? imageIndex : -1);
        action->SetHint(source->property("hint").toString());
        const QString entry = source->property("imageListEntry").toString();
        if (ok && !entry.isEmpty())
            list->SetImage(imageIndex, TButtonGlyph::LoadPicture(entry));
    }
    return created;
}

void TActionList::IdleUpdate()
{
    // An update handler that opens a box runs a nested loop, which comes
    // back here; the outer step finishes the round.
    static bool running = false;
    if (running)
        return;
    running = true;
    struct Reset {
        ~Reset() { running = false; }
    } reset;

    std::vector<QPointer<TAction>> actions(TAction::All().begin(), TAction::All().end());
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || !window->isEnabled())
            continue;
        for (const QPointer<TAction>& action : actions) {
            if (!action)
                continue;
            for (QWidget* client : action->Clients())
                if (action && client->window() == window && client->isVisible())
                    action->Update();
        }
    }
}

void TActionList::InstallIdleHook()
{
    // The event loop's "about to wait for more events" is the idle step: it
    // comes when the queue has run dry, in the main loop and in every modal
    // loop alike.
    static QPointer<QAbstractEventDispatcher> hooked;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(app->thread());
    if (!dispatcher || hooked == dispatcher)
        return;
    hooked = dispatcher;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher,
                     [] { Guarded(nullptr, [] { IdleUpdate(); }); });
}

}  // namespace vantelo
