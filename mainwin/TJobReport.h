// The boxes that tell how a job ended, in the tool's words: the window's
// handlers hand their job here once it is over. Texts are written in UTF-8
// and shown in the active code page, as file names are held; a folder's
// name is shown as its bytes stand.
#pragma once

#include <string_view>

#include "rename/TRenameJournal.h"

namespace vantelo {

class TRecoveryJob;
class TRenameJob;
class TUndoJob;

class TJobReport {
public:
    // One of the tool's own texts in a notice box.
    static void Tell(std::string_view utf8);
    // "新文件生成失败，失败号为：" and the error number.
    static void CopyFailed(int error);

    // The records set aside, then what was done with each unfinished batch.
    static void Recovery(const TRecoveryJob& job);

    // Ctrl+Z's question about `batch`: its folder and number of files.
    // Answers whether the user said yes.
    static bool AskUndo(const TRenameJournal::Summary& batch);
    // What the undo did.
    static void Undo(const TUndoJob& job);

    // A batch that was not done (failed, or stopped and taken back): the
    // failure's number, and the files that could not be taken back.
    static void RenameNotDone(const TRenameJob& job);
    // A batch that was done: success, or, when "取消" came too late to take
    // it back, why; then the old files that could not be deleted.
    static void RenameDone(const TRenameJob& job, bool cancelledTooLate);
};

}  // namespace vantelo
