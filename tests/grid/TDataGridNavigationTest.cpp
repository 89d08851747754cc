// How the file list grid answers the keys, the mouse, the wheel and its
// scroll bar, and how it follows the cursor through a walk.
// The stored description of the main window, compiled for this test.
#include "ui_FormMain.h"

#include "TDataGridFixture.h"

#include "app/TApplication.h"
#include "grid/GridTexts.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

using namespace vantelo;
using namespace vantelo::test;

namespace {

class GridNavigationTest : public GridFixture {
protected:
    void OpenWith(int rows)
    {
        Fill(rows);
        query.Open();
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(grid, static_cast<Qt::Key>(key), modifiers);
    }
    QPoint TitleCentre(int column) const { return grid->CellRect(column, 0).center(); }
    void Turn(QWidget* target, int delta)
    {
        QWheelEvent wheel(QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &wheel);
    }
    void Send(QEvent::Type type, Qt::MouseButton button, QPoint at)
    {
        QMouseEvent event(type, at, grid->mapToGlobal(at), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
        QApplication::sendEvent(grid, &event);
    }
    // Opens bar's context menu at `at`, notes its entries and picks the one
    // whose text is `entry` with the mouse (none: the menu is closed).
    QStringList ChooseFromBarMenu(QScrollBar* bar, QPoint at, const char* entry)
    {
        QStringList texts;
        const QObject scope;  // no pick after this function returned
        QTimer::singleShot(0, &scope, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr)
                return;
            QAction* pick = nullptr;
            for (QAction* action : menu->actions())
                if (!action->isSeparator()) {
                    texts << action->text();
                    if (entry != nullptr && action->text() == QString::fromUtf8(entry))
                        pick = action;
                }
            if (pick != nullptr)
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(pick).center());
            else
                menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
        QApplication::sendEvent(bar, &event);
        return texts;
    }
    // The 1-pixel line after a column's title cell.
    int LineAfter(int column) const { return grid->CellRect(column, 0).right() + 1; }
};

}  // namespace

TEST_F(GridNavigationTest, PageKeysMoveByTheVisibleRowsAndToTheWindowsEnds)
{
    OpenWith(40);
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        int64_t recNo;
        int row;
    } steps[] = {
        {Qt::Key_PageDown, Qt::NoModifier, 16, 15},   // 15 visible data rows
        {Qt::Key_PageUp, Qt::NoModifier, 1, 1},
        {Qt::Key_PageDown, Qt::ControlModifier, 15, 15},  // bottom of the window, no scrolling
        {Qt::Key_PageUp, Qt::ControlModifier, 1, 1},      // top of the window
        {Qt::Key_Down, Qt::ControlModifier, 15, 15},
        {Qt::Key_Up, Qt::ControlModifier, 1, 1},
        {Qt::Key_End, Qt::NoModifier, 40, 15},
        {Qt::Key_Home, Qt::NoModifier, 1, 1},
        {Qt::Key_End, Qt::ControlModifier, 40, 15},
        {Qt::Key_Home, Qt::ControlModifier, 1, 1},
        {Qt::Key_Down, Qt::NoModifier, 2, 2},
        {Qt::Key_Up, Qt::NoModifier, 1, 1},
        {Qt::Key_Up, Qt::NoModifier, 1, 1},
    };
    for (const auto& step : steps) {
        Key(step.key, step.modifiers);
        EXPECT_EQ(RecNo(), step.recNo) << step.key;
        EXPECT_EQ(grid->CurrentRow(), step.row) << step.key;
    }
}

TEST_F(GridNavigationTest, DownOnTheLastVisibleRowShiftsTheBandUpOneRow)
{
    OpenWith(40);
    ShowFocused();
    Key(Qt::Key_PageDown, Qt::ControlModifier);
    ASSERT_EQ(RecNo(), 15);
    const QImage before = Grab();
    const int repaints = grid->SynchronousRepaints();
    // Let one display frame pass: repaints closer together are coalesced.
    QTest::qWait(TDataGrid::kFrameMilliseconds + 4);
    Key(Qt::Key_Down);
    EXPECT_EQ(RecNo(), 16);
    EXPECT_EQ(grid->CurrentRow(), 15);
    EXPECT_GT(grid->SynchronousRepaints(), repaints);
    const QImage after = Grab();
    // Rows 2..14 of before are rows 1..13 now: 17 pixels higher.
    const QRect band(grid->CellRect(1, 2).topLeft(), grid->CellRect(2, 14).bottomRight());
    EXPECT_EQ(after.copy(band.translated(0, -17)), before.copy(band));
    EXPECT_EQ(grid->VerticalScrollBar()->value(), 16);
}

TEST_F(GridNavigationTest, ReadOnlyKeysDoNothing)
{
    OpenWith(5);
    query.Next();
    const std::pair<int, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_Delete, Qt::ControlModifier}, {Qt::Key_Insert, Qt::NoModifier}, {Qt::Key_F2, Qt::NoModifier},
        {Qt::Key_C, Qt::ControlModifier},      {Qt::Key_V, Qt::ControlModifier},  {Qt::Key_X, Qt::ControlModifier},
        {Qt::Key_A, Qt::ControlModifier},      {Qt::Key_Insert, Qt::ShiftModifier}, {Qt::Key_Return, Qt::NoModifier},
        {Qt::Key_A, Qt::NoModifier},           {Qt::Key_Escape, Qt::NoModifier},
    };
    int boxes = 0;
    Application->SetMessageBoxHook([&](const std::string&, const std::string&, unsigned) { ++boxes; return 1; });
    for (const auto& [key, modifiers] : keys) {
        Key(key, modifiers);
        EXPECT_EQ(RecNo(), 2) << key;
        EXPECT_EQ(query.State(), TDataSetState::Browse) << key;
        EXPECT_EQ(query.RecordCount(), 5) << key;
    }
    Application->SetMessageBoxHook(nullptr);
    EXPECT_EQ(boxes, 0);
}

TEST_F(GridNavigationTest, ClosedQueryTakesNoKeysClicksOrWheel)
{
    Key(Qt::Key_Down);
    Key(Qt::Key_End);
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(1, 1).center());
    QWheelEvent wheel(QPointF(50, 50), grid->mapToGlobal(QPointF(50, 50)), {}, QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid, &wheel);
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(grid->CurrentRow(), 1);
}

TEST_F(GridNavigationTest, TabLeavesTheGridForTheNextControl)
{
    OpenWith(5);
    ShowFocused();
    QTest::keyClick(grid, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), ui.Edit1);
    EXPECT_EQ(RecNo(), 1);
}

TEST_F(GridNavigationTest, ScrollBarIsHiddenForOneRowAndShownFromTwo)
{
    QScrollBar* bar = grid->VerticalScrollBar();
    EXPECT_TRUE(bar->isHidden()) << "closed";
    Fill(1);
    query.Open();
    EXPECT_TRUE(bar->isHidden()) << "one row";
    query.Close();
    Fill(1, 2);
    query.Open();
    EXPECT_FALSE(bar->isHidden()) << "two rows";
    // Record numbers: from 1 to R, a page of the visible rows, at the current record.
    EXPECT_EQ(bar->minimum(), 1);
    EXPECT_EQ(bar->maximum(), 2);
    EXPECT_EQ(bar->pageStep(), 2);
    EXPECT_EQ(bar->value(), 1);
    query.Next();
    EXPECT_EQ(bar->value(), 2);
    // The client area gave way to the bar.
    EXPECT_EQ(grid->ClientRect().right() + 1, bar->geometry().left());
}

TEST_F(GridNavigationTest, ScrollBarActionsMoveTheCursor)
{
    OpenWith(40);
    QScrollBar* bar = grid->VerticalScrollBar();
    const struct {
        QAbstractSlider::SliderAction action;
        int64_t recNo;
    } steps[] = {
        {QAbstractSlider::SliderSingleStepAdd, 16},  // just below the bottom row
        {QAbstractSlider::SliderSingleStepSub, 1},   // just above the top row
        {QAbstractSlider::SliderPageStepAdd, 16},
        {QAbstractSlider::SliderPageStepSub, 1},
        {QAbstractSlider::SliderToMaximum, 40},
        {QAbstractSlider::SliderToMinimum, 1},
    };
    for (const auto& step : steps) {
        bar->triggerAction(step.action);
        EXPECT_EQ(RecNo(), step.recNo) << step.action;
        EXPECT_EQ(bar->value(), step.recNo) << step.action;
    }
    // Dragging the thumb moves nothing until it is released.
    const std::pair<int, int64_t> thumbs[] = {{20, 20}, {1, 1}, {40, 40}, {2, 2}};
    for (const auto& [position, recNo] : thumbs) {
        const int64_t before = RecNo();
        bar->setSliderDown(true);
        bar->setSliderPosition(position);
        bar->triggerAction(QAbstractSlider::SliderMove);
        EXPECT_EQ(RecNo(), before) << "while dragging to " << position;
        bar->setSliderDown(false);
        EXPECT_EQ(RecNo(), recNo) << position;
    }
}

TEST_F(GridNavigationTest, WheelOverTheBarAndPositionsPutOnItMoveTheCursorWithTheThumb)
{
    OpenWith(40);
    QScrollBar* bar = grid->VerticalScrollBar();
    // Over the bar the wheel moves one record a notch, as over the rows.
    for (int notch = 0; notch < 3; ++notch)
        Turn(bar, -120);
    EXPECT_EQ(RecNo(), 4);
    EXPECT_EQ(bar->value(), 4);
    Turn(bar, 120);
    EXPECT_EQ(RecNo(), 3);
    EXPECT_EQ(bar->value(), 3);
    // A position put on the bar (not dragged) is a thumb released there.
    const std::pair<int, int64_t> positions[] = {{20, 20}, {40, 40}, {1, 1}, {39, 39}};
    for (const auto& [position, recNo] : positions) {
        bar->setValue(position);
        EXPECT_EQ(RecNo(), recNo) << position;
        EXPECT_EQ(bar->value(), recNo) << position;
    }
}

TEST_F(GridNavigationTest, FailedBarActionLeavesTheThumbOnTheCursor)
{
    OpenWith(40);
    query.Edit();
    query.FieldByName("FileName").SetAsString("x");
    QScrollBar* bar = grid->VerticalScrollBar();
    int boxes = 0;
    Application->SetMessageBoxHook([&](const std::string&, const std::string&, unsigned) { ++boxes; return 1; });
    for (auto action : {QAbstractSlider::SliderToMaximum, QAbstractSlider::SliderPageStepAdd}) {
        query.FailNextPost("disk is full");
        bar->triggerAction(action);
        EXPECT_EQ(RecNo(), 1) << action;
        EXPECT_EQ(bar->value(), 1) << action;
        EXPECT_EQ(bar->sliderPosition(), 1) << action;
    }
    Application->SetMessageBoxHook(nullptr);
    EXPECT_EQ(boxes, 2);
    query.Cancel();
}

TEST_F(GridNavigationTest, BarContextMenuSpeaksChineseAndEveryEntryMovesTheCursor)
{
    OpenWith(40);
    ShowFocused();
    QScrollBar* bar = grid->VerticalScrollBar();
    ASSERT_FALSE(bar->isHidden());
    const QPoint middle = bar->rect().center();
    const QStringList texts = ChooseFromBarMenu(bar, middle, nullptr);
    using namespace gridtexts;
    EXPECT_EQ(texts, QStringList({QString::fromUtf8(kBarScrollHere), QString::fromUtf8(kBarTop),
                                  QString::fromUtf8(kBarBottom), QString::fromUtf8(kBarPageUp),
                                  QString::fromUtf8(kBarPageDown), QString::fromUtf8(kBarScrollUp),
                                  QString::fromUtf8(kBarScrollDown)}));
    EXPECT_EQ(texts.first(), QStringLiteral("滚动到此处"));
    EXPECT_EQ(RecNo(), 1) << "closed without a choice";
    const struct {
        const char* entry;
        int64_t recNo;
    } steps[] = {
        {kBarBottom, 40},   {kBarTop, 1},      {kBarPageDown, 16}, {kBarPageUp, 1},
        {kBarScrollDown, 16}, {kBarScrollUp, 1}, {kBarPageDown, 16}, {kBarScrollDown, 17},
    };
    for (const auto& step : steps) {
        ChooseFromBarMenu(bar, middle, step.entry);
        EXPECT_EQ(RecNo(), step.recNo) << step.entry;
        EXPECT_EQ(bar->value(), step.recNo) << step.entry;
    }
    // Scroll here: the thumb's place under the pointer, through the cursor.
    grid->clearFocus();
    ChooseFromBarMenu(bar, QPoint(middle.x(), bar->height() - 1), kBarScrollHere);
    EXPECT_EQ(RecNo(), 40);
    EXPECT_EQ(host.focusWidget(), grid) << "a bar action gives the grid the focus";
    ChooseFromBarMenu(bar, QPoint(middle.x(), 0), kBarScrollHere);
    EXPECT_EQ(RecNo(), 1);
    ChooseFromBarMenu(bar, middle, kBarScrollHere);
    EXPECT_GT(RecNo(), 1);
    EXPECT_LT(RecNo(), 40);
    EXPECT_EQ(bar->value(), RecNo());
}

TEST_F(GridNavigationTest, ClickOnADataRowMovesByTheRowDifference)
{
    OpenWith(40);
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(2, 7).center());
    EXPECT_EQ(RecNo(), 7);
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(0, 3).center());
    EXPECT_EQ(RecNo(), 3);
    // Spacer, footer and the corner cell move nothing.
    for (QPoint p : {grid->CellRect(1, grid->SpacerRow()).center(), grid->CellRect(2, grid->FooterRow()).center(),
                     grid->CellRect(0, 0).center()}) {
        QTest::mouseClick(grid, Qt::LeftButton, {}, p);
        EXPECT_EQ(RecNo(), 3);
    }
}

TEST_F(GridNavigationTest, DraggingOverTheRowsTracksThePointer)
{
    OpenWith(40);
    QTest::mousePress(grid, Qt::LeftButton, {}, grid->CellRect(2, 2).center());
    EXPECT_EQ(RecNo(), 2);
    QTest::mouseMove(grid, grid->CellRect(2, 9).center());
    EXPECT_EQ(RecNo(), 9);
    // Below the band: the timer scrolls min(8, distance div 6) records a tick.
    const QPoint below(grid->CellRect(2, 15).center().x(), grid->CellRect(2, 15).bottom() + 1 + 13);
    QTest::mouseMove(grid, below);
    // QTest's QTRY_ macros do not report to gtest: wait, then assert.
    ASSERT_TRUE(QTest::qWaitFor([&] { return RecNo() > 15; }, 5000));
    QTest::mouseRelease(grid, Qt::LeftButton, {}, below);
    const int64_t stopped = RecNo();
    QTest::qWait(50);
    EXPECT_EQ(RecNo(), stopped) << "the release stops the timer";
}

TEST_F(GridNavigationTest, LeftAndRightPressesTrackThePointerTheMiddleOnlyMoves)
{
    const struct {
        Qt::MouseButton button;
        int64_t afterMove;
    } presses[] = {{Qt::LeftButton, 9}, {Qt::RightButton, 9}, {Qt::MiddleButton, 2}};
    OpenWith(40);
    for (const auto& press : presses) {
        query.First();
        Send(QEvent::MouseButtonPress, press.button, grid->CellRect(2, 2).center());
        EXPECT_EQ(RecNo(), 2) << press.button;
        Send(QEvent::MouseMove, press.button, grid->CellRect(2, 9).center());
        EXPECT_EQ(RecNo(), press.afterMove) << press.button;
        Send(QEvent::MouseButtonRelease, press.button, grid->CellRect(2, 9).center());
        Send(QEvent::MouseMove, Qt::NoButton, grid->CellRect(2, 4).center());
        EXPECT_EQ(RecNo(), press.afterMove) << "released: " << press.button;
    }
    // A release that went elsewhere: the first move without a button ends tracking.
    Send(QEvent::MouseButtonPress, Qt::LeftButton, grid->CellRect(2, 3).center());
    Send(QEvent::MouseMove, Qt::NoButton, grid->CellRect(2, 6).center());
    Send(QEvent::MouseMove, Qt::LeftButton, grid->CellRect(2, 8).center());
    EXPECT_EQ(RecNo(), 3);
}

TEST_F(GridNavigationTest, SecondPressOfADoubleClickOnlyRaisesTheEvent)
{
    OpenWith(40);
    int doubleClicks = 0;
    grid->OnDblClick = [&] { ++doubleClicks; };
    const QPoint row5 = grid->CellRect(2, 5).center();
    Send(QEvent::MouseButtonPress, Qt::LeftButton, row5);
    Send(QEvent::MouseButtonRelease, Qt::LeftButton, row5);
    ASSERT_EQ(RecNo(), 5);
    // The second press lands a row lower and the pointer goes on with the
    // button down: no move, no tracking.
    Send(QEvent::MouseButtonDblClick, Qt::LeftButton, grid->CellRect(2, 6).center());
    Send(QEvent::MouseMove, Qt::LeftButton, grid->CellRect(2, 9).center());
    Send(QEvent::MouseButtonRelease, Qt::LeftButton, grid->CellRect(2, 9).center());
    EXPECT_EQ(RecNo(), 5);
    EXPECT_EQ(doubleClicks, 1);
    // On a title border the second press sizes nothing.
    const QPoint border(LineAfter(1) - 2, TitleCentre(1).y());
    Send(QEvent::MouseButtonDblClick, Qt::LeftButton, border);
    Send(QEvent::MouseMove, Qt::LeftButton, border + QPoint(30, 0));
    Send(QEvent::MouseButtonRelease, Qt::LeftButton, border + QPoint(30, 0));
    EXPECT_EQ(grid->Column(0).Width(), 80);
    EXPECT_EQ(doubleClicks, 2);
}

TEST_F(GridNavigationTest, WheelMovesOneRecordPerNotch)
{
    OpenWith(10);
    auto turn = [&](int delta) {
        QWheelEvent wheel(QPointF(50, 50), grid->mapToGlobal(QPointF(50, 50)), {}, QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid, &wheel);
    };
    turn(-120);
    turn(-120);
    EXPECT_EQ(RecNo(), 3);
    turn(120);
    EXPECT_EQ(RecNo(), 2);
    turn(-60);
    EXPECT_EQ(RecNo(), 2) << "half a notch";
    turn(-60);
    EXPECT_EQ(RecNo(), 3);
}

TEST_F(GridNavigationTest, DraggingATitleOntoTheOtherSwapsTheColumns)
{
    OpenWith(3);
    // Released in place: nothing.
    QTest::mouseClick(grid, Qt::LeftButton, {}, TitleCentre(1));
    EXPECT_EQ(grid->Column(0).FieldName(), "FileIndex");
    QTest::mousePress(grid, Qt::LeftButton, {}, TitleCentre(1));
    QTest::mouseMove(grid, TitleCentre(2));
    QTest::mouseRelease(grid, Qt::LeftButton, {}, TitleCentre(2));
    EXPECT_EQ(grid->Column(0).FieldName(), "FileName");
    EXPECT_EQ(grid->Column(1).FieldName(), "FileIndex");
    EXPECT_EQ(grid->CellRect(1, 0).width(), 540);
}

TEST_F(GridNavigationTest, DraggingATitleBorderResizesButOnePixelIsIgnored)
{
    OpenWith(3);
    const int left = grid->CellRect(1, 0).left();
    const int y = TitleCentre(1).y();
    auto drag = [&](int toX) {
        QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(LineAfter(1) - 2, y));
        QTest::mouseMove(grid, QPoint(toX, y));
        QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(toX, y));
    };
    // A press released where it was, anywhere in the border's zone, keeps the width.
    for (const int offset : {-3, 0, 4}) {
        QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(LineAfter(1) + offset, y));
        EXPECT_EQ(grid->Column(0).Width(), 80) << "plain click at " << offset;
    }
    drag(left + 1);
    EXPECT_EQ(grid->Column(0).Width(), 80) << "one pixel";
    drag(left);
    EXPECT_EQ(grid->Column(0).Width(), 80) << "no width";
    drag(left + 50);
    EXPECT_EQ(grid->Column(0).Width(), 50);
    EXPECT_EQ(grid->CellRect(2, 1).left(), left + 51);
    // Esc abandons a resize.
    QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(LineAfter(1), y));
    QTest::mouseMove(grid, QPoint(left + 70, y));
    QTest::keyClick(grid, Qt::Key_Escape);
    QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(left + 70, y));
    EXPECT_EQ(grid->Column(0).Width(), 50);
}

TEST_F(GridNavigationTest, GridFollowsEveryStepOfAFirstNextWalk)
{
    OpenWith(100);
    ShowFocused();
    query.First();
    int step = 1;
    while (!query.Eof()) {
        ASSERT_EQ(grid->CurrentRow(), std::min(step, 15)) << step;
        ASSERT_EQ(RecNo(), step);
        query.Next();
        ++step;
    }
    EXPECT_EQ(RecNo(), 100);
    // Whatever was coalesced during the walk, the final state is painted.
    QApplication::processEvents();
    const QImage image = Grab();
    const QRect cell = grid->CellRect(2, 15);
    EXPECT_EQ(image.pixel(cell.left() + 3, cell.top() + 1), grid->palette().color(QPalette::Highlight).rgb());
    EXPECT_GE(grid->SynchronousRepaints(), 1);
}

TEST_F(GridNavigationTest, DatasetErrorInAKeyReachesTheErrorBox)
{
    OpenWith(3);
    query.Edit();
    query.FieldByName("FileName").SetAsString("x");
    query.FailNextPost("disk is full");
    std::string shown;
    Application->SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        shown = text;
        return 1;
    });
    Key(Qt::Key_Down);
    Application->SetMessageBoxHook(nullptr);
    EXPECT_NE(shown.find("disk is full"), std::string::npos) << shown;
    EXPECT_EQ(query.State(), TDataSetState::Edit);
    // The grid goes on.
    query.Cancel();
    Key(Qt::Key_Down);
    EXPECT_EQ(RecNo(), 2);
}

namespace {

// The grid with the FileName column widened by a border drag that ends past
// the right edge, so the columns no longer fit.
class GridHorizontalScrollTest : public GridNavigationTest {
protected:
    void WidenFileNameBeyondTheClient()
    {
        const int y = TitleCentre(2).y();
        const QPoint outside(grid->width() + 40, y);
        QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(LineAfter(2), y));
        QTest::mouseMove(grid, outside);
        QTest::mouseRelease(grid, Qt::LeftButton, {}, outside);
    }
    // Columns with their lines right of the indicator, and the indicator's.
    int ColumnsWidth() const
    {
        return TDataGrid::kIndicatorWidth + TDataGrid::kLineWidth + grid->Column(0).Width() + grid->Column(1).Width() +
               2 * TDataGrid::kLineWidth;
    }
};

}  // namespace

TEST_F(GridHorizontalScrollTest, BarComesWhenAColumnIsWidenedPastTheClientAndGoesWhenNarrowed)
{
    OpenWith(40);
    QScrollBar* bar = grid->HorizontalScrollBar();
    EXPECT_TRUE(bar->isHidden()) << "80 + 540 fit";
    EXPECT_LE(ColumnsWidth(), grid->ClientRect().width());
    const int buffers = grid->DataLink().BufferCount();
    const QRect footer = grid->CellRect(2, grid->FooterRow());
    EXPECT_EQ(footer.bottom() + 1 + TDataGrid::kLineWidth, grid->ClientRect().bottom() + 1);

    WidenFileNameBeyondTheClient();
    EXPECT_GT(grid->Column(1).Width(), 540);
    EXPECT_GT(ColumnsWidth(), grid->ClientRect().width());
    ASSERT_FALSE(bar->isHidden());
    // One column can go off to the left; the bar sits under the client area.
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 1);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(grid->ClientRect().bottom() + 1, bar->geometry().top());
    EXPECT_EQ(grid->VerticalScrollBar()->geometry().bottom() + 1, bar->geometry().top());
    // The client height shrank by the bar: fewer rows fit, the footer stays
    // at the bottom of what is left.
    const int pitch = grid->DefaultRowHeight() + TDataGrid::kLineWidth;
    const int fixed = grid->TitleRowHeight() + TDataGrid::kLineWidth + pitch + TDataGrid::kLineWidth;
    EXPECT_EQ(grid->DataLink().BufferCount(), (grid->ClientRect().height() - fixed) / pitch);
    EXPECT_LT(grid->DataLink().BufferCount(), buffers);
    EXPECT_EQ(grid->VisibleDataRows(), grid->DataLink().BufferCount());
    EXPECT_EQ(grid->VerticalScrollBar()->pageStep(), grid->DataLink().BufferCount());
    const QRect lowered = grid->CellRect(2, grid->FooterRow());
    EXPECT_EQ(lowered.bottom() + 1 + TDataGrid::kLineWidth, grid->ClientRect().bottom() + 1);

    // Its border is off to the right: scroll there, then narrow the column
    // back below the client width, which hides the bar again.
    EXPECT_TRUE(grid->CellRect(2, 0).right() >= grid->ClientRect().right());
    Key(Qt::Key_Right);
    ASSERT_EQ(grid->LeftColumn(), 1);
    const int y = TitleCentre(2).y();
    QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(LineAfter(2), y));
    QTest::mouseMove(grid, QPoint(grid->CellRect(2, 0).left() + 300, y));
    QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(grid->CellRect(2, 0).left() + 300, y));
    EXPECT_EQ(grid->Column(1).Width(), 300);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(grid->DataLink().BufferCount(), buffers);
    EXPECT_EQ(grid->CellRect(2, grid->FooterRow()), footer.adjusted(0, 0, 300 - 540, 0));
}

TEST_F(GridHorizontalScrollTest, LeftAndRightKeysScrollByWholeColumnsAndStopAtTheEnds)
{
    OpenWith(3);
    ShowFocused();
    const int indicatorX = grid->CellRect(0, 0).left();
    EXPECT_EQ(indicatorX, TDataGrid::kBorderWidth);
    // Everything fits: the keys scroll nothing.
    Key(Qt::Key_Right);
    EXPECT_EQ(grid->LeftColumn(), 0);

    WidenFileNameBeyondTheClient();
    const int firstLeft = indicatorX + TDataGrid::kIndicatorWidth + TDataGrid::kLineWidth;
    const struct {
        int key;
        int leftColumn;
        int fileIndexLeft;  // -1: scrolled out of view
        int fileNameLeft;
    } steps[] = {
        {Qt::Key_Right, 1, -1, firstLeft},
        {Qt::Key_Right, 1, -1, firstLeft},  // nothing hidden on the right any more
        {Qt::Key_Left, 0, firstLeft, firstLeft + 81},
        {Qt::Key_Left, 0, firstLeft, firstLeft + 81},  // already the leftmost
    };
    for (const auto& step : steps) {
        Key(step.key);
        EXPECT_EQ(grid->LeftColumn(), step.leftColumn) << step.key;
        EXPECT_EQ(grid->HorizontalScrollBar()->value(), step.leftColumn) << step.key;
        EXPECT_EQ(grid->CellRect(0, 0).left(), indicatorX) << "the indicator never scrolls";
        if (step.fileIndexLeft < 0)
            EXPECT_TRUE(grid->CellRect(1, 0).isEmpty()) << step.key;
        else
            EXPECT_EQ(grid->CellRect(1, 0).left(), step.fileIndexLeft) << step.key;
        EXPECT_EQ(grid->CellRect(2, 0).left(), step.fileNameLeft) << step.key;
        EXPECT_EQ(RecNo(), 1) << "the cursor does not move";
    }

    // Scrolled: the title painted right of the indicator is "文件名称".
    Key(Qt::Key_Right);
    QApplication::processEvents();
    const QImage image = Grab();
    const QRect title = grid->CellRect(2, 0);
    const QRect inner = title.adjusted(1, 1, -1, -1);
    const QImage want = ReferenceCell(inner.size(), grid->Column(1).Title().Font(), QStringLiteral("文件名称"),
                                      grid->FixedColor(), grid->palette().color(QPalette::WindowText), 1);
    EXPECT_EQ(image.copy(inner.intersected(grid->ClientRect())),
              want.copy(QRect(QPoint(0, 0), inner.intersected(grid->ClientRect()).size())));
    // The indicator's black line still follows the indicator cell.
    EXPECT_EQ(image.pixel(indicatorX + TDataGrid::kIndicatorWidth, title.top() + 3), qRgb(0, 0, 0));
    // A click on a row in the scrolled view lands on that row.
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(2, 3).center());
    EXPECT_EQ(RecNo(), 3);
    EXPECT_EQ(grid->LeftColumn(), 1);
}

TEST_F(GridHorizontalScrollTest, BarMovesTheColumnsAndTitleBordersFollowTheOffset)
{
    OpenWith(3);
    WidenFileNameBeyondTheClient();
    QScrollBar* bar = grid->HorizontalScrollBar();
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(grid->LeftColumn(), 1);
    // The border of the scrolled FileName column is where sizing now starts.
    const int left = grid->CellRect(2, 0).left();
    const int y = TitleCentre(2).y();
    QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(left + 200, y));  // inside the title: a drag, no size
    QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(left + 200, y));
    QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(LineAfter(2), y));
    QTest::mouseMove(grid, QPoint(left + 100, y));
    QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(left + 100, y));
    EXPECT_EQ(grid->Column(1).Width(), 100);
    // Now everything fits: back to the first column, the bar gone.
    EXPECT_EQ(grid->LeftColumn(), 0);
    EXPECT_TRUE(bar->isHidden());
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(grid->LeftColumn(), 0);
}

TEST_F(GridHorizontalScrollTest, BarContextMenuSpeaksChineseAndScrollsTheColumns)
{
    OpenWith(3);
    ShowFocused();
    WidenFileNameBeyondTheClient();
    QScrollBar* bar = grid->HorizontalScrollBar();
    ASSERT_FALSE(bar->isHidden());
    const QPoint middle = bar->rect().center();
    using namespace gridtexts;
    EXPECT_EQ(ChooseFromBarMenu(bar, middle, kBarRightEdge),
              QStringList({QString::fromUtf8(kBarScrollHere), QString::fromUtf8(kBarLeftEdge),
                           QString::fromUtf8(kBarRightEdge), QString::fromUtf8(kBarPageLeft),
                           QString::fromUtf8(kBarPageRight), QString::fromUtf8(kBarScrollLeft),
                           QString::fromUtf8(kBarScrollRight)}));
    EXPECT_EQ(grid->LeftColumn(), 1);
    ChooseFromBarMenu(bar, middle, kBarScrollLeft);
    EXPECT_EQ(grid->LeftColumn(), 0);
    ChooseFromBarMenu(bar, QPoint(bar->width() - 1, middle.y()), kBarScrollHere);
    EXPECT_EQ(grid->LeftColumn(), 1);
    EXPECT_EQ(RecNo(), 1) << "the columns scroll, the cursor stays";
}

TEST_F(GridHorizontalScrollTest, MoveMarkerStaysInViewWhenTheTargetEdgeIsPastTheClient)
{
    OpenWith(3);
    WidenFileNameBeyondTheClient();
    const QRect client = grid->ClientRect();
    ASSERT_GT(grid->CellRect(2, 0).right(), client.right());
    // FileIndex dragged onto FileName would take FileName's right edge,
    // which lies past the visible area: the marker stands at the client's
    // right edge instead.
    const QRect title = grid->CellRect(1, 0);
    QTest::mousePress(grid, Qt::LeftButton, {}, title.center());
    QTest::mouseMove(grid, QPoint(grid->CellRect(2, 0).left() + 20, title.center().y()));
    const QImage image = Grab();
    const QRgb marker = grid->palette().color(QPalette::Highlight).rgb();
    for (int x = client.right() - 2; x <= client.right(); ++x)
        EXPECT_EQ(image.pixel(x, title.top() + 3), marker) << "x " << x;
    QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(grid->CellRect(2, 0).left() + 20, title.center().y()));
    EXPECT_EQ(grid->Column(0).FieldName(), "FileName");
}

TEST_F(GridHorizontalScrollTest, DraggingATitleOutsideScrollsTheColumnsUntilItComesBack)
{
    OpenWith(3);
    WidenFileNameBeyondTheClient();
    const QPoint title = TitleCentre(1);
    QTest::mousePress(grid, Qt::LeftButton, {}, title);
    // Right of the grid: one column a tick, stopping at the end.
    QTest::mouseMove(grid, QPoint(grid->width() + 10, title.y()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->LeftColumn() == 1; }, 1000));
    QTest::qWait(3 * TDataGrid::kColumnScrollMilliseconds);
    EXPECT_EQ(grid->LeftColumn(), 1);
    // Left of the grid: back to the first column.
    QTest::mouseMove(grid, QPoint(-5, title.y()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->LeftColumn() == 0; }, 1000));
    // Back over the grid: the scrolling stops there.
    QTest::mouseMove(grid, title);
    QTest::mouseMove(grid, QPoint(grid->width() + 10, title.y()));
    QTest::mouseMove(grid, title);
    QTest::qWait(3 * TDataGrid::kColumnScrollMilliseconds);
    EXPECT_EQ(grid->LeftColumn(), 0) << "the pointer came back before a tick";
    // Released outside: the columns keep their order, and the timer stops.
    QTest::mouseMove(grid, QPoint(grid->width() + 10, title.y()));
    QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(grid->width() + 10, title.y()));
    const int stopped = grid->LeftColumn();
    QTest::qWait(3 * TDataGrid::kColumnScrollMilliseconds);
    EXPECT_EQ(grid->LeftColumn(), stopped);
    EXPECT_EQ(grid->Column(0).FieldName(), "FileIndex");
}
