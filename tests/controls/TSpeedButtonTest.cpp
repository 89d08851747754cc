// The image buttons: picture-and-caption layout, the classic face with the
// picture drawn through its mask, and the left-button state machine that runs
// the bound command.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include <memory>

#include "app/TApplication.h"
#include "controls/TAction.h"
#include "controls/TActionList.h"
#include "mainwin/TFormMain.h"
#include "controls/TSpeedButton.h"

using namespace vantelo;

namespace {

using Layout = TSpeedButton::Layout;
constexpr QRgb kMagenta = qRgb(255, 0, 255);

// Sends one mouse event straight to a widget (shown or not).
void Send(QWidget* widget, QEvent::Type type, Qt::MouseButton button, QPoint at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Pixels of `image` inside `area` that differ from `face`, as their bounding box.
QRect InkBox(const QImage& image, QRect area, QRgb face)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & RGB_MASK) != (face & RGB_MASK))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Every pixel of the picture is drawn as it is at `at`, except the magenta
// ones, which show the face. Answers the number of mismatches.
int PictureMismatches(const QImage& grab, const QImage& picture, QPoint at, QRgb face)
{
    int mismatches = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb source = picture.pixel(x, y) & RGB_MASK;
            const QRgb expected = source == (kMagenta & RGB_MASK) ? face & RGB_MASK : source;
            if ((grab.pixel(at.x() + x, at.y() + y) & RGB_MASK) != expected)
                ++mismatches;
        }
    return mismatches;
}

}  // namespace

TEST(SpeedButtonLayout, WorkedExampleAndTheOtherArrangements)
{
    const QRect client(2, 2, 109, 44);  // a 113 x 48 button
    const struct {
        const char* what;
        QPoint offset;
        QSize glyph;
        QSize caption;
        Layout layout;
        int margin;
        int spacing;
        QRect expectedGlyph;
        QRect expectedCaption;
    } rows[] = {
        {"worked example, up", {0, 0}, {32, 32}, {48, 12}, Layout::GlyphLeft, -1, 4, {15, 8, 32, 32}, {51, 18, 48, 12}},
        {"worked example, down", {1, 1}, {32, 32}, {48, 12}, Layout::GlyphLeft, -1, 4, {16, 9, 32, 32}, {52, 19, 48, 12}},
        {"empty caption: no spacing", {0, 0}, {32, 32}, {0, 0}, Layout::GlyphLeft, -1, 4, {41, 8, 32, 32}, {73, 24, 0, 0}},
        {"no picture", {0, 0}, {0, 0}, {48, 12}, Layout::GlyphLeft, -1, 4, {33, 24, 0, 0}, {33, 18, 48, 12}},
        {"even spread", {0, 0}, {32, 32}, {48, 12}, Layout::GlyphLeft, -1, -1, {11, 8, 32, 32}, {52, 18, 48, 12}},
        {"fixed margin", {0, 0}, {32, 32}, {48, 12}, Layout::GlyphLeft, 3, 4, {5, 8, 32, 32}, {41, 18, 48, 12}},
        {"picture right", {0, 0}, {32, 32}, {48, 12}, Layout::GlyphRight, -1, 4, {66, 8, 32, 32}, {14, 18, 48, 12}},
        // 44 - 48 + 1 = -3 halves to -1: the division drops the remainder toward zero.
        {"picture on top", {0, 0}, {32, 32}, {48, 12}, Layout::GlyphTop, -1, 4, {41, 1, 32, 32}, {33, 37, 48, 12}},
        {"picture below", {0, 0}, {32, 32}, {48, 12}, Layout::GlyphBottom, -1, 4, {41, 15, 32, 32}, {33, -1, 48, 12}},
    };
    for (const auto& row : rows) {
        const auto placement =
            TSpeedButton::CalcLayout(client, row.offset, row.glyph, row.caption, row.layout, row.margin, row.spacing);
        EXPECT_EQ(placement.glyph, row.expectedGlyph) << row.what;
        EXPECT_EQ(placement.caption, row.expectedCaption) << row.what;
    }
}

class SpeedButtonOnFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TFormMain>();
        button = form->findChild<TSpeedButton*>("SpeedButton1");
        ASSERT_NE(button, nullptr);
        face = button->palette().color(QPalette::Button).rgb();
    }
    void TearDown() override { Send(button, QEvent::MouseButtonRelease, Qt::LeftButton, {-10, -10}); }
    std::unique_ptr<TFormMain> form;
    TSpeedButton* button = nullptr;
    QRgb face = 0;
};

TEST_F(SpeedButtonOnFormTest, UpFaceShowsPictureThroughItsMaskAndCaptionWhereTheLayoutPutsThem)
{
    ASSERT_EQ(button->CaptionSize(), QSize(48, 12));
    const auto placement = button->CurrentPlacement();
    EXPECT_EQ(placement.glyph.topLeft(), QPoint(15, 8));
    EXPECT_EQ(placement.caption, QRect(QPoint(51, 18), QPoint(98, 29)));  // (51, 18)-(99, 30)

    const QImage grab = button->grab().toImage();
    ASSERT_EQ(grab.size(), QSize(113, 48));
    const QImage& picture = button->Glyph().Picture();
    ASSERT_EQ(picture.size(), QSize(32, 32));
    EXPECT_EQ(PictureMismatches(grab, picture, {15, 8}, face), 0);
    // The caption's ink lies inside its rectangle, between picture and frame
    // (the Song face inks one row below its 12-pixel cell, and the text is not
    // clipped to it).
    const QRect ink = InkBox(grab, QRect(49, 2, 113 - 2 - 49, 44), face);
    EXPECT_FALSE(ink.isEmpty());
    EXPECT_TRUE(placement.caption.adjusted(0, 0, 0, 1).contains(ink))
        << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
    EXPECT_GE(ink.width(), 44) << "four characters fill most of the 48 pixels";
    // A raised frame: light on the top-left edge, dark on the bottom-right.
    EXPECT_NE(grab.pixel(0, 0) & RGB_MASK, grab.pixel(112, 47) & RGB_MASK);
    for (int y = 2; y < 46; ++y)
        EXPECT_EQ(grab.pixel(48, y) & RGB_MASK, face & RGB_MASK) << "face between picture and caption, row " << y;
}

TEST_F(SpeedButtonOnFormTest, PressedFaceIsSunkenWithEverythingOnePixelDownAndRight)
{
    const QImage up = button->grab().toImage();
    Send(button, QEvent::MouseButtonPress, Qt::LeftButton, {50, 20});
    ASSERT_EQ(button->ButtonState(), TButtonState::Down);
    const QImage down = button->grab().toImage();

    const auto placement = button->CurrentPlacement();
    EXPECT_EQ(placement.glyph.topLeft(), QPoint(16, 9));
    EXPECT_EQ(placement.caption, QRect(52, 19, 48, 12));
    EXPECT_EQ(PictureMismatches(down, button->Glyph().Picture(), {16, 9}, face), 0);
    const QRect upInk = InkBox(up, QRect(49, 3, 60, 42), face);
    const QRect downInk = InkBox(down, QRect(49, 3, 60, 42), face);
    EXPECT_FALSE(upInk.isEmpty());
    EXPECT_EQ(downInk, upInk.translated(1, 1));
    // Sunken: the frame's corners swap their light and dark.
    EXPECT_NE(up.pixel(0, 0), down.pixel(0, 0));
}

TEST_F(SpeedButtonOnFormTest, StoredDescriptionGivesEachButtonItsCommandAndPicture)
{
    auto* other = form->findChild<TSpeedButton*>("SpeedButton2");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(button->Action(), TAction::Of(form->findChild<QAction*>("ActionSearch")));
    EXPECT_EQ(other->Action(), TAction::Of(form->findChild<QAction*>("ActionBegin")));
    for (TSpeedButton* b : {button, other}) {
        ASSERT_NE(b->Action(), nullptr);
        EXPECT_EQ(b->Glyph().Picture().size(), QSize(32, 32));
        EXPECT_EQ(b->Glyph().NumGlyphs(), 1);
        EXPECT_EQ(b->Glyph().TransparentColor(), QColor(255, 0, 255));
        EXPECT_NE(b->Glyph().ImageIndex(TButtonState::Up), -1) << "the up image is prepared when loaded";
        EXPECT_EQ(b->GlyphLayout(), Layout::GlyphLeft);
        EXPECT_EQ(b->Margin(), -1);
        EXPECT_EQ(b->Spacing(), 4);
        EXPECT_EQ(b->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_TRUE(b->Action()->Enabled());
        EXPECT_TRUE(b->Action()->HasOnExecute());
    }
    EXPECT_EQ(button->Glyph().List(), other->Glyph().List()) << "one list for the pictures of one size";
    EXPECT_NE(button->Glyph().Picture(), other->Glyph().Picture());
    auto* list = form->findChild<TActionList*>("ActionList1");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Actions().size(), 2u);
    EXPECT_EQ(button->Action()->ImageIndex(), 0);
    EXPECT_EQ(other->Action()->ImageIndex(), 1);
    ASSERT_EQ(list->Images().size(), 2);
    EXPECT_EQ(list->Images()[1].size(), QSize(32, 32));
    EXPECT_FALSE(QGuiApplication::windowIcon().isNull());
}

// A shown window with one image button bound to a command that counts its runs.
class SpeedButtonMouseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host = std::make_unique<QWidget>();
        host->resize(400, 120);
        QFont font(QStringLiteral("宋体"));
        font.setPixelSize(12);
        host->setFont(font);
        edit1 = new QLineEdit(host.get());
        edit1->setGeometry(10, 80, 100, 20);
        button = new TSpeedButton(host.get());
        button->setObjectName(QStringLiteral("SpeedButton1"));
        button->setGeometry(120, 10, 113, 48);
        edit2 = new QLineEdit(host.get());
        edit2->setGeometry(250, 80, 100, 20);
        source = new QAction(QStringLiteral("搜索文件"), host.get());
        list = new TActionList(host.get());
        action = new TAction(*source, list);
        action->SetOnExecute([this](QObject* sender) {
            ++runs;
            lastSender = sender;
            lastComponent = action->ActionComponent();
        });
        button->SetAction(action);
        button->Loaded();
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    }
    void TearDown() override
    {
        if (Application)
            Application->SetMessageBoxHook({});
    }

    std::unique_ptr<QWidget> host;
    QLineEdit* edit1 = nullptr;
    QLineEdit* edit2 = nullptr;
    TSpeedButton* button = nullptr;
    QAction* source = nullptr;
    TActionList* list = nullptr;
    TAction* action = nullptr;
    int runs = 0;
    QObject* lastSender = nullptr;
    QObject* lastComponent = nullptr;
};

TEST_F(SpeedButtonMouseTest, DragsOffAndBackDecideWhetherTheReleaseRunsTheCommand)
{
    const QPoint in(20, 20);
    const QPoint right(150, 20);   // beyond the width
    const QPoint below(20, 48);    // y == height is outside
    const QPoint edge(112, 47);    // the last pixel inside
    const struct {
        const char* what;
        std::vector<QPoint> moves;
        QPoint release;
        int runs;
    } rows[] = {
        {"plain click", {}, in, 1},
        {"click on the last pixel", {}, edge, 1},
        {"drag off and release", {right}, right, 0},
        {"drag off and back", {right, in}, in, 1},
        {"release below", {}, below, 0},
        {"release outside after moving inside", {in}, right, 0},
        {"off, on, off again", {right, in, below}, below, 0},
    };
    for (const auto& row : rows) {
        runs = 0;
        QTest::mousePress(button, Qt::LeftButton, {}, in);
        EXPECT_EQ(button->ButtonState(), TButtonState::Down) << row.what;
        EXPECT_TRUE(button->Dragging()) << row.what;
        for (QPoint move : row.moves) {
            QTest::mouseMove(button, move);
            const bool inside = move.x() >= 0 && move.x() < 113 && move.y() >= 0 && move.y() < 48;
            EXPECT_EQ(button->ButtonState(), inside ? TButtonState::Down : TButtonState::Up) << row.what;
        }
        QTest::mouseRelease(button, Qt::LeftButton, {}, row.release);
        EXPECT_EQ(runs, row.runs) << row.what;
        EXPECT_EQ(button->ButtonState(), TButtonState::Up) << row.what;
        EXPECT_FALSE(button->Dragging()) << row.what;
    }
}

TEST_F(SpeedButtonMouseTest, DoubleClickRunsTheCommandTwice)
{
    // Through the window, as the windowing system delivers it: press,
    // release, press (reported as a double-click), release.
    const QPoint at = button->mapTo(host.get(), QPoint(30, 30));
    QTest::mouseDClick(host->windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_EQ(runs, 2);
    // The same with the double-click event standing in for the second press.
    runs = 0;
    Send(button, QEvent::MouseButtonPress, Qt::LeftButton, {30, 30});
    Send(button, QEvent::MouseButtonRelease, Qt::LeftButton, {30, 30});
    Send(button, QEvent::MouseButtonDblClick, Qt::LeftButton, {30, 30});
    Send(button, QEvent::MouseButtonRelease, Qt::LeftButton, {30, 30});
    EXPECT_EQ(runs, 2);
}

TEST_F(SpeedButtonMouseTest, RightAndMiddleButtonsDoNothing)
{
    for (Qt::MouseButton other : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(button, other, {}, {30, 30});
        EXPECT_EQ(button->ButtonState(), TButtonState::Up);
        EXPECT_FALSE(button->Dragging());
        QTest::mouseRelease(button, other, {}, {30, 30});
        QTest::mouseDClick(host->windowHandle(), other, {}, button->mapTo(host.get(), QPoint(30, 30)));
    }
    EXPECT_EQ(runs, 0);
}

TEST_F(SpeedButtonMouseTest, CommandRunsWithItselfAsSenderAndTheButtonAsTrigger)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, {30, 30});
    ASSERT_EQ(runs, 1);
    EXPECT_EQ(lastSender, action);
    EXPECT_EQ(lastComponent, button);
    EXPECT_EQ(action->ActionComponent(), nullptr) << "only while it runs";
}

TEST_F(SpeedButtonMouseTest, AClickHandlerOfTheButtonsOwnRunsInsteadOfTheCommand)
{
    QObject* sender = nullptr;
    button->SetOnClick([&sender](QObject* s) { sender = s; });
    QTest::mouseClick(button, Qt::LeftButton, {}, {30, 30});
    EXPECT_EQ(sender, button);
    EXPECT_EQ(runs, 0);
}

TEST_F(SpeedButtonMouseTest, NothingRunsWhileTheCommandIsDisabledOrItsListSuspended)
{
    action->SetEnabled(false);
    EXPECT_FALSE(button->isEnabled()) << "the button follows its command";
    QTest::mouseClick(button, Qt::LeftButton, {}, {30, 30});
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(button->grab().toImage().isNull(), false);
    EXPECT_EQ(button->ButtonState(), TButtonState::Disabled) << "painting shows the disabled state";

    action->SetEnabled(true);
    list->SetListState(TActionList::State::Suspended);
    QTest::mouseClick(button, Qt::LeftButton, {}, {30, 30});
    EXPECT_EQ(runs, 0);
    list->SetListState(TActionList::State::Normal);
    QTest::mouseClick(button, Qt::LeftButton, {}, {30, 30});
    EXPECT_EQ(runs, 1);
}

TEST_F(SpeedButtonMouseTest, AnErrorInTheCommandIsShownAndLeavesTheButtonUp)
{
    ASSERT_NE(Application, nullptr);
    std::vector<std::string> boxes;
    Application->SetMessageBoxHook([&boxes](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        return TApplication::IDOK;
    });
    action->SetOnExecute([](QObject*) { throw Exception("Disk full"); });
    QTest::mouseClick(button, Qt::LeftButton, {}, {30, 30});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Disk full.");
    EXPECT_EQ(button->ButtonState(), TButtonState::Up);
    EXPECT_FALSE(button->Dragging());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(SpeedButtonMouseTest, TabNeverStopsOnTheButtonAndAClickLeavesTheFocusAlone)
{
    QApplication::setActiveWindow(host.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
    edit1->setFocus();
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), button);
    }
    EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    edit2->setFocus();
    QTest::mouseClick(button, Qt::LeftButton, {}, {30, 30});
    EXPECT_EQ(QApplication::focusWidget(), edit2);
    // No key presses it.
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter})
        QTest::keyClick(host.get(), key);
    EXPECT_EQ(runs, 1);
}

TEST(SpeedButtonPictures, GrabOfBothButtonsForTheRecord)
{
    // Pictures to look at, not a check: the two buttons up and pressed.
    const char* out = std::getenv("VANTELO_BINARY_DIR");
    if (!out)
        GTEST_SKIP() << "no build folder to write into";
    TFormMain form;
    QImage sheet(2 * 113 + 30, 2 * 48 + 30, QImage::Format_RGB32);
    sheet.fill(form.palette().color(QPalette::Button));
    QPainter painter(&sheet);
    int column = 0;
    for (const char* name : {"SpeedButton1", "SpeedButton2"}) {
        auto* b = form.findChild<TSpeedButton*>(name);
        painter.drawImage(10 + column * 123, 10, b->grab().toImage());
        Send(b, QEvent::MouseButtonPress, Qt::LeftButton, {20, 20});
        painter.drawImage(10 + column * 123, 68, b->grab().toImage());
        Send(b, QEvent::MouseButtonRelease, Qt::LeftButton, {-5, -5});
        ++column;
    }
    painter.end();
    EXPECT_TRUE(sheet.save(QString(out) + "/speed-buttons.png"));
}
