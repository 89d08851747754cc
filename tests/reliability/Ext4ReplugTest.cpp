// A disk unplugged and plugged into another port comes back under a new
// device number, with the same file system and the same inode numbers: a
// batch interrupted on it waits while it is away and is taken back once it
// is back, and a finished batch is undone there, both telling the files by
// inode as on any other disk. A real ext4 image on a loop device, mounted in
// the test's private mount namespace.
#include "DirState.h"

#include "rename/TRenameHistory.h"
#include "rename/TRenameOperation.h"
#include "support/TStallMount.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

static const bool kPrivateMounts = vantelo::test::TStallMount::EnterPrivateNamespace();

namespace vantelo::reliability {
namespace {

// An ext4 disk image that can be plugged in on a loop device and mounted,
// and plugged in again on another one.
class TExt4Disk {
public:
    explicit TExt4Disk(const std::string& folder) : image_(folder + "/ext4.img"), mountPoint_(folder + "/disk")
    {
        if (!test::TStallMount::EnterPrivateNamespace())
            whyNot_ = "no private mount namespace: " + test::TStallMount::NamespaceError();
        else if (geteuid() != 0)
            whyNot_ = "needs root for a loop device";
        else if (test::Shell("truncate -s 64M '" + image_ + "' && mkfs.ext4 -q -F '" + image_ + "' >/dev/null 2>&1 && mkdir '" +
                             mountPoint_ + "'") != 0)
            whyNot_ = "mkfs.ext4 failed (e2fsprogs)";
        else
            Plug(test::ShellLine("losetup --find"));
    }
    ~TExt4Disk() { Unplug(); }
    TExt4Disk(const TExt4Disk&) = delete;
    TExt4Disk& operator=(const TExt4Disk&) = delete;

    const std::string& WhyNot() const { return whyNot_; }
    const std::string& MountPoint() const { return mountPoint_; }

    void Unplug()
    {
        if (loop_.empty())
            return;
        ::umount2(mountPoint_.c_str(), 0);
        test::Shell("losetup -d '" + loop_ + "'");
        last_ = std::exchange(loop_, {});
    }
    // Unplugged (if it is not yet), then plugged into a free loop device
    // other than the one it was on.
    bool Replug()
    {
        Unplug();
        for (int n = 0; n < 64; ++n)
            if (const std::string device = "/dev/loop" + std::to_string(n); device != last_ && Plug(device))
                return true;
        return false;
    }
    bool Plug(const std::string& device)
    {
        if (device.empty() || test::Shell("losetup '" + device + "' '" + image_ + "' 2>/dev/null") != 0) {
            whyNot_ = "no loop device could be set up";
            return false;
        }
        loop_ = device;
        if (::mount(loop_.c_str(), mountPoint_.c_str(), "ext4", 0, nullptr) != 0) {
            whyNot_ = "ext4 could not be mounted";
            return false;
        }
        whyNot_.clear();
        return true;
    }

private:
    std::string image_, mountPoint_, loop_, last_, whyNot_;
};

class Ext4Replug : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!disk_.WhyNot().empty())
            GTEST_SKIP() << disk_.WhyNot();
        ::setenv("XDG_STATE_HOME", (temp_ / "state").c_str(), 1);
        folder_ = disk_.MountPoint() + "/photos";
        ASSERT_EQ(::mkdir(folder_.c_str(), 0755), 0);
        for (int i = 0; i < kFiles; ++i)
            Write(Name(i, ".jpg"), std::string(static_cast<size_t>(100 * i + 1), static_cast<char>('a' + i)));
        before_ = Snapshot(folder_);
    }
    static constexpr int kFiles = 8;
    static std::string Name(int i, const char* suffix) { return "photo-" + std::to_string(i) + suffix; }
    void Write(const std::string& name, const std::string& content) const
    {
        FILE* file = std::fopen((folder_ + "/" + name).c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
    // Runs the batch .jpg -> .png in a child process that dies before the
    // file `dieAt` (none: it finishes); answers the child's exit status.
    int RunBatch(bool deleteOld, int dieAt = -1) const
    {
        const pid_t child = ::fork();
        if (child == 0) {
            TRenameOperation operation(temp_ / "FileName.mdb");
            if (operation.Open(folder_) != 0)
                ::_exit(2);
            for (int i = 0; i < kFiles; ++i)
                operation.Add(Name(i, ".jpg"), Name(i, ".png"));
            if (operation.Check())
                ::_exit(3);
            TRenameOperation::Callbacks callbacks;
            callbacks.progress = [dieAt](size_t done, size_t, const std::string&, uint64_t) {
                if (static_cast<int>(done) == dieAt)
                    ::_exit(9);
            };
            ::_exit(operation.Run(deleteOld, callbacks).outcome == TRenameOperation::Outcome::Done ? 0 : 1);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    dev_t Device() const
    {
        struct stat st {};
        ::stat(folder_.c_str(), &st);
        return st.st_dev;
    }

    test::TTempDir temp_;
    TExt4Disk disk_{temp_.Path()};
    std::string folder_;
    DirState before_;
};

TEST_F(Ext4Replug, AnInterruptedBatchWaitsWhileTheDiskIsAwayAndIsTakenBackOnceItIsBackUnderANewDevice)
{
    ASSERT_EQ(RunBatch(/*deleteOld=*/true, /*dieAt=*/3), 9);
    const dev_t first = Device();
    disk_.Unplug();
    const auto away = TRenameHistory().RecoverOne();
    EXPECT_EQ(away.kind, TRenameHistory::Recovery::Kind::FolderAway);
    EXPECT_EQ(away.folder, folder_);

    ASSERT_TRUE(disk_.Replug()) << disk_.WhyNot();
    if (Device() == first)
        GTEST_SKIP() << "the loop device came back under the same number";
    const auto back = TRenameHistory().RecoverOne();
    EXPECT_EQ(back.kind, TRenameHistory::Recovery::Kind::Undone);
    EXPECT_EQ(back.files, 3u);
    EXPECT_EQ(back.left, 0u);
    EXPECT_FALSE(back.weakCheck);
    EXPECT_TRUE(SameDirectory(before_, Snapshot(folder_)));
    EXPECT_EQ(TRenameHistory().RecoverOne().kind, TRenameHistory::Recovery::Kind::None);
}

TEST_F(Ext4Replug, AFinishedBatchIsUndoneOnTheDiskPluggedInAgainUnderANewDevice)
{
    for (const bool deleteOld : {false, true}) {
        ASSERT_EQ(RunBatch(deleteOld), 0) << deleteOld;
        const dev_t first = Device();
        ASSERT_TRUE(disk_.Replug()) << disk_.WhyNot();
        if (Device() == first)
            GTEST_SKIP() << "the loop device came back under the same number";
        const auto undone = TRenameHistory().UndoLast();
        ASSERT_TRUE(undone) << deleteOld;
        EXPECT_FALSE(undone->folderAway);
        EXPECT_FALSE(undone->weakCheck);
        EXPECT_EQ(undone->undone, static_cast<size_t>(kFiles)) << deleteOld;
        EXPECT_EQ(undone->changed, 0u) << deleteOld;
        EXPECT_TRUE(SameDirectory(before_, Snapshot(folder_))) << deleteOld;
    }
}

}  // namespace
}  // namespace vantelo::reliability
