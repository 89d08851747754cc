// Long work through the real main window: the search's listing and the
// rename's file passes run on a worker while the window repaints, the
// progress window shows for slow work only, "取消" in each phase leaves the
// folder and the table as the phase promises, quitting finishes or takes back
// the batch before the window closes, and a search of a folder on a mount
// that stopped answering gives the window back at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <condition_variable>
#include <functional>
#include <mutex>

#include "FileListFixture.h"
#include "mainwin/MainTexts.h"
#include "mainwin/ProgressTexts.h"
#include "mainwin/TProgressForm.h"
#include "platform/TFileOps.h"
#include "reliability/DirState.h"
#include "support/TStallMount.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

// The stalled mount lives in a mount namespace of this process's own,
// entered while it has one thread.
static const bool kPrivateMounts = vantelo::test::TStallMount::EnterPrivateNamespace();

namespace {

using vantelo::reliability::SameDirectory;
using vantelo::reliability::Snapshot;

// The real file system, except that the worker waits at the Nth step of one
// kind (a copy given its name, a rename in place...) until the test lets it
// go on, or for half a minute at most.
class THeldOps : public TFileOps {
public:
    THeldOps(Step step, long nth) : step_(step), holdAt_(nth) {}
    int Fault(Step step, const std::string&) override
    {
        std::unique_lock lock(mutex_);
        if (step == step_ && ++steps_ == holdAt_)
            changed_.wait_for(lock, std::chrono::seconds(30), [this] { return released_; });
        return 0;
    }
    void Release()
    {
        const std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Step step_;
    long steps_ = 0;
    long holdAt_;
    bool released_ = false;
};

TProgressForm* ProgressWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* form = qobject_cast<TProgressForm*>(widget); form && form->isVisible())
            return form;
    return nullptr;
}

// Calls `step` every few milliseconds while a handler's work runs, until it
// answers true.
class WhileWorking {
public:
    explicit WhileWorking(std::function<bool()> step) : step_(std::move(step))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (step_())
                timer_.stop();
        });
        timer_.start(5);
    }
    bool Done() const { return !timer_.isActive(); }

private:
    std::function<bool()> step_;
    QTimer timer_;
};

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

class FormMainProgressTest : public FileListFixture {
protected:
    void Populate()
    {
        for (const char* name : {"a.k", "b.k", "c.k"})
            Touch(name, std::string("content of ") + name);
        Touch("other.txt");
    }
};

}  // namespace

TEST_F(FormMainProgressTest, SlowRenameShowsTheProgressWindowWhileTheMainWindowRepaintsAndTakesNoClicks)
{
    Populate();
    THeldOps ops(TFileOps::Step::CopyCommit, 2);
    Start();
    form->SetFileOps(ops);
    // Fast work shows nothing new.
    bool windowSeen = false;
    {
        WhileWorking watch([&] {
            windowSeen = windowSeen || ProgressWindow();
            return false;
        });
        Search(work->Path(), ".k");
    }
    EXPECT_FALSE(windowSeen);
    ASSERT_EQ(GridRows(), 3);

    // The worker waits at the second copy until the window has shown what
    // it is doing and the grid has repainted meanwhile.
    QString caption, count, file, cancel;
    int gridPaints = 0;
    struct PaintCounter : QObject {
        int& paints;
        explicit PaintCounter(int& counted) : paints(counted) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter(gridPaints);
    form->Controls().DBGrid1->installEventFilter(&counter);
    WhileWorking watch([&] {
        TProgressForm* progress = ProgressWindow();
        if (!progress || progress->CountLabel()->text() != QStringLiteral("1 / 3"))
            return false;
        if (caption.isEmpty()) {
            caption = progress->CaptionLabel()->text();
            count = progress->CountLabel()->text();
            file = progress->FileLabel()->text();
            cancel = progress->CancelButton()->text();
            // A second search cannot start; the grid still repaints.
            QTest::mouseClick(form->Controls().SpeedButton1, Qt::LeftButton);
            form->Controls().DBGrid1->update();
            return false;
        }
        if (gridPaints == 0)
            return false;
        ops.Release();
        return true;
    });
    Rename(".k", ".r", false);
    form->Controls().DBGrid1->removeEventFilter(&counter);
    EXPECT_TRUE(watch.Done());
    EXPECT_EQ(caption, Q(texts::kRenamingFiles));
    EXPECT_EQ(count, QStringLiteral("1 / 3"));
    EXPECT_TRUE(file.endsWith(QStringLiteral(".k"))) << file.toStdString();
    EXPECT_EQ(cancel, Q(texts::kProgressCancel));
    EXPECT_GT(gridPaints, 0);
    EXPECT_EQ(notices, std::vector<std::string>{texts::kRenameDone});
    EXPECT_TRUE(Live().empty());
    for (const char* name : {"a.r", "b.r", "c.r", "a.k", "b.k", "c.k"})
        EXPECT_TRUE(Exists(name)) << name;
    EXPECT_EQ(ProgressWindow(), nullptr);
}

// "取消" or a close of the main window while the worker is held at the
// second file: keeping the old files, the batch is taken back and the
// folder is as before, the list still live; once old files go the batch is
// finished and the window says so, or, when quitting, closes quietly.
struct StopCase {
    const char* name;
    bool deleteOld;
    bool quit;
    bool finished;
    std::vector<std::string> notices;
};

class FormMainStopTest : public FormMainProgressTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(FormMainStopTest, TakesTheBatchBackOrFinishesIt)
{
    const StopCase& c = GetParam();
    Populate();
    THeldOps ops(c.deleteOld ? TFileOps::Step::Rename : TFileOps::Step::CopyCommit, 2);
    Start();
    form->SetFileOps(ops);
    Search(work->Path(), ".k");
    const auto tableBefore = Table();
    const auto before = Snapshot(work->Path());
    bool windowKeptOpen = false;
    WhileWorking watch([&] {
        TProgressForm* progress = ProgressWindow();
        if (!progress)
            return false;
        if (c.quit) {
            form->close();
            windowKeptOpen = form->isVisible();
        } else {
            QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
        }
        ops.Release();
        return true;
    });
    Rename(".k", ".r", c.deleteOld);
    EXPECT_TRUE(watch.Done());
    EXPECT_EQ(notices, c.notices);
    EXPECT_TRUE(errors.empty());
    if (c.finished) {
        for (const char* name : {"a.r", "b.r", "c.r"})
            EXPECT_TRUE(Exists(name)) << name;
        for (const char* name : {"a.k", "b.k", "c.k"})
            EXPECT_FALSE(Exists(name)) << name;
        EXPECT_TRUE(Live().empty());
    } else {
        EXPECT_TRUE(SameDirectory(before, Snapshot(work->Path())));
        EXPECT_EQ(Table(), tableBefore);
        EXPECT_EQ(GridRows(), 3);
    }
    if (c.quit) {
        EXPECT_TRUE(windowKeptOpen);
        QTRY_VERIFY(!form->isVisible());
    } else {
        EXPECT_TRUE(form->isVisible());
    }
}

INSTANTIATE_TEST_SUITE_P(Phases, FormMainStopTest,
                         ::testing::Values(StopCase{"CancelDuringTheCopies", false, false, false, {}},
                                           StopCase{"CancelOnceOldFilesGo", true, false, true,
                                                    {texts::kCancelTooLateDeleting}},
                                           StopCase{"QuitDuringTheCopies", false, true, false, {}},
                                           StopCase{"QuitOnceOldFilesGo", true, true, true, {}}),
                         [](const ::testing::TestParamInfo<StopCase>& info) { return info.param.name; });

TEST_F(FormMainProgressTest, SearchOfAStalledMountIsCancelledAtOnceAndLeavesTheListAndItsDirectory)
{
    const TTempDir mounts;
    vantelo::test::TStallMount mount(mounts.Path() + "/dead");
    if (!mount.Mounted())
        GTEST_SKIP() << mount.WhyNot();
    Populate();
    Start();
    Search(work->Path(), ".k");
    const auto tableBefore = Table();
    const std::string directoryBefore = form->SearchedDirectory();

    mount.Stall();
    QString caption;
    WhileWorking watch([&] {
        TProgressForm* progress = ProgressWindow();
        if (!progress)
            return false;
        caption = progress->CaptionLabel()->text();
        QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
        return true;
    });
    Search(mount.MountPoint(), ".k");
    // Back while the mount still does not answer.
    EXPECT_TRUE(watch.Done());
    EXPECT_EQ(caption, Q(texts::kSearchingFiles));
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(Table(), tableBefore);
    EXPECT_EQ(GridRows(), 3);
    EXPECT_EQ(form->SearchedDirectory(), directoryBefore);

    // The list still belongs to the folder searched before.
    Rename(".k", ".r", false);
    EXPECT_EQ(notices, std::vector<std::string>{texts::kRenameDone});
    for (const char* name : {"a.r", "b.r", "c.r"})
        EXPECT_TRUE(Exists(name)) << name;

    // Any other folder is searched as usual while the mount still stalls.
    TTempDir other;
    other.WriteFile("z.k", "z");
    Search(other.Path(), ".k");
    EXPECT_EQ(Live(), std::vector<std::string>{"z.k"});
    mount.Answer();
}
