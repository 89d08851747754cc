#include "mainwin/TProgressForm.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <iterator>

#include "app/TApplication.h"
#include "app/THandlerGuard.h"
#include "mainwin/ProgressTexts.h"
#include "platform/TCodePage.h"

namespace vantelo {

namespace {

// The bars count in steps of a thousandth, whatever the totals.
constexpr int kBarSteps = 1000;

QString Text(const char* text)
{
    return QString::fromUtf8(text);
}

int Steps(uint64_t done, uint64_t total)
{
    if (total == 0)
        return 0;
    done = std::min(done, total);
    // done * 1000 overflows only past 1.8e16; scale the total down first there.
    if (done > UINT64_MAX / kBarSteps)
        return static_cast<int>(done / (total / kBarSteps));
    return static_cast<int>(done * kBarSteps / total);
}

QString ByteCount(uint64_t bytes)
{
    constexpr size_t kUnits = std::size(texts::kByteUnits);
    size_t unit = 0;
    double value = static_cast<double>(bytes);
    while (value >= 1024.0 && unit + 1 < kUnits) {
        value /= 1024.0;
        ++unit;
    }
    const QString number = unit == 0 ? QString::number(bytes) : QString::number(value, 'f', 1);
    return number + QLatin1Char(' ') + Text(texts::kByteUnits[unit]);
}

}  // namespace

TProgressForm::TProgressForm(const std::string& caption, QWidget* owner)
    : owner_(owner ? owner->window() : nullptr)
{
    setObjectName(QStringLiteral("ProgressForm"));
    // A fixed dialog frame whose only title bar button is the close box, on
    // the button face, in the main window's Song face.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    QFont font(QStringLiteral("宋体"));
    font.setPointSize(9);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    setAutoFillBackground(true);
    setFixedSize(kClientWidth, kClientHeight);
    const std::string title = Application ? Application->Title() : std::string();
    setWindowTitle(QString::fromStdU16String(TCodePage::Active().ToWide(title)));

    caption_ = new QLabel(Text(caption.c_str()), this);
    caption_->setObjectName(QStringLiteral("Caption"));
    caption_->setGeometry(12, 12, 156, 16);
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("Count"));
    count_->setGeometry(168, 12, 180, 16);
    count_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    file_ = new QLabel(this);
    file_->setObjectName(QStringLiteral("File"));
    file_->setGeometry(12, 32, 336, 16);
    file_->setTextFormat(Qt::PlainText);
    filesBar_ = new QProgressBar(this);
    filesBar_->setObjectName(QStringLiteral("FilesBar"));
    filesBar_->setGeometry(12, 52, 336, 16);
    filesBar_->setTextVisible(false);
    filesBar_->setRange(0, 0);
    bytesBar_ = new QProgressBar(this);
    bytesBar_->setObjectName(QStringLiteral("BytesBar"));
    bytesBar_->setGeometry(12, 74, 200, 14);
    bytesBar_->setTextVisible(false);
    bytesBar_->setRange(0, kBarSteps);
    bytesBar_->hide();
    bytes_ = new QLabel(this);
    bytes_->setObjectName(QStringLiteral("Bytes"));
    bytes_->setGeometry(216, 74, 132, 14);
    bytes_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bytes_->hide();
    cancel_ = new QPushButton(Text(texts::kProgressCancel), this);
    cancel_->setObjectName(QStringLiteral("CancelButton"));
    cancel_->setGeometry(273, 96, 75, 23);
    cancel_->setFocus(Qt::OtherFocusReason);
    connect(cancel_, &QPushButton::clicked, this, [this] { Cancel(); });

    ShowProgress(TWorkProgress::Snapshot{});
    // Above the owner, with no taskbar entry of its own.
    if (owner_ && owner_->windowHandle()) {
        winId();
        windowHandle()->setTransientParent(owner_->windowHandle());
    }
}

TProgressForm::~TProgressForm() = default;

QString TProgressForm::CountText(size_t done, size_t total)
{
    if (total == 0)
        return QString::number(done);
    return Text(texts::kProgressCountFormat).arg(done).arg(total);
}

QString TProgressForm::BytesText(uint64_t done, uint64_t total)
{
    return Text(texts::kProgressBytesFormat).arg(ByteCount(done), ByteCount(total));
}

void TProgressForm::ShowProgress(const TWorkProgress::Snapshot& state)
{
    count_->setText(CountText(state.done, state.total));
    if (state.total == 0) {
        // Not known yet: the bar runs busy.
        filesBar_->setRange(0, 0);
    } else {
        filesBar_->setRange(0, kBarSteps);
        filesBar_->setValue(Steps(state.done, state.total));
    }
    const QString name = QString::fromStdU16String(TCodePage::Active().ToWide(state.current));
    if (name != currentName_ || file_->text().isEmpty() != name.isEmpty()) {
        currentName_ = name;
        // A long name keeps its start and its end.
        file_->setText(QFontMetrics(file_->font()).elidedText(name, Qt::ElideMiddle, file_->width()));
    }
    const bool showBytes = state.bytesTotal > 0;
    bytesBar_->setVisible(showBytes);
    bytes_->setVisible(showBytes);
    if (showBytes) {
        bytesBar_->setValue(Steps(state.bytesDone, state.bytesTotal));
        bytes_->setText(BytesText(state.bytesDone, state.bytesTotal));
    }
    cancel_->setEnabled(state.cancellable && !stopping_);
    // Once old files have begun to go the batch can only be finished: say so
    // where the caption said what is being done.
    if (!state.cancellable && !stopping_)
        caption_->setText(Text(texts::kProgressPastTurningBack));
}

void TProgressForm::ShowStopping()
{
    stopping_ = true;
    caption_->setText(Text(texts::kProgressStopping));
    cancel_->setEnabled(false);
}

void TProgressForm::reject()
{
    Cancel();
}

void TProgressForm::closeEvent(QCloseEvent* event)
{
    // The close box asks for a stop; the runner takes the window down.
    event->ignore();
    Cancel();
}

void TProgressForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (placed_)
        return;
    placed_ = true;
    const QWidget* owner = owner_.data();
    // Centred on the window the work belongs to, else on the screen, and
    // kept on that screen.
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    const QRect around = owner && owner->isVisible() ? owner->frameGeometry() : area;
    const QSize outer = frameGeometry().size();
    QPoint topLeft = around.center() - QPoint(outer.width() / 2, outer.height() / 2);
    if (area.isValid()) {
        topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())));
        topLeft.setY(std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    }
    move(topLeft);
}

void TProgressForm::Cancel()
{
    Guarded(this, [this] {
        if (stopping_ || !cancel_->isEnabled() || !onCancel_)
            return;
        onCancel_();
    });
}

}  // namespace vantelo
