#include "mainwin/TFormMain.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "app/TApplication.h"
#include "app/THandlerGuard.h"
#include "mainwin/TDataGrid.h"
#include "mainwin/TSpeedButton.h"
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

void TFormMain::FormShow()
{
    RefreshFileList();
}

void TFormMain::RefreshFileList() {}

void TFormMain::Button1Click() {}

void TFormMain::ActionSearchExecute() {}

void TFormMain::ActionBeginExecute() {}

}  // namespace vantelo
