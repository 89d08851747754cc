// The message box through which the tool shows every message: a small modal
// dialog built on the fly around its text, with an optional standard icon and
// a row of push buttons in a fixed order. Each box lives for one call of
// RunMessageForm; only the measured button widths outlive it.
//
// Texts are byte strings in the tool's code page.
#pragma once

#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/TModalForm.h"

class QKeyEvent;
class QLabel;
class QPushButton;
class QScreen;
class QShowEvent;

namespace vantelo {

enum DialogKind { dkWarning, dkError, dkInformation, dkConfirmation, dkCustom };

// In their fixed order, which is also the buttons' left-to-right order.
enum DialogButton {
    btnYes,
    btnNo,
    btnOK,
    btnCancel,
    btnAbort,
    btnRetry,
    btnIgnore,
    btnAll,
    btnNoToAll,
    btnYesToAll,
    btnHelp
};
inline constexpr int kDialogButtonCount = btnHelp + 1;

// The chosen buttons of a box; order and repeats do not matter.
using DialogButtons = std::vector<DialogButton>;

struct DialogButtonInfo {
    const char* name;     // component name
    const char* caption;  // "&" marks the key that presses it
    int result;           // the box's result when pressed; 0 keeps it open
};
const DialogButtonInfo& ButtonInfo(DialogButton button);

// The title bar text of a kind; empty for dkCustom, whose title is the
// application title at the moment the box is built.
const char* KindTitle(DialogKind kind);

// The box's spacings and sizes in pixels, worked out from the message font's
// average character width W and character height H.
struct TMessageMetrics {
    int horzMargin;
    int vertMargin;
    int horzSpacing;     // between icon and text
    int vertSpacing;     // between text and buttons
    int buttonWidthMin;  // lower bound of the button width
    int buttonHeight;
    int buttonSpacing;

    static TMessageMetrics For(int averageWidth, int height);
};

// a * b / c rounded to the nearest integer, halves away from zero. Answers -1
// when c is 0 or the result does not fit an int.
int MulDiv(int a, int b, int c);

class TMessageForm : public TModalForm {
    Q_OBJECT
public:
    explicit TMessageForm(QWidget* parent = nullptr);
    ~TMessageForm() override;

    // The text label "Message" (null until built).
    QLabel* Message() const { return message_; }
    // The buttons in creation order.
    const std::vector<QPushButton*>& Buttons() const { return buttons_; }
    QPushButton* DefaultButton() const { return defaultButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }
    const std::string& TitleText() const { return title_; }
    const std::string& MessageText() const { return text_; }

    // The text Ctrl+C puts on the clipboard: title, message and captions
    // (without "&") between dividers of 27 "-", every line ending in CR LF.
    std::string ClipboardText() const;
    // Beeps, then puts ClipboardText() on the clipboard as plain text.
    // Raises "Cannot open clipboard" when the clipboard cannot be used.
    void CopyToClipboard() const;

    // The width remembered for a button kind: 0 until a box with that button
    // was built, then fixed for the rest of the process.
    static int RememberedButtonWidth(DialogButton button);

    // Test hooks, so that tests of the windows that show boxes can answer
    // them without a visible box. A queued answer is taken first; then the
    // answer hook, when set, decides. Every box shown or answered this way
    // goes to the observer, when set.
    using AnswerHook = std::function<int(const std::string& text, DialogKind kind, const DialogButtons& buttons)>;
    using Observer = std::function<void(const std::string& text, DialogKind kind, const DialogButtons& buttons)>;
    static void SetNextAnswer(int result);
    static void SetAnswerHook(AnswerHook hook);
    static void SetObserver(Observer observer);
    // Drops the queued answers and both hooks.
    static void ClearTestHooks();
    // Makes the clipboard unusable for Ctrl+C (tests of the failure path).
    static void SimulateClipboardFailure(bool fail);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    friend std::unique_ptr<TMessageForm> BuildMessageForm(const std::string&, DialogKind, const DialogButtons&);
    friend int RunMessageForm(const std::string&, DialogKind, const DialogButtons&, int, int);

    // The box's own key handling, seen before the focused button: answers
    // true when the key was consumed.
    bool HandleKey(const QKeyEvent& event);
    void Press(QPushButton* button);
    void MoveFocus(bool forward);
    void Watch(QWidget* widget);

    QLabel* message_ = nullptr;
    std::vector<QPushButton*> buttons_;
    std::vector<char> mnemonics_;  // upper-case key of each button, or 0
    QPushButton* defaultButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::string title_;
    std::string text_;
    std::vector<std::string> captions_;
    // The screen to centre on when the box first shows (its frame is known
    // only then); null when the box keeps its position.
    QPointer<QScreen> centreOn_;
};

// Builds a new, hidden box around the text: the kind's title and icon, the
// chosen buttons in their fixed order, every size from the message font. An
// empty text still gives a box with its title and buttons. The caller owns
// the box.
std::unique_ptr<TMessageForm> BuildMessageForm(const std::string& text, DialogKind kind,
                                               const DialogButtons& buttons);

// Builds a box, places it (x and y, when at least 0, become its left and top
// edge; when both are negative it is centred on the screen of the active
// window), shows it modally and destroys it, also when showing failed.
// Answers the result: the pressed button's value, or 2 from the close box.
int RunMessageForm(const std::string& text, DialogKind kind, const DialogButtons& buttons, int x, int y);

// Shows the text in a box titled with the application title, without icon,
// with one OK button, centred on the screen. Returns when it is dismissed.
void ShowNotice(const std::string& text);

// Asks a yes/no question in a confirmation box ("Confirm", question icon,
// "&Yes" and "&No"). Answers 6 for yes, 7 for no, 2 when closed.
int AskConfirmation(const std::string& text);

}  // namespace vantelo
