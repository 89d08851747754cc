#include "app/TMessageForm.h"

#include "platform/TAsciiCase.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <limits>

#include "app/MessageTexts.h"
#include "app/TApplication.h"
#include "app/THandlerGuard.h"
#include "app/TMessageLabel.h"
#include "platform/Exception.h"
#include "platform/TCodePage.h"

namespace vantelo {

namespace {

QString ToQString(const std::string& narrow)
{
    return QString::fromStdU16String(TCodePage::Active().ToWide(narrow));
}

const std::array<DialogButtonInfo, kDialogButtonCount> kButtons = {{
    {texts::kYesName, texts::kYesCaption, TModalForm::mrYes},
    {texts::kNoName, texts::kNoCaption, TModalForm::mrNo},
    {texts::kOkName, texts::kOkCaption, TModalForm::mrOk},
    {texts::kCancelName, texts::kCancelCaption, TModalForm::mrCancel},
    {texts::kAbortName, texts::kAbortCaption, 3},
    {texts::kRetryName, texts::kRetryCaption, 4},
    {texts::kIgnoreName, texts::kIgnoreCaption, 5},
    {texts::kAllName, texts::kAllCaption, 8},
    {texts::kNoToAllName, texts::kNoToAllCaption, 9},
    {texts::kYesToAllName, texts::kYesToAllCaption, 10},
    // Help opens help for the box; with no help system it has no effect.
    {texts::kHelpName, texts::kHelpCaption, 0},
}};

// Measured once per button kind, the first time a box has that button, and
// kept for the rest of the process even if the message font changes.
std::array<int, kDialogButtonCount> rememberedWidths{};

// Test hooks.
std::deque<int> nextAnswers;
TMessageForm::AnswerHook answerHook;
TMessageForm::Observer observer;
bool clipboardFails = false;

constexpr int kIconSize = 32;
constexpr int kDividerLength = 27;

// The key a caption marks with "&" (upper case), or 0; "&&" is a plain "&".
char Mnemonic(const std::string& caption)
{
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return AsciiUpper(caption[i + 1]);
    }
    return 0;
}

bool HasIcon(DialogKind kind)
{
    return kind != dkCustom;
}

QStyle::StandardPixmap KindIcon(DialogKind kind)
{
    switch (kind) {
    case dkWarning:
        return QStyle::SP_MessageBoxWarning;
    case dkError:
        return QStyle::SP_MessageBoxCritical;
    case dkInformation:
        return QStyle::SP_MessageBoxInformation;
    case dkConfirmation:
    case dkCustom:
        break;
    }
    return QStyle::SP_MessageBoxQuestion;
}

// Centres an outer size on a screen, never above or left of its top-left.
QPoint CentredOn(const QScreen* screen, QSize outer)
{
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 0, 0);
    return {area.x() + std::max(0, (area.width() - outer.width()) / 2),
            area.y() + std::max(0, (area.height() - outer.height()) / 2)};
}

}  // namespace

const DialogButtonInfo& ButtonInfo(DialogButton button)
{
    return kButtons.at(static_cast<size_t>(button));
}

const char* KindTitle(DialogKind kind)
{
    switch (kind) {
    case dkWarning:
        return texts::kWarningTitle;
    case dkError:
        return texts::kErrorTitle;
    case dkInformation:
        return texts::kInformationTitle;
    case dkConfirmation:
        return texts::kConfirmTitle;
    case dkCustom:
        break;
    }
    return "";
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const std::int64_t product = static_cast<std::int64_t>(a) * b;
    const std::int64_t divisor = std::abs(static_cast<std::int64_t>(c));
    // Round the magnitude half up, then give it the sign: halves go away from zero.
    const std::int64_t magnitude = (std::abs(product) * 2 + divisor) / (2 * divisor);
    const std::int64_t result = ((product < 0) != (c < 0)) ? -magnitude : magnitude;
    if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min())
        return -1;
    return static_cast<int>(result);
}

TMessageMetrics TMessageMetrics::For(int averageWidth, int height)
{
    TMessageMetrics m{};
    m.horzMargin = MulDiv(8, averageWidth, 4);
    m.vertMargin = MulDiv(8, height, 8);
    m.horzSpacing = MulDiv(10, averageWidth, 4);
    m.vertSpacing = MulDiv(10, height, 8);
    m.buttonWidthMin = MulDiv(50, averageWidth, 4);
    m.buttonHeight = MulDiv(14, height, 8);
    m.buttonSpacing = MulDiv(4, averageWidth, 4);
    return m;
}

TMessageForm::TMessageForm(QWidget* parent) : TModalForm(parent)
{
    Watch(this);
}

TMessageForm::~TMessageForm() = default;

int TMessageForm::RememberedButtonWidth(DialogButton button)
{
    return rememberedWidths.at(static_cast<size_t>(button));
}

void TMessageForm::SetNextAnswer(int result)
{
    nextAnswers.push_back(result);
}

void TMessageForm::SetAnswerHook(AnswerHook hook)
{
    answerHook = std::move(hook);
}

void TMessageForm::SetObserver(Observer hook)
{
    observer = std::move(hook);
}

void TMessageForm::ClearTestHooks()
{
    nextAnswers.clear();
    answerHook = nullptr;
    observer = nullptr;
}

void TMessageForm::SimulateClipboardFailure(bool fail)
{
    clipboardFails = fail;
}

void TMessageForm::Watch(QWidget* widget)
{
    // Every key passes the box's handler before the focused control sees it.
    widget->installEventFilter(this);
}

bool TMessageForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return TModalForm::eventFilter(watched, event);
    // A key whose handling failed counts as handled: the error box has
    // shown it and the key must not go on to the button.
    bool consumed = true;
    Guarded(this, [&] { consumed = HandleKey(static_cast<const QKeyEvent&>(*event)); });
    return consumed;
}

void TMessageForm::showEvent(QShowEvent* event)
{
    // Centre once, with the frame and title bar counted.
    if (centreOn_) {
        move(CentredOn(centreOn_, frameGeometry().size()));
        centreOn_ = nullptr;
    }
    TModalForm::showEvent(event);
}

bool TMessageForm::HandleKey(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers modifiers =
        event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event.key();
    switch (key) {
    case Qt::Key_C:
        if (modifiers == Qt::ControlModifier) {
            CopyToClipboard();
            return true;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // With Shift, Ctrl or Alt, Enter does nothing.
        if (modifiers == Qt::NoModifier) {
            auto* focused = qobject_cast<QPushButton*>(focusWidget());
            const bool ours = std::find(buttons_.begin(), buttons_.end(), focused) != buttons_.end();
            Press(ours ? focused : defaultButton_);
        }
        return true;
    case Qt::Key_Escape:
        if (modifiers == Qt::NoModifier)
            Press(cancelButton_);
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier) {
            MoveFocus(key == Qt::Key_Tab && modifiers == Qt::NoModifier);
            return true;
        }
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        if (modifiers == Qt::NoModifier) {
            MoveFocus(true);
            return true;
        }
        break;
    case Qt::Key_Left:
    case Qt::Key_Up:
        if (modifiers == Qt::NoModifier) {
            MoveFocus(false);
            return true;
        }
        break;
    default:
        break;
    }
    // A key marked in a caption presses its button, alone or with Alt.
    const bool letterOrDigit = (key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9);
    if (letterOrDigit && (modifiers == Qt::NoModifier || modifiers == Qt::AltModifier)) {
        for (size_t i = 0; i < buttons_.size(); ++i)
            if (mnemonics_[i] != 0 && mnemonics_[i] == static_cast<char>(key)) {
                Press(buttons_[i]);
                return true;
            }
    }
    return false;
}

void TMessageForm::Press(QPushButton* button)
{
    if (button && button->isEnabled())
        button->click();
}

void TMessageForm::MoveFocus(bool forward)
{
    if (buttons_.empty())
        return;
    const auto found = std::find(buttons_.begin(), buttons_.end(), focusWidget());
    const int count = static_cast<int>(buttons_.size());
    int index = found == buttons_.end() ? (forward ? -1 : 0) : static_cast<int>(found - buttons_.begin());
    index = (index + (forward ? 1 : count - 1)) % count;
    buttons_[static_cast<size_t>(index)]->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

std::string TMessageForm::ClipboardText() const
{
    const std::string divider = std::string(kDividerLength, '-') + "\r\n";
    std::string captions;
    for (const std::string& caption : captions_)
        captions += caption + "   ";
    captions.erase(std::remove(captions.begin(), captions.end(), '&'), captions.end());
    return divider + title_ + "\r\n" + divider + text_ + "\r\n" + divider + captions + "\r\n" + divider;
}

void TMessageForm::CopyToClipboard() const
{
    QApplication::beep();
    QClipboard* clipboard = clipboardFails ? nullptr : QGuiApplication::clipboard();
    if (!clipboard)
        throw Exception(texts::kCannotOpenClipboard);
    clipboard->setText(ToQString(ClipboardText()), QClipboard::Clipboard);
}

std::unique_ptr<TMessageForm> BuildMessageForm(const std::string& text, DialogKind kind, const DialogButtons& buttons)
{
    auto form = std::make_unique<TMessageForm>();
    // The platform's message font: the font the toolkit gives message boxes,
    // which is the application font unless the platform names another.
    const QFont font = QApplication::font("QMessageBox");
    form->setFont(font);
    // A fixed dialog frame whose title bar has only the close box, on the
    // button face.
    form->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    QPalette palette = form->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    form->setPalette(palette);
    form->setAutoFillBackground(true);

    // The average character width and the character height of the font.
    const QFontMetrics metrics(font);
    static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const TMessageMetrics m = TMessageMetrics::For(metrics.horizontalAdvance(alphabet) / 52, metrics.height());

    std::array<bool, kDialogButtonCount> chosen{};
    for (DialogButton button : buttons)
        chosen.at(static_cast<size_t>(button)) = true;

    // The button width: the lower bound, or the widest chosen caption.
    int buttonWidth = m.buttonWidthMin;
    int buttonCount = 0;
    for (int i = 0; i < kDialogButtonCount; ++i) {
        if (!chosen[static_cast<size_t>(i)])
            continue;
        ++buttonCount;
        int& remembered = rememberedWidths[static_cast<size_t>(i)];
        if (remembered == 0) {
            const QRect caption = metrics.boundingRect(QRect(), Qt::AlignLeft | Qt::TextSingleLine | Qt::TextShowMnemonic,
                                                       ToQString(kButtons[static_cast<size_t>(i)].caption));
            remembered = caption.width() + 8;
        }
        buttonWidth = std::max(buttonWidth, remembered);
    }

    // The text, wrapped at words so that no line is wider than half the
    // screen; only a single longer word widens it. It takes at least one
    // line, so an empty text still leaves room between title and buttons.
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QSize screenSize = primary ? primary->geometry().size() : QSize(0, 0);
    const QString qtext = ToQString(text);
    const QRect measured = metrics.boundingRect(QRect(0, 0, screenSize.width() / 2, 0), TMessageLabel::kTextFlags, qtext);
    const int textWidth = std::max(0, measured.x() + measured.width());
    const int textHeight = std::max(measured.y() + measured.height(), metrics.height());

    int blockWidth = textWidth;
    int blockHeight = textHeight;
    if (HasIcon(kind)) {
        blockWidth += kIconSize + m.horzSpacing;
        blockHeight = std::max(blockHeight, kIconSize);
    }
    const int groupWidth = buttonCount == 0 ? 0 : buttonCount * buttonWidth + (buttonCount - 1) * m.buttonSpacing;
    const int clientWidth = std::max(blockWidth, groupWidth) + 2 * m.horzMargin;
    const int clientHeight = blockHeight + m.buttonHeight + m.vertSpacing + 2 * m.vertMargin;
    form->setFixedSize(clientWidth, clientHeight);
    const QSize outer = form->frameGeometry().size();
    form->move(screenSize.width() / 2 - outer.width() / 2, screenSize.height() / 2 - outer.height() / 2);

    form->title_ = kind == dkCustom ? (Application ? Application->Title() : std::string()) : KindTitle(kind);
    form->setWindowTitle(ToQString(form->title_));

    if (HasIcon(kind)) {
        auto* image = new QLabel(form.get());
        image->setObjectName(QString::fromLatin1(texts::kImageName));
        image->setGeometry(m.horzMargin, m.vertMargin, kIconSize, kIconSize);
        image->setPixmap(form->style()->standardIcon(KindIcon(kind), nullptr, form.get()).pixmap(kIconSize, kIconSize));
        form->Watch(image);
    }

    auto* label = new TMessageLabel(form.get());
    label->setObjectName(QString::fromLatin1(texts::kMessageLabelName));
    label->setFont(font);
    label->setText(qtext);
    label->setGeometry(blockWidth - textWidth + m.horzMargin, m.vertMargin, textWidth, textHeight);
    form->Watch(label);
    form->message_ = label;
    form->text_ = text;

    const DialogButton defaultKind = chosen[btnOK] ? btnOK : chosen[btnYes] ? btnYes : btnRetry;
    const DialogButton cancelKind = chosen[btnCancel] ? btnCancel : chosen[btnNo] ? btnNo : btnOK;
    int x = (clientWidth - groupWidth) / 2;
    const int top = blockHeight + m.vertMargin + m.vertSpacing;
    TMessageForm* owner = form.get();
    for (int i = 0; i < kDialogButtonCount; ++i) {
        if (!chosen[static_cast<size_t>(i)])
            continue;
        const DialogButtonInfo& info = kButtons[static_cast<size_t>(i)];
        auto* button = new QPushButton(ToQString(info.caption), owner);
        button->setObjectName(QString::fromLatin1(info.name));
        button->setFont(font);
        // The box presses buttons by their marked key itself, with or
        // without Alt; the toolkit's own Alt shortcut would click late.
        button->setShortcut(QKeySequence());
        button->setAutoDefault(true);
        button->setDefault(i == defaultKind);
        button->setGeometry(x, top, buttonWidth, m.buttonHeight);
        const int result = info.result;
        QObject::connect(button, &QPushButton::clicked, owner, [owner, result] {
            Guarded(owner, [&] {
                if (result != TModalForm::mrNone)
                    owner->SetModalResult(result);
            });
        });
        if (!owner->buttons_.empty())
            QWidget::setTabOrder(owner->buttons_.back(), button);
        owner->Watch(button);
        owner->buttons_.push_back(button);
        owner->mnemonics_.push_back(Mnemonic(info.caption));
        owner->captions_.emplace_back(info.caption);
        if (i == defaultKind)
            owner->defaultButton_ = button;
        if (i == cancelKind)
            owner->cancelButton_ = button;
        x += buttonWidth + m.buttonSpacing;
    }
    // The first button in tab order has the focus when the box shows.
    if (!owner->buttons_.empty())
        owner->buttons_.front()->setFocus(Qt::OtherFocusReason);
    return form;
}

int RunMessageForm(const std::string& text, DialogKind kind, const DialogButtons& buttons, int x, int y)
{
    if (observer)
        observer(text, kind, buttons);
    if (!nextAnswers.empty()) {
        const int answer = nextAnswers.front();
        nextAnswers.pop_front();
        return answer;
    }
    if (answerHook)
        return answerHook(text, kind, buttons);

    // The form goes when this call ends, also when showing it failed.
    std::unique_ptr<TMessageForm> form = BuildMessageForm(text, kind, buttons);
    QPoint position = form->pos();
    if (x >= 0)
        position.setX(x);
    if (y >= 0)
        position.setY(y);
    if (x < 0 && y < 0) {
        // Centred on the screen of the window the box is opened from.
        const QWidget* active = QApplication::activeWindow();
        form->centreOn_ = active && active->screen() ? active->screen() : QGuiApplication::primaryScreen();
        position = CentredOn(form->centreOn_, form->frameGeometry().size());
    }
    form->move(position);
    if (Application)
        return Application->ShowFormModal(*form);
    return form->exec();
}

void ShowNotice(const std::string& text)
{
    RunMessageForm(text, dkCustom, {btnOK}, -1, -1);
}

int AskConfirmation(const std::string& text)
{
    return RunMessageForm(text, dkConfirmation, {btnYes, btnNo}, -1, -1);
}

}  // namespace vantelo
