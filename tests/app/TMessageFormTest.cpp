// The message box: its sizes from the message font, its layout for the
// notice and the yes/no prompt, its keys, the Ctrl+C copy and its failure,
// placement, and the test hooks. Real boxes are shown modally and driven with
// simulated keys once they are up.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "app/MessageTexts.h"
#include "app/TApplication.h"
#include "app/TMessageForm.h"

using namespace vantelo;

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

TMessageMetrics FontMetrics()
{
    const QFontMetrics fm(QApplication::font("QMessageBox"));
    return TMessageMetrics::For(fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52,
                                fm.height());
}

int LineHeight()
{
    return QFontMetrics(QApplication::font("QMessageBox")).height();
}

int HalfScreen()
{
    return QGuiApplication::primaryScreen()->geometry().width() / 2;
}

QWidget* KeyTarget(TMessageForm& form)
{
    return form.focusWidget() ? form.focusWidget() : &form;
}

void Key(TMessageForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(KeyTarget(form), key, modifiers);
}

// Runs `run` (which shows a box modally) and, once the box is up, calls
// `drive` with it. A box that `drive` leaves open is closed with -1, so a
// test that expected it to close fails instead of hanging.
int RunDriven(const std::function<int()>& run, const std::function<void(TMessageForm&)>& drive)
{
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* form = qobject_cast<TMessageForm*>(QApplication::activeModalWidget());
        if (!form || !form->isVisible())
            return;
        poll.stop();
        drive(*form);
        if (form->isVisible())
            form->SetModalResult(-1);
    });
    poll.start();
    return run();
}

int Notice(const std::function<void(TMessageForm&)>& drive, const std::string& text = "Hello")
{
    return RunDriven([&] { return RunMessageForm(text, dkCustom, {btnOK}, -1, -1); }, drive);
}

const char* const kPrompt = "The specified directory does not exist. Create it?";

int Prompt(const std::function<void(TMessageForm&)>& drive)
{
    return RunDriven([&] { return AskConfirmation(kPrompt); }, drive);
}

std::string Divider()
{
    return std::string(27, '-') + "\r\n";
}

class MessageFormTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        TMessageForm::ClearTestHooks();
        TMessageForm::SimulateClipboardFailure(false);
        Application->SetMessageBoxHook(nullptr);
        // No box outlives its call.
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_EQ(qobject_cast<TMessageForm*>(widget), nullptr) << "a message box was leaked";
    }
};

}  // namespace

TEST(MessageMetrics, FollowTheFontsAverageWidthAndHeight)
{
    const TMessageMetrics six = TMessageMetrics::For(6, 13);
    EXPECT_EQ(six.horzMargin, 12);
    EXPECT_EQ(six.vertMargin, 13);
    EXPECT_EQ(six.horzSpacing, 15);
    EXPECT_EQ(six.vertSpacing, 16);
    EXPECT_EQ(six.buttonWidthMin, 75);
    EXPECT_EQ(six.buttonHeight, 23);
    EXPECT_EQ(six.buttonSpacing, 6);
    // 50 * 7 / 4 = 87.5 rounds up.
    EXPECT_EQ(TMessageMetrics::For(7, 13).buttonWidthMin, 88);
}

TEST(MessageMetrics, MulDivRoundsHalvesAwayFromZero)
{
    struct Row {
        int a, b, c, expected;
    };
    const Row rows[] = {
        {50, 7, 4, 88},  {-50, 7, 4, -88}, {50, -7, 4, -88}, {50, 7, -4, -88}, {1, 1, 2, 1},
        {-1, 1, 2, -1},  {10, 13, 8, 16},  {14, 13, 8, 23},  {1, 1, 3, 0},     {2, 1, 3, 1},
        {7, 7, 0, -1},   {0x7fffffff, 4, 2, -1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(MulDiv(row.a, row.b, row.c), row.expected) << row.a << "*" << row.b << "/" << row.c;
}

TEST_F(MessageFormTest, ShortNoticeIsAsWideAsItsButtonWithTheButtonCentred)
{
    const TMessageMetrics m = FontMetrics();
    auto form = BuildMessageForm("Hi", dkCustom, {btnOK});
    ASSERT_EQ(form->Buttons().size(), 1u);
    QPushButton* ok = form->Buttons().front();
    EXPECT_EQ(ok->objectName(), "OK");
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(form->DefaultButton(), ok);
    EXPECT_EQ(form->CancelButton(), ok);
    EXPECT_GE(ok->width(), m.buttonWidthMin);
    EXPECT_EQ(ok->height(), m.buttonHeight);

    EXPECT_EQ(form->width(), ok->width() + 2 * m.horzMargin);
    EXPECT_EQ(ok->x(), (form->width() - ok->width()) / 2);
    EXPECT_EQ(form->Message()->objectName(), "Message");
    EXPECT_EQ(form->Message()->x(), m.horzMargin);
    EXPECT_EQ(form->Message()->y(), m.vertMargin);
    EXPECT_EQ(form->Message()->height(), LineHeight());
    EXPECT_EQ(ok->y(), LineHeight() + m.vertMargin + m.vertSpacing);
    EXPECT_EQ(form->height(), LineHeight() + m.buttonHeight + m.vertSpacing + 2 * m.vertMargin);
    EXPECT_EQ(form->findChild<QLabel*>("Image"), nullptr);

    EXPECT_EQ(form->windowTitle(), Q(Application->Title()));
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the frame is fixed";
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form->palette().color(QPalette::Window), form->palette().color(QPalette::Button));
}

TEST_F(MessageFormTest, LongTextWrapsAtHalfTheScreenAndTheBoxGrowsInHeight)
{
    const TMessageMetrics m = FontMetrics();
    std::string text;
    for (int i = 0; i < 120; ++i)
        text += "words ";
    auto form = BuildMessageForm(text, dkCustom, {btnOK});
    QLabel* label = form->Message();
    EXPECT_LE(label->width(), HalfScreen());
    EXPECT_GT(label->width(), HalfScreen() / 2);
    EXPECT_LE(form->width(), HalfScreen() + 2 * m.horzMargin);
    EXPECT_GE(label->height(), 3 * LineHeight());
    EXPECT_EQ(form->height(), label->height() + m.buttonHeight + m.vertSpacing + 2 * m.vertMargin);

    // Only a single word wider than half the screen widens the box.
    const std::string word(HalfScreen() / 2, 'W');
    auto wide = BuildMessageForm(word + " tail", dkCustom, {btnOK});
    EXPECT_GT(wide->Message()->width(), HalfScreen());
    EXPECT_EQ(wide->width(), wide->Message()->width() + 2 * m.horzMargin);

    // Line breaks in the text start new lines.
    auto lines = BuildMessageForm("one\ntwo\nthree", dkCustom, {btnOK});
    EXPECT_EQ(lines->Message()->height(), 3 * LineHeight());
}

TEST_F(MessageFormTest, EmptyTextStillGivesTitleAndOk)
{
    const TMessageMetrics m = FontMetrics();
    auto form = BuildMessageForm("", dkCustom, {btnOK});
    EXPECT_EQ(form->windowTitle(), Q(Application->Title()));
    ASSERT_EQ(form->Buttons().size(), 1u);
    EXPECT_EQ(form->Buttons().front()->text(), "OK");
    EXPECT_EQ(form->Message()->width(), 0);
    EXPECT_EQ(form->width(), form->Buttons().front()->width() + 2 * m.horzMargin);
    EXPECT_EQ(form->Message()->height(), LineHeight());
}

TEST_F(MessageFormTest, AmpersandUnderlinesTheNextCharacterAndADoubleOneShowsOne)
{
    const QFontMetrics fm(QApplication::font("QMessageBox"));
    // Measured as drawn: the marker takes no room, "&&" takes one "&".
    auto marked = BuildMessageForm("&Hello", dkCustom, {btnOK});
    auto plain = BuildMessageForm("Hello", dkCustom, {btnOK});
    auto doubled = BuildMessageForm("A&&B", dkCustom, {btnOK});
    EXPECT_EQ(marked->Message()->width(), plain->Message()->width());
    EXPECT_EQ(doubled->Message()->width(), fm.horizontalAdvance(QStringLiteral("A&B")));

    // Drawn: the underline is the only difference between the two labels.
    const QImage markedImage = marked->Message()->grab().toImage();
    const QImage plainImage = plain->Message()->grab().toImage();
    ASSERT_EQ(markedImage.size(), plainImage.size());
    EXPECT_NE(markedImage, plainImage);
    auto singleAmp = BuildMessageForm("A&B", dkCustom, {btnOK});
    EXPECT_LT(singleAmp->Message()->width(), doubled->Message()->width());
}

TEST_F(MessageFormTest, PromptHasQuestionIconConfirmTitleAndYesNoCentred)
{
    const TMessageMetrics m = FontMetrics();
    auto form = BuildMessageForm(kPrompt, dkConfirmation, {btnNo, btnYes});
    EXPECT_EQ(form->windowTitle(), "Confirm");
    auto* image = form->findChild<QLabel*>("Image");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->geometry(), QRect(m.horzMargin, m.vertMargin, 32, 32));
    EXPECT_FALSE(image->pixmap().isNull());
    EXPECT_EQ(form->Message()->x(), m.horzMargin + 32 + m.horzSpacing);

    ASSERT_EQ(form->Buttons().size(), 2u);
    QPushButton* yes = form->Buttons()[0];
    QPushButton* no = form->Buttons()[1];
    EXPECT_EQ(yes->objectName(), "Yes");
    EXPECT_EQ(yes->text(), "&Yes");
    EXPECT_EQ(no->objectName(), "No");
    EXPECT_EQ(no->text(), "&No");
    EXPECT_EQ(form->DefaultButton(), yes);
    EXPECT_EQ(form->CancelButton(), no);
    EXPECT_EQ(no->x() - yes->x(), yes->width() + m.buttonSpacing);
    const int group = 2 * yes->width() + m.buttonSpacing;
    EXPECT_EQ(yes->x(), (form->width() - group) / 2);
    EXPECT_EQ(yes->y(), std::max(form->Message()->height(), 32) + m.vertMargin + m.vertSpacing);
}

TEST_F(MessageFormTest, ButtonWidthsAreMeasuredOnceForTheWholeRun)
{
    auto first = BuildMessageForm("x", dkCustom, {btnOK, btnNoToAll});
    const int ok = TMessageForm::RememberedButtonWidth(btnOK);
    const int noToAll = TMessageForm::RememberedButtonWidth(btnNoToAll);
    EXPECT_GT(ok, 0);
    EXPECT_GT(noToAll, ok);
    const QFont saved = QApplication::font("QMessageBox");
    QFont huge = saved;
    huge.setPixelSize(40);
    QApplication::setFont(huge, "QMessageBox");
    auto second = BuildMessageForm("x", dkCustom, {btnOK, btnNoToAll});
    QApplication::setFont(saved, "QMessageBox");
    EXPECT_EQ(TMessageForm::RememberedButtonWidth(btnOK), ok);
    EXPECT_EQ(TMessageForm::RememberedButtonWidth(btnNoToAll), noToAll);
}

TEST_F(MessageFormTest, NoticeKeysAndCloseBox)
{
    struct Row {
        const char* what;
        std::function<void(TMessageForm&)> drive;
        int expected;
    };
    const std::vector<Row> rows = {
        {"Escape", [](TMessageForm& f) { Key(f, Qt::Key_Escape); }, 1},
        {"Enter", [](TMessageForm& f) { Key(f, Qt::Key_Return); }, 1},
        {"keypad Enter", [](TMessageForm& f) { Key(f, Qt::Key_Enter, Qt::KeypadModifier); }, 1},
        {"Space", [](TMessageForm& f) { Key(f, Qt::Key_Space); }, 1},
        {"click", [](TMessageForm& f) { QTest::mouseClick(f.Buttons().front(), Qt::LeftButton); }, 1},
        {"close box", [](TMessageForm& f) { f.close(); }, 2},
        {"Shift+Escape then close", [](TMessageForm& f) {
             Key(f, Qt::Key_Escape, Qt::ShiftModifier);
             Key(f, Qt::Key_Return, Qt::ControlModifier);
             EXPECT_TRUE(f.isVisible());
             f.close();
         }, 2},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Notice(row.drive), row.expected) << row.what;
}

TEST_F(MessageFormTest, PromptKeysConsentAndRefusal)
{
    struct Row {
        const char* what;
        std::function<void(TMessageForm&)> drive;
        int expected;
    };
    const std::vector<Row> rows = {
        {"Escape", [](TMessageForm& f) { Key(f, Qt::Key_Escape); }, 7},
        {"N", [](TMessageForm& f) { Key(f, Qt::Key_N); }, 7},
        {"Alt+N", [](TMessageForm& f) { Key(f, Qt::Key_N, Qt::AltModifier); }, 7},
        {"close box", [](TMessageForm& f) { f.close(); }, 2},
        {"Y", [](TMessageForm& f) { Key(f, Qt::Key_Y); }, 6},
        {"Alt+Y", [](TMessageForm& f) { Key(f, Qt::Key_Y, Qt::AltModifier); }, 6},
        {"Enter on Yes", [](TMessageForm& f) {
             EXPECT_EQ(f.focusWidget(), f.Buttons()[0]) << "Yes has the focus first";
             Key(f, Qt::Key_Return);
         }, 6},
        {"Right, Enter", [](TMessageForm& f) { Key(f, Qt::Key_Right); Key(f, Qt::Key_Return); }, 7},
        {"Down, Space", [](TMessageForm& f) { Key(f, Qt::Key_Down); Key(f, Qt::Key_Space); }, 7},
        {"Left wraps to No", [](TMessageForm& f) { Key(f, Qt::Key_Left); Key(f, Qt::Key_Return); }, 7},
        {"Tab, Tab wraps to Yes", [](TMessageForm& f) {
             Key(f, Qt::Key_Tab);
             EXPECT_EQ(f.focusWidget(), f.Buttons()[1]);
             Key(f, Qt::Key_Tab);
             Key(f, Qt::Key_Return);
         }, 6},
        {"Shift+Tab wraps to No", [](TMessageForm& f) { Key(f, Qt::Key_Backtab, Qt::ShiftModifier); Key(f, Qt::Key_Return); }, 7},
        {"Up from No back to Yes", [](TMessageForm& f) {
             Key(f, Qt::Key_Right);
             Key(f, Qt::Key_Up);
             Key(f, Qt::Key_Space);
         }, 6},
        {"Ctrl+Y and other letters do nothing", [](TMessageForm& f) {
             Key(f, Qt::Key_Y, Qt::ControlModifier);
             Key(f, Qt::Key_X);
             EXPECT_TRUE(f.isVisible());
             f.close();
         }, 2},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Prompt(row.drive), row.expected) << row.what;
}

TEST_F(MessageFormTest, CtrlCCopiesTheNoticeAndKeepsItOpen)
{
    std::string copied;
    const int result = Notice([&](TMessageForm& f) {
        QGuiApplication::clipboard()->setText("before");
        Key(f, Qt::Key_C, Qt::ControlModifier);
        EXPECT_TRUE(f.isVisible());
        copied = QGuiApplication::clipboard()->text().toStdString();
        Key(f, Qt::Key_Escape);
    }, "数据库打开失败 & more");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(copied, Divider() + Application->Title() + "\r\n" + Divider() + "数据库打开失败 & more\r\n" + Divider() +
                          "OK   \r\n" + Divider());
}

TEST_F(MessageFormTest, CtrlCCopiesThePromptWithoutAmpersandsAndOnlyWithCtrlAlone)
{
    std::string copied, afterShift, afterAlt;
    const int result = Prompt([&](TMessageForm& f) {
        QGuiApplication::clipboard()->setText("before");
        Key(f, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        afterShift = QGuiApplication::clipboard()->text().toStdString();
        Key(f, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
        afterAlt = QGuiApplication::clipboard()->text().toStdString();
        Key(f, Qt::Key_Right);  // the focus on a button does not matter
        Key(f, Qt::Key_C, Qt::ControlModifier);
        copied = QGuiApplication::clipboard()->text().toStdString();
        EXPECT_TRUE(f.isVisible());
        Key(f, Qt::Key_Escape);
    });
    EXPECT_EQ(result, 7);
    EXPECT_EQ(afterShift, "before");
    EXPECT_EQ(afterAlt, "before");
    EXPECT_EQ(copied, Divider() + "Confirm\r\n" + Divider() + kPrompt + "\r\n" + Divider() + "Yes   No   \r\n" +
                          Divider());
}

TEST_F(MessageFormTest, ClipboardFailureReachesTheErrorBoxAndTheBoxStaysUsable)
{
    std::vector<std::string> errors;
    Application->SetMessageBoxHook([&](const std::string& text, const std::string& caption, unsigned flags) {
        errors.push_back(text);
        EXPECT_EQ(caption, Application->Title());
        EXPECT_TRUE(flags & TApplication::MB_ICONSTOP);
        return TApplication::IDOK;
    });
    TMessageForm::SimulateClipboardFailure(true);
    bool stayedOpen = false;
    const int result = Prompt([&](TMessageForm& f) {
        Key(f, Qt::Key_C, Qt::ControlModifier);
        stayedOpen = f.isVisible();
        Key(f, Qt::Key_Y);
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(result, 6);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Cannot open clipboard.");
    EXPECT_EQ(std::string(texts::kCannotOpenClipboard) + ".", errors[0]);
}

TEST_F(MessageFormTest, PlacementTakesXAndYOrCentresOnTheScreen)
{
    QPoint placed;
    RunDriven([] { return RunMessageForm("placed", dkCustom, {btnOK}, 10, 20); },
              [&](TMessageForm& f) {
                  placed = f.pos();
                  Key(f, Qt::Key_Return);
              });
    EXPECT_EQ(placed, QPoint(10, 20));

    QRect centred;
    Notice([&](TMessageForm& f) {
        centred = f.frameGeometry();
        Key(f, Qt::Key_Return);
    });
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(centred.left(), (screen.width() - centred.width()) / 2);
    EXPECT_EQ(centred.top(), (screen.height() - centred.height()) / 2);
}

TEST_F(MessageFormTest, ScriptedAnswersSkipTheBoxAndAreRecorded)
{
    std::vector<std::string> seen;
    TMessageForm::SetObserver([&](const std::string& text, DialogKind kind, const DialogButtons& buttons) {
        seen.push_back(text + (kind == dkConfirmation ? "?" : "") + std::to_string(buttons.size()));
    });
    TMessageForm::SetNextAnswer(7);
    TMessageForm::SetNextAnswer(6);
    EXPECT_EQ(AskConfirmation("first"), 7);
    EXPECT_EQ(AskConfirmation("second"), 6);
    TMessageForm::SetAnswerHook([](const std::string&, DialogKind, const DialogButtons&) { return 1; });
    ShowNotice("third");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"first?2", "second?2", "third1"}));
}
