// bench-libs: vantelo_rename benchmark::benchmark
// Figures for the name rules (per name, both code pages) and for the rename
// operation over a whole directory: check, journal and rename of N files with
// the old names going, the work the rename button does per file besides the
// file list table.
#include "rename/TNameRules.h"
#include "rename/TRenameOperation.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using vantelo::TCodePage;

std::vector<std::string> SampleNames(size_t count) {
    std::vector<std::string> names;
    names.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        names.push_back("IMG_" + std::to_string(100000 + i) + (i % 3 == 0 ? ".JPG" : ".jpeg_backup.txt"));
    }
    return names;
}

void BM_NameMatches(benchmark::State& state) {
    const auto names = SampleNames(1000);
    for (auto _ : state) {
        size_t hits = 0;
        for (const std::string& name : names) hits += vantelo::NameMatches(name, "jpg");
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
}
BENCHMARK(BM_NameMatches);

void BM_ReplaceAllIgnoreCase(benchmark::State& state) {
    const TCodePage page(state.range(0) == 0 ? TCodePage::Kind::Utf8 : TCodePage::Kind::Gbk);
    const auto names = SampleNames(1000);
    for (auto _ : state) {
        for (const std::string& name : names) {
            benchmark::DoNotOptimize(vantelo::ReplaceAllIgnoreCase(name, "jpg", "png", page));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
    state.SetLabel(state.range(0) == 0 ? "utf8" : "gbk");
}
BENCHMARK(BM_ReplaceAllIgnoreCase)->Arg(0)->Arg(1);

// Check + journal + rename of state.range(0) files in a fresh directory, the
// journal in an empty database beside it.
void BM_RenameOperationWithDelete(benchmark::State& state) {
    const auto count = static_cast<size_t>(state.range(0));
    const auto names = SampleNames(count);
    for (auto _ : state) {
        state.PauseTiming();
        std::string dir = (std::filesystem::temp_directory_path() / "vantelo-bench-XXXXXX").string();
        if (mkdtemp(dir.data()) == nullptr) {
            state.SkipWithError("mkdtemp failed");
            return;
        }
        const std::string files = dir + "/files";
        const std::string database = dir + "/FileName.mdb";
        std::filesystem::create_directory(files);
        for (const std::string& path : {database}) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd >= 0) ::close(fd);
        }
        for (const std::string& name : names) {
            const int fd = ::open((files + "/" + name).c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd >= 0) ::close(fd);
        }
        state.ResumeTiming();
        vantelo::TRenameOperation operation(database, vantelo::TFileOps::System(), dir + "/state/journal.db");
        operation.Open(files);
        for (const std::string& name : names) operation.Add(name, vantelo::ReplaceAllIgnoreCase(name, "IMG", "PIC"));
        if (operation.Check() || operation.Run(true).outcome != vantelo::TRenameOperation::Outcome::Done)
            state.SkipWithError("rename failed");
        state.PauseTiming();
        std::filesystem::remove_all(dir);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RenameOperationWithDelete)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
