// The journal's old batches go after a batch (on the upkeep's thread) and at
// start-up, never as a batch begins, and never one a process is undoing.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

#include "jobs/TJournalUpkeep.h"
#include "jobs/TRecoveryJob.h"
#include "rename/TRenameJournal.h"
#include "support/TTempDir.h"

namespace vantelo {
namespace {

// The ids of the finished batches, oldest first.
std::vector<int64_t> DoneBatches(const std::string& journal)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(journal.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT BatchId FROM Batches WHERE Phase = 3 ORDER BY BatchId", -1, &select, nullptr);
    std::vector<int64_t> ids;
    while (sqlite3_step(select) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(select, 0));
    sqlite3_finalize(select);
    sqlite3_close(db);
    return ids;
}

// `count` finished one-file batches, each begun after the last.
void AddDoneBatches(TRenameJournal& journal, int count)
{
    const std::vector<TRenameJournal::File> files = {{"a", "b", {1, 2, 3, {4, 5}}, {}}};
    for (int i = 0; i < count; ++i) {
        const int64_t id =
            journal.Begin({"/some/dir", {1, 1, 0, {}}, 9}, true, files.size(), "t", TRenameJournal::SlicesOf(files));
        journal.SetPhase(id, TRenameJournal::Phase::Making, TRenameJournal::Phase::Done);
        journal.Release(id);
    }
}

TEST(JournalUpkeepTest, OldBatchesGoAfterABatchAndAtStartUpButNotOneBeingUndone)
{
    test::TTempDir dir;
    const std::string path = dir / "state/journal.db";
    TRenameJournal journal(path);
    const int kept = TRenameJournal::kKeptBatches;
    AddDoneBatches(journal, kept + 3);
    // Beginning a batch drops nothing.
    ASSERT_EQ(DoneBatches(path).size(), static_cast<size_t>(kept + 3));

    // The oldest is being undone by another process meanwhile: it stays.
    const int64_t oldest = DoneBatches(path).front();
    TRenameJournal undoing(path);
    ASSERT_TRUE(undoing.Claim(oldest, TRenameJournal::Phase::Done));
    TJournalUpkeep upkeep;
    upkeep.Start(path);
    upkeep.Wait();
    std::vector<int64_t> left = DoneBatches(path);
    ASSERT_EQ(left.size(), static_cast<size_t>(kept + 1));
    EXPECT_EQ(left.front(), oldest);
    EXPECT_EQ(left[1], oldest + 3);

    // Let go, it goes at the next start, with what a session left beyond.
    undoing.Release(oldest);
    AddDoneBatches(journal, 2);
    TRecoveryJob recovery(path, dir / "FileName.mdb");
    TWorkProgress progress;
    recovery.Run(progress);
    left = DoneBatches(path);
    ASSERT_EQ(left.size(), static_cast<size_t>(kept));
    EXPECT_EQ(left.front(), oldest + 5);
}

}  // namespace
}  // namespace vantelo
