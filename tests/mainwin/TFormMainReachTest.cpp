// The main window by keyboard and by screen reader: the commands' keys,
// Ctrl+Z that means the last batch once a batch has finished, the names
// assistive technology reads, the grid as a table with its current row, and
// the grid's row tooltip with the new name and the rename's reason.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>

#include "FileListFixture.h"
#include "mainwin/TGridRowTip.h"
#include "mainwin/TListCheck.h"
#include "mainwin/TPreviewForm.h"
#include "ui_FormMain.h"

namespace {

class ReachTest : public FileListFixture {
protected:
    void Activate()
    {
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    static QString Name(QObject* object)
    {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
        return face ? face->text(QAccessible::Name) : QString();
    }
    static QAccessible::Role Role(QObject* object) { return QAccessible::queryAccessibleInterface(object)->role(); }
    // A point inside data row `row` of the grid.
    QPoint RowPoint(int row) { return form->Controls().DBGrid1->CellRect(2, row).center(); }
};

TEST_F(ReachTest, AfterTypingAndRenamingOneCtrlZInTheFieldUndoesTheBatch)
{
    Touch("a.jpg", "a");
    Touch("b.jpg", "b");
    Start();
    Activate();
    Type(form->Controls().Edit1, work->Path());
    QLineEdit* target = form->Controls().Edit2;
    QLineEdit* replacement = form->Controls().Edit3;
    target->setFocus();
    QTest::keyClicks(target, "jpg");
    QTest::mouseClick(form->Controls().SpeedButton1, Qt::LeftButton);
    replacement->setFocus();
    QTest::keyClicks(replacement, "png");
    QTest::mouseClick(form->Controls().SpeedButton2, Qt::LeftButton);
    ASSERT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    ASSERT_TRUE(Exists("a.png") && Exists("a.jpg"));
    ASSERT_EQ(QApplication::focusWidget(), replacement);  // the buttons never take the focus

    notices.clear();
    QTest::keyClick(replacement, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(notices, (std::vector<std::string>{"撤销上次在 " + work->Path() + " 中的修改（共 2 个文件）？", "已撤销 2 个文件"}));
    EXPECT_FALSE(Exists("a.png") || Exists("b.png"));
    EXPECT_EQ(replacement->text(), "png");  // the field kept its text

    // Typing after the batch is the field's own to undo, first.
    notices.clear();
    QTest::keyClicks(replacement, "x");
    QTest::keyClick(replacement, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(replacement->text(), "png");
    EXPECT_TRUE(notices.empty());
    QTest::keyClick(replacement, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(notices, std::vector<std::string>{"没有可撤销的修改"});
}

TEST_F(ReachTest, EachCommandHasItsKeyAndTheButtonsStayOutOfTheTabOrder)
{
    Touch("a.jpg", "a");
    Start();
    Activate();
    TSelectDirDlg::SetNextResult(true, work->Path());
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    TSelectDirDlg::ClearTestHooks();
    EXPECT_EQ(TCodePage::Active().ToNarrow(form->Controls().Edit1->text().toStdU16String()), work->Path());
    Type(form->Controls().Edit2, "jpg");
    QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(GridRows(), 1);
    Type(form->Controls().Edit3, "png");
    QTest::keyClick(form.get(), Qt::Key_P, Qt::ControlModifier);
    ASSERT_NE(form->Preview(), nullptr);
    form->Preview()->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Preview() == nullptr; }, 5000));
    Activate();
    QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    EXPECT_TRUE(Exists("a.png"));
    EXPECT_EQ(form->Controls().SpeedButton1->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(form->Controls().SpeedButton2->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(form->PreviewLink()->focusPolicy(), Qt::NoFocus);

    // F2 in the grid still does nothing.
    form->Controls().DBGrid1->setFocus();
    QTest::keyClick(form->Controls().DBGrid1, Qt::Key_F2);
    EXPECT_EQ(form->Preview(), nullptr);
    // The link under the rename button opens the preview too.
    Search(work->Path(), "png");
    Type(form->Controls().Edit2, "png");
    Type(form->Controls().Edit3, "gif");
    emit form->PreviewLink()->linkActivated(QStringLiteral("preview"));
    ASSERT_NE(form->Preview(), nullptr);
    form->Preview()->reject();
}

TEST_F(ReachTest, ScreenReadersGetEveryControlsNameAndTheGridAsATableWithItsCurrentRow)
{
    Touch("a1.txt", "a");
    Touch("b1.txt", "b");
    Touch("c1.txt", "c");
    Start();
    auto& ui = form->Controls();
    EXPECT_EQ(Name(ui.Edit1), "目录范围：");
    EXPECT_EQ(Name(ui.Edit2), "目标字符：");
    EXPECT_EQ(Name(ui.Edit3), "改为：");
    EXPECT_EQ(Name(ui.CheckBox1), "修改后删除原文件");
    EXPECT_EQ(Name(ui.Button1), "....");
    EXPECT_EQ(Name(ui.SpeedButton1), "搜索文件");
    EXPECT_EQ(Name(ui.SpeedButton2), "修改文件");
    EXPECT_EQ(Role(ui.SpeedButton1), QAccessible::Button);
    EXPECT_EQ(Name(ui.DBGrid1), "文件列表");
    EXPECT_EQ(Role(ui.DBGrid1), QAccessible::Table);

    QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(ui.DBGrid1)->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 0);
    Search(work->Path(), "1");
    ASSERT_EQ(table->rowCount(), 3);
    ASSERT_EQ(table->columnCount(), 2);
    EXPECT_EQ(table->columnDescription(0), "文件编号");
    EXPECT_EQ(table->columnDescription(1), "文件名称");
    QStringList names;
    for (int row = 0; row < 3; ++row)
        names << table->cellAt(row, 1)->text(QAccessible::Name);
    names.sort();
    EXPECT_EQ(names, (QStringList{"a1.txt", "b1.txt", "c1.txt"}));
    EXPECT_EQ(table->selectedRows(), QList<int>{0});

    ui.DBGrid1->setFocus();
    QTest::keyClick(ui.DBGrid1, Qt::Key_Down);
    EXPECT_EQ(table->selectedRows(), QList<int>{1});
    QAccessibleInterface* current = QAccessible::queryAccessibleInterface(ui.DBGrid1)->focusChild();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->tableCellInterface()->rowIndex(), 1);
    EXPECT_TRUE(current->state().focused);
    EXPECT_EQ(current->rect().center(), ui.DBGrid1->mapToGlobal(ui.DBGrid1->CellRect(1, 2).center()));

    // A screen reader's press runs the command.
    notices.clear();
    QAccessible::queryAccessibleInterface(ui.SpeedButton2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notices.empty(); }, 5000));
    EXPECT_EQ(notices, std::vector<std::string>{"请输入要改成的目标字符"});
}

TEST_F(ReachTest, HoveringARowShowsItsNewNameAndOnceCheckedWhyTheRenameWouldRefuseIt)
{
    Touch("a1.txt", "a");
    Touch("b1.txt", "b");
    Touch("b2.txt", "taken");
    Start();
    Search(work->Path(), "1");
    TGridRowTip& tip = form->GridRowTip();
    EXPECT_EQ(tip.TipAt(RowPoint(1)), "");  // no replacement typed yet
    Type(form->Controls().Edit3, "2");
    QString first = tip.TipAt(RowPoint(1));
    QString second = tip.TipAt(RowPoint(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->ListCheck().Running(); }, 5000));
    first = tip.TipAt(RowPoint(1));
    second = tip.TipAt(RowPoint(2));
    // Listing order is the folder's: find which row is which.
    if (first.contains(QStringLiteral("b2.txt")))
        std::swap(first, second);
    EXPECT_EQ(first, "新文件名：a2.txt");
    EXPECT_EQ(second, "新文件名：b2.txt\n无法修改：新文件名已被占用");
    EXPECT_EQ(tip.TipAt(form->Controls().DBGrid1->CellRect(2, 0).center()), "");  // the title row

    // The real event shows it.
    QHelpEvent help(QEvent::ToolTip, RowPoint(1), form->Controls().DBGrid1->mapToGlobal(RowPoint(1)));
    QApplication::sendEvent(form->Controls().DBGrid1, &help);
    ASSERT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 5000));
    EXPECT_EQ(QToolTip::text(), tip.TipAt(RowPoint(1)));
    QToolTip::hideText();
}

}  // namespace
