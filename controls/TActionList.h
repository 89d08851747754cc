// A form's list of commands, with the image list the commands' image indexes
// refer to, optional execute and update hooks, and a state in which it
// suspends its commands. Also home of the idle update: whenever the
// application's event loop runs out of events, each visible, enabled window
// asks its visible controls bound to a command to update that command.
#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>

#include <functional>
#include <vector>

class QWidget;

namespace vantelo {

class TAction;

class TActionList : public QObject {
    Q_OBJECT
public:
    enum class State { Normal, Suspended };
    // A hook answers true when it handled the command.
    using Hook = std::function<bool(TAction& action)>;

    explicit TActionList(QObject* parent = nullptr);
    ~TActionList() override;

    // Creates the command lists and commands that `form`'s stored description
    // names: every QAction child carrying the dynamic property "actionList"
    // becomes a command of the list of that name (created as a child of the
    // form when first named), with its "imageIndex", "hint" and, when given,
    // "imageListEntry" (a resource path: the list's image at that index).
    // QActions already wrapped are left alone. Answers the lists created.
    static std::vector<TActionList*> LoadFromDescription(QWidget& form);

    std::vector<TAction*> Actions() const;
    State ListState() const { return state_; }
    void SetListState(State state) { state_ = state; }

    // The image list: images of one size, addressed by the commands' image indexes.
    QSize ImageSize() const { return imageSize_; }
    void SetImageSize(QSize size) { imageSize_ = size; }
    const QList<QImage>& Images() const { return images_; }
    // Puts `image` at `index`, growing the list with empty images as needed.
    void SetImage(int index, const QImage& image);

    void SetExecuteHook(Hook hook) { executeHook_ = std::move(hook); }
    void SetUpdateHook(Hook hook) { updateHook_ = std::move(hook); }
    bool RunExecuteHook(TAction& action) const { return executeHook_ && executeHook_(action); }
    bool RunUpdateHook(TAction& action) const { return updateHook_ && updateHook_(action); }

    // One idle step: every visible, enabled top-level window has each of its
    // visible controls that is bound to a command update that command.
    static void IdleUpdate();
    // Hooks IdleUpdate into the application's event loop, once. Does nothing
    // before the application object exists.
    static void InstallIdleHook();

private:
    friend class TAction;
    void Add(TAction* action);
    void Remove(TAction* action);

    std::vector<TAction*> actions_;
    State state_ = State::Normal;
    QSize imageSize_{32, 32};
    QList<QImage> images_;
    Hook executeHook_;
    Hook updateHook_;
};

}  // namespace vantelo
