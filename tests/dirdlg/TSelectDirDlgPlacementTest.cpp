// Where the chooser appears under a real window manager: centred on the
// screen by its outer size, the window manager's frame included. The outer
// test starts a virtual X server (Xvfb) and a small window manager (openbox)
// and runs the inner test again in this program on that display; it skips
// when either is missing.
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dirdlg/TSelectDirDlg.h"
#include "support/TWindowManagerDisplay.h"
#include "tests/dirdlg/DirDlgFixture.h"

namespace vantelo {
namespace {

constexpr const char* kInnerFlag = "VANTELO_UNDER_WINDOW_MANAGER";

TEST(TSelectDirDlgPlacement, CentredByItsOuterSizeUnderARealWindowManager)
{
    if (std::getenv(kInnerFlag))
        GTEST_SKIP() << "this is the inner run";
    std::string skip;
    const int status = test::RunUnderWindowManager("TSelectDirDlgUnderWindowManager.*", kInnerFlag, skip);
    if (!skip.empty())
        GTEST_SKIP() << skip;
    EXPECT_EQ(status, 0) << "the inner run failed; its output is above";
}

class TSelectDirDlgUnderWindowManager : public test::DirDlgFixture {};

TEST_F(TSelectDirDlgUnderWindowManager, CentredOnTheScreenWithItsFrame)
{
    if (!std::getenv(kInnerFlag))
        GTEST_SKIP() << "runs inside TSelectDirDlgPlacement on a display with a window manager";
    TSelectDirDlg dialog;
    dialog.show();
    // The window manager frames the window once it is mapped.
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.windowHandle()->frameGeometry().height() > dialog.height(); }, test::kWindowManagerPatience))
        << "no frame from the window manager";
    const QRect screen = dialog.screen()->geometry();
    const auto centred = [&] {
        const QSize outer = dialog.windowHandle()->frameGeometry().size();
        return QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
    };
    const bool settled = QTest::qWaitFor([&] { return dialog.windowHandle()->frameGeometry().topLeft() == centred(); },
                                          test::kWindowManagerPatience);
    EXPECT_TRUE(settled);
    EXPECT_EQ(dialog.windowHandle()->frameGeometry().topLeft(), centred())
        << "frame " << dialog.windowHandle()->frameGeometry().width() << "x" << dialog.windowHandle()->frameGeometry().height() << " client "
        << dialog.width() << "x" << dialog.height();
    std::printf("frame %dx%d at (%d, %d) on a %dx%d screen\n", dialog.windowHandle()->frameGeometry().width(),
                dialog.windowHandle()->frameGeometry().height(), dialog.windowHandle()->frameGeometry().x(), dialog.windowHandle()->frameGeometry().y(),
                screen.width(), screen.height());
    dialog.hide();
}

}  // namespace
}  // namespace vantelo
