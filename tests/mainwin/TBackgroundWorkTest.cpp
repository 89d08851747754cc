// Work on a worker thread while the window's thread keeps its events: the
// progress window for slow work only, stop requests from "取消", Escape and
// the close box, an abandoned stuck worker that holds nothing up, errors
// thrown again on the window's thread, the main window taking no input while
// work runs, and a close of the main window put off until the job is over.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QTimer>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/TApplication.h"
#include "mainwin/ProgressTexts.h"
#include "mainwin/TBackgroundWork.h"
#include "mainwin/TProgressForm.h"
#include "platform/TDirectoryListing.h"
#include "support/TStallMount.h"
#include "support/TTempDir.h"

using namespace vantelo;
using namespace std::chrono_literals;
using Outcome = TBackgroundWork::Outcome;

// The dead-mount test mounts in a namespace of this process's own, entered
// while it has one thread.
static const bool kPrivateMounts = vantelo::test::TStallMount::EnterPrivateNamespace();

namespace {

// A door the worker waits at until the test opens it.
class Gate {
public:
    void Open()
    {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

// Calls `step` every few milliseconds while the window's thread runs events
// (inside Run) until it answers true.
class Poll {
public:
    explicit Poll(std::function<bool()> step) : step_(std::move(step))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (step_())
                timer_.stop();
        });
        timer_.start(5);
    }
    bool Finished() const { return !timer_.isActive(); }

private:
    std::function<bool()> step_;
    QTimer timer_;
};

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

class BackgroundWorkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        owner.setFixedSize(200, 100);
        button.setGeometry(10, 10, 80, 24);
        QObject::connect(&button, &QPushButton::clicked, [this] { ++clicks; });
        owner.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    }
    void TearDown() override
    {
        EXPECT_FALSE(TBackgroundWork::Busy());
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_EQ(qobject_cast<TProgressForm*>(widget), nullptr) << "a progress window outlived its work";
    }

    QWidget owner;
    QPushButton button{QStringLiteral("Go"), &owner};
    int clicks = 0;
};

}  // namespace

TEST_F(BackgroundWorkTest, FastWorkShowsNoWindowAndReturnsCompleted)
{
    bool windowSeen = false;
    Poll watch([&] {
        windowSeen = windowSeen || QApplication::activeModalWidget() != nullptr;
        return false;
    });
    TBackgroundWork job(&owner, texts::kSearchingFiles, TBackgroundWork::StopPolicy::AbandonWork);
    int ran = 0;
    EXPECT_EQ(job.Run([&](TWorkProgress& progress) {
        progress.Report(1, 1, "a");
        ++ran;
    }), Outcome::Completed);
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(windowSeen);
    EXPECT_EQ(job.Form(), nullptr);
}

TEST_F(BackgroundWorkTest, SlowWorkShowsTheWindowAfterTheDelayAndItFollowsTheWork)
{
    TBackgroundWork job(&owner, texts::kRenamingFiles);
    QElapsedTimer clock;
    qint64 shownAfter = -1;
    QString caption, title;
    // The worker reports file n and waits until the window has shown it.
    constexpr size_t kFiles = 3;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<QString> seen;
    Poll watch([&] {
        TProgressForm* form = job.Form();
        if (!form || !form->isVisible())
            return false;
        if (shownAfter < 0) {
            shownAfter = clock.elapsed();
            caption = form->CaptionLabel()->text();
            title = form->windowTitle();
            EXPECT_EQ(QApplication::activeModalWidget(), form);
        }
        const std::lock_guard lock(mutex);
        const QString text = form->CountLabel()->text() + QLatin1Char(' ') + form->FileLabel()->text();
        if (seen.empty() || seen.back() != text)
            seen.push_back(text);
        changed.notify_all();
        return false;
    });
    clock.start();
    EXPECT_EQ(job.Run([&](TWorkProgress& progress) {
        for (size_t n = 1; n <= kFiles; ++n) {
            progress.Report(n, kFiles, "f" + std::to_string(n));
            const QString expected = QString("%1 / %2 f%1").arg(n).arg(kFiles);
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return !seen.empty() && seen.back() == expected; });
        }
    }), Outcome::Completed);
    // Not before the delay; then each file once, in order.
    EXPECT_GE(shownAfter, TBackgroundWork::kShowDelay.count());
    EXPECT_EQ(caption, Q("正在修改文件…"));
    EXPECT_EQ(title, QString::fromStdString(Application->Title()));
    EXPECT_EQ(seen, (std::vector<QString>{"1 / 3 f1", "2 / 3 f2", "3 / 3 f3"}));
    EXPECT_EQ(job.Form(), nullptr);
}

TEST_F(BackgroundWorkTest, CancelEscapeAndCloseBoxReachTheWorkerWhichStopsAtItsNextFile)
{
    const std::vector<std::pair<const char*, std::function<void(TProgressForm&)>>> ways = {
        {"cancel button", [](TProgressForm& form) { QTest::mouseClick(form.CancelButton(), Qt::LeftButton); }},
        {"Escape", [](TProgressForm& form) { QTest::keyClick(&form, Qt::Key_Escape); }},
        {"close box", [](TProgressForm& form) { form.close(); }},
    };
    for (const auto& [name, cancel] : ways) {
        SCOPED_TRACE(name);
        TBackgroundWork job(&owner, texts::kRenamingFiles);
        job.SetShowDelay(0ms);
        Gate afterStop;
        std::atomic<size_t> filesDone{0};
        bool stoppingShown = false;
        bool cancelled = false;
        Poll watch([&] {
            TProgressForm* form = job.Form();
            if (!form || !form->isVisible() || filesDone == 0)
                return false;
            if (!cancelled) {
                cancelled = true;
                cancel(*form);
                return false;
            }
            if (!job.StopRequested())
                return false;
            // Until the work has reached its next file the window stays and says so.
            stoppingShown = form->isVisible() && form->CaptionLabel()->text() == Q("正在取消…") &&
                            !form->CancelButton()->isEnabled();
            afterStop.Open();
            return true;
        });
        EXPECT_EQ(job.Run([&](TWorkProgress& progress) {
            while (!progress.StopRequested()) {
                progress.Report(++filesDone, 0, "x");
                std::this_thread::sleep_for(1ms);
            }
            afterStop.Wait();
        }), Outcome::Stopped);
        EXPECT_TRUE(stoppingShown);
        // A later run of the same job starts stopped.
        bool sawStop = false;
        job.Run([&](TWorkProgress& progress) { sawStop = progress.StopRequested(); });
        EXPECT_TRUE(sawStop);
    }
}

TEST_F(BackgroundWorkTest, AnErrorOfTheWorkIsThrownAgainOnTheWindowsThread)
{
    TBackgroundWork job(&owner, texts::kRenamingFiles);
    EXPECT_THROW(job.Run([](TWorkProgress&) { throw std::runtime_error("disk gone"); }), std::runtime_error);
}

TEST_F(BackgroundWorkTest, TheOwnerTakesNoClicksKeysOrShortcutsWhileWorkRunsAndAgainAfter)
{
    QShortcut undo(QKeySequence::Undo, &owner);
    int undos = 0;
    QObject::connect(&undo, &QShortcut::activated, [&] { ++undos; });
    button.setFocus();
    TBackgroundWork job(&owner, texts::kRenamingFiles);
    auto gate = std::make_shared<Gate>();
    Poll inputDuringWork([&] {
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::keyClick(&button, Qt::Key_Space);
        QTest::keyClick(&button, Qt::Key_Z, Qt::ControlModifier);
        gate->Open();
        return true;
    });
    job.Run([gate](TWorkProgress&) { gate->Wait(); });
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(undos, 0);
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::keyClick(&button, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(undos, 1);
}

TEST_F(BackgroundWorkTest, ClosingTheOwnerWhileWorkRunsStopsItAndClosesOnceTheJobIsOver)
{
    {
        TBackgroundWork job(&owner, texts::kRenamingFiles);
        EXPECT_TRUE(TBackgroundWork::Busy());
        Poll closeDuringWork([&] {
            owner.close();
            return true;
        });
        EXPECT_EQ(job.Run([](TWorkProgress& progress) {
            while (!progress.StopRequested())
                std::this_thread::sleep_for(1ms);
        }), Outcome::Stopped);
        EXPECT_TRUE(job.CloseDeferred());
        // The handler's finishing step (undo through the journal) runs with
        // the window still there.
        QTest::qWait(20);
        EXPECT_TRUE(owner.isVisible());
    }
    EXPECT_FALSE(TBackgroundWork::Busy());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !owner.isVisible(); }, 5000));
    // With no work alive a close goes through at once.
    EXPECT_FALSE(TBackgroundWork::DeferClose(&owner));
}

TEST_F(BackgroundWorkTest, ASearchOnADeadMountShowsTheWindowAndCancelGivesItBackAtOnce)
{
    (void)kPrivateMounts;
    vantelo::test::TTempDir dir;
    vantelo::test::TStallMount mount(dir.Path() + "/dead");
    if (!mount.Mounted())
        GTEST_SKIP() << mount.WhyNot();
    mount.Stall();
    // The search's listing, owning what it uses: the names go into a list
    // the handler would post only after a completed run.
    auto names = std::make_shared<std::vector<std::string>>();
    {
        TBackgroundWork job(&owner, texts::kSearchingFiles, TBackgroundWork::StopPolicy::AbandonWork);
        job.SetShowDelay(50ms);
        Poll cancelOnceShown([&] {
            if (!job.Form() || !job.Form()->isVisible())
                return false;
            QTest::mouseClick(job.Form()->CancelButton(), Qt::LeftButton);
            return true;
        });
        const std::string path = mount.MountPoint();
        EXPECT_EQ(job.Run([path, names](TWorkProgress& progress) {
            TDirectoryListing listing;
            if (listing.Open(path) != 0)
                return;
            for (std::string name; listing.Next(name) && !progress.StopRequested();)
                names->push_back(name);
        }), Outcome::Abandoned);
        EXPECT_TRUE(cancelOnceShown.Finished());
        EXPECT_EQ(job.Form(), nullptr);
        EXPECT_EQ(TBackgroundWork::AbandonedRunning(), 1);
        // Once abandoned, later runs of the job do not start.
        EXPECT_EQ(job.Run([](TWorkProgress&) { ADD_FAILURE() << "ran after the job was abandoned"; }),
                  Outcome::Abandoned);
    }
    // The worker is still stuck in the kernel; the window goes on regardless.
    QTest::qWait(20);
    EXPECT_EQ(TBackgroundWork::AbandonedRunning(), 1);
    mount.Answer();
    EXPECT_TRUE(QTest::qWaitFor([] { return TBackgroundWork::AbandonedRunning() == 0; }, 10000));
}

// Run only in a child process by the test below: leaves a worker stuck for
// good and ends the program.
TEST_F(BackgroundWorkTest, LeaveAStuckWorkerBehind)
{
    if (!std::getenv("VANTELO_LEAVE_STUCK_WORKER"))
        GTEST_SKIP() << "run by QuittingIsNotHeldUpByAStuckWorker";
    auto never = std::make_shared<Gate>();
    TBackgroundWork job(&owner, texts::kSearchingFiles, TBackgroundWork::StopPolicy::AbandonWork);
    Poll stop([&] {
        job.RequestStop();
        return true;
    });
    EXPECT_EQ(job.Run([never](TWorkProgress&) { never->Wait(); }), Outcome::Abandoned);
}

TEST(BackgroundWork, QuittingIsNotHeldUpByAStuckWorker)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string filter = "--gtest_filter=BackgroundWorkTest.LeaveAStuckWorkerBehind";
    char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>(filter.c_str()), nullptr};
    setenv("VANTELO_LEAVE_STUCK_WORKER", "1", 1);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, environ);
    unsetenv("VANTELO_LEAVE_STUCK_WORKER");
    ASSERT_EQ(spawned, 0);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 3000 && !ended; ++i) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended)
            std::this_thread::sleep_for(10ms);
    }
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    EXPECT_TRUE(ended) << "the program did not end with a stuck worker";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
