#include "mainwin/TFormMain.h"

#include <QCloseEvent>
#include <QLabel>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iterator>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "app/TApplication.h"
#include "app/TFramePlacement.h"
#include "app/THandlerGuard.h"
#include "app/TMessageForm.h"
#include "dirdlg/TSelectDirDlg.h"
#include "mainwin/MainTexts.h"
#include "mainwin/ProgressTexts.h"
#include "mainwin/TBackgroundWork.h"
#include "grid/GridTexts.h"
#include "grid/TDataGrid.h"
#include "controls/TAction.h"
#include "controls/TActionList.h"
#include "controls/TButtonGlyph.h"
#include "mainwin/PreviewTexts.h"
#include "grid/TDataGridAccessible.h"
#include "mainwin/TFieldUndo.h"
#include "mainwin/TGridRowTip.h"
#include "mainwin/TListCheck.h"
#include "mainwin/TPreviewForm.h"
#include "controls/TSpeedButtonAccessible.h"
#include "rename/TRenamePreview.h"
#include "platform/TFileOps.h"
#include "rename/EJournalError.h"
#include "rename/TNameRules.h"
#include "rename/TRenameHistory.h"
#include "rename/TRenameOperation.h"
#include "controls/TSpeedButton.h"
#include "platform/TCodePage.h"
#include "platform/TDirectoryListing.h"
#include "store/EPostNotHeld.h"
#include "store/OpenQuery.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TDataFolder.h"
#include "store/TDataSource.h"
#include "store/TNotice.h"
#include "store/TShareDataModule.h"
#include "ui_FormMain.h"

namespace vantelo {

TFormMain* FormMain = nullptr;

namespace {

// The tool's texts are written in UTF-8; the boxes show text in the active
// code page, as file names are held.
std::string InCodePage(std::string_view utf8)
{
    return TCodePage::Active().FromUtf8(utf8);
}

// Shows one of the tool's own texts in a notice box.
void Tell(std::string_view utf8)
{
    ShowNotice(InCodePage(utf8));
}

}  // namespace

TFormMain::TFormMain(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::FormMain>()), fileOps_(&TFileOps::System())
{
    ui_->setupUi(this);
    // Single border, not resizable, system menu and minimise only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    components_ = std::make_unique<TComponent>(nullptr, "FormMain");
    ADOQuery1 = components_->Create<TADOQuery>(components_.get(), "ADOQuery1");
    DataSource1 = components_->Create<TDataSource>(components_.get(), "DataSource1");
    DataSource1->SetDataSet(ADOQuery1);
    ui_->DBGrid1->SetDataSource(DataSource1);
    // The connection lives in the data module, which is created after this
    // window: the reference is bound when the data module registers.
    TComponent::RequestReference("ShareDataModule", "ADOConnection1", [query = ADOQuery1](TComponent* connection) {
        query->SetConnection(dynamic_cast<TADOConnection*>(connection));
    });

    // The command list and the image buttons as the stored description binds
    // them: each button carries its own picture and runs its command.
    TButtonGlyph::InitResources();
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/vantelo.png")));
    TActionList::LoadFromDescription(*this);
    for (TSpeedButton* button : findChildren<TSpeedButton*>()) {
        button->SetGlyph(TButtonGlyph::LoadPicture(button->property("glyphResource").toString()));
        button->SetAction(TAction::Of(findChild<QAction*>(button->property("actionName").toString())));
        button->Loaded();
    }
    TAction::Of(ui_->ActionSearch)->SetOnExecute([this](QObject*) { Guarded(this, [this] { ActionSearchExecute(); }); });
    TAction::Of(ui_->ActionBegin)->SetOnExecute([this](QObject*) { Guarded(this, [this] { ActionBeginExecute(); }); });
    connect(ui_->Button1, &QPushButton::clicked, this, [this] { Guarded(this, [this] { Button1Click(); }); });
    // The grid comes first in the tab order but is created last, so the
    // description cannot make it the window's first focus: give it here, and
    // the grid holds the focus when the window first shows.
    ui_->DBGrid1->setFocus();
    // Ctrl+Z anywhere in the window but the edit fields (whose own undo the
    // key keeps) undoes the last batch.
    auto* undo = new QShortcut(QKeySequence::Undo, this);
    undo->setContext(Qt::WindowShortcut);
    connect(undo, &QShortcut::activated, this, [this] { Guarded(this, [this] { ActionUndoExecute(); }); });
    SetUpReach();
}

TFormMain::~TFormMain()
{
    // The query goes before the grid that follows it.
    components_.reset();
    if (FormMain == this)
        FormMain = nullptr;
}

void TFormMain::PlaceCentred()
{
    // Centred on the whole desktop (all monitors) by the outer size, the
    // window manager's frame included, never off its top-left.
    if (!QGuiApplication::primaryScreen())
        return;
    // Owned by the window; it places the window again while the window
    // manager is still framing it.
    auto* placement = new TFramePlacement(*this, [](const QSize& outer) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect desktop = screen ? screen->virtualGeometry() : QRect();
        return QPoint(std::max(0, (desktop.width() - outer.width()) / 2) + desktop.left(),
                      std::max(0, (desktop.height() - outer.height()) / 2) + desktop.top());
    });
    placement->Place();
}

void TFormMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    PlaceCentred();
    // The show handler runs once the window is on screen (this event comes
    // before the window system shows it), so that a recovery waiting on a
    // mount that stopped answering never keeps the window from showing. An
    // error escaping the handler is shown; the window stays.
    QMetaObject::invokeMethod(this, [this] { Guarded(this, [this] { FormShow(); }); }, Qt::QueuedConnection);
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the run; the window itself is destroyed
    // by the application object at shutdown.
    event->accept();
    if (Application && Application->MainForm() == this)
        Application->RequestTerminate();
}

std::string TFormMain::NarrowText(const QLineEdit* edit)
{
    return TCodePage::Active().ToNarrow(edit->text().toStdU16String());
}

void TFormMain::ShowCopyFailure(int error)
{
    Tell(std::string(texts::kCopyFailed) + std::to_string(static_cast<unsigned>(error)));
}

namespace {

// Runs `onError` when the scope is left by an error.
class TOnError {
public:
    explicit TOnError(std::function<void()> onError)
        : onError_(std::move(onError)), errors_(std::uncaught_exceptions())
    {
    }
    ~TOnError()
    {
        if (std::uncaught_exceptions() > errors_)
            onError_();
    }
    TOnError(const TOnError&) = delete;
    TOnError& operator=(const TOnError&) = delete;

private:
    std::function<void()> onError_;
    int errors_;
};

// Switches the row under the cursor off and moves on.
void SwitchRowOff(TDataSet& query)
{
    query.Edit();
    query.FieldByName(texts::kFileEnableField).SetAsBoolean(false);
    query.Post();
    query.Next();
}

// Holds the dataset's notifications while a handler walks it, and gives them
// back on every way out.
class TControlsDisabled {
public:
    explicit TControlsDisabled(TDataSet& dataSet) : dataSet_(dataSet) { dataSet_.DisableControls(); }
    ~TControlsDisabled() { dataSet_.EnableControls(); }
    TControlsDisabled(const TControlsDisabled&) = delete;
    TControlsDisabled& operator=(const TControlsDisabled&) = delete;

private:
    TDataSet& dataSet_;
};

// The connection's posts of one handler go into one write transaction; rows
// written before an error are committed before its box shows (the error
// leaves the handler through this batch's end, which commits them) and the
// handler's end commits the rest.
class TPostBatch {
public:
    explicit TPostBatch(TADOConnection* connection) : connection_(connection)
    {
        if (connection_)
            connection_->BeginBatch();
    }
    // Leaving early (an error on its way to the box) ends the batch and
    // commits what was posted; a commit that fails there is shown before
    // that error. Commit() raises a failed commit instead.
    ~TPostBatch()
    {
        if (connection_ && !connection_->EndBatch()) {
            try {
                ShowNotice(TADOConnection::CommitFailure());
            } catch (...) {
                // The error already on its way is shown in any case.
            }
        }
    }
    void Commit()
    {
        if (connection_)
            std::exchange(connection_, nullptr)->CommitBatch();
    }
    // Nothing posted in the batch reaches the table.
    void Rollback()
    {
        if (connection_)
            std::exchange(connection_, nullptr)->RollbackBatch();
    }

private:
    TADOConnection* connection_;
};

// What the search's listing hands back to the window: the directory as it
// resolved, its identity, and the matching names in listing order, handed
// over a stretch at a time while the listing goes on. Shared with the
// worker, which may be left behind on a mount that stopped answering and
// then fills in an object nobody reads.
class TSearchFindings {
public:
    std::atomic<bool> opened{false};         // set once `listed` and `identity` are
    std::string listed;
    std::optional<TFileIdentity> identity;  // of the folder listed, when it could be read

    // Worker side: hands over the names found since the last call.
    void Add(std::vector<std::string>& found)
    {
        const std::lock_guard lock(mutex_);
        if (names_.empty())
            names_.swap(found);
        else
            std::move(found.begin(), found.end(), std::back_inserter(names_));
        found.clear();
    }
    // Window side: the names handed over and not yet taken, in order.
    std::vector<std::string> Take()
    {
        const std::lock_guard lock(mutex_);
        return std::exchange(names_, {});
    }
    size_t Waiting() const
    {
        const std::lock_guard lock(mutex_);
        return names_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
};

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

// Writes a long listing's matches on the window's thread while the worker
// is still listing, a stretch at a time between the worker's reports, into
// the handler's batch. It begins once the folder is open, the database is
// connected and a long list's worth of matches is waiting; the scratch
// query is opened then. Anything it leaves (a short listing, the matches
// found after its last stretch) is written after the listing, as before.
// A search that does not complete takes its batch back.
class TEarlySearchWrite {
public:
    static constexpr size_t kLongList = 4096;

    TEarlySearchWrite(TSearchFindings& found, TADOQuery& temp, TBackgroundWork& work)
        : found_(found), temp_(temp), work_(work)
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Step(); });
        timer_.start(kPoll);
    }
    TEarlySearchWrite(const TEarlySearchWrite&) = delete;
    TEarlySearchWrite& operator=(const TEarlySearchWrite&) = delete;

    // The listing is over: the scratch query is opened unless that was
    // done already, and every match not yet written is written. Answers
    // whether the query was opened. An error of a stretch comes out here.
    bool Finish(const std::function<bool()>& open)
    {
        timer_.stop();
        if (error_)
            std::rethrow_exception(std::exchange(error_, nullptr));
        if (!begun_)
            opened_ = open();
        Write(SIZE_MAX);
        return opened_;
    }
    // The search did not complete. An error of a stretch comes out here (its
    // rows before it stay written, as for any failed post); otherwise
    // nothing of it reaches the table.
    void Abandon(const std::function<void()>& takeBack)
    {
        timer_.stop();
        if (error_)
            std::rethrow_exception(std::exchange(error_, nullptr));
        if (begun_)
            takeBack();
    }

private:
    static constexpr int kPoll = 1;  // ms between looks while matches are awaited
    static constexpr size_t kStretch = 4096;

    // Runs from the timer inside the worker's wait: nothing escapes it. An
    // error stops the listing and waits for Finish or Abandon.
    void Step()
    {
        try {
            if (!begun_) {
                TADOConnection* connection = temp_.Connection();
                if (!found_.opened || found_.Waiting() < kLongList || !connection || !connection->Connected()) {
                    timer_.start(kPoll);
                    return;
                }
                begun_ = true;
                opened_ = OpenQuery(temp_, texts::kSelectAllRows, InCodePage(texts::kDatabaseOpenFailed));
                // A query that could not open is left for after the
                // listing, whose first write then says so.
                if (!opened_)
                    return;
            }
            Write(kStretch);
        } catch (...) {
            error_ = std::current_exception();
            work_.RequestStop();
            return;
        }
        timer_.start(next_ < taken_.size() || found_.Waiting() > 0 ? 0 : kPoll);
    }

    // Writes up to `most` of the matches handed over so far, in order.
    void Write(size_t most)
    {
        for (size_t written = 0; written < most; ++written, ++next_) {
            if (next_ == taken_.size()) {
                taken_ = found_.Take();
                next_ = 0;
                if (taken_.empty())
                    return;
            }
            WriteMatch(temp_, taken_[next_]);
        }
    }

    TSearchFindings& found_;
    TADOQuery& temp_;
    TBackgroundWork& work_;
    QTimer timer_;
    bool begun_ = false;
    bool opened_ = false;
    std::vector<std::string> taken_;  // matches taken from the worker
    size_t next_ = 0;                 // the first of them not yet written
    std::exception_ptr error_;
};

// A batch on its way from the grid to the file passes: the listed names,
// then the operation that opens the searched directory, works out every new
// name and checks them.
// Shared with the checking worker for the same reason as the findings.
struct TRenameBatch {
    TRenameBatch(std::string databasePath, TFileOps& ops)
        : operation(std::move(databasePath), ops, TRenameJournal::DefaultPath()) {}
    TRenameOperation operation;
    // The old names, in grid order. Taken from the front as the plan takes
    // them over, so a long list is not held twice.
    std::deque<std::string> names;
    std::optional<TFileIdentity> expected;
    int openError = 0;
    TRenamePlan::Failure failure;
};

// Copies above this many bytes in all show a second bar with the bytes.
constexpr uint64_t kLargeCopyBytes = uint64_t{64} << 20;

// Switches a long list's rows off on the window's thread while the worker
// renames the files, a stretch of rows at a time between the worker's
// reports. The rows' writes are held back without the database's write
// lock, which the journal's own writes need meanwhile, and reach the table
// only with the batch's commit once the batch is done; a batch that is not
// done drops them and puts the rows back as the table has them. What the
// walk leaves (the batch ended first, or a row that must be written under
// the lock) is walked after, as for a short list.
class TEarlySwitchOff {
public:
    static constexpr int64_t kLongList = 4096;

    TEarlySwitchOff(TADOQuery& query, bool start) : query_(query), connection_(query.Connection())
    {
        if (!start || !connection_)
            return;
        connection_->SetHoldWithoutLock(true);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Step(); });
        timer_.start(0);
    }
    // Whatever was held and not kept for the commit is dropped.
    ~TEarlySwitchOff()
    {
        Stop();
        if (!kept_ && connection_)
            connection_->DropHeld();
    }
    TEarlySwitchOff(const TEarlySwitchOff&) = delete;
    TEarlySwitchOff& operator=(const TEarlySwitchOff&) = delete;

    // The batch is done: the rest of the walk, with its writes under the
    // lock. The walk's own error comes out here, its rows before kept.
    void Finish()
    {
        Stop();
        kept_ = true;
        if (error_)
            std::rethrow_exception(std::exchange(error_, nullptr));
        Walk(INT64_MAX);
    }
    // The batch is not done: the held writes go, and the rows walked are
    // read again from the table, which they never reached.
    void PutBack(const std::function<void()>& reopen)
    {
        Stop();
        if (connection_)
            connection_->DropHeld();
        if (!begun_)
            return;
        reopen();
        if (query_.Active())
            query_.Last();
    }

private:
    static constexpr int kStretch = 4096;

    void Stop()
    {
        timer_.stop();
        if (connection_)
            connection_->SetHoldWithoutLock(false);
    }
    // Switches off at most `most` rows from where the walk stands.
    void Walk(int64_t most)
    {
        const TControlsDisabled quiet(query_);
        if (!begun_) {
            begun_ = true;
            query_.First();
        }
        for (int64_t i = 0; i < most && !query_.Eof(); ++i)
            SwitchRowOff(query_);
    }
    // Runs from the timer inside the worker's wait: nothing escapes it.
    void Step()
    {
        try {
            Walk(kStretch);
        } catch (const EPostNotHeld&) {
            // This row and the rest after the batch, under the lock.
            query_.Cancel();
            return;
        } catch (...) {
            error_ = std::current_exception();
            return;
        }
        if (!query_.Eof())
            timer_.start(0);
    }

    TADOQuery& query_;
    TADOConnection* connection_;
    QTimer timer_;
    bool begun_ = false;
    bool kept_ = false;
    std::exception_ptr error_;
};

}  // namespace

void TFormMain::FormShow()
{
    // Every row an earlier run left live is switched off, so each run starts
    // with an empty list.
    TADOQuery& temp = *ShareDataModule->ADOQueryTemp;
    OpenQuery(temp, texts::kSelectLiveRows, InCodePage(texts::kDatabaseOpenFailed));
    // A batch a crash interrupted is brought to one end before anything
    // else touches the table.
    if (temp.Active())
        RecoverUnfinishedBatches();
    TPostBatch batch(temp.Connection());
    if (temp.RecordCount() > 0) {
        temp.First();
        while (!temp.Eof())
            SwitchRowOff(temp);
    }
    batch.Commit();
    temp.Close();
    RefreshFileList();
}

std::string TFormMain::DatabasePath() const
{
    const TADOConnection* connection = ADOQuery1->Connection();
    if (!connection && ShareDataModule)
        connection = ShareDataModule->ADOConnection1;
    return connection ? connection->DatabasePath() : std::string();
}

namespace {

// What the recovery's worker found, read by the window once it is done.
struct TRecoveryRun {
    std::vector<TRenameHistory::Recovery> recoveries;
    std::vector<TRenameJournal::Summary> setAside;
};

TRenameHistory::Callbacks HistoryCallbacks(TWorkProgress& progress)
{
    TRenameHistory::Callbacks callbacks;
    callbacks.progress = [&progress](size_t done, size_t total) { progress.Report(done, total, {}); };
    callbacks.stopRequested = [&progress] { return progress.StopRequested(); };
    return callbacks;
}

// The folder's name as its bytes stand, between the tool's own words.
std::string AboutFolder(std::string_view before, const std::string& folder, std::string_view after = {})
{
    return InCodePage(before) + folder + InCodePage(after);
}

}  // namespace

void TFormMain::RecoverUnfinishedBatches()
{
    const std::string journal = TRenameJournal::DefaultPath();
    if (journal.empty())
        return;
    try {
        // On a worker with the progress window: a batch's folder on a mount
        // that stopped answering never keeps the window from showing, and
        // "取消" leaves the batch pending for the next start.
        const auto run = std::make_shared<TRecoveryRun>();
        TBackgroundWork work(this, texts::kRecovering, TBackgroundWork::StopPolicy::AbandonWork);
        // Batches the per-user database kept in the tool's earlier layout are
        // taken over once; no other database is ever read for batches.
        std::string earlier;
        if (const char* home = std::getenv("HOME")) {
            const char* data = std::getenv("XDG_DATA_HOME");
            const std::string userFolder = TDataFolder::UserFolder(data ? data : "", home);
            char own[PATH_MAX], user[PATH_MAX];
            if (!userFolder.empty() && realpath(DatabasePath().c_str(), own) &&
                realpath((userFolder + "/" + TDataFolder::kDatabaseName).c_str(), user) && std::string(own) == user)
                earlier = user;
        }
        const TBackgroundWork::Outcome outcome = work.Run([run, journal, earlier, ops = fileOps_](TWorkProgress& progress) {
            TRenameHistory history(journal, *ops);
            if (!earlier.empty())
                history.TakeOver(earlier);
            const TRenameHistory::Callbacks callbacks = HistoryCallbacks(progress);
            for (;;) {
                const TRenameHistory::Recovery recovery = history.RecoverOne(callbacks);
                if (recovery.kind == TRenameHistory::Recovery::Kind::None)
                    break;
                run->recoveries.push_back(recovery);
                if (recovery.kind == TRenameHistory::Recovery::Kind::Stopped)
                    break;
            }
            run->setAside = history.TakeSetAside();
        });
        if (outcome != TBackgroundWork::Outcome::Completed)
            return;
        for (const TRenameJournal::Summary& damaged : run->setAside)
            ShowNotice(AboutFolder(texts::kJournalSetAside, damaged.directory));
        for (const TRenameHistory::Recovery& recovery : run->recoveries)
            TellRecovery(recovery);
    } catch (const EJournalError&) {
        // A journal that cannot be read now (another process holds it, the
        // state folder is not private) is shown and tried again at the next
        // start; the reset goes on.
        if (Application)
            Application->HandleUncaughtError(this, std::current_exception());
    }
}

void TFormMain::TellRecovery(const TRenameHistory::Recovery& recovery)
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
    Tell(text);
}

void TFormMain::RefreshFileList()
{
    ++listGeneration_;
    OpenQuery(*ADOQuery1, texts::kSelectLiveRows, InCodePage(texts::kDatabaseOpenFailed));
}

void TFormMain::Button1Click()
{
    // The chooser always opens on the process's current directory; on OK the
    // chosen directory is current and goes into the directory field.
    std::string directory;
    if (ChooseDirectory(directory, 4 /* confirm a missing directory */, 1000))
        ui_->Edit1->setText(QString::fromStdU16String(TCodePage::Active().ToWide(directory)));
}

void TFormMain::ActionSearchExecute()
{
    const std::string directory = NarrowText(ui_->Edit1);
    const std::string target = NarrowText(ui_->Edit2);
    if (directory.empty()) {
        Tell(texts::kChooseDirectoryFirst);
        return;
    }
    if (target.empty()) {
        Tell(texts::kEnterTarget);
        return;
    }

    // The listing runs on a worker, so the window repaints and a folder on
    // a mount that stopped answering can be left behind: "取消" gives the
    // window back at once. The worker owns what it fills in; the rows are
    // written here, on the window's thread: a long listing's while the
    // worker goes on, the rest once it is done.
    const auto found = std::make_shared<TSearchFindings>();
    TADOQuery& temp = *ShareDataModule->ADOQueryTemp;
    // An error after this search changed rows leaves them written over the
    // old list, which is not switched off: the table then holds names of
    // two folders, and no rename acts on it until a search completes. An
    // error before any change (a database another process keeps locked)
    // leaves the list with its own folder.
    TADOConnection* const connection = temp.Connection();
    const int64_t changesBefore = connection ? connection->RowsChanged() : 0;
    const TOnError unfinished([&] {
        if (connection && connection->RowsChanged() != changesBefore)
            searchUnfinished_ = true;
    });
    TPostBatch batch(connection);
    TBackgroundWork work(this, texts::kSearchingFiles, TBackgroundWork::StopPolicy::AbandonWork);
    TEarlySearchWrite early(*found, temp, work);
    const TBackgroundWork::Outcome outcome =
        work.Run([found, directory, target, step = listingStep_](TWorkProgress& progress) {
            TDirectoryListing listing;
            // A directory that cannot be listed leaves the table as it was.
            if (listing.Open(directory) != 0)
                return;
            char resolved[PATH_MAX];
            found->listed = realpath(directory.c_str(), resolved) ? resolved : directory;
            // The identity of the folder actually listed, from its own descriptor.
            struct stat st;
            if (::fstat(listing.Descriptor(), &st) == 0)
                found->identity = TFileIdentity::Of(st);
            found->opened = true;
            constexpr size_t kHandOver = 1024;
            std::vector<std::string> matches;
            std::string name;
            size_t seen = 0;
            while (!progress.StopRequested() && listing.Next(name)) {
                progress.Report(++seen, 0, name);
                if (NameMatches(name, target)) {
                    matches.push_back(name);
                    if (matches.size() == kHandOver)
                        found->Add(matches);
                }
                if (step)
                    step(seen);
            }
            found->Add(matches);
            listing.Close();
        });
    // A cancelled search leaves the table, the grid and the directory they
    // belong to exactly as they were.
    if (outcome != TBackgroundWork::Outcome::Completed) {
        early.Abandon([&] {
            batch.Rollback();
            temp.Close();
        });
        return;
    }

    // When the directory could not be listed, the scratch query stands at
    // its end (or is closed), so nothing below runs. Matches overwrite the
    // table's rows in table order, then append.
    const bool written = found->opened && early.Finish([&] {
        return OpenQuery(temp, texts::kSelectAllRows, InCodePage(texts::kDatabaseOpenFailed));
    });
    // What the previous list left beyond the new one is switched off.
    while (!temp.Eof())
        SwitchRowOff(temp);
    batch.Commit();
    // The scratch rows are on disk: let them go, so that a long list is not
    // held twice while the grid shows it and the rename works on it.
    temp.Close();
    RefreshFileList();
    if (written && ADOQuery1->Active()) {
        searchedDirectory_ = found->listed;
        searchedIdentity_ = found->identity;
        searchUnfinished_ = false;
    }
}

void TFormMain::ActionBeginExecute()
{
    const std::string target = NarrowText(ui_->Edit2);
    const std::string replacement = NarrowText(ui_->Edit3);
    if (target.empty()) {
        Tell(texts::kEnterTarget);
        return;
    }
    if (replacement.empty()) {
        Tell(texts::kEnterReplacement);
        return;
    }
    TADOQuery& query = *ADOQuery1;
    if (!query.Active() || query.RecordCount() <= 0)
        return;
    if (searchUnfinished_) {
        Tell(texts::kSearchUnfinished);
        return;
    }

    // The names are read from the grid's rows here; the worker then opens
    // the directory the list belongs to (which must still be the folder that
    // was searched), works out every new name and checks every row before
    // anything is touched. Checking changes no file, so a worker stuck on a
    // folder that stopped answering is left behind when the user cancels.
    const auto started = std::chrono::steady_clock::now();
    const auto batch = std::make_shared<TRenameBatch>(DatabasePath(), *fileOps_);
    batch->expected = searchedIdentity_;
    {
        const TControlsDisabled quiet(query);
        query.First();
        while (!query.Eof()) {
            batch->names.push_back(query.FieldByName(texts::kFileNameField).AsString());
            query.Next();
        }
    }
    {
        TBackgroundWork checking(this, texts::kRenamingFiles, TBackgroundWork::StopPolicy::AbandonWork);
        const TBackgroundWork::Outcome checked =
            checking.Run([batch, directory = searchedDirectory_, target, replacement](TWorkProgress& progress) {
                progress.Report(0, batch->names.size(), {});
                batch->openError =
                    batch->operation.Open(directory, batch->expected ? &*batch->expected : nullptr);
                if (batch->openError)
                    return;
                batch->operation.Reserve(batch->names.size());
                batch->operation.SetTarget(target);
                for (auto& names = batch->names; !names.empty(); names.pop_front()) {
                    std::string newName = ReplaceAllIgnoreCase(names.front(), target, replacement);
                    batch->operation.Add(std::move(names.front()), std::move(newName));
                }
                batch->failure = batch->operation.Check();
            });
        // Cancelled before any file was touched: everything as it was.
        if (checked != TBackgroundWork::Outcome::Completed)
            return;
    }
    TRenameOperation& operation = batch->operation;
    if (batch->openError) {
        ShowCopyFailure(batch->openError);
        return;
    }
    if (const TRenamePlan::Failure failure = batch->failure) {
        // The grid shows the row that stopped the batch.
        query.First();
        query.MoveBy(static_cast<int>(failure.index));
        ShowCopyFailure(failure.error);
        return;
    }

    // The file passes, journaled, on a worker that stops at the next file
    // when asked: every new name made (a failure or a stop takes the batch
    // back), then the old files deleted when the box asks for it. The box is
    // read once. The progress window keeps the time the check took, so it
    // shows half a second after the button was pressed.
    const bool deleteOld = ui_->CheckBox1->isChecked();
    TBackgroundWork work(this, texts::kRenamingFiles);
    work.SetShowDelay(std::max(std::chrono::milliseconds(0),
                               TBackgroundWork::kShowDelay - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                 std::chrono::steady_clock::now() - started)));
    TRenameOperation::Result result;
    bool ran = false;
    bool pastTurningBack = false;
    // A long list's rows are switched off meanwhile; their writes wait in
    // this batch for the batch's end.
    TPostBatch posts(query.Connection());
    TEarlySwitchOff early(query, query.RecordCount() >= TEarlySwitchOff::kLongList);
    const auto putBack = [&] { early.PutBack([this] { RefreshFileList(); }); };
    const auto renameFiles = [&](TWorkProgress& progress) {
        if (progress.StopRequested())
            return;
        uint64_t bytesTotal = 0;
        if (!deleteOld) {
            for (size_t i = 0; i < operation.Count(); ++i)
                bytesTotal += static_cast<uint64_t>(operation.Plan().At(i).source.size);
            if (bytesTotal < kLargeCopyBytes)
                bytesTotal = 0;
        }
        uint64_t bytesDone = 0;
        TRenameOperation::Callbacks callbacks;
        callbacks.progress = [&](size_t done, size_t total, const std::string& name, uint64_t bytes) {
            progress.Report(done, total, name);
            if (bytesTotal > 0) {
                progress.ReportBytes(bytesDone, bytesTotal);
                bytesDone += bytes;
            }
        };
        callbacks.stopRequested = [&progress] { return progress.StopRequested(); };
        callbacks.noTurningBack = [&pastTurningBack, &progress] {
            pastTurningBack = true;
            progress.SetCancellable(false);
        };
        ran = true;
        result = operation.Run(deleteOld, callbacks);
    };
    TBackgroundWork::Outcome outcome = TBackgroundWork::Outcome::Completed;
    try {
        outcome = work.Run(renameFiles);
    } catch (...) {
        // An error out of the batch (its journal) shows with the list as
        // the table has it.
        putBack();
        throw;
    }
    // Quitting while the batch ran: it was finished or taken back, and the
    // window closes once this handler is over, without a closing box.
    const bool quitting = work.CloseDeferred();
    if (!ran || result.outcome == TRenameOperation::Outcome::Stopped) {
        putBack();
        // Cancelled: the batch was taken back, the list stays live.
        if (!quitting && result.leftBehind > 0)
            Tell(texts::LeftPending(result.leftBehind));
        return;
    }
    if (result.outcome != TRenameOperation::Outcome::Done) {
        putBack();
        if (quitting)
            return;
        // The grid shows the row that stopped the batch (the last one when
        // the folder itself failed to be flushed).
        if (query.Active() && query.RecordCount() > 0) {
            query.First();
            query.MoveBy(static_cast<int>(std::min(result.failedRow, operation.Count() - 1)));
        }
        ShowCopyFailure(result.error);
        // What could not be taken back stays pending in the journal.
        if (result.leftBehind > 0)
            Tell(texts::LeftPending(result.leftBehind));
        return;
    }

    // Every listed row is switched off, in one walk and one transaction.
    early.Finish();
    posts.Commit();
    RefreshFileList();
    // Ctrl+Z now means this batch, wherever the focus is.
    TFieldUndo::Forget({ui_->Edit1, ui_->Edit2, ui_->Edit3});
    if (quitting)
        return;
    // A cancel that came too late to take the batch back says so in place
    // of the success text.
    if (outcome == TBackgroundWork::Outcome::Completed)
        Tell(texts::kRenameDone);
    else
        Tell(pastTurningBack ? texts::kCancelTooLateDeleting : texts::kCancelTooLateDone);
    if (result.oldKept > 0)
        Tell(texts::OldFilesKept(result.oldKept, result.oldKeptErrors));
}

void TFormMain::ActionUndoExecute()
{
    const std::string journal = TRenameJournal::DefaultPath();
    if (journal.empty()) {
        Tell(texts::kNothingToUndo);
        return;
    }
    // The question comes from the batch's row alone, so it is asked at once
    // however long the batch; the undo then takes exactly the batch it named.
    const std::optional<TRenameJournal::Summary> last = TRenameHistory(journal, *fileOps_).LastBatch();
    if (!last) {
        Tell(texts::kNothingToUndo);
        return;
    }
    if (AskConfirmation(AboutFolder(texts::kUndoQuestionIn, last->directory, texts::UndoQuestionTail(last->fileCount))) != 6)
        return;
    std::optional<TRenameHistory::UndoResult> result;
    TBackgroundWork work(this, texts::kUndoing);
    work.Run([&](TWorkProgress& progress) {
        TRenameHistory history(journal, *fileOps_);
        result = history.Undo(last->id, HistoryCallbacks(progress));
    });
    if (work.CloseDeferred())
        return;
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

namespace {

QString Utf8(const char* text) { return QString::fromUtf8(text); }

// The preview link: right-aligned under the rename button, in the gap above
// the grid (client pixels at 96 pixels per inch).
const QRect kPreviewLinkGeometry(568, 76, 113, 18);

}  // namespace

void TFormMain::SetUpReach()
{
    // The commands' keys. The buttons stay out of the tab order; each key
    // runs its command as the button's click does.
    const auto key = [this](const char* sequence, std::function<void()> run) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(sequence)), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, run] { Guarded(this, run); });
    };
    key(previewtexts::kKeySearch, [this] { TAction::Of(ui_->ActionSearch)->Execute(nullptr); });
    key(previewtexts::kKeyRename, [this] { TAction::Of(ui_->ActionBegin)->Execute(nullptr); });
    key(previewtexts::kKeyPreview, [this] { ActionPreviewExecute(); });
    key(previewtexts::kKeyChooseDirectory, [this] { Button1Click(); });
    // Ctrl+Z in a field undoes its typing, and the last batch once it has none.
    TFieldUndo::Route(this, {ui_->Edit1, ui_->Edit2, ui_->Edit3});

    // What a screen reader calls each control: the fields by their labels,
    // the buttons by their captions, the grid as the file list.
    TDataGridAccessible::Install();
    TSpeedButtonAccessible::Install();
    ui_->Edit1->setAccessibleName(ui_->Label1->text());
    ui_->Edit2->setAccessibleName(ui_->Label2->text());
    ui_->Edit3->setAccessibleName(ui_->Label3->text());
    ui_->Button1->setAccessibleName(ui_->Button1->text());
    ui_->Button1->setAccessibleDescription(Utf8(previewtexts::kChooseDirectoryDescription));
    ui_->SpeedButton1->setAccessibleDescription(Utf8(previewtexts::kSearchDescription));
    ui_->SpeedButton2->setAccessibleDescription(Utf8(previewtexts::kRenameDescription));
    ui_->DBGrid1->setAccessibleName(Utf8(gridtexts::kGridName));

    // The preview opens from a small link in the gap under the rename
    // button, outside every control's place and out of the tab order.
    previewLink_ = new QLabel(QStringLiteral("<a href=\"preview\">%1</a>").arg(Utf8(previewtexts::kOpenLink)), this);
    previewLink_->setObjectName(QStringLiteral("PreviewLink"));
    previewLink_->setGeometry(kPreviewLinkGeometry);
    previewLink_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    previewLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    previewLink_->setFocusPolicy(Qt::NoFocus);
    previewLink_->setCursor(Qt::PointingHandCursor);
    previewLink_->setAccessibleName(Utf8(previewtexts::kTitle));
    connect(previewLink_, &QLabel::linkActivated, this, [this] { Guarded(this, [this] { ActionPreviewExecute(); }); });

    listCheck_ = new TListCheck(this);
    rowTip_ = new TGridRowTip(ui_->DBGrid1, texts::kFileNameField,
                              [this](size_t listRow, const std::string& name) { return RowTip(listRow, name); });
    connect(listCheck_, &TListCheck::Finished, rowTip_, &TGridRowTip::Refresh);
}

TPreviewForm* TFormMain::Preview() const { return preview_; }

std::deque<std::string> TFormMain::ReadListedNames()
{
    std::deque<std::string> names;
    TADOQuery& query = *ADOQuery1;
    if (!query.Active())
        return names;
    const TControlsDisabled quiet(query);
    const auto mark = query.GetBookmark();
    query.First();
    while (!query.Eof()) {
        names.push_back(query.FieldByName(texts::kFileNameField).AsString());
        query.Next();
    }
    query.GotoBookmark(mark);
    return names;
}

void TFormMain::ActionPreviewExecute()
{
    const TListCheck::Key key{searchedDirectory_, NarrowText(ui_->Edit2), NarrowText(ui_->Edit3), listGeneration_};
    if (key.target.empty()) {
        Tell(texts::kEnterTarget);
        return;
    }
    if (key.replacement.empty()) {
        Tell(texts::kEnterReplacement);
        return;
    }
    if (!ADOQuery1->Active())
        return;

    // The names as the rename reads them, checked on a worker by the
    // rename's own check; a cancel leaves everything as it was.
    auto names = std::make_shared<std::deque<std::string>>(ReadListedNames());
    auto preview = std::make_shared<TRenamePreview>(DatabasePath(), *fileOps_);
    {
        TBackgroundWork checking(this, previewtexts::kChecking, TBackgroundWork::StopPolicy::AbandonWork);
        const TBackgroundWork::Outcome checked =
            checking.Run([preview, names, key, expected = searchedIdentity_](TWorkProgress& progress) {
                progress.Report(0, names->size(), {});
                preview->Run(key.directory, expected ? &*expected : nullptr, *names, key.target, key.replacement);
            });
        if (checked != TBackgroundWork::Outcome::Completed)
            return;
    }
    listCheck_->Keep(key, preview);

    preview_ = new TPreviewForm(preview, this);
    preview_->setAttribute(Qt::WA_DeleteOnClose);
    preview_->setWindowModality(Qt::WindowModal);
    connect(preview_, &QDialog::finished, this, [this](int result) {
        if (result != QDialog::Accepted)
            return;
        // The same batch as the button's, once the preview has gone.
        QTimer::singleShot(0, this, [this] { Guarded(this, [this] { TAction::Of(ui_->ActionBegin)->Execute(nullptr); }); });
    });
    preview_->open();
}

QString TFormMain::RowTip(size_t listRow, const std::string& fileName)
{
    const TListCheck::Key key{searchedDirectory_, NarrowText(ui_->Edit2), NarrowText(ui_->Edit3), listGeneration_};
    if (key.target.empty() || key.replacement.empty())
        return {};
    const std::string newName = ReplaceAllIgnoreCase(fileName, key.target, key.replacement);
    int error = 0;
    if (const auto check = listCheck_->Result(key)) {
        if (listRow < check->Count() && check->OldName(listRow) == fileName)
            error = check->Error(listRow);
    } else {
        StartListCheck();
    }
    QString tip = Utf8(previewtexts::kTipNewName) + QString::fromStdU16String(TCodePage::Active().ToWide(newName));
    if (error)
        tip += QLatin1Char('\n') + Utf8(previewtexts::kTipRefused) + QString::fromStdString(previewtexts::Reason(error));
    return tip;
}

void TFormMain::StartListCheck()
{
    const TListCheck::Key key{searchedDirectory_, NarrowText(ui_->Edit2), NarrowText(ui_->Edit3), listGeneration_};
    TADOConnection* connection = ADOQuery1->Connection();
    if (listCheck_->Running() || !connection || !ADOQuery1->Active())
        return;
    // The live rows in the grid's order, through a query of their own so the
    // grid's cursor stays where it is; each row's name is compared with the
    // grid's before its reason is shown.
    auto names = std::make_shared<std::deque<std::string>>();
    try {
        TADOQuery rows(nullptr, "TipQuery");
        rows.SetConnection(connection);
        rows.SQL().Add(texts::kSelectLiveRows);
        rows.Open();
        while (!rows.Eof()) {
            names->push_back(rows.FieldByName(texts::kFileNameField).AsString());
            rows.Next();
        }
    } catch (...) {
        return;  // the list cannot be read now: tooltips without reasons
    }
    listCheck_->Start(key, [names, key, expected = searchedIdentity_, database = DatabasePath(), ops = fileOps_] {
        auto preview = std::make_shared<TRenamePreview>(database, *ops);
        preview->Run(key.directory, expected ? &*expected : nullptr, *names, key.target, key.replacement);
        return preview;
    });
}

}  // namespace vantelo
