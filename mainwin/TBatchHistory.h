// The journal's two jobs as the main window offers them: the start-up's
// recovery of batches a crash left unfinished, and Ctrl+Z's undo of the
// newest batch. Each runs on a worker with the progress window over the
// main window, and its outcome is told in boxes (TJobReport).
#pragma once

#include <string>

class QWidget;

namespace vantelo {

class TFileOps;

class TBatchHistory {
public:
    // `window`: the main window; `ops`: the file system the jobs work on.
    TBatchHistory(QWidget& window, TFileOps& ops) : window_(window), ops_(ops) {}

    // Brings every unfinished batch no live process owns to one end and
    // says what was done. "取消" leaves the batch pending for the next
    // start. A journal that cannot be read now (another process holds it,
    // the state folder is not private) is shown and tried again at the next
    // start. `databasePath`: the tool's database as opened.
    void Recover(const std::string& databasePath);
    // Asks about the newest finished batch (its folder and number of files)
    // and undoes exactly that batch; "没有可撤销的修改" when there is none.
    void Undo();

private:
    QWidget& window_;
    TFileOps& ops_;
};

}  // namespace vantelo
