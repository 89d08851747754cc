// Commands and their binding to image buttons: values of the button's own win,
// later changes reach the button where it still shows the command's value,
// the command's image becomes a missing picture, and the idle update.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <memory>

#include "controls/TAction.h"
#include "controls/TActionList.h"
#include "controls/TSpeedButton.h"

using namespace vantelo;

namespace {

class ActionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host = std::make_unique<QWidget>();
        host->resize(300, 80);
        list = new TActionList(host.get());
        source = new QAction(QStringLiteral("搜索文件"), host.get());
        action = new TAction(*source, list);
        action->SetOnExecute([this](QObject*) { ++runs; });
        button = new TSpeedButton(host.get());
        button->setObjectName(QStringLiteral("SpeedButton1"));
        button->setGeometry(10, 10, 113, 48);
    }

    // Runs the event loop until `done` holds or two seconds have passed.
    template <class F>
    static bool RunUntil(F done)
    {
        QDeadlineTimer deadline(2000);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QEventLoop loop;
            QTimer::singleShot(5, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }
    // Runs the event loop through two idle steps.
    static void RunIdleSteps()
    {
        int steps = 0;
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        auto connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&steps] { ++steps; });
        EXPECT_TRUE(RunUntil([&steps] { return steps >= 2; }));
        QObject::disconnect(connection);
    }

    std::unique_ptr<QWidget> host;
    TActionList* list = nullptr;
    QAction* source = nullptr;
    TAction* action = nullptr;
    TSpeedButton* button = nullptr;
    int runs = 0;
};

}  // namespace

TEST_F(ActionTest, BindingTakesTheCommandsValuesWhereTheButtonHasNoneOfItsOwn)
{
    action->SetHint(QStringLiteral("Find"));
    button->SetAction(action);
    EXPECT_EQ(button->Caption(), QStringLiteral("搜索文件"));
    EXPECT_EQ(button->toolTip(), QStringLiteral("Find"));
    EXPECT_TRUE(button->isEnabled());

    // Values of the button's own.
    auto* own = new TSpeedButton(host.get());
    own->setObjectName(QStringLiteral("Own"));
    own->SetCaption(QStringLiteral("Mine"));
    own->setToolTip(QStringLiteral("My hint"));
    own->setEnabled(false);
    own->SetAction(action);
    EXPECT_EQ(own->Caption(), QStringLiteral("Mine"));
    EXPECT_EQ(own->toolTip(), QStringLiteral("My hint"));
    EXPECT_FALSE(own->isEnabled()) << "a disabled button stays disabled";

    // A caption equal to the button's name counts as none.
    auto* named = new TSpeedButton(host.get());
    named->setObjectName(QStringLiteral("SpeedButton3"));
    named->SetCaption(QStringLiteral("SpeedButton3"));
    named->SetAction(action);
    EXPECT_EQ(named->Caption(), QStringLiteral("搜索文件"));
}

TEST_F(ActionTest, DisabledOrHiddenCommandDisablesOrHidesAnEnabledVisibleButton)
{
    action->SetEnabled(false);
    action->SetVisible(false);
    button->SetAction(action);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(button->isHidden());

    auto* hidden = new TSpeedButton(host.get());
    hidden->hide();
    action->SetVisible(true);
    hidden->SetAction(action);
    EXPECT_TRUE(hidden->isHidden()) << "a hidden button stays hidden";
}

TEST_F(ActionTest, LaterChangesReachTheButtonOnlyWhereItShowsTheCommandsValue)
{
    button->SetAction(action);
    auto* own = new TSpeedButton(host.get());
    own->SetCaption(QStringLiteral("Mine"));
    own->SetAction(action);

    action->SetCaption(QStringLiteral("查找"));
    EXPECT_EQ(button->Caption(), QStringLiteral("查找"));
    EXPECT_EQ(own->Caption(), QStringLiteral("Mine"));
    action->SetEnabled(false);
    EXPECT_FALSE(button->isEnabled());
    action->SetEnabled(true);
    EXPECT_TRUE(button->isEnabled());
    action->SetHint(QStringLiteral("Look"));
    EXPECT_EQ(button->toolTip(), QStringLiteral("Look"));
    action->SetVisible(false);
    EXPECT_TRUE(button->isHidden());
    // Unbound, the button keeps what it had and hears no more.
    button->SetAction(nullptr);
    action->SetCaption(QStringLiteral("Other"));
    EXPECT_EQ(button->Caption(), QStringLiteral("查找"));
}

TEST_F(ActionTest, CommandImageBecomesThePictureOfAButtonWithoutOne)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    image.setPixel(4, 4, qRgba(0, 0, 255, 255));
    list->SetImage(1, image);
    action->SetImageIndex(1);
    button->SetAction(action);
    const QImage picture = button->Glyph().Picture();
    ASSERT_EQ(picture.size(), QSize(32, 32));
    EXPECT_EQ(picture.pixel(4, 4) & RGB_MASK, qRgb(0, 0, 255) & RGB_MASK);
    EXPECT_EQ(picture.pixel(0, 31) & RGB_MASK, qRgb(255, 0, 255) & RGB_MASK) << "drawn on magenta";
    EXPECT_EQ(button->Glyph().TransparentColor(), QColor(255, 0, 255));

    // A picture of the button's own wins; an index past the list gives none.
    QImage mine(16, 16, QImage::Format_RGB32);
    mine.fill(Qt::green);
    auto* own = new TSpeedButton(host.get());
    own->SetGlyph(mine);
    own->SetAction(action);
    EXPECT_EQ(own->Glyph().Picture().size(), QSize(16, 16));
    action->SetImageIndex(2);
    auto* beyond = new TSpeedButton(host.get());
    beyond->SetAction(action);
    EXPECT_FALSE(beyond->Glyph().HasPicture());
}

TEST_F(ActionTest, ExecuteAsksTheListHookFirstAndRunsOnlyWhenEnabled)
{
    std::vector<std::string> calls;
    list->SetExecuteHook([&calls](TAction&) {
        calls.push_back("list");
        return false;
    });
    action->SetOnUpdate([&calls](QObject*) { calls.push_back("update"); });
    action->SetOnExecute([&calls](QObject*) { calls.push_back("own"); });
    EXPECT_TRUE(action->Execute(nullptr));
    EXPECT_EQ(calls, (std::vector<std::string>{"update", "list", "own"}));

    calls.clear();
    list->SetExecuteHook([&calls](TAction&) {
        calls.push_back("list");
        return true;
    });
    EXPECT_TRUE(action->Execute(nullptr));
    EXPECT_EQ(calls, (std::vector<std::string>{"update", "list"}));

    // An update handler that disables the command stops it.
    calls.clear();
    action->SetOnUpdate([this](QObject*) { action->SetEnabled(false); });
    EXPECT_FALSE(action->Execute(nullptr));
    EXPECT_TRUE(calls.empty());
}

TEST_F(ActionTest, TriggeringTheStoredActionRunsTheCommand)
{
    source->trigger();
    EXPECT_EQ(runs, 1);
}

TEST_F(ActionTest, IdleStepsLeaveACommandWithAHandlerEnabledAndDisableOneWithout)
{
    auto* bareSource = new QAction(QStringLiteral("bare"), host.get());
    auto* bare = new TAction(*bareSource, list);
    auto* bareButton = new TSpeedButton(host.get());
    bareButton->setGeometry(130, 10, 113, 48);
    bareButton->SetAction(bare);
    button->SetAction(action);

    // A hidden window updates nothing.
    RunIdleSteps();
    EXPECT_TRUE(bare->Enabled());

    host->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    RunIdleSteps();
    EXPECT_TRUE(action->Enabled());
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(bare->Enabled());
    EXPECT_FALSE(bareButton->isEnabled());
}

TEST_F(ActionTest, IdleStepAsksTheUpdateHandlersOfVisibleBoundControlsOnly)
{
    int updates = 0;
    action->SetOnUpdate([&updates](QObject*) { ++updates; });
    button->SetAction(action);
    host->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    RunIdleSteps();
    EXPECT_GT(updates, 0);

    button->hide();
    updates = 0;
    RunIdleSteps();
    EXPECT_EQ(updates, 0);

    button->show();
    host->setEnabled(false);
    RunIdleSteps();
    EXPECT_EQ(updates, 0);
}

TEST_F(ActionTest, CommandsLeaveTheirListAndTheRegistryWhenDestroyed)
{
    EXPECT_EQ(list->Actions().size(), 1u);
    button->SetAction(action);
    delete source;  // takes its command with it
    EXPECT_TRUE(list->Actions().empty());
    EXPECT_EQ(button->Action(), nullptr);
    EXPECT_EQ(std::count(TAction::All().begin(), TAction::All().end(), action), 0);
}
