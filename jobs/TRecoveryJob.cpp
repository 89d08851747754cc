#include "jobs/TRecoveryJob.h"

#include <climits>
#include <cstdlib>
#include <utility>

#include "jobs/HistoryProgress.h"
#include "store/TDataFolder.h"

namespace vantelo {

TRecoveryJob::TRecoveryJob(std::string journalPath, const std::string& databasePath, TFileOps& ops)
    : journalPath_(std::move(journalPath)), earlier_(EarlierLayout(databasePath)), ops_(ops)
{
}

std::string TRecoveryJob::EarlierLayout(const std::string& databasePath)
{
    const char* home = std::getenv("HOME");
    if (!home)
        return {};
    const char* data = std::getenv("XDG_DATA_HOME");
    const std::string userFolder = TDataFolder::UserFolder(data ? data : "", home);
    char own[PATH_MAX], user[PATH_MAX];
    if (!userFolder.empty() && realpath(databasePath.c_str(), own) &&
        realpath((userFolder + "/" + TDataFolder::kDatabaseName).c_str(), user) && std::string(own) == user)
        return user;
    return {};
}

void TRecoveryJob::Run(TWorkProgress& progress)
{
    TRenameHistory history(journalPath_, ops_);
    if (!earlier_.empty())
        history.TakeOver(earlier_);
    const TRenameHistory::Callbacks callbacks = HistoryProgress(progress);
    for (;;) {
        const TRenameHistory::Recovery recovery = history.RecoverOne(callbacks);
        if (recovery.kind == TRenameHistory::Recovery::Kind::None)
            break;
        recoveries_.push_back(recovery);
        if (recovery.kind == TRenameHistory::Recovery::Kind::Stopped)
            break;
    }
    setAside_ = history.TakeSetAside();
    // Batches beyond the kept number, from a session that ended before its
    // own upkeep could drop them.
    if (!progress.StopRequested())
        history.DropOldBatches();
}

}  // namespace vantelo
