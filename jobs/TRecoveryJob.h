// The start-up's recovery: every batch a crash left unfinished, that no
// live process owns, brought to one end, with what was done for each and the
// damaged records set aside, for the window to tell. No window: it runs on a
// worker the window may leave behind (a batch's folder on a mount that
// stopped answering), so the object is shared with it (std::shared_ptr).
#pragma once

#include "jobs/TWorkProgress.h"
#include "platform/TFileOps.h"
#include "rename/TRenameHistory.h"
#include "rename/TRenameJournal.h"

#include <string>
#include <vector>

namespace vantelo {

class TRecoveryJob {
public:
    // `journalPath`: the rename journal. `databasePath`: the tool's database
    // as it was opened; the batches it kept in the tool's earlier layout are
    // taken over once, only when it is the user's own database in the
    // per-user data folder (no other database is ever read for batches).
    TRecoveryJob(std::string journalPath, const std::string& databasePath, TFileOps& ops = TFileOps::System());

    // Recovers batch after batch, oldest first, until none is left or a stop
    // is asked for (the batch then stays pending), then drops the finished
    // batches beyond the kept number. Raises EJournalError.
    void Run(TWorkProgress& progress);

    // What was done, batch by batch, and the records found damaged.
    const std::vector<TRenameHistory::Recovery>& Recoveries() const { return recoveries_; }
    const std::vector<TRenameJournal::Summary>& SetAside() const { return setAside_; }

    // `databasePath` resolved when it is the per-user data folder's
    // database, else empty.
    static std::string EarlierLayout(const std::string& databasePath);

private:
    std::string journalPath_;
    std::string earlier_;
    TFileOps& ops_;
    std::vector<TRenameHistory::Recovery> recoveries_;
    std::vector<TRenameJournal::Summary> setAside_;
};

}  // namespace vantelo
