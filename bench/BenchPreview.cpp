// bench-libs: vantelo_mainwin vantelo_test_support Qt6::Test
// The preview window with 1,000,000 listed files: the check of every row
// (every name missing from an empty folder, so every row is marked), then
// opening the window and its first paint, the "refused only" filter, and a
// page down in the middle of the list. Prints the median of each over
// several runs; opening and the first paint should stay under 0.5 s.
#include "BenchStats.h"
#include "app/TApplication.h"
#include "mainwin/TPreviewForm.h"
#include "mainwin/TPreviewModel.h"
#include "rename/TRenamePreview.h"
#include "support/TTempDir.h"

#include <QCheckBox>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

using namespace vantelo;

namespace {

using vantelo::bench::Median;
using vantelo::bench::Milliseconds;

constexpr size_t kRows = 1'000'000;
constexpr int kRuns = 5;
using Clock = std::chrono::steady_clock;



}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    test::TTempDir folder;

    const Clock::time_point checkStart = Clock::now();
    std::deque<std::string> names;
    for (size_t i = 1; i <= kRows; ++i)
        names.push_back("photo" + std::to_string(i) + ".jpg");
    auto preview = std::make_shared<TRenamePreview>(folder.Path() + "/FileName.mdb");
    preview->Run(folder.Path(), nullptr, names, "jpg", "png");
    const double check = Milliseconds(Clock::now() - checkStart);

    std::vector<double> open, filter, page;
    for (int run = 0; run < kRuns; ++run) {
        Clock::time_point start = Clock::now();
        TPreviewForm form(preview, nullptr);
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        form.View()->viewport()->repaint();
        open.push_back(Milliseconds(Clock::now() - start));

        start = Clock::now();
        form.OnlyRefused()->setChecked(true);
        form.View()->viewport()->repaint();
        filter.push_back(Milliseconds(Clock::now() - start));
        form.OnlyRefused()->setChecked(false);

        QScrollBar* bar = form.View()->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        form.View()->viewport()->repaint();
        start = Clock::now();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        form.View()->viewport()->repaint();
        page.push_back(Milliseconds(Clock::now() - start));
    }
    std::printf("rows %zu (refused %zu)\n", preview->Count(), preview->Refused().size());
    std::printf("check of every row:        %8.1f ms (names made, looked up and judged)\n", check);
    std::printf("open + first paint:        %8.1f ms (median of %d)\n", Median(open), kRuns);
    std::printf("refused-only filter:       %8.1f ms\n", Median(filter));
    std::printf("page down mid-list:        %8.1f ms\n", Median(page));
    return 0;
}
