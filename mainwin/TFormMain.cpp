#include "mainwin/TFormMain.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <climits>
#include <cstdlib>

#include "app/TApplication.h"
#include "app/THandlerGuard.h"
#include "app/TMessageForm.h"
#include "dirdlg/TSelectDirDlg.h"
#include "mainwin/MainTexts.h"
#include "mainwin/TDataGrid.h"
#include "mainwin/TAction.h"
#include "mainwin/TActionList.h"
#include "mainwin/TButtonGlyph.h"
#include "rename/TNameRules.h"
#include "rename/TRenamePlan.h"
#include "mainwin/TSpeedButton.h"
#include "platform/TCodePage.h"
#include "platform/TDirectoryListing.h"
#include "store/OpenQuery.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TDataSource.h"
#include "store/TNotice.h"
#include "store/TShareDataModule.h"
#include "ui_FormMain.h"

namespace vantelo {

TFormMain* FormMain = nullptr;

TFormMain::TFormMain(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::FormMain>())
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
    // Centred on the whole desktop (all monitors), never off its top-left.
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect desktop = screen->virtualGeometry();
    const QSize outer = frameGeometry().size();
    move(std::max(0, (desktop.width() - outer.width()) / 2) + desktop.left(),
         std::max(0, (desktop.height() - outer.height()) / 2) + desktop.top());
}

void TFormMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    PlaceCentred();
    // An error escaping the show handler is shown; the window still shows.
    Guarded(this, [this] { FormShow(); });
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
    ShowNotice(std::string(texts::kCopyFailed) + std::to_string(static_cast<unsigned>(error)));
}

namespace {

// Switches the row under the cursor off and moves on.
void SwitchRowOff(TDataSet& query)
{
    query.Edit();
    query.FieldByName(texts::kFileEnableField).SetAsBoolean(false);
    query.Post();
    query.Next();
}

// The connection's posts of one handler go into one write transaction; rows
// written before an error are committed before its box shows (the boxes
// commit pending writes first) and the handler's end commits the rest.
class TPostBatch {
public:
    explicit TPostBatch(TADOConnection* connection) : connection_(connection)
    {
        if (connection_)
            connection_->BeginBatch();
    }
    // Leaving early (an error on its way to the box) ends the batch and
    // commits what was posted; Commit() reports a failed commit instead.
    ~TPostBatch()
    {
        if (connection_)
            connection_->EndBatch();
    }
    void Commit()
    {
        if (connection_)
            std::exchange(connection_, nullptr)->CommitBatch();
    }

private:
    TADOConnection* connection_;
};

}  // namespace

void TFormMain::FormShow()
{
    // Every row an earlier run left live is switched off, so each run starts
    // with an empty list.
    TADOQuery& temp = *ShareDataModule->ADOQueryTemp;
    OpenQuery(temp, texts::kSelectLiveRows, texts::kDatabaseOpenFailed);
    TPostBatch batch(temp.Connection());
    if (temp.RecordCount() > 0) {
        temp.First();
        while (!temp.Eof())
            SwitchRowOff(temp);
    }
    batch.Commit();
    RefreshFileList();
}

void TFormMain::RefreshFileList()
{
    OpenQuery(*ADOQuery1, texts::kSelectLiveRows, texts::kDatabaseOpenFailed);
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
        ShowNotice(texts::kChooseDirectoryFirst);
        return;
    }
    if (target.empty()) {
        ShowNotice(texts::kEnterTarget);
        return;
    }

    TADOQuery& temp = *ShareDataModule->ADOQueryTemp;
    TPostBatch batch(temp.Connection());
    TDirectoryListing listing;
    // A directory that cannot be listed leaves the table as it was: the
    // scratch query stands at its end (or is closed), so nothing below runs.
    if (listing.Open(directory) == 0) {
        OpenQuery(temp, texts::kSelectAllRows, texts::kDatabaseOpenFailed);
        char resolved[PATH_MAX];
        searchedDirectory_ = realpath(directory.c_str(), resolved) ? resolved : directory;
        // Matches overwrite the table's rows in table order, then append.
        std::string name;
        while (listing.Next(name)) {
            if (!NameMatches(name, target))
                continue;
            if (temp.Eof())
                temp.Insert();
            else
                temp.Edit();
            temp.FieldByName(texts::kFileNameField).SetAsString(name);
            temp.FieldByName(texts::kFileEnableField).SetAsBoolean(true);
            temp.Post();
            temp.Next();
        }
        listing.Close();
    }
    // What the previous list left beyond the new one is switched off.
    while (!temp.Eof())
        SwitchRowOff(temp);
    batch.Commit();
    RefreshFileList();
}

void TFormMain::ActionBeginExecute()
{
    const std::string target = NarrowText(ui_->Edit2);
    const std::string replacement = NarrowText(ui_->Edit3);
    if (target.empty()) {
        ShowNotice(texts::kEnterTarget);
        return;
    }
    if (replacement.empty()) {
        ShowNotice(texts::kEnterReplacement);
        return;
    }
    TADOQuery& query = *ADOQuery1;
    if (!query.Active() || query.RecordCount() <= 0)
        return;

    // Every new name is worked out and checked before the first copy; the
    // names resolve against the directory that was searched.
    TRenamePlan plan;
    const TADOConnection* connection = query.Connection();
    if (int error = plan.Open(searchedDirectory_, connection ? connection->DatabasePath() : std::string())) {
        ShowCopyFailure(error);
        return;
    }
    query.DisableControls();
    try {
        query.First();
        while (!query.Eof()) {
            const std::string name = query.FieldByName(texts::kFileNameField).AsString();
            plan.Add(name, ReplaceAllIgnoreCase(name, target, replacement));
            query.Next();
        }
    } catch (...) {
        query.EnableControls();
        throw;
    }
    query.EnableControls();
    if (const TRenamePlan::Failure failure = plan.Check()) {
        // The grid shows the row that stopped the batch.
        query.First();
        query.MoveBy(static_cast<int>(failure.index));
        ShowCopyFailure(failure.error);
        return;
    }

    // Copy pass: stops at the first failure. Until every copy is made (and
    // flushed, when the old files go) any way out of here, an error from the
    // query included, removes what the pass made.
    struct RollBackUnlessKept {
        TRenamePlan& plan;
        bool keep = false;
        ~RollBackUnlessKept()
        {
            if (!keep)
                plan.RollBack();
        }
    } copies{plan};
    const bool deleteOld = ui_->CheckBox1->isChecked();
    query.First();
    for (size_t row = 0; !query.Eof(); ++row) {
        if (int error = plan.CopyOne(row, !deleteOld)) {
            plan.RollBack();
            ShowCopyFailure(error);
            return;
        }
        query.Next();
    }
    if (deleteOld) {
        if (int error = plan.FlushForDelete()) {
            plan.RollBack();
            ShowCopyFailure(error);
            return;
        }
    }
    copies.keep = true;

    // Delete pass: the old files go (only while each is still the file that
    // was copied; a failed deletion is ignored) and every row is switched off.
    TPostBatch batch(query.Connection());
    query.First();
    for (size_t row = 0; !query.Eof(); ++row) {
        if (ui_->CheckBox1->isChecked())
            plan.DeleteOld(row);
        SwitchRowOff(query);
    }
    batch.Commit();
    RefreshFileList();
    ShowNotice(texts::kRenameDone);
}

}  // namespace vantelo
