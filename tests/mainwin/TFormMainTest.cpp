// The main window as stored: geometry, texts, font, tab order, fixed size.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/TApplication.h"
#include "app/TMessageForm.h"
#include "grid/TDataGrid.h"
#include "mainwin/TFormMain.h"
#include "controls/TSpeedButton.h"
#include "store/TShareDataModule.h"
#include "ui_FormMain.h"

using namespace vantelo;

namespace {

class FormMainTest : public ::testing::Test {
protected:
    // The window, then the data module, as at start-up. There is no
    // database where these tests run: the boxes that says so are answered.
    void SetUp() override
    {
        TMessageForm::SetAnswerHook([](const std::string&, DialogKind, const DialogButtons&) { return 1; });
        Application->SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return 1; });
        form = std::make_unique<TFormMain>();
        module = std::make_unique<TShareDataModule>();
        ShareDataModule = module.get();
        TComponent::RegisterModule(*module);
    }
    void TearDown() override
    {
        module.reset();
        ShareDataModule = nullptr;
        form.reset();
        TMessageForm::ClearTestHooks();
        Application->SetMessageBoxHook(nullptr);
    }
    template <class T>
    T* Control(const char* name)
    {
        T* control = form->findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    std::unique_ptr<TFormMain> form;
    std::unique_ptr<TShareDataModule> module;
};

}  // namespace

TEST_F(FormMainTest, ControlsStandWhereTheStoredDescriptionPutsThem)
{
    const struct {
        const char* name;
        QRect rect;
    } rows[] = {
        {"Label1", {24, 24, 65, 21}},    {"Edit1", {88, 25, 313, 20}},       {"Button1", {408, 25, 25, 21}},
        {"Label2", {24, 56, 65, 21}},    {"Edit2", {88, 57, 81, 20}},        {"Label3", {176, 56, 41, 21}},
        {"Edit3", {216, 57, 81, 20}},    {"CheckBox1", {312, 58, 121, 17}},  {"SpeedButton1", {448, 25, 113, 48}},
        {"SpeedButton2", {568, 25, 113, 48}}, {"DBGrid1", {24, 96, 657, 308}},
    };
    for (const auto& row : rows) {
        QWidget* control = Control<QWidget>(row.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->geometry(), row.rect) << row.name;
    }
    EXPECT_EQ(form->size(), QSize(705, 433));
}

TEST_F(FormMainTest, TextsCaptionsAndCursorsAreThoseOfTheTool)
{
    EXPECT_EQ(form->windowTitle(), QString("Vantelo文件名称批量修改器"));
    EXPECT_EQ(Control<QLabel>("Label1")->text(), QString("目录范围："));
    EXPECT_EQ(Control<QLabel>("Label2")->text(), QString("目标字符："));
    EXPECT_EQ(Control<QLabel>("Label3")->text(), QString("改为："));
    EXPECT_EQ(Control<QPushButton>("Button1")->text(), QString("...."));
    auto* check = Control<QCheckBox>("CheckBox1");
    EXPECT_EQ(check->text(), QString("修改后删除原文件"));
    EXPECT_FALSE(check->isChecked());
    EXPECT_EQ(check->layoutDirection(), Qt::RightToLeft);  // caption left of the box
    EXPECT_EQ(Control<TSpeedButton>("SpeedButton1")->Caption(), QString("搜索文件"));
    EXPECT_EQ(Control<TSpeedButton>("SpeedButton2")->Caption(), QString("修改文件"));
    for (const char* name : {"Button1", "CheckBox1", "SpeedButton1", "SpeedButton2"})
        EXPECT_EQ(Control<QWidget>(name)->cursor().shape(), Qt::PointingHandCursor) << name;
    for (const char* name : {"Edit1", "Edit2", "Edit3"})
        EXPECT_TRUE(Control<QLineEdit>(name)->text().isEmpty()) << name;
}

TEST_F(FormMainTest, FontIsTheSongFaceTwelvePixelsHighMappedToAnInstalledFace)
{
    const QFont font = form->font();
    EXPECT_EQ(font.family(), QString("宋体"));
    EXPECT_EQ(QFontInfo(font).pixelSize(), 12);
    EXPECT_EQ(QFontInfo(font).family(), QString("AR PL UMing CN"));
    EXPECT_EQ(Control<QLineEdit>("Edit1")->font(), font);  // controls inherit it
}

TEST_F(FormMainTest, CannotBeResizedOrMaximisedButCanBeMinimised)
{
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    form->resize(900, 600);
    EXPECT_EQ(form->size(), QSize(705, 433));
}

TEST_F(FormMainTest, GridHasTheFocusFirstAndTabWalksTheFieldsInOrder)
{
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    auto* grid = Control<TDataGrid>("DBGrid1");
    ASSERT_TRUE(grid->hasFocus());
    const char* order[] = {"Edit1", "Edit2", "Edit3", "Button1", "CheckBox1", "DBGrid1"};
    for (const char* name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), Control<QWidget>(name)) << name;
    }
    // The image buttons never take the focus.
    EXPECT_EQ(Control<QWidget>("SpeedButton1")->focusPolicy(), Qt::NoFocus);
}

TEST_F(FormMainTest, ShowsCentredOnTheDesktop)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    const QRect frame = form->frameGeometry();
    EXPECT_NEAR(frame.left(), std::max(0, (desktop.width() - frame.width()) / 2), 1);
    EXPECT_NEAR(frame.top(), std::max(0, (desktop.height() - frame.height()) / 2), 1);
    // A picture of the window for the documentation.
    if (const char* out = std::getenv("VANTELO_BINARY_DIR"))
        form->grab().save(QString(out) + "/main-window.png");
}
