#include "mainwin/TListRows.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "app/TMessageForm.h"
#include "jobs/TSearchJob.h"
#include "mainwin/MainTexts.h"
#include "mainwin/TBackgroundWork.h"
#include "platform/TCodePage.h"
#include "store/OpenQuery.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"

namespace vantelo {

namespace {

// ms between looks while a search's matches are awaited.
constexpr int kPoll = 1;

// Switches the row under the cursor off and moves on.
void SwitchRowOff(TDataSet& query)
{
    query.Edit();
    query.FieldByName(texts::kFileEnableField).SetAsBoolean(false);
    query.Post();
    query.Next();
}

// Writes one match into the next slot of the scratch query: the row under
// the cursor is overwritten, past the end a row is added.
void WriteMatch(TADOQuery& temp, const std::string& name)
{
    if (temp.Eof())
        temp.Insert();
    else
        temp.Edit();
    temp.FieldByName(texts::kFileNameField).SetAsString(name);
    temp.FieldByName(texts::kFileEnableField).SetAsBoolean(true);
    temp.Post();
    temp.Next();
}

// Holds the dataset's notifications while the rows are walked, and gives
// them back on every way out.
class TControlsDisabled {
public:
    explicit TControlsDisabled(TDataSet& dataSet) : dataSet_(dataSet) { dataSet_.DisableControls(); }
    ~TControlsDisabled() { dataSet_.EnableControls(); }
    TControlsDisabled(const TControlsDisabled&) = delete;
    TControlsDisabled& operator=(const TControlsDisabled&) = delete;

private:
    TDataSet& dataSet_;
};

bool OpenWholeTable(TADOQuery& query)
{
    return OpenQuery(query, texts::kSelectAllRows, TCodePage::Active().FromUtf8(texts::kDatabaseOpenFailed));
}

}  // namespace

TListRows::TListRows(TADOQuery& query, std::function<void()> refresh)
    : query_(query), connection_(query.Connection()), refresh_(std::move(refresh)),
      errorsBefore_(std::uncaught_exceptions())
{
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Step(); });
    if (connection_) {
        changesBefore_ = connection_->RowsChanged();
        connection_->BeginBatch();
        inBatch_ = true;
    }
}

TListRows::~TListRows()
{
    timer_.stop();
    // A rename's rows not kept for the commit never reach the table.
    if (mode_ == Mode::Rename && !kept_)
        Rollback();
    // Leaving early (an error on its way to the box) ends the batch and
    // commits what was posted; a commit that fails there is shown first.
    if (inBatch_ && !connection_->EndBatch()) {
        try {
            ShowNotice(TADOConnection::CommitFailure());
        } catch (...) {
            // The error already on its way is shown in any case.
        }
    }
    if (onUnfinished_ && std::uncaught_exceptions() > errorsBefore_ && connection_ &&
        connection_->RowsChanged() != changesBefore_)
        onUnfinished_();
}

void TListRows::SetOnUnfinished(std::function<void()> onUnfinished) { onUnfinished_ = std::move(onUnfinished); }

void TListRows::Commit()
{
    if (std::exchange(inBatch_, false))
        connection_->CommitBatch();
}

void TListRows::Rollback()
{
    if (std::exchange(inBatch_, false))
        connection_->RollbackBatch();
}

std::deque<std::string> TListRows::ReadNames(TADOQuery& query, bool keepPlace)
{
    std::deque<std::string> names;
    if (!query.Active())
        return names;
    const TControlsDisabled quiet(query);
    const auto mark = keepPlace ? query.GetBookmark() : std::nullopt;
    query.First();
    while (!query.Eof()) {
        names.push_back(query.FieldByName(texts::kFileNameField).AsString());
        query.Next();
    }
    if (keepPlace)
        query.GotoBookmark(mark);
    return names;
}

void TListRows::ShowRow(TADOQuery& query, size_t row)
{
    if (!query.Active() || query.RecordCount() <= 0)
        return;
    query.First();
    query.MoveBy(static_cast<int>(std::min<int64_t>(static_cast<int64_t>(row), query.RecordCount() - 1)));
}

void TListRows::ShowFailedRow(size_t row)
{
    ShowRow(query_, row - static_cast<size_t>(std::count_if(gone_.begin(), gone_.end(),
                                                                 [row](size_t off) { return off < row; })));
}

void TListRows::SwitchAllOff()
{
    if (query_.RecordCount() > 0) {
        query_.First();
        while (!query_.Eof())
            SwitchRowOff(query_);
    }
}

void TListRows::Step()
{
    if (mode_ == Mode::Search)
        SearchStep();
    else if (mode_ == Mode::Rename)
        RenameStep();
}

// ---- the search --------------------------------------------------------------

void TListRows::WriteWhileListing(TSearchJob& job, TBackgroundWork& work)
{
    mode_ = Mode::Search;
    job_ = &job;
    work_ = &work;
    timer_.start(kPoll);
}

void TListRows::SearchStep()
{
    // An error stops the listing and waits for FinishSearch or AbandonSearch.
    try {
        if (!begun_) {
            const TADOConnection* connection = query_.Connection();
            if (!job_->Opened() || job_->Waiting() < kLongList || !connection || !connection->Connected()) {
                timer_.start(kPoll);
                return;
            }
            begun_ = true;
            opened_ = OpenWholeTable(query_);
            // A query that could not open is left for after the listing,
            // whose first write then says so.
            if (!opened_)
                return;
        }
        WriteMatches(kStretch);
    } catch (...) {
        error_ = std::current_exception();
        work_->RequestStop();
        return;
    }
    timer_.start(next_ < taken_.size() || job_->Waiting() > 0 ? 0 : kPoll);
}

void TListRows::WriteMatches(size_t most)
{
    for (size_t written = 0; written < most; ++written, ++next_) {
        if (next_ == taken_.size()) {
            taken_ = job_->Take();
            next_ = 0;
            if (taken_.empty())
                return;
        }
        WriteMatch(query_, taken_[next_]);
    }
}

bool TListRows::FinishSearch(const TSearchJob& job)
{
    timer_.stop();
    // When the directory could not be listed, the scratch query stands at
    // its end (or is closed), so nothing below writes. Matches overwrite the
    // table's rows in table order, then append.
    bool written = false;
    if (job.Opened()) {
        if (error_)
            std::rethrow_exception(std::exchange(error_, nullptr));
        if (!begun_)
            opened_ = OpenWholeTable(query_);
        WriteMatches(SIZE_MAX);
        written = opened_;
    }
    // What the previous list left beyond the new one is switched off.
    while (!query_.Eof())
        SwitchRowOff(query_);
    Commit();
    // The scratch rows are on disk: let them go, so that a long list is not
    // held twice while the grid shows it and the rename works on it.
    query_.Close();
    return written;
}

void TListRows::AbandonSearch()
{
    timer_.stop();
    if (error_)
        std::rethrow_exception(std::exchange(error_, nullptr));
    if (begun_) {
        Rollback();
        query_.Close();
    }
}

// ---- the rename --------------------------------------------------------------

void TListRows::SwitchOffWhileRenaming()
{
    mode_ = Mode::Rename;
    if (query_.RecordCount() < static_cast<int64_t>(kLongList) || !connection_)
        return;
    timer_.start(0);
}

void TListRows::SwitchOffRows(int64_t most)
{
    const TControlsDisabled quiet(query_);
    if (!begun_) {
        begun_ = true;
        query_.First();
    }
    for (int64_t i = 0; i < most && !query_.Eof(); ++i)
        SwitchRowOff(query_);
}

void TListRows::RenameStep()
{
    try {
        SwitchOffRows(static_cast<int64_t>(kStretch));
        // Into the open transaction now, so that the batch's end has only
        // the commit left; nothing reaches the table before that.
        connection_->WriteHeld();
    } catch (...) {
        error_ = std::current_exception();
        return;
    }
    if (!query_.Eof())
        timer_.start(0);
}

void TListRows::FinishRename()
{
    timer_.stop();
    kept_ = true;
    if (error_)
        std::rethrow_exception(std::exchange(error_, nullptr));
    SwitchOffRows(INT64_MAX);
    Commit();
}

void TListRows::PutBack(const std::vector<size_t>& gone)
{
    timer_.stop();
    // What the walk wrote is taken back; whatever is switched off below
    // goes into a batch of its own.
    Rollback();
    if (connection_) {
        connection_->BeginBatch();
        inBatch_ = true;
    }
    if (begun_ && refresh_) {
        refresh_();
        if (query_.Active())
            query_.Last();
    }
    if (gone.empty() || !query_.Active())
        return;
    // The files a take-back left under their new names: their rows go off
    // the list the way a renamed row does.
    {
        const TControlsDisabled quiet(query_);
        query_.First();
        size_t at = 0;
        for (const size_t row : gone) {
            query_.MoveBy(static_cast<int>(row - at));
            at = row;
            query_.Edit();
            query_.FieldByName(texts::kFileEnableField).SetAsBoolean(false);
            query_.Post();
        }
    }
    gone_ = gone;
    Commit();
    if (refresh_)
        refresh_();
}

}  // namespace vantelo
