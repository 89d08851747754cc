// Long work through the real main window: the rename's file passes run on a
// worker while the window repaints and takes no clicks, the progress window
// shows for slow work only, "取消" or quitting in each phase leaves the folder
// and the table as that phase promises, and a search of a folder on a mount
// that stopped answering gives the window back at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include "FileListFixture.h"
#include "TGatedOps.h"
#include "mainwin/MainTexts.h"
#include "mainwin/ProgressTexts.h"
#include "mainwin/TProgressForm.h"
#include "platform/TFileOps.h"
#include "rename/TBatchFolder.h"
#include "rename/TRenameHistory.h"
#include "rename/TRenameOperation.h"
#include "reliability/DirState.h"
#include "support/TStallMount.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

// The stalled mount lives in a mount namespace of this process's own,
// entered while it has one thread.
static const bool kPrivateMounts = vantelo::test::TStallMount::EnterPrivateNamespace();

namespace {

using vantelo::reliability::SameDirectory;
using vantelo::reliability::Snapshot;

// Runs `act` once on the progress window as soon as one shows, while a
// handler's work runs.
class OnProgressWindow {
public:
    explicit OnProgressWindow(std::function<void(TProgressForm&)> act)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this, act] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* form = qobject_cast<TProgressForm*>(widget); form && form->isVisible()) {
                    timer_.stop();
                    return act(*form);
                }
        });
        timer_.start(5);
    }
    bool Ran() const { return !timer_.isActive(); }

private:
    QTimer timer_;
};

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

enum class Act { None, Cancel, Quit };
struct StopCase {
    const char* name;
    bool deleteOld;
    Act act;
    bool renamed;  // every new name made (else the folder exactly as before)
    std::vector<std::string> notices;
};

class FormMainProgressTest : public FileListFixture, public ::testing::WithParamInterface<StopCase> {
protected:
    void Populate()
    {
        for (const char* name : {"a.k", "b.k", "c.k"})
            Touch(name, std::string("content of ") + name);
    }
};

}  // namespace

// The worker is held at the second file; the progress window shows what is
// being done while the grid repaints and a click on "搜索文件" does nothing,
// then the window is left alone, cancelled, or the main window is closed.
TEST_P(FormMainProgressTest, HeldAtTheSecondFile)
{
    const StopCase& c = GetParam();
    Populate();
    // Held at the second file until the progress window has been looked at.
    TGatedOps ops(c.deleteOld ? TFileOps::Step::Rename : TFileOps::Step::CopyCommit, 2);
    Start();
    form->SetFileOps(ops);
    Search(work->Path(), ".k");
    const auto tableBefore = Table();
    const auto before = Snapshot(work->Path());
    PaintCounter grid;
    form->Controls().DBGrid1->installEventFilter(&grid);
    QStringList shown;
    bool keptOpen = false;
    OnProgressWindow watch([&](TProgressForm& progress) {
        for (const QLabel* label : {progress.CaptionLabel(), progress.CountLabel(), progress.FileLabel()})
            shown << label->text();
        shown << progress.CancelButton()->text();
        QTest::mouseClick(form->Controls().SpeedButton1, Qt::LeftButton);
        form->Controls().DBGrid1->update();
        EXPECT_TRUE(QTest::qWaitFor([&] { return grid.paints > 0; }, 5000));
        if (c.act == Act::Cancel)
            QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
        if (c.act == Act::Quit) {
            form->close();
            keptOpen = form->isVisible();
        }
        ops.Release();
    });
    Rename(".k", ".r", c.deleteOld);
    form->Controls().DBGrid1->removeEventFilter(&grid);
    ASSERT_TRUE(watch.Ran());
    ASSERT_EQ(shown.size(), 4);
    EXPECT_EQ(shown[0], QString::fromUtf8(texts::kRenamingFiles));
    EXPECT_EQ(shown[1], QStringLiteral("1 / 3"));
    EXPECT_TRUE(shown[2].endsWith(QStringLiteral(".k"))) << shown[2].toStdString();
    EXPECT_EQ(shown[3], QString::fromUtf8(texts::kProgressCancel));
    EXPECT_EQ(notices, c.notices);
    EXPECT_TRUE(errors.empty());
    if (c.renamed) {
        for (const char* name : {"a.r", "b.r", "c.r", "a.k", "b.k", "c.k"})
            EXPECT_EQ(Exists(name), name[2] == 'r' || !c.deleteOld) << name;
        EXPECT_TRUE(Live().empty());
    } else {
        EXPECT_TRUE(SameDirectory(before, Snapshot(work->Path())));
        EXPECT_EQ(Table(), tableBefore);
        EXPECT_EQ(GridRows(), 3);
    }
    EXPECT_EQ(keptOpen, c.act == Act::Quit);
    if (c.act == Act::Quit)
        QTRY_VERIFY(!form->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Phases, FormMainProgressTest,
    ::testing::Values(StopCase{"LeftToFinish", false, Act::None, true, {texts::kRenameDone}},
                      StopCase{"CancelDuringTheCopies", false, Act::Cancel, false, {}},
                      // Renames in place are taken back as long as no old file was deleted.
                      StopCase{"CancelDuringTheRenames", true, Act::Cancel, false, {}},
                      StopCase{"QuitDuringTheCopies", false, Act::Quit, false, {}},
                      StopCase{"QuitDuringTheRenames", true, Act::Quit, false, {}}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return info.param.name; });

TEST_F(FormMainProgressTest, SearchOfAStalledMountIsCancelledAtOnceAndLeavesTheListAndItsDirectory)
{
    const TTempDir mounts;
    vantelo::test::TStallMount mount(mounts.Path() + "/dead");
    if (!mount.Mounted())
        GTEST_SKIP() << mount.WhyNot();
    Populate();
    Start();
    // A quick search shows no progress window.
    bool quickShown = false;
    {
        OnProgressWindow watch([&](TProgressForm&) { quickShown = true; });
        Search(work->Path(), ".k");
    }
    EXPECT_FALSE(quickShown);
    const auto tableBefore = Table();
    const std::string directoryBefore = form->SearchedDirectory();
    form->ADOQuery1->SetRecNo(2);

    mount.Stall();
    QString caption;
    OnProgressWindow watch([&](TProgressForm& progress) {
        caption = progress.CaptionLabel()->text();
        QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
    });
    Search(mount.MountPoint(), ".k");
    // Back while the mount still does not answer, with nothing changed.
    EXPECT_EQ(caption, QString::fromUtf8(texts::kSearchingFiles));
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(Table(), tableBefore);
    EXPECT_EQ(GridRows(), 3);
    EXPECT_EQ(form->ADOQuery1->RecNo(), 2);
    EXPECT_EQ(form->SearchedDirectory(), directoryBefore);
    // The list still belongs to the folder searched before...
    Rename(".k", ".r", false);
    EXPECT_EQ(notices, std::vector<std::string>{texts::kRenameDone});
    EXPECT_TRUE(Exists("a.r") && Exists("b.r") && Exists("c.r"));
    // ...and any other folder is searched as usual while the mount stalls.
    const TTempDir other;
    other.WriteFile("z.k", "z");
    Search(other.Path(), ".k");
    EXPECT_EQ(Live(), std::vector<std::string>{"z.k"});
    mount.Answer();
}

// A batch a crash left pending in a folder on a mount that no longer answers:
// the start-up's recovery waits on the worker while the window shows and
// works; "取消" gives it up and the batch stays pending until the mount
// answers again.
TEST_F(FormMainProgressTest, AStartWithABatchPendingOnAStalledMountShowsTheWindowAndKeepsTheBatch)
{
    const TTempDir mounts;
    vantelo::test::TStallMount mount(mounts.Path() + "/dead");
    if (!mount.Mounted())
        GTEST_SKIP() << mount.WhyNot();
    {
        const std::string& folder = mount.MountPoint();
        const TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st;
        ASSERT_EQ(::fstatat(fd.Get(), "file.txt", &st, AT_SYMLINK_NOFOLLOW), 0);
        TRenameJournal journal(TRenameJournal::DefaultPath());
        const std::vector<TRenameJournal::File> files{{"file.txt", "file.r", TFileIdentity::Of(st), {}}};
        const int64_t id = journal.Begin(TBatchFolder::Describe(folder, fd.Get()), true, files.size(),
                                         TRenameOperation::NewToken(), TRenameJournal::SlicesOf(files));
        journal.Release(id);
    }
    Populate();
    mount.Stall();
    QString caption;
    bool windowShown = false;
    OnProgressWindow watch([&](TProgressForm& progress) {
        caption = progress.CaptionLabel()->text();
        windowShown = form->isVisible() && QTest::qWaitForWindowExposed(form.get());
        QTest::mouseClick(progress.CancelButton(), Qt::LeftButton);
    });
    Start();
    EXPECT_EQ(caption, QString::fromUtf8(texts::kRecovering));
    EXPECT_TRUE(windowShown);
    EXPECT_TRUE(notices.empty());
    EXPECT_TRUE(errors.empty());
    // The window works while the mount still stalls...
    Search(work->Path(), ".k");
    auto live = Live();
    std::sort(live.begin(), live.end());
    EXPECT_EQ(live, (std::vector<std::string>{"a.k", "b.k", "c.k"}));
    // ...and once it answers, the batch is still there to be brought to an
    // end (the abandoned worker lets go of it first).
    mount.Answer();
    TRenameHistory::Recovery recovery;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return (recovery = TRenameHistory().RecoverOne()).kind != TRenameHistory::Recovery::Kind::None; },
        10000));
    EXPECT_EQ(recovery.kind, TRenameHistory::Recovery::Kind::Undone);
    EXPECT_EQ(recovery.folder, mount.MountPoint());
}
