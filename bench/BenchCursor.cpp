// bench-libs: vantelo_store benchmark::benchmark
// The cost of walking the dataset cursor: open plus a first/next walk over
// 1,000,000 in-memory rows through a data link that buffers 15 rows (the
// grid's window), with the views notified at every move and with
// notifications disabled (the footer count's walk). Reports ns per next.
#include "store/TDataLink.h"
#include "store/TDataSource.h"
#include "store/TMemoryDataSet.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

using namespace vantelo;

namespace {

constexpr int kRows = 1'000'000;

// A link that does the cheap part of what a grid does on each notification.
class CountingLink : public TDataLink {
public:
    int64_t scrolls = 0;

protected:
    void DataSetScrolled(int distance) override { scrolls += distance + 1; }
    void DataSetChanged() override { ++scrolls; }
};

struct Fixture {
    TMemoryDataSet query{nullptr, "ADOQuery1"};
    TDataSource source{nullptr, "DataSource1"};
    CountingLink link;

    Fixture()
    {
        query.SetColumns({{"FileIndex", TFieldType::ftAutoInc, 0, true},
                          {"FileName", TFieldType::ftWideString, 255, false},
                          {"FileEnable", TFieldType::ftBoolean, 0, false}});
        query.ReserveRows(kRows);
        for (int i = 0; i < kRows; ++i) {
            std::u16string name = u"f";
            for (const char digit : std::to_string(i))
                name.push_back(static_cast<char16_t>(digit));
            query.AppendRow({TNull{}, std::move(name), int16_t{1}});
        }
        source.SetDataSet(&query);
        link.SetDataSource(&source);
        link.SetBufferCount(15);
    }
};

Fixture& Rows()
{
    static Fixture fixture;
    return fixture;
}

int64_t Walk(TDataSet& query, bool readName)
{
    int64_t count = 0;
    query.First();
    while (!query.Eof()) {
        if (readName)
            benchmark::DoNotOptimize(query.FieldByName("FileName").Value());
        ++count;
        query.Next();
    }
    return count;
}

void Report(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * kRows);
    // Shown with an SI prefix: "50.1ns" is 50.1 nanoseconds per next.
    state.counters["per_next"] = benchmark::Counter(static_cast<double>(state.iterations()) * kRows,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_OpenAndWalk(benchmark::State& state)
{
    Fixture& rows = Rows();
    for (auto _ : state) {
        rows.query.Open();
        benchmark::DoNotOptimize(Walk(rows.query, false));
        rows.query.Close();
    }
    Report(state);
}

void BM_OpenAndWalkNotificationsDisabled(benchmark::State& state)
{
    Fixture& rows = Rows();
    for (auto _ : state) {
        rows.query.Open();
        rows.query.DisableControls();
        benchmark::DoNotOptimize(Walk(rows.query, false));
        rows.query.First();
        rows.query.EnableControls();
        rows.query.Close();
    }
    Report(state);
}

void BM_OpenAndWalkReadingNames(benchmark::State& state)
{
    Fixture& rows = Rows();
    for (auto _ : state) {
        rows.query.Open();
        benchmark::DoNotOptimize(Walk(rows.query, true));
        rows.query.Close();
    }
    Report(state);
}

}  // namespace

BENCHMARK(BM_OpenAndWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndWalkNotificationsDisabled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndWalkReadingNames)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
