// bench-libs: vantelo_store
// End-to-end figures of the storage over SQLite, in a fresh temporary
// database made from resources/schema.sql:
//   - opening 1,000,000 rows through the query (time, and the process's peak
//     resident size from getrusage, measured before anything else runs),
//     then a walk over all of them reading each name;
//   - 100,000 single-row posts through the data module's scratch query
//     (inserts at the end, then an edit of each row), inside one batch and
//     without one (each post its own transaction);
//   - the switch-off walk of a batch rename: an edit of each of that many
//     rows through a query whose view holds a window of 30 rows, with its
//     notifications held, in one batch.
// Usage: BenchStorage [rows-to-open] [posts] [--batched K]
// With --batched, only the posts in one batch and the switch-off walk run,
// K times each in turn, and a last line gives their medians: the figures to
// hold against another build's on a busy machine.
#include "store/OpenQuery.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TDataLink.h"
#include "store/TDataSource.h"
#include "store/TShareDataModule.h"

#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace vantelo;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// The schema's text, read once at start-up: later runs change the current
// directory, against which a relative source path would no longer resolve.
std::string Schema()
{
    static const std::string text = [] {
        const char* source = std::getenv("VANTELO_SOURCE_DIR");
        const std::filesystem::path root =
            source ? std::filesystem::path(source) : std::filesystem::path(__FILE__).parent_path().parent_path();
        const std::filesystem::path path = std::filesystem::absolute(root / "resources" / "schema.sql");
        std::ifstream in(path);
        std::stringstream read;
        read << in.rdbuf();
        if (!in || read.str().empty()) {
            std::fprintf(stderr, "BenchStorage: cannot read %s (set VANTELO_SOURCE_DIR to the source tree)\n",
                         path.c_str());
            std::exit(1);
        }
        return read.str();
    }();
    return text;
}

// A fresh folder with an empty FileName.mdb, entered as current directory.
std::filesystem::path MakeDatabase()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vantelo-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::exit(1);
    sqlite3* db = nullptr;
    sqlite3_open((pattern + "/FileName.mdb").c_str(), &db);
    if (sqlite3_exec(db, Schema().c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "schema: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
    sqlite3_close(db);
    std::filesystem::current_path(pattern);
    return pattern;
}

void FillRows(int rows)
{
    sqlite3* db = nullptr;
    sqlite3_open("FileName.mdb", &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Tellarin (FileName, FileEnable) VALUES (?, 1)", -1, &insert, nullptr);
    for (int i = 0; i < rows; ++i) {
        const std::string name = "IMG_" + std::to_string(100000 + i) + "_holiday.jpg";
        sqlite3_bind_text(insert, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void BenchOpen(int rows)
{
    const std::filesystem::path folder = MakeDatabase();
    FillRows(rows);
    const long before = PeakRssMb();
    {
        TShareDataModule module;
        TADOQuery& query = *module.ADOQueryTemp;
        const auto start = Clock::now();
        if (!OpenQuery(query, "Select * From Tellarin Where FileEnable = True", "open failed"))
            std::exit(1);
        const double open = Seconds(start);
        std::printf("open %d rows: %.3f s, record count %lld, result %.1f MB, peak RSS %ld MB (before %ld MB)\n",
                    rows, open, static_cast<long long>(query.RecordCount()),
                    static_cast<double>(query.ResultBytes()) / (1 << 20), PeakRssMb(), before);
        const auto walk = Clock::now();
        size_t bytes = 0;
        query.DisableControls();
        for (query.First(); !query.Eof(); query.Next())
            bytes += query.FieldByName("FileName").AsString().size();
        query.EnableControls();
        const double walked = Seconds(walk);
        std::printf("walk with name reads: %.3f s (%.0f ns a row, %zu bytes)\n", walked, walked * 1e9 / rows, bytes);
    }
    std::filesystem::remove_all(folder);
}

struct PostTimes {
    double inserted = 0;
    double edited = 0;
};

PostTimes BenchPosts(int posts, bool batched)
{
    PostTimes times;
    const std::filesystem::path folder = MakeDatabase();
    {
        TShareDataModule module;
        TADOQuery& query = *module.ADOQueryTemp;
        TADOConnection& connection = *module.ADOConnection1;
        OpenQuery(query, "Select * From Tellarin", "open failed");
        const auto start = Clock::now();
        if (batched)
            connection.BeginBatch();
        for (int i = 0; i < posts; ++i) {
            query.Insert();
            query.FieldByName("FileName").SetAsString("new_" + std::to_string(i));
            query.FieldByName("FileEnable").SetAsBoolean(true);
            query.Post();
            query.Next();
        }
        if (batched)
            connection.CommitBatch();
        const double inserted = Seconds(start);
        OpenQuery(query, "Select * From Tellarin", "open failed");
        const auto editStart = Clock::now();
        if (batched)
            connection.BeginBatch();
        while (!query.Eof()) {
            query.Edit();
            query.FieldByName("FileEnable").SetAsBoolean(false);
            query.Post();
            query.Next();
        }
        if (batched)
            connection.CommitBatch();
        const double edited = Seconds(editStart);
        std::printf("%s: %d inserts %.3f s (%.0f posts/s), %d edits %.3f s (%.0f posts/s)\n",
                    batched ? "in one batch" : "no batch   ", posts, inserted, posts / inserted, posts, edited,
                    posts / edited);
        times = {inserted, edited};
    }
    std::filesystem::remove_all(folder);
    return times;
}

double BenchWindowWalk(int posts)
{
    double walked = 0;
    const std::filesystem::path folder = MakeDatabase();
    FillRows(posts);
    {
        TShareDataModule module;
        TADOQuery& query = *module.ADOQueryTemp;
        TADOConnection& connection = *module.ADOConnection1;
        TDataSource source;
        source.SetDataSet(&query);
        TDataLink view;
        view.SetBufferCount(30);
        view.SetDataSource(&source);
        OpenQuery(query, "Select * From Tellarin", "open failed");
        const auto start = Clock::now();
        query.DisableControls();
        connection.BeginBatch();
        for (query.First(); !query.Eof(); query.Next()) {
            query.Edit();
            query.FieldByName("FileEnable").SetAsBoolean(false);
            query.Post();
        }
        connection.CommitBatch();
        query.EnableControls();
        walked = Seconds(start);
        std::printf("walk of a 30-row window, in one batch: %d edits %.3f s (%.0f posts/s)\n", posts, walked,
                    posts / walked);
        view.SetDataSource(nullptr);
    }
    std::filesystem::remove_all(folder);
    return walked;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    int batchedRuns = 0;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--batched") {
            batchedRuns = std::atoi(args[i + 1].c_str());
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            break;
        }
    }
    const int rows = args.size() > 0 ? std::atoi(args[0].c_str()) : 1'000'000;
    const int posts = args.size() > 1 ? std::atoi(args[1].c_str()) : 100'000;
    Schema();
    if (batchedRuns > 0) {
        std::vector<double> inserts, edits, walks;
        for (int run = 0; run < batchedRuns; ++run) {
            const PostTimes times = BenchPosts(posts, true);
            inserts.push_back(times.inserted);
            edits.push_back(times.edited);
            walks.push_back(BenchWindowWalk(posts));
        }
        std::printf("medians of %d: inserts %.4f s, edits %.4f s, walk %.4f s\n", batchedRuns, Median(inserts),
                    Median(edits), Median(walks));
        return 0;
    }
    BenchOpen(rows);
    BenchPosts(posts, true);
    BenchWindowWalk(posts);
    BenchPosts(posts, false);
    return 0;
}
