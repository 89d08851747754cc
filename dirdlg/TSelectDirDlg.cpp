#include "dirdlg/TSelectDirDlg.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include <cerrno>
#include <cmath>
#include <filesystem>

#include "app/TApplication.h"
#include "app/TFramePlacement.h"
#include "app/THandlerGuard.h"
#include "app/TMessageForm.h"
#include "dirdlg/DirDlgTexts.h"
#include "dirdlg/PathRoutines.h"
#include "dirdlg/TDirectoryListBox.h"
#include "dirdlg/TDriveComboBox.h"
#include "dirdlg/TFileListBox.h"
#include "dirdlg/TPathLabel.h"
#include "platform/EInOutError.h"
#include "platform/TCurrentDirectory.h"

namespace vantelo {

namespace {

constexpr int kDesignPixelsPerInch = 96;
constexpr int kFontPoints = 8;
constexpr int kClientWidth = 424;
constexpr int kClientHeight = 255;

struct TScriptedResult {
    bool accepted;
    std::string directory;
};

std::optional<TScriptedResult>& NextResult()
{
    static std::optional<TScriptedResult> next;
    return next;
}

TSelectDirDlg::Observer& CallObserver()
{
    static TSelectDirDlg::Observer observer;
    return observer;
}

std::function<void(TSelectDirDlg&)>& ModalScript()
{
    static std::function<void(TSelectDirDlg&)> script;
    return script;
}

std::optional<int>& PixelsPerInchOverride()
{
    static std::optional<int> value;
    return value;
}

QString Text(const char* text)
{
    return QString::fromUtf8(text);
}

// The dialog font at `pixelsPerInch`: `points` high. At 8 points and 96
// pixels per inch its cell is 13 pixels high, as the layout's 13-pixel file
// rows expect.
QFont DialogFont(int points, int pixelsPerInch)
{
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(MulDiv(points, pixelsPerInch, 72));
    return font;
}

// The classic scheme's grey text colour; the toolkit's palette has no role
// of its own for it.
QColor GrayText()
{
    return QColor(128, 128, 128);
}

}  // namespace

TSelectDirDlg::TSelectDirDlg(QWidget* parent) : TModalForm(parent)
{
    setObjectName(QStringLiteral("SelectDirDlg"));
    setWindowTitle(Text(texts::kSelectDirectory));
    // A fixed dialog frame whose only title bar button is the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont(kFontPoints, kDesignPixelsPerInch));
    setFixedSize(kClientWidth, kClientHeight);

    DirEdit = new QLineEdit(this);
    DirEdit->setObjectName(QStringLiteral("DirEdit"));
    DirEdit->setGeometry(8, 24, 313, 20);
    DirEdit->hide();

    NameCaption = new QLabel(Text(texts::kDirectoryNameCaption), this);
    NameCaption->setGeometry(8, 8, 92, 13);
    NameCaption->setBuddy(DirEdit);

    DriveList = new TDriveComboBox(this);
    DriveList->setObjectName(QStringLiteral("DriveList"));
    DriveList->setGeometry(232, 192, 185, 19);

    DrivesCaption = new QLabel(Text(texts::kDrivesCaption), this);
    DrivesCaption->setGeometry(232, 176, 41, 13);
    DrivesCaption->setBuddy(DriveList);

    DirLabel = new TPathLabel(this);
    DirLabel->setObjectName(QStringLiteral("DirLabel"));
    DirLabel->setGeometry(120, 8, 213, 13);

    DirList = new TDirectoryListBox(this);
    DirList->setObjectName(QStringLiteral("DirList"));
    DirList->SetItemHeight(17);
    DirList->SetIntegralHeight(true);
    DirList->SetBounds(QRect(8, 72, 213, 138));

    DirectoriesCaption = new QLabel(Text(texts::kDirectoriesCaption), this);
    DirectoriesCaption->setGeometry(8, 56, 66, 13);
    DirectoriesCaption->setBuddy(DirList);

    FileList = new TFileListBox(this);
    FileList->setObjectName(QStringLiteral("FileList"));
    FileList->setGeometry(232, 72, 185, 93);
    FileList->SetTextColor(GrayText());
    FileList->SetItemHeight(13);

    FilesCaption = new QLabel(Text(texts::kFilesCaption), this);
    FilesCaption->setGeometry(232, 56, 57, 13);
    FilesCaption->setBuddy(FileList);

    NetButton = new QPushButton(Text(texts::kNetworkButton), this);
    NetButton->setObjectName(QStringLiteral("NetButton"));
    NetButton->setGeometry(8, 224, 77, 27);
    NetButton->hide();

    OKButton = new QPushButton(Text(texts::kOkButton), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(172, 224, 77, 27);
    OKButton->setDefault(true);

    CancelButton = new QPushButton(Text(texts::kCancelButton), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(256, 224, 77, 27);

    HelpButton = new QPushButton(Text(texts::kHelpButton), this);
    HelpButton->setObjectName(QStringLiteral("HelpButton"));
    HelpButton->setGeometry(340, 224, 77, 27);

    // Tab order: tree, edit, drive list, network, OK, Cancel, file list, Help.
    setTabOrder(DirList, DirEdit);
    setTabOrder(DirEdit, DriveList);
    setTabOrder(DriveList, NetButton);
    setTabOrder(NetButton, OKButton);
    setTabOrder(OKButton, CancelButton);
    setTabOrder(CancelButton, FileList);
    setTabOrder(FileList, HelpButton);

    DirList->OnChange = [this] { DirListChange(); };
    DriveList->OnChange = [this] { DriveListChange(); };
    connect(OKButton, &QPushButton::clicked, this, [this] { Guarded(this, [this] { OKClick(); }); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { SetModalResult(mrCancel); });
    connect(HelpButton, &QPushButton::clicked, this, [this] { Guarded(this, [this] { HelpButtonClick(); }); });
    connect(NetButton, &QPushButton::clicked, this, [this] { Guarded(this, [this] { NetClick(); }); });

    // Centred on the screen by the outer size (frame included); div
    // truncates toward zero.
    placement_ = new TFramePlacement(*this, [this](const QSize& outer) {
        const QScreen* target = screen() ? screen() : QGuiApplication::primaryScreen();
        if (!target)
            return pos();
        const QRect area = target->geometry();
        return QPoint(area.left() + (area.width() - outer.width()) / 2,
                      area.top() + (area.height() - outer.height()) / 2);
    });

    FormCreate();
    DirList->setFocus();
}

TSelectDirDlg::~TSelectDirDlg()
{
    // The lists' handlers point at this dialog: no calls while it goes.
    DirList->OnChange = nullptr;
    DriveList->OnChange = nullptr;
}

void TSelectDirDlg::FormCreate()
{
    // No network-connection dialog exists on this platform: NetButton stays hidden.
    editable_ = false;
    DirLabel->setGeometry(DirEdit->geometry());
    DirListChange();
}

std::string TSelectDirDlg::AnswerPath() const
{
    return editable_ ? FromDisplay(DirEdit->text()) : DirLabel->Caption();
}

void TSelectDirDlg::SetEditable(bool on)
{
    if (on == editable_)
        return;
    editable_ = on;
    DirLabel->setVisible(!on);
    DirEdit->setVisible(on);
}

void TSelectDirDlg::DirListChange()
{
    DirLabel->SetCaption(DirList->OpenPath());
    FileList->ApplyPathText(DirLabel->Caption());
    DirEdit->setText(ToDisplay(DirLabel->Caption()));
    DirEdit->selectAll();
    // The tree moves between drives as it walks in and out of mount points;
    // the drive list follows it (its change then finds the tree on that
    // drive already and does nothing).
    DriveList->SelectDrive(TDrives::DriveOf(DirList->OpenPath()));
}

void TSelectDirDlg::DriveListChange()
{
    DirList->SetDrive(DriveList->Drive());
}

void TSelectDirDlg::OKClick()
{
    if (editable_ && confirmMissing_ && !TCurrentDirectory::DirectoryExists(AnswerPath()) &&
        AskConfirmation(texts::kCreateMissingPrompt) != mrYes)
        return;
    SetModalResult(mrOk);
}

void TSelectDirDlg::NetClick()
{
    // Never reached: the network button is never shown here.
}

void TSelectDirDlg::HelpButtonClick()
{
    // The help request for HelpContext() finds no help file (neither the
    // dialog nor the application names one), so nothing is shown.
}

void TSelectDirDlg::OpenInitialDirectory(const std::string& directory)
{
    if (directory.empty())
        return;
    std::string absolute = directory;
    if (absolute[0] != '/')
        absolute = JoinPath(TCurrentDirectory::Get(), absolute);
    try {
        DirList->ChangeOpenPath(absolute);
    } catch (const EInOutError&) {
        DirList->ChangeOpenPath(TCurrentDirectory::Get());
    }
}

void TSelectDirDlg::ScaleTo(int pixelsPerInch)
{
    const int p = pixelsPerInch;
    const int d = kDesignPixelsPerInch;
    for (QWidget* control : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QRect r = control->geometry();
        const int left = MulDiv(r.left(), p, d);
        const int top = MulDiv(r.top(), p, d);
        const QRect scaled(left, top, MulDiv(r.left() + r.width(), p, d) - left,
                           MulDiv(r.top() + r.height(), p, d) - top);
        if (control == DirList)
            DirList->SetBounds(scaled);
        else
            control->setGeometry(scaled);
    }
    setFixedSize(MulDiv(kClientWidth, p, d), MulDiv(kClientHeight, p, d));
    // The font change makes the lists compute their row heights again.
    setFont(DialogFont(MulDiv(kFontPoints, p, d), p));
    FileList->setFont(QFont());
    FileList->SetTextColor(GrayText());
}

int TSelectDirDlg::ScreenPixelsPerInch()
{
    if (PixelsPerInchOverride())
        return *PixelsPerInchOverride();
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchY())) : kDesignPixelsPerInch;
}

void TSelectDirDlg::SetPixelsPerInchOverride(std::optional<int> pixelsPerInch)
{
    PixelsPerInchOverride() = pixelsPerInch;
}

void TSelectDirDlg::showEvent(QShowEvent* event)
{
    TModalForm::showEvent(event);
    if (!placed_) {
        placed_ = true;
        placement_->Place();
    }
    if (ModalScript()) {
        auto script = std::move(ModalScript());
        ModalScript() = nullptr;
        QMetaObject::invokeMethod(
            this, [this, script] { script(*this); }, Qt::QueuedConnection);
    }
}

void TSelectDirDlg::SetNextResult(bool accepted, const std::string& directory)
{
    NextResult() = TScriptedResult{accepted, directory};
}

void TSelectDirDlg::SetObserver(Observer observer)
{
    CallObserver() = std::move(observer);
}

void TSelectDirDlg::SetModalScript(std::function<void(TSelectDirDlg&)> script)
{
    ModalScript() = std::move(script);
}

void TSelectDirDlg::ClearTestHooks()
{
    NextResult().reset();
    CallObserver() = nullptr;
    ModalScript() = nullptr;
    PixelsPerInchOverride().reset();
}

bool ChooseDirectory(std::string& directory, int options, int helpCtx)
{
    if (CallObserver())
        CallObserver()(directory, options, helpCtx);
    if (NextResult()) {
        const TScriptedResult scripted = *NextResult();
        NextResult().reset();
        if (!scripted.accepted)
            return false;
        directory = TCurrentDirectory::Set(scripted.directory);
        return true;
    }

    auto dialog = std::make_unique<TSelectDirDlg>();
    dialog->OpenInitialDirectory(directory);
    dialog->SetEditable((options & cdEditable) != 0);
    dialog->SetConfirmMissing((options & cdConfirmMissing) != 0);
    const int pixelsPerInch = TSelectDirDlg::ScreenPixelsPerInch();
    if (pixelsPerInch != kDesignPixelsPerInch)
        dialog->ScaleTo(pixelsPerInch);
    if (helpCtx != 0) {
        dialog->SetHelpContext(helpCtx);
    } else {
        dialog->HelpButton->hide();
        dialog->OKButton->move(dialog->CancelButton->x(), dialog->OKButton->y());
        dialog->CancelButton->move(dialog->HelpButton->x(), dialog->CancelButton->y());
    }
    const int result = Application ? Application->ShowFormModal(*dialog) : dialog->exec();
    if (result != TModalForm::mrOk)
        return false;
    directory = dialog->AnswerPath();
    if (options & cdCreateMissing) {
        std::error_code error;
        std::filesystem::create_directories(directory, error);
        if (error)
            throw EInOutError::FromErrno(error.value());
    }
    return true;
}

}  // namespace vantelo
