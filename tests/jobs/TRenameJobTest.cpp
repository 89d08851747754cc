// The rename job's own promises beyond what the window's suites see: the
// byte count it reports for large copies, and which rows it says the folder
// no longer has after a batch that did not finish.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jobs/TRenameJob.h"
#include "jobs/TWorkProgress.h"
#include "rename/EJournalError.h"
#include "support/TTempDir.h"

namespace vantelo {
namespace {

using test::TTempDir;

// A file of `size` bytes that takes next to no disk.
void MakeSparse(const std::string& path, off_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ASSERT_EQ(::pwrite(fd, "end", 3, size - 3), 3);
    ::close(fd);
}

struct BytesCase {
    const char* why;
    off_t eachFile;
    bool deleteOld;
    bool counted;  // the byte count shows
};

TEST(RenameJobTest, ReportsBytesOnlyForKeptCopiesOfALargeBatch)
{
    constexpr off_t kMiB = off_t{1} << 20;
    const BytesCase cases[] = {
        {"kept copies of 66 MiB", 33 * kMiB, false, true},
        {"kept copies of 62 MiB", 31 * kMiB, false, false},
        {"renames in place of 66 MiB", 33 * kMiB, true, false},
    };
    for (const BytesCase& c : cases) {
        TTempDir dir, state;
        MakeSparse(dir / "a.raw", c.eachFile);
        MakeSparse(dir / "b.raw", c.eachFile);
        TRenameJob job(state / "FileName.mdb", TFileOps::System(), state / "journal.db");
        job.SetFolder(dir.Path());
        job.SetNames({"a.raw", "b.raw"}, ".raw", ".dng");
        TWorkProgress progress;
        ASSERT_FALSE(job.Check(progress)) << c.why;
        // While the second file is copied, the count stands at the first's
        // bytes (looked at when the batch's end is reported).
        uint64_t bytesWhileSecond = 0;
        job.SetFileStep([&](size_t row, size_t total) {
            if (row == total)
                bytesWhileSecond = progress.Latest().bytesDone;
        });
        job.Run(c.deleteOld, progress);
        ASSERT_TRUE(job.Done()) << c.why;
        const TWorkProgress::Snapshot last = progress.Latest();
        const uint64_t total = c.counted ? 2 * static_cast<uint64_t>(c.eachFile) : 0;
        EXPECT_EQ(last.bytesTotal, total) << c.why;
        EXPECT_EQ(last.bytesDone, total) << c.why;
        EXPECT_EQ(bytesWhileSecond, c.counted ? static_cast<uint64_t>(c.eachFile) : 0) << c.why;
    }
}

// Every rename in place succeeds but giving "b" its old name back: the third
// file fails and the take-back leaves "b" renamed.
class KeepsBRenamed : public TFileOps {
public:
    int Fault(Step step, const std::string& name) override
    {
        if (step != Step::Rename)
            return 0;
        return name == "c.new" || name == "b.old" ? EIO : 0;
    }
};

TEST(RenameJobTest, NamesTheRowsWhoseOldNameATakeBackCouldNotGiveBack)
{
    TTempDir dir, state;
    for (const char* name : {"a.old", "b.old", "c.old", "d.old"})
        dir.WriteFile(name, name);
    KeepsBRenamed ops;
    TRenameJob job(state / "FileName.mdb", ops, state / "journal.db");
    job.SetFolder(dir.Path());
    for (const char* name : {"a", "b", "c", "d"})
        job.Add(std::string(name) + ".old", std::string(name) + ".new");
    TWorkProgress progress;
    ASSERT_FALSE(job.Check(progress));
    EXPECT_TRUE(job.OldNamesGone().empty());
    EXPECT_EQ(job.FailedRow(), std::nullopt);
    job.Run(/*deleteOld=*/true, progress);
    EXPECT_FALSE(job.Done());
    EXPECT_EQ(job.FailedRow(), std::optional<size_t>(2));
    EXPECT_EQ(job.Result().leftBehind, 1u);
    EXPECT_EQ(job.OldNamesGone(), std::vector<size_t>{1});
    struct stat st;
    EXPECT_EQ(::lstat((dir / "a.old").c_str(), &st), 0);
    EXPECT_EQ(::lstat((dir / "b.new").c_str(), &st), 0);
}

// The journal may be opened on a thread of its own while the names are
// read: whatever becomes of the job, that thread is done with before the
// job goes, and a journal that cannot open stops the batch in Run() with
// every file as it was, as when Run() opens it itself.
TEST(RenameJobTest, AJournalOpenedAheadServesTheBatchOrStopsItUntouched)
{
    TTempDir dir, state;
    dir.WriteFile("a.old", "a");
    {
        // Never checked, and refused by the check: the job still ends cleanly.
        TRenameJob unchecked(state / "FileName.mdb", TFileOps::System(), state / "journal.db");
        unchecked.OpenJournalAhead();
        TRenameJob refused(state / "FileName.mdb", TFileOps::System(), state / "journal.db");
        refused.OpenJournalAhead();
        refused.SetFolder(dir.Path());
        refused.Add("missing.old", "missing.new");
        TWorkProgress progress;
        EXPECT_EQ(refused.Check(progress).error, ENOENT);
    }
    for (const bool opens : {false, true}) {
        SCOPED_TRACE(opens ? "a journal that opens" : "a journal that cannot open");
        TRenameJob job(state / "FileName.mdb", TFileOps::System(),
                       opens ? state / "journal.db" : std::string("journal.db"));
        job.OpenJournalAhead();
        job.SetFolder(dir.Path());
        job.Add("a.old", "a.new");
        TWorkProgress progress;
        ASSERT_FALSE(job.Check(progress));
        if (!opens) {
            EXPECT_THROW(job.Run(/*deleteOld=*/true, progress), EJournalError);
            EXPECT_EQ(dir.ReadFile("a.old"), "a");
            continue;
        }
        job.Run(/*deleteOld=*/true, progress);
        EXPECT_TRUE(job.Done());
        EXPECT_EQ(dir.ReadFile("a.new"), "a");
        EXPECT_EQ(TRenameJournal(state / "journal.db").LastDone()->fileCount, 1u);
    }
}

}  // namespace
}  // namespace vantelo
