#include "mainwin/TJobReport.h"

#include <string>

#include "app/TMessageForm.h"
#include "jobs/TRecoveryJob.h"
#include "jobs/TRenameJob.h"
#include "jobs/TUndoJob.h"
#include "mainwin/MainTexts.h"
#include "platform/TCodePage.h"

namespace vantelo {

namespace {

std::string InCodePage(std::string_view utf8) { return TCodePage::Active().FromUtf8(utf8); }

// The folder's name as its bytes stand, between the tool's own words.
std::string AboutFolder(std::string_view before, const std::string& folder, std::string_view after = {})
{
    return InCodePage(before) + folder + InCodePage(after);
}

void TellRecovery(const TRenameHistory::Recovery& recovery)
{
    using Kind = TRenameHistory::Recovery::Kind;
    if (recovery.kind == Kind::FolderAway) {
        ShowNotice(AboutFolder(texts::kRecoveryFolderAway, recovery.folder));
        return;
    }
    std::string text;
    switch (recovery.kind) {
    case Kind::Undone:
        if (recovery.files > 0)
            text = texts::RecoveredUndone(recovery.files);
        break;
    case Kind::Finished:
        if (recovery.files > 0)
            text = texts::RecoveredFinished(recovery.files);
        break;
    case Kind::UndoFinished:
        if (recovery.files > 0)
            text = texts::RecoveredUndoFinished(recovery.files);
        break;
    default:
        break;
    }
    if (recovery.left > 0)
        text += (text.empty() ? "" : "；") + texts::LeftPending(recovery.left);
    if (text.empty())
        return;  // nothing had been done yet, or nothing was left to do
    if (recovery.weakCheck)
        text += texts::kWeakCheck;
    TJobReport::Tell(text);
}

}  // namespace

void TJobReport::Tell(std::string_view utf8) { ShowNotice(InCodePage(utf8)); }

void TJobReport::CopyFailed(int error)
{
    Tell(std::string(texts::kCopyFailed) + std::to_string(static_cast<unsigned>(error)));
}

void TJobReport::Recovery(const TRecoveryJob& job)
{
    for (const TRenameJournal::Summary& damaged : job.SetAside())
        ShowNotice(AboutFolder(texts::kJournalSetAside, damaged.directory));
    for (const TRenameHistory::Recovery& recovery : job.Recoveries())
        TellRecovery(recovery);
}

bool TJobReport::AskUndo(const TRenameJournal::Summary& batch)
{
    return AskConfirmation(AboutFolder(texts::kUndoQuestionIn, batch.directory, texts::UndoQuestionTail(batch.fileCount))) == 6;
}

void TJobReport::Undo(const TUndoJob& job)
{
    const auto& result = job.Result();
    if (!result) {
        Tell(texts::kNothingToUndo);
        return;
    }
    if (result->folderAway) {
        ShowNotice(AboutFolder(texts::kRecoveryFolderAway, result->folder));
        return;
    }
    std::string text = texts::Undone(result->undone, result->changed);
    if (result->weakCheck)
        text += texts::kWeakCheck;
    if (result->stopped)
        text += "；" + std::string(texts::kFinishNextStart);
    Tell(text);
}

void TJobReport::RenameNotDone(const TRenameJob& job)
{
    const TRenameOperation::Result& result = job.Result();
    if (job.Ran() && result.outcome == TRenameOperation::Outcome::Failed)
        CopyFailed(result.error);
    // What could not be taken back stays pending in the journal.
    if (result.leftBehind > 0)
        Tell(texts::LeftPending(result.leftBehind));
}

void TJobReport::RenameDone(const TRenameJob& job, bool cancelledTooLate)
{
    if (!cancelledTooLate)
        Tell(texts::kRenameDone);
    else
        Tell(job.PastTurningBack() ? texts::kCancelTooLateDeleting : texts::kCancelTooLateDone);
    const TRenameOperation::Result& result = job.Result();
    if (result.oldKept > 0)
        Tell(texts::OldFilesKept(result.oldKept, result.oldKeptErrors));
}

}  // namespace vantelo
