// bench-libs: vantelo_grid vantelo_controls Qt6::Test
// The grid with 1,000,000 rows behind it: open plus the footer's recount plus
// the first paint, and a Down key at row 500,000 (a scroll of the band and a
// synchronous repaint). Prints the median of each over several runs; the key
// should stay under one display frame (16 ms).
#include "BenchStats.h"
#include "app/TApplication.h"
#include "grid/TDataGrid.h"
#include "grid/TGridColumn.h"
#include "store/TDataSource.h"
#include "store/TMemoryDataSet.h"
#include "ui_FormMain.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vantelo;

namespace {

using vantelo::bench::Median;
using vantelo::bench::Milliseconds;

constexpr int kRows = 1'000'000;
using Clock = std::chrono::steady_clock;



}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);

    QWidget host;
    Ui::FormMain ui;
    ui.setupUi(&host);
    TDataGrid* grid = ui.DBGrid1;

    TMemoryDataSet query(nullptr, "ADOQuery1");
    query.SetColumns({{"FileIndex", TFieldType::ftAutoInc, 0, true},
                      {"FileName", TFieldType::ftWideString, 255, false},
                      {"FileEnable", TFieldType::ftBoolean, 0, false}});
    query.ReserveRows(kRows);
    for (int i = 1; i <= kRows; ++i) {
        const std::string name = "file" + std::to_string(i) + ".txt";
        query.AppendRow({TNull{}, std::u16string(name.begin(), name.end()), int16_t{1}});
    }
    TDataSource source(nullptr, "DataSource1");
    source.SetDataSet(&query);
    grid->SetDataSource(&source);
    host.show();
    QApplication::setActiveWindow(&host);
    if (!QTest::qWaitForWindowExposed(&host))
        return 1;
    grid->setFocus();

    std::vector<double> opens;
    for (int run = 0; run < 5; ++run) {
        query.Close();
        QApplication::processEvents();
        const auto start = Clock::now();
        query.Open();      // includes the footer's recount walk
        grid->repaint();   // the first paint
        opens.push_back(Milliseconds(Clock::now() - start));
    }
    std::printf("open + recount + first paint, %d rows: median %.1f ms\n", kRows, Median(opens));

    query.SetRecNo(500'000);
    // Stand on the window's last row so that Down scrolls the band.
    QTest::keyClick(grid, Qt::Key_PageDown, Qt::ControlModifier);
    QApplication::processEvents();
    std::vector<double> keys;
    for (int i = 0; i < 200; ++i) {
        // A frame apart, so that every key is painted synchronously.
        QTest::qWait(TDataGrid::kFrameMilliseconds + 1);
        const auto start = Clock::now();
        QTest::keyClick(grid, Qt::Key_Down);
        keys.push_back(Milliseconds(Clock::now() - start));
    }
    std::printf("Down key at row ~500,000 (scroll + synchronous repaint): median %.3f ms, max %.3f ms, "
                "%d synchronous repaints\n",
                Median(keys), *std::max_element(keys.begin(), keys.end()), grid->SynchronousRepaints());

    // A walk of 100,000 rows as the rename pass does it: painting is coalesced.
    query.First();
    const int before = grid->SynchronousRepaints();
    const auto start = Clock::now();
    for (int i = 0; i < 100'000; ++i)
        query.Next();
    const double walk = Milliseconds(Clock::now() - start);
    std::printf("first/next walk of 100,000 rows with the grid shown: %.1f ms (%.2f us a row), %d repaints\n", walk,
                walk * 1000 / 100'000, grid->SynchronousRepaints() - before);
    return 0;
}
