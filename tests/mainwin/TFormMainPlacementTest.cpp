// Where the main window appears under a real window manager: centred on the
// desktop by its outer size, the window manager's frame included, which is
// only known after the window is mapped. The outer test runs the inner one
// again in this program on a virtual X server with openbox.
#include <gtest/gtest.h>

#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "FileListFixture.h"
#include "support/TWindowManagerDisplay.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

namespace {

constexpr const char* kInnerFlag = "VANTELO_UNDER_WINDOW_MANAGER";

TEST(FormMainPlacement, CentredByItsOuterSizeUnderARealWindowManager)
{
    if (std::getenv(kInnerFlag))
        GTEST_SKIP() << "this is the inner run";
    std::string skip;
    const int status = vantelo::test::RunUnderWindowManager("FormMainUnderWindowManager.*", kInnerFlag, skip);
    if (!skip.empty())
        GTEST_SKIP() << skip;
    EXPECT_EQ(status, 0) << "the inner run failed; its output is above";
}

using FormMainUnderWindowManager = FileListFixture;

TEST_F(FormMainUnderWindowManager, CentredOnTheDesktopWithItsFrame)
{
    if (!std::getenv(kInnerFlag))
        GTEST_SKIP() << "runs inside FormMainPlacement on a display with a window manager";
    Start();
    QWindow& window = *form->windowHandle();
    // The window manager frames the window once it is mapped.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.frameGeometry().height() > form->height(); }, vantelo::test::kWindowManagerPatience))
        << "no frame from the window manager";
    const QRect desktop = form->screen()->virtualGeometry();
    const auto centred = [&] {
        const QSize outer = window.frameGeometry().size();
        return QPoint(std::max(0, (desktop.width() - outer.width()) / 2) + desktop.left(),
                      std::max(0, (desktop.height() - outer.height()) / 2) + desktop.top());
    };
    const bool settled = QTest::qWaitFor([&] { return window.frameGeometry().topLeft() == centred(); },
                                          vantelo::test::kWindowManagerPatience);
    EXPECT_TRUE(settled);
    EXPECT_EQ(window.frameGeometry().topLeft(), centred())
        << "frame " << window.frameGeometry().width() << "x" << window.frameGeometry().height() << " at ("
        << window.frameGeometry().x() << ", " << window.frameGeometry().y() << ")";
    std::printf("frame %dx%d at (%d, %d) on a %dx%d desktop\n", window.frameGeometry().width(),
                window.frameGeometry().height(), window.frameGeometry().x(), window.frameGeometry().y(),
                desktop.width(), desktop.height());
}

}  // namespace
