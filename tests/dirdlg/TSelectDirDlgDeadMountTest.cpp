// The chooser while a mount has stopped answering: it opens, lists the mount
// as unavailable, and every other folder can be chosen. The mount is the
// tests' own FUSE file system, stalled, in a private mount namespace.
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "dirdlg/TDirectoryListBox.h"
#include "dirdlg/TDriveComboBox.h"
#include "dirdlg/TFileListBox.h"
#include "dirdlg/TPathLabel.h"
#include "support/TStallMount.h"
#include "tests/dirdlg/DirDlgFixture.h"

// Before main: the namespace can only be entered while the process has one thread.
static const bool kPrivateMounts = vantelo::test::TStallMount::EnterPrivateNamespace();

namespace vantelo {
namespace {

using Clock = std::chrono::steady_clock;

// Lets a hung mount answer after a while, so that a test which got stuck
// on it fails with a message instead of hanging until ctest's timeout.
class TWatchdog {
public:
    TWatchdog(const test::TStallMount& mount, std::chrono::seconds patience)
        : thread_([this, &mount, patience] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, patience, [this] { return finished_; })) {
                  fired_ = true;
                  mount.Answer();
              }
          })
    {
    }
    ~TWatchdog()
    {
        {
            const std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    bool Fired()
    {
        const std::lock_guard lock(mutex_);
        return fired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool fired_ = false;
    std::thread thread_;
};

class TSelectDirDlgDeadMountTest : public test::DirDlgFixture {
protected:
    void SetUp() override
    {
        DirDlgFixture::SetUp();
        MakeFolder("other");
        MakeFolder("other/inner");
        dir_.WriteFile("other/photo.jpg", "x");
        mount_ = std::make_unique<test::TStallMount>(Path("dead"));
        if (!mount_->Mounted())
            GTEST_SKIP() << mount_->WhyNot();
        TDrives::SetTableOverride(test::OwnDrives(root_));
        mount_->Stall();
    }
    void TearDown() override
    {
        mount_.reset();
        DirDlgFixture::TearDown();
    }
    static int RowOf(const TDirectoryListBox& tree, const std::string& name)
    {
        for (int i = tree.OpenIndex() + 1; i < tree.count(); ++i)
            if (tree.EntryName(i) == name)
                return i;
        return -1;
    }
    static void DoubleClick(TDirectoryListBox& tree, int row)
    {
        const QRect rect = tree.visualItemRect(tree.item(row));
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
    }
    static int DriveRow(const TDriveComboBox& drives, const std::string& mountPoint)
    {
        for (int i = 0; i < drives.count(); ++i)
            if (drives.EntryDrive(i) == mountPoint)
                return i;
        return -1;
    }
    // Runs the chooser as the "...." button does; the script works it.
    bool Choose(std::string& directory, const std::function<void(TSelectDirDlg&)>& script)
    {
        TSelectDirDlg::SetModalScript([script](TSelectDirDlg& dialog) {
            script(dialog);
            if (dialog.isVisible())
                QTest::keyClick(&dialog, Qt::Key_Escape);
        });
        return ChooseDirectory(directory, cdConfirmMissing, 1000);
    }
    static double Seconds(Clock::duration span) { return std::chrono::duration<double>(span).count(); }

    std::unique_ptr<test::TStallMount> mount_;
};

// A stuck call never comes back by itself; the watchdog releases it after
// this long, far beyond any answer that counts as "at once".
constexpr std::chrono::seconds kHung{15};

TEST_F(TSelectDirDlgDeadMountTest, OpensListsTheMountUnavailableAndAnotherFolderIsChosen)
{
    TWatchdog watchdog(*mount_, kHung);
    const Clock::time_point start = Clock::now();
    Clock::duration opening{}, navigating{};
    std::string directory;
    const bool accepted = Choose(directory, [&](TSelectDirDlg& dialog) {
        opening = Clock::now() - start;
        // Listed as a drive, marked unavailable; the tree shows its mount
        // point as a folder of the open folder without asking it.
        const int drive = DriveRow(*dialog.DriveList, Path("dead"));
        ASSERT_GE(drive, 0);
        EXPECT_FALSE(dialog.DriveList->EntryAvailable(drive));
        EXPECT_TRUE(dialog.DriveList->EntryAvailable(DriveRow(*dialog.DriveList, "/")));
        EXPECT_GE(RowOf(*dialog.DirList, "dead"), 0);

        const Clock::time_point before = Clock::now();
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "other"));
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "inner"));
        DoubleClick(*dialog.DirList, dialog.DirList->OpenIndex() - 1);
        navigating = Clock::now() - before;
        EXPECT_EQ(dialog.DirList->OpenPath(), Path("other"));
        EXPECT_EQ(dialog.FileList->FolderPath(), Path("other"));
        ASSERT_EQ(dialog.FileList->count(), 1);
        EXPECT_EQ(dialog.FileList->item(0)->text(), "photo.jpg");
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    });
    EXPECT_FALSE(watchdog.Fired()) << "the chooser waited for the stalled mount";
    EXPECT_TRUE(accepted);
    EXPECT_EQ(directory, Path("other"));
    EXPECT_TRUE(boxes_.empty());
    // A hang guard, not a timing: the dialog waits for a silent mount at
    // most TDrives::AnswerTimeout (300 ms) when it opens.
    EXPECT_LT(Seconds(opening), 5.0);
    EXPECT_LT(Seconds(navigating), 5.0);
    std::printf("chooser opened in %.3f s, three folders opened in %.3f s, with a stalled mount\n",
                Seconds(opening), Seconds(navigating));
}

TEST_F(TSelectDirDlgDeadMountTest, TheDeadDriveOrItsFolderIsNotReadyAndTheTreeStaysWhereItWas)
{
    TWatchdog watchdog(*mount_, kHung);
    std::string directory;
    Choose(directory, [&](TSelectDirDlg& dialog) {
        // Picked in the drive list.
        emit dialog.DriveList->activated(DriveRow(*dialog.DriveList, Path("dead")));
        // Opened from the tree.
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "dead"));
        EXPECT_EQ(boxes_, (std::vector<std::string>{"I/O error 21.", "I/O error 21."}));
        EXPECT_EQ(dialog.DirList->OpenPath(), root_);
        EXPECT_EQ(TCurrentDirectory::Get(), root_);
        // Everything else still works.
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "other"));
        EXPECT_EQ(dialog.DirLabel->Caption(), Path("other"));
    });
    EXPECT_FALSE(watchdog.Fired()) << "the chooser waited for the stalled mount";
}

TEST_F(TSelectDirDlgDeadMountTest, StartedInsideTheDeadMountItOpensAndLeadsAway)
{
    mount_->Answer();
    TCurrentDirectory::Set(Path("dead/inside"));
    mount_->Stall();
    TWatchdog watchdog(*mount_, kHung);
    std::string directory;
    const bool accepted = Choose(directory, [&](TSelectDirDlg& dialog) {
        // Nothing below the open folder is shown; the ancestors are.
        EXPECT_EQ(dialog.DirList->OpenPath(), Path("dead/inside"));
        EXPECT_EQ(dialog.DirList->count(), dialog.DirList->OpenIndex() + 1);
        EXPECT_EQ(dialog.FileList->count(), 0);
        DoubleClick(*dialog.DirList, dialog.DirList->OpenIndex() - 2);
        EXPECT_EQ(dialog.DirList->OpenPath(), root_);
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "other"));
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    });
    EXPECT_FALSE(watchdog.Fired()) << "the chooser waited for the stalled mount";
    EXPECT_TRUE(accepted);
    EXPECT_EQ(directory, Path("other"));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(TSelectDirDlgDeadMountTest, AMountThatAnswersAgainCanBeOpened)
{
    TWatchdog watchdog(*mount_, kHung);
    EXPECT_FALSE(TDrives::Answers(Path("dead")));
    mount_->Answer();
    // The question still out comes back now; the next one is answered.
    ASSERT_TRUE(QTest::qWaitFor([&] { return TDrives::Answers(Path("dead")); }, 5000));
    std::string directory;
    Choose(directory, [&](TSelectDirDlg& dialog) {
        EXPECT_TRUE(dialog.DriveList->EntryAvailable(DriveRow(*dialog.DriveList, Path("dead"))));
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "dead"));
        EXPECT_EQ(dialog.DirList->OpenPath(), Path("dead"));
        EXPECT_GE(RowOf(*dialog.DirList, "inside"), 0);
        ASSERT_EQ(dialog.FileList->count(), 1);
        EXPECT_EQ(dialog.FileList->item(0)->text(), "file.txt");
        DoubleClick(*dialog.DirList, dialog.DirList->OpenIndex() - 1);
    });
    EXPECT_TRUE(boxes_.empty());
}

}  // namespace
}  // namespace vantelo
