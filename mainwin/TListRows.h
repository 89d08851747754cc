// The window's hands on the file list's rows, around the jobs that list and
// rename the files: everything that reads the listed names for a job or
// writes rows into the table during and after the work.
//
// One object spans one handler's writes through one query (the grid's own,
// or the data module's scratch query): from its creation on, the posts of
// the query's connection go into one write transaction, which Commit()
// commits and Rollback() takes back; whatever is left when the object goes
// (an error on its way to the box) is committed then, a failed commit shown
// before that error.
//
// While a job runs on a worker, a long list's rows are written in step with
// it on the window's thread, a stretch at a time between the worker's
// reports: a search's matches as the listing hands them over, a rename's
// rows switched off while the files are renamed. The rest is written once
// the job is over, as for a short list.
//
// Window's thread only.
#pragma once

#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace vantelo {

class TADOConnection;
class TADOQuery;
class TBackgroundWork;
class TSearchJob;

class TListRows {
public:
    // `refresh` reopens the grid on the live rows (the window's
    // RefreshFileList); a rename's rows put back need it.
    explicit TListRows(TADOQuery& query, std::function<void()> refresh = {});
    ~TListRows();
    TListRows(const TListRows&) = delete;
    TListRows& operator=(const TListRows&) = delete;

    // Called when this object goes while an error leaves the handler after
    // the table's rows changed (a search that wrote part of its list).
    void SetOnUnfinished(std::function<void()> onUnfinished);

    // Commits the transaction, raising a commit that fails.
    void Commit();
    // Nothing posted since this object came reaches the table.
    void Rollback();

    // The listed names, in list order. With `keepPlace` the cursor goes back
    // to its row; without, it is left at the end.
    static std::deque<std::string> ReadNames(TADOQuery& query, bool keepPlace);
    // Puts the cursor on `row` of the list (the last row at most). Nothing
    // on a closed query or an empty list.
    static void ShowRow(TADOQuery& query, size_t row);
    // The same for row `row` of the list as it was before PutBack: the rows
    // it switched off no longer count.
    void ShowFailedRow(size_t row);

    // The reset: every row the query holds switched off, in one walk.
    void SwitchAllOff();

    // A search: from when the folder is open, the database connected and a
    // long list's worth of matches waiting, the matches are written over the
    // table's rows in table order (then appended) while `job` lists.
    void WriteWhileListing(TSearchJob& job, TBackgroundWork& work);
    // The listing is over: every match not yet written is written (the
    // query is opened on the whole table first unless that was done), what
    // the previous list left beyond the new one is switched off, the rows
    // are committed and the query closed. Answers whether the matches were
    // written (the folder could be listed and the table opened). An error
    // of a stretch written meanwhile comes out here.
    bool FinishSearch(const TSearchJob& job);
    // The search did not complete: nothing of it reaches the table. An error
    // of a stretch comes out here (its rows before it stay written).
    void AbandonSearch();

    // A rename: for a long list, the rows are switched off while the worker
    // renames the files, written into the open transaction as they go; the
    // transaction is committed only once the batch is done.
    void SwitchOffWhileRenaming();
    // The batch is done: every row switched off and committed. The walk's
    // own error comes out here, its rows before kept.
    void FinishRename();
    // The batch is not done: the rows walked are taken back and read again
    // from the table. The rows in `gone` (list rows whose old name the
    // folder no longer has: files a take-back left renamed) are switched
    // off and the grid refreshed, so it never shows a name that is gone.
    void PutBack(const std::vector<size_t>& gone = {});

    // Stretches written between two of the worker's reports, and how many
    // rows make a list long enough to write while the work goes on.
    static constexpr size_t kStretch = 4096;
    static constexpr size_t kLongList = 4096;

private:
    enum class Mode { None, Search, Rename };

    // Runs from the timer inside the worker's wait: nothing escapes it.
    void Step();
    void SearchStep();
    void RenameStep();
    // Writes up to `most` of the matches handed over so far, in order.
    void WriteMatches(size_t most);
    // Switches off at most `most` rows from where the walk stands.
    void SwitchOffRows(int64_t most);

    TADOQuery& query_;
    TADOConnection* connection_;
    std::function<void()> refresh_;
    std::function<void()> onUnfinished_;
    int64_t changesBefore_ = 0;
    int errorsBefore_ = 0;
    bool inBatch_ = false;

    Mode mode_ = Mode::None;
    QTimer timer_;
    TSearchJob* job_ = nullptr;
    TBackgroundWork* work_ = nullptr;
    bool begun_ = false;              // the walk or the writing in step began
    bool opened_ = false;             // the search opened the query on the table
    bool kept_ = false;               // the rename's rows go to the commit
    std::vector<std::string> taken_;  // matches taken from the job
    size_t next_ = 0;                 // the first of them not yet written
    std::vector<size_t> gone_;        // rows switched off by PutBack
    std::exception_ptr error_;
};

}  // namespace vantelo
