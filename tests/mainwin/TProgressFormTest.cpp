// The progress window: its texts ("n / N", bytes), its fixed classic look,
// the file name kept short, and the cancel button following the work.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "app/TApplication.h"
#include "mainwin/ProgressTexts.h"
#include "mainwin/TProgressForm.h"

using namespace vantelo;

TEST(ProgressForm, CountAndByteTexts)
{
    EXPECT_EQ(TProgressForm::CountText(0, 0), QStringLiteral("0"));
    EXPECT_EQ(TProgressForm::CountText(1234, 0), QStringLiteral("1234"));
    EXPECT_EQ(TProgressForm::CountText(3, 20000), QStringLiteral("3 / 20000"));
    const struct {
        uint64_t done, total;
        const char* text;
    } bytes[] = {
        {0, 1023, "0 B / 1023 B"},
        {1024, 1536, "1.0 KB / 1.5 KB"},
        {5ull << 20, 3ull << 30, "5.0 MB / 3.0 GB"},
        {1ull << 40, 1ull << 50, "1.0 TB / 1024.0 TB"},
    };
    for (const auto& row : bytes)
        EXPECT_EQ(TProgressForm::BytesText(row.done, row.total), QString::fromUtf8(row.text)) << row.text;
}

TEST(ProgressForm, FixedClassicWindowTitledWithTheApplicationTitle)
{
    TProgressForm form(texts::kSearchingFiles);
    EXPECT_EQ(form.size(), QSize(TProgressForm::kClientWidth, TProgressForm::kClientHeight));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.windowTitle(), QString::fromStdString(Application->Title()));
    EXPECT_EQ(form.CaptionLabel()->text(), QString::fromUtf8("正在搜索文件…"));
    EXPECT_EQ(form.CancelButton()->text(), QString::fromUtf8("取消"));
    EXPECT_EQ(QFontInfo(form.font()).family(), QStringLiteral("AR PL UMing CN"));
    EXPECT_EQ(QFontInfo(form.font()).pixelSize(), 12);
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    // Nothing known yet: the count is 0 and the bar runs busy.
    EXPECT_EQ(form.CountLabel()->text(), QStringLiteral("0"));
    EXPECT_EQ(form.FilesBar()->maximum(), 0);
}

TEST(ProgressForm, ShowsTheStateTheWorkReported)
{
    TProgressForm form(texts::kRenamingFiles);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TWorkProgress::Snapshot state;
    state.done = 250;
    state.total = 1000;
    state.current = "IMG_0001.jpg";
    form.ShowProgress(state);
    EXPECT_EQ(form.CountLabel()->text(), QStringLiteral("250 / 1000"));
    EXPECT_EQ(form.FilesBar()->value() * 4, form.FilesBar()->maximum());
    EXPECT_EQ(form.FileLabel()->text(), QStringLiteral("IMG_0001.jpg"));
    // No bytes to show for small files.
    EXPECT_FALSE(form.BytesBar()->isVisible());
    EXPECT_FALSE(form.BytesLabel()->isVisible());

    // A large copy: the byte bar and count show.
    state.bytesDone = 3ull << 30;
    state.bytesTotal = 4ull << 30;
    form.ShowProgress(state);
    EXPECT_TRUE(form.BytesBar()->isVisible());
    EXPECT_EQ(form.BytesLabel()->text(), QStringLiteral("3.0 GB / 4.0 GB"));
    EXPECT_EQ(form.BytesBar()->value() * 4, form.BytesBar()->maximum() * 3);
    // The widest counts fit their labels whole (a clipped "24.2 MB" read "4.2 MB").
    state.done = state.total = 9999999;
    state.bytesDone = state.bytesTotal = (1ull << 30) - (1ull << 20) / 10 * 9;
    form.ShowProgress(state);
    for (const QLabel* label : {form.CountLabel(), form.BytesLabel()})
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << label->text().toStdString();

    // A name too long for the line keeps its start and its end.
    state.current = std::string(300, 'a') + "_end.jpg";
    form.ShowProgress(state);
    const QString shown = form.FileLabel()->text();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("aaa")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("_end.jpg")));
    EXPECT_LE(form.FileLabel()->fontMetrics().horizontalAdvance(shown), form.FileLabel()->width());

    // Past the point of no return the button goes grey.
    state.cancellable = false;
    form.ShowProgress(state);
    EXPECT_FALSE(form.CancelButton()->isEnabled());

    // A picture of the window, to look at.
    state.cancellable = true;
    state.current = "IMG_0001.jpg";
    form.ShowProgress(state);
    if (const char* out = std::getenv("VANTELO_BINARY_DIR"))
        form.grab().save(QString(out) + "/progress-window.png");
}

TEST(ProgressForm, EscapeAsksForAStopOnlyWhileTheWorkCanTurnBackAndOnlyOnce)
{
    TProgressForm form(texts::kRenamingFiles);
    int asked = 0;
    form.SetOnCancel([&] { ++asked; });
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TWorkProgress::Snapshot state;
    for (const bool cancellable : {false, true, true}) {
        state.cancellable = cancellable;
        form.ShowProgress(state);
        QTest::keyClick(&form, Qt::Key_Escape);
        if (asked == 1)
            form.ShowStopping();
    }
    EXPECT_EQ(asked, 1);
    // The window stays until its work takes it down.
    EXPECT_TRUE(form.isVisible());
}
