#include "mainwin/TFormMain.h"

#include <QCloseEvent>
#include <QLabel>
#include <QGuiApplication>
#include <QShortcut>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "app/TApplication.h"
#include "app/TFramePlacement.h"
#include "app/THandlerGuard.h"
#include "app/TMessageForm.h"
#include "controls/TAction.h"
#include "controls/TActionList.h"
#include "controls/TSpeedButton.h"
#include "controls/TSpeedButtonAccessible.h"
#include "dirdlg/TSelectDirDlg.h"
#include "grid/GridTexts.h"
#include "grid/TDataGrid.h"
#include "grid/TDataGridAccessible.h"
#include "jobs/TRenameJob.h"
#include "jobs/TSearchJob.h"
#include "mainwin/MainTexts.h"
#include "mainwin/PreviewTexts.h"
#include "mainwin/ProgressTexts.h"
#include "mainwin/TBackgroundWork.h"
#include "mainwin/TBatchHistory.h"
#include "mainwin/TFieldUndo.h"
#include "mainwin/TGridRowTip.h"
#include "mainwin/TJobReport.h"
#include "mainwin/TListCheck.h"
#include "mainwin/TListRows.h"
#include "mainwin/TPreviewForm.h"
#include "platform/TCodePage.h"
#include "platform/TFileOps.h"
#include "store/OpenQuery.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TDataSource.h"
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
    TSpeedButton::LoadAll(*this);
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

void TFormMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    // Centred on the whole desktop by the outer size, frame included.
    TFramePlacement::CentreOnDesktop(*this);
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

void TFormMain::FormShow()
{
    // Every row an earlier run left live is switched off, so each run starts
    // with an empty list.
    TADOQuery& temp = *ShareDataModule->ADOQueryTemp;
    OpenQuery(temp, texts::kSelectLiveRows, InCodePage(texts::kDatabaseOpenFailed));
    // A batch a crash interrupted is brought to one end before anything
    // else touches the table.
    if (temp.Active())
        TBatchHistory(*this, *fileOps_).Recover(DatabasePath());
    TListRows rows(temp);
    rows.SwitchAllOff();
    rows.Commit();
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
    if (directory.empty() || target.empty()) {
        TJobReport::Tell(directory.empty() ? texts::kChooseDirectoryFirst : texts::kEnterTarget);
        return;
    }
    // The listing runs on a worker, so the window repaints and a folder on a
    // mount that stopped answering can be left behind: "取消" gives the
    // window back at once, with the table, the grid and the folder they
    // belong to exactly as they were. The rows are written on the window's
    // thread: a long listing's while the worker goes on, the rest after.
    const auto job = std::make_shared<TSearchJob>(directory, target);
    job->SetListingStep(listingStep_);
    TListRows rows(*ShareDataModule->ADOQueryTemp);
    // An error after this search changed rows leaves them over the old list,
    // which is not switched off: no rename acts on the table until a search
    // completes. An error before any change leaves the list as it was.
    rows.SetOnUnfinished([this] { searchUnfinished_ = true; });
    TBackgroundWork work(this, texts::kSearchingFiles, TBackgroundWork::StopPolicy::AbandonWork);
    rows.WriteWhileListing(*job, work);
    if (work.Run([job](TWorkProgress& progress) { job->Run(progress); }) != TBackgroundWork::Outcome::Completed) {
        rows.AbandonSearch();
        return;
    }
    const bool written = rows.FinishSearch(*job);
    RefreshFileList();
    if (written && ADOQuery1->Active()) {
        searchedDirectory_ = job->Folder();
        searchedIdentity_ = job->Identity();
        searchUnfinished_ = false;
    }
}

void TFormMain::ActionBeginExecute()
{
    const std::string target = NarrowText(ui_->Edit2);
    const std::string replacement = NarrowText(ui_->Edit3);
    if (target.empty() || replacement.empty()) {
        TJobReport::Tell(target.empty() ? texts::kEnterTarget : texts::kEnterReplacement);
        return;
    }
    TADOQuery& query = *ADOQuery1;
    if (!query.Active() || query.RecordCount() <= 0)
        return;
    if (searchUnfinished_) {
        TJobReport::Tell(texts::kSearchUnfinished);
        return;
    }
    // The names are read from the grid's rows while the journal opens on a
    // thread of its own; the worker opens the folder the list belongs to
    // (still the one searched), works out every new name and checks every
    // row before anything is touched. Checking changes no file, so a worker
    // stuck on a dead mount is left behind on a cancel.
    const auto started = std::chrono::steady_clock::now();
    const auto job = std::make_shared<TRenameJob>(DatabasePath(), *fileOps_);
    job->SetFolder(searchedDirectory_, searchedIdentity_);
    job->OpenJournalAhead();
    job->SetNames(TListRows::ReadNames(query, /*keepPlace=*/false), target, replacement);
    {
        TBackgroundWork checking(this, texts::kRenamingFiles, TBackgroundWork::StopPolicy::AbandonWork);
        // Cancelled before any file was touched: everything as it was.
        if (checking.Run([job](TWorkProgress& progress) { job->Check(progress); }) !=
            TBackgroundWork::Outcome::Completed)
            return;
    }
    if (const TRenameJob::Refusal& refused = job->Refused()) {
        // The grid shows the row that stopped the batch.
        if (refused.row)
            TListRows::ShowRow(query, *refused.row);
        TJobReport::CopyFailed(refused.error);
        return;
    }
    RenameFiles(*job, started);
}

void TFormMain::RenameFiles(TRenameJob& job, std::chrono::steady_clock::time_point started)
{
    // The journaled file passes on a worker that stops at the next file when
    // asked, the box read once. The progress window keeps the time the check
    // took, so it shows half a second after the button was pressed.
    const bool deleteOld = ui_->CheckBox1->isChecked();
    TBackgroundWork work(this, texts::kRenamingFiles);
    work.SetShowDelay(std::max(std::chrono::milliseconds(0),
                               TBackgroundWork::kShowDelay - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                 std::chrono::steady_clock::now() - started)));
    // A long list's rows are switched off meanwhile, committed at the batch's end.
    TListRows rows(*ADOQuery1, [this] { RefreshFileList(); });
    rows.SwitchOffWhileRenaming();
    TBackgroundWork::Outcome outcome = TBackgroundWork::Outcome::Completed;
    try {
        outcome = work.Run([&job, deleteOld](TWorkProgress& progress) { job.Run(deleteOld, progress); });
    } catch (...) {
        // An error out of the journal shows with the list as the table has it.
        rows.PutBack(job.OldNamesGone());
        throw;
    }
    // Quitting while the batch ran: it was finished or taken back, and the
    // window closes once this handler is over, without a closing box.
    const bool quitting = work.CloseDeferred();
    if (!job.Done()) {
        // Cancelled or failed and taken back: the list stays live, and the
        // grid shows the row that stopped the batch.
        rows.PutBack(job.OldNamesGone());
        if (quitting)
            return;
        if (const std::optional<size_t> failed = job.FailedRow())
            rows.ShowFailedRow(*failed);
        TJobReport::RenameNotDone(job);
        return;
    }
    // Every listed row is switched off, in one walk and one transaction.
    rows.FinishRename();
    RefreshFileList();
    journalUpkeep_.Start(job.JournalPath());
    // Ctrl+Z now means this batch, wherever the focus is.
    TFieldUndo::Forget({ui_->Edit1, ui_->Edit2, ui_->Edit3});
    // A cancel too late to take the batch back says so in place of success.
    if (!quitting)
        TJobReport::RenameDone(job, outcome != TBackgroundWork::Outcome::Completed);
}

void TFormMain::ActionUndoExecute()
{
    TBatchHistory(*this, *fileOps_).Undo();
}

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
    ui_->Button1->setAccessibleDescription(QString::fromUtf8(previewtexts::kChooseDirectoryDescription));
    ui_->SpeedButton1->setAccessibleDescription(QString::fromUtf8(previewtexts::kSearchDescription));
    ui_->SpeedButton2->setAccessibleDescription(QString::fromUtf8(previewtexts::kRenameDescription));
    ui_->DBGrid1->setAccessibleName(QString::fromUtf8(gridtexts::kGridName));

    // The preview opens from a small link in the gap under the rename button.
    previewLink_ = TPreviewForm::MakeLink(this);
    connect(previewLink_, &QLabel::linkActivated, this, [this] { Guarded(this, [this] { ActionPreviewExecute(); }); });

    listCheck_ = new TListCheck(this);
    rowTip_ = new TGridRowTip(ui_->DBGrid1, texts::kFileNameField,
                              [this](size_t listRow, const std::string& name) { return RowTip(listRow, name); });
    connect(listCheck_, &TListCheck::Finished, rowTip_, &TGridRowTip::Refresh);
}

TPreviewForm* TFormMain::Preview() const { return preview_; }

void TFormMain::ActionPreviewExecute()
{
    const TListCheck::Key key = ListKey();
    if (key.target.empty() || key.replacement.empty()) {
        TJobReport::Tell(key.target.empty() ? texts::kEnterTarget : texts::kEnterReplacement);
        return;
    }
    if (!ADOQuery1->Active())
        return;

    // The names as the rename reads them, checked by the rename's own check
    // with the progress window; a cancel leaves everything as it was.
    const auto preview = listCheck_->CheckNow(this, key, TListRows::ReadNames(*ADOQuery1, /*keepPlace=*/true),
                                              searchedIdentity_, DatabasePath(), *fileOps_);
    if (!preview)
        return;
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
    const TListCheck::Key key = ListKey();
    if (key.target.empty() || key.replacement.empty())
        return {};
    if (!listCheck_->Result(key) && ADOQuery1->Active())
        listCheck_->StartOnLiveRows(key, ADOQuery1->Connection(), searchedIdentity_, DatabasePath(), *fileOps_);
    return listCheck_->Tip(key, listRow, fileName);
}

TListCheck::Key TFormMain::ListKey() const
{
    return {searchedDirectory_, NarrowText(ui_->Edit2), NarrowText(ui_->Edit3), listGeneration_};
}

}  // namespace vantelo
