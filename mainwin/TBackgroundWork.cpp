#include "mainwin/TBackgroundWork.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "app/TApplication.h"
#include "mainwin/TProgressForm.h"

namespace vantelo {

namespace {

// The jobs alive on the window's thread, innermost last.
std::vector<TBackgroundWork*> jobs;
// The window whose close was put off until the jobs are over.
QPointer<QWidget> closeAfterJobs;
std::atomic<int> abandonedRunning{0};

// How often the progress window looks at the work's newest state.
constexpr int kRefreshMs = 50;

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

}  // namespace

// What the worker thread and the window's thread share. The worker holds it
// to the end, so an abandoned worker never touches freed state.
struct TBackgroundWork::Shared {
    TWorkProgress progress;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    std::exception_ptr error;
    // Woken when the work is done; null once nobody waits.
    QObject* waker = nullptr;

    bool Done()
    {
        const std::lock_guard lock(mutex);
        return done;
    }
    void Finish(std::exception_ptr failure)
    {
        const std::lock_guard lock(mutex);
        done = true;
        error = std::move(failure);
        if (abandoned)
            abandonedRunning.fetch_sub(1);
        finished.notify_all();
        if (waker)
            QCoreApplication::postEvent(waker, new QEvent(QEvent::User));
    }
};

// While work runs, the main window takes no input: clicks, keys and
// shortcuts are dropped before they reach it, and a close request is put off
// until the job is over. Other windows (the progress window, an error box)
// work as usual.
class TBackgroundWork::InputBlock : public QObject {
public:
    explicit InputBlock(QWidget* owner) : owner_(owner) { qApp->installEventFilter(this); }
    ~InputBlock() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        auto* widget = qobject_cast<QWidget*>(watched);
        if (type == QEvent::Shortcut) {
            // A shortcut goes to its action or to the widget it belongs to.
            return Blocked(widget ? widget : qobject_cast<QWidget*>(watched->parent()), true);
        }
        if (!widget)
            return false;
        if (type == QEvent::Close && widget->isWindow() && Blocked(widget, false)) {
            event->ignore();
            DeferClose(widget);
            return true;
        }
        return IsUserInput(type) && Blocked(widget, false);
    }

private:
    // Whether a widget belongs to a window that takes no input now.
    bool Blocked(const QWidget* widget, bool unknown) const
    {
        if (!widget)
            return unknown;
        const QWidget* window = widget->window();
        return window == owner_.data() || (Application && window == Application->MainForm());
    }

    QPointer<QWidget> owner_;
};

TBackgroundWork::TBackgroundWork(QWidget* owner, std::string caption, StopPolicy policy)
    : owner_(owner ? owner->window() : nullptr), caption_(std::move(caption)), policy_(policy)
{
    jobs.push_back(this);
}

TBackgroundWork::~TBackgroundWork()
{
    HideForm();
    jobs.erase(std::remove(jobs.begin(), jobs.end(), this), jobs.end());
    if (jobs.empty() && closeAfterJobs) {
        // The close that was put off, once the handler is back in the main loop.
        QWidget* window = closeAfterJobs.data();
        closeAfterJobs = nullptr;
        QMetaObject::invokeMethod(window, [window] { window->close(); }, Qt::QueuedConnection);
    }
}

bool TBackgroundWork::Busy()
{
    return !jobs.empty();
}

bool TBackgroundWork::DeferClose(QWidget* window)
{
    if (jobs.empty())
        return false;
    closeAfterJobs = window;
    for (TBackgroundWork* job : jobs) {
        job->closeDeferred_ = true;
        job->RequestStop();
    }
    return true;
}

int TBackgroundWork::AbandonedRunning()
{
    return abandonedRunning.load();
}

void TBackgroundWork::RequestStop()
{
    stopRequested_ = true;
    if (current_)
        current_->progress.RequestStop();
    if (policy_ == StopPolicy::AbandonWork)
        abandon_ = true;
    else if (form_)
        form_->ShowStopping();
}

TBackgroundWork::Outcome TBackgroundWork::Run(Work work)
{
    if (stopRequested_ && policy_ == StopPolicy::AbandonWork)
        return Outcome::Abandoned;
    auto shared = std::make_shared<Shared>();
    if (stopRequested_)
        shared->progress.RequestStop();
    QObject waker;
    shared->waker = &waker;
    // Whatever way this call ends, the worker no longer wakes anybody. Work
    // that may use the caller's frame is waited for even when an error cuts
    // the loop short; other unfinished work counts as abandoned.
    struct Detach {
        Shared& shared;
        bool wait;
        ~Detach()
        {
            std::unique_lock lock(shared.mutex);
            shared.waker = nullptr;
            if (wait && !shared.done) {
                shared.progress.RequestStop();
                shared.finished.wait(lock, [this] { return shared.done; });
            }
            if (!shared.done && !shared.abandoned) {
                shared.abandoned = true;
                abandonedRunning.fetch_add(1);
            }
        }
    } detach{*shared, policy_ == StopPolicy::WaitForWork};

    try {
        std::thread([shared, work = std::move(work)]() mutable {
            std::exception_ptr failure;
            try {
                work(shared->progress);
            } catch (...) {
                failure = std::current_exception();
            }
            // What the work owns goes before the window hears that it is done.
            work = nullptr;
            shared->Finish(std::move(failure));
        }).detach();
    } catch (...) {
        // No thread: nothing runs that could be abandoned.
        shared->done = true;
        throw;
    }

    current_ = shared;
    abandon_ = false;
    const InputBlock block(owner_);
    QElapsedTimer clock;
    clock.start();
    QTimer showTimer;
    showTimer.setSingleShot(true);
    showTimer.start(showDelay_);
    QTimer refresh;
    refresh.setInterval(kRefreshMs);
    TWorkProgress::Snapshot seen;
    while (!shared->Done() && !abandon_) {
        if (!form_ && clock.elapsed() >= showDelay_.count()) {
            seen = shared->progress.Latest();
            ShowForm(seen);
            refresh.start();
        } else if (form_ && shared->progress.TakeIfChanged(seen)) {
            form_->ShowProgress(seen);
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    refresh.stop();
    HideForm();
    current_ = nullptr;

    if (!shared->Done())
        return Outcome::Abandoned;
    if (shared->error)
        std::rethrow_exception(shared->error);
    return shared->progress.StopRequested() ? Outcome::Stopped : Outcome::Completed;
}

void TBackgroundWork::ShowForm(const TWorkProgress::Snapshot& state)
{
    activeBeforeForm_ = QApplication::activeWindow();
    form_ = std::make_unique<TProgressForm>(caption_, owner_.data());
    form_->setWindowModality(Qt::ApplicationModal);
    form_->SetOnCancel([this] { RequestStop(); });
    form_->ShowProgress(state);
    if (stopRequested_)
        form_->ShowStopping();
    form_->show();
}

void TBackgroundWork::HideForm()
{
    if (!form_)
        return;
    form_->hide();
    form_.reset();
    if (activeBeforeForm_ && QApplication::activeWindow() == nullptr)
        activeBeforeForm_->activateWindow();
    activeBeforeForm_ = nullptr;
}

}  // namespace vantelo
