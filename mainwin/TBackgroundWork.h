// Runs a handler's file work on a worker thread while the window's thread
// keeps its events flowing: the windows repaint, but the tool's main window
// takes no clicks, keys or shortcuts, so no second search or rename can start.
// When the work has run for about half a second a progress window shows,
// modal to the main window; its "取消" (or Escape, or its close box) asks the
// work to stop.
//
// One object spans one job of a handler: one or more Run calls and the
// handler's finishing step after them (posting rows, undoing through the
// journal, the closing box). Closing the main window while a job is alive
// asks its work to stop at the next file and is put off: the window is
// closed again, so the run ends, only when the job's object goes away, after
// the finishing step.
//
// What stopping does depends on the work:
// - WaitForWork (the rename): the work checks StopRequested() between files
//   and returns; Run waits for that, so the work may use the handler's own
//   objects by reference. The window says "正在取消…" meanwhile.
// - AbandonWork (the search's listing): Run gives the window back at once and
//   the worker is left to finish on its own (it may be stuck in the kernel on
//   a dead mount). It must own everything it touches (capture by value or by
//   shared_ptr): nothing of the handler's frame is there when it returns, and
//   it never holds up the end of the run. Its result is never used.
//
// Window's thread only, except the TWorkProgress handed to the work.
#pragma once

#include <QPointer>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "jobs/TWorkProgress.h"

class QObject;
class QWidget;

namespace vantelo {

class TProgressForm;

class TBackgroundWork {
public:
    enum class StopPolicy { WaitForWork, AbandonWork };
    enum class Outcome {
        Completed,  // the work returned and no stop was asked for
        Stopped,    // a stop was asked for and the work returned (it may have finished anyway)
        Abandoned,  // a stop was asked for and the work was left running; its result is void
    };
    using Work = std::function<void(TWorkProgress& progress)>;

    static constexpr std::chrono::milliseconds kShowDelay{500};

    // `owner` is the window the work belongs to (the main window); `caption`
    // says what is being done, one of the texts of ProgressTexts.h.
    TBackgroundWork(QWidget* owner, std::string caption, StopPolicy policy = StopPolicy::WaitForWork);
    ~TBackgroundWork();
    TBackgroundWork(const TBackgroundWork&) = delete;
    TBackgroundWork& operator=(const TBackgroundWork&) = delete;

    // Runs `work` on a worker thread and keeps the events flowing until it
    // returns (or, under AbandonWork, until a stop is asked for). An error
    // the work throws is thrown again here, on the window's thread. Once a
    // stop was asked for, a later Run starts with the stop already requested.
    Outcome Run(Work work);

    // Asks the work to stop, as "取消" does.
    void RequestStop();
    bool StopRequested() const { return stopRequested_; }
    // The main window asked to close while this job was alive: the handler
    // should finish or undo quietly (no closing box); the window closes when
    // this object goes.
    bool CloseDeferred() const { return closeDeferred_; }

    // How long the work runs before the progress window shows (tests).
    void SetShowDelay(std::chrono::milliseconds delay) { showDelay_ = delay; }
    // The progress window while it shows, else null.
    TProgressForm* Form() const { return form_.get(); }

    // True while some job is alive.
    static bool Busy();
    // The close path of the main window: when a job is alive, asks its work
    // to stop, remembers to close `window` once the job is over and answers
    // true (the caller then refuses this close). False when nothing runs.
    static bool DeferClose(QWidget* window);
    // Abandoned workers that have not returned yet.
    static int AbandonedRunning();

private:
    struct Shared;
    class InputBlock;

    void ShowForm(const TWorkProgress::Snapshot& state);
    void HideForm();

    QPointer<QWidget> owner_;
    std::string caption_;
    StopPolicy policy_;
    std::chrono::milliseconds showDelay_ = kShowDelay;
    std::shared_ptr<Shared> current_;
    std::unique_ptr<TProgressForm> form_;
    QPointer<QWidget> activeBeforeForm_;
    bool stopRequested_ = false;
    bool abandon_ = false;
    bool closeDeferred_ = false;
};

}  // namespace vantelo
