// bench-libs: vantelo_rename sqlite3
// The rename journal's promises at scale: the Ctrl+Z question about a
// 1,000,000-file batch is asked from the batch's row alone (time to answer);
// a batch's start is not held up by dropping the oldest of the kept batches
// (its time, and the drop's afterwards, with 100,000-file batches); and a
// damaged 32 MiB journal record is set aside without being read whole (time,
// and the peak memory the process reaches).
//   BenchJournal [files] [runs]
// The damaged records are read back by a process of their own (this program
// run again with "recover <journal>"), so its peak memory is the reading's.
#include "BenchStats.h"
#include "rename/TRenameHistory.h"
#include "rename/TRenameJournal.h"

#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace vantelo;
using Clock = std::chrono::steady_clock;

namespace {

using vantelo::bench::Median;
using vantelo::bench::Milliseconds;


long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// File `index` of a batch as the benchmark journals it, renamed in place.
void PackBenchFile(std::string& packed, size_t index) {
    const std::string name = "photo-" + std::to_string(1000000 + index) + ".jpg";
    const TFileIdentity identity{2049, static_cast<ino_t>(index + 100), 123456, {1700000000, 0}, {1700000000, 5}};
    TRenameJournal::PackFile(packed, name, name + ".png", identity, identity);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "recover") {
        const auto start = Clock::now();
        TRenameHistory history(argv[2]);
        while (history.RecoverOne().kind != TRenameHistory::Recovery::Kind::None) {
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const size_t setAside = history.TakeSetAside().size();
        std::printf("two damaged 32 MiB records: %zu set aside in %.1f ms; peak memory of the reading process %ld MB\n",
                    setAside, ms, PeakKilobytes() / 1024);
        return setAside == 2 ? 0 : 3;
    }
    const size_t files = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    char pattern[] = "/tmp/vantelo-bench-journal-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string dir = pattern;
    const std::string journalPath = dir + "/state/vantelo/journal.db";

    // A finished batch of `files` files, written as the batch writes it.
    {
        TRenameJournal journal(journalPath);
        size_t next = 0;
        bool started = false;
        const auto slices = [&](std::string& slice) {
            slice.clear();
            if (started && next >= files) return false;
            if (!started) {
                slice = TRenameJournal::PackStart();
                started = true;
            }
            for (; next < files && slice.size() < TRenameJournal::kSliceBytes; ++next) PackBenchFile(slice, next);
            return true;
        };
        const int64_t id = journal.Begin({dir, {2049, 2, 0, {}}, 0}, true, files, "bench", slices);
        journal.SetPhase(id, TRenameJournal::Phase::Making, TRenameJournal::Phase::Done);
    }
    std::vector<double> question;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const auto last = TRenameHistory(journalPath).LastBatch();
        question.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (!last || last->fileCount != files) return 2;
    }
    std::printf("Ctrl+Z question, %zu-file batch: median %.2f ms over %d runs\n", files, Median(question), runs);

    // A batch's start once the kept batches are full: nothing old is dropped
    // on the way to its first rename; the upkeep drops the oldest afterwards.
    {
        const size_t listed = std::min<size_t>(files, 100000);
        std::string packed = TRenameJournal::PackStart(listed);
        for (size_t i = 0; i < listed; ++i) PackBenchFile(packed, i);
        TRenameJournal journal(journalPath);
        std::vector<double> begins, drops;
        for (int i = 0; i < TRenameJournal::kKeptBatches + runs; ++i) {
            auto start = Clock::now();
            const int64_t id = journal.Begin({dir, {2049, 2, 0, {}}, 0}, true, listed, "bench",
                                             TRenameJournal::SlicesOf(packed));
            const double begin = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            journal.SetPhase(id, TRenameJournal::Phase::Making, TRenameJournal::Phase::Done);
            journal.Release(id);
            start = Clock::now();
            const size_t dropped = journal.DropOldBatches();
            if (dropped == 0) continue;
            begins.push_back(begin);
            drops.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::printf("a %zu-file batch's start with %d batches kept: median %.1f ms; the upkeep's drop of the oldest "
                    "afterwards: median %.1f ms over %zu runs\n",
                    listed, TRenameJournal::kKeptBatches, Median(begins), Median(drops), begins.size());
    }

    // A damaged record: 32 MiB in one slice, and 32 MiB in 1 MiB slices of
    // noise, each claiming a million files.
    {
        TRenameJournal make(journalPath);
        sqlite3* db = nullptr;
        sqlite3_open(journalPath.c_str(), &db);
        for (const size_t slice : {size_t{32} << 20, size_t{1} << 20}) {
            sqlite3_exec(db,
                         "INSERT INTO Batches(Directory, DirDevice, DirInode, FsId, DeleteOld, Phase, FileCount, Token) "
                         "VALUES ('/nowhere', 1, 2, 0, 1, 1, 1000000, 'x')",
                         nullptr, nullptr, nullptr);
            const int64_t id = sqlite3_last_insert_rowid(db);
            std::string noise(slice, '\x03');
            for (size_t at = 0; at < noise.size(); at += 7) noise[at] = static_cast<char>(at * 31);
            for (size_t part = 0; part < (size_t{32} << 20) / slice; ++part) {
                sqlite3_stmt* insert = nullptr;
                sqlite3_prepare_v2(db, "INSERT INTO BatchFiles VALUES (?, ?, ?)", -1, &insert, nullptr);
                sqlite3_bind_int64(insert, 1, id);
                sqlite3_bind_int64(insert, 2, static_cast<int64_t>(part));
                std::string bytes = noise;
                if (part == 0) bytes[0] = '\x03';  // a packed list's version, then noise
                sqlite3_bind_blob64(insert, 3, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
                sqlite3_step(insert);
                sqlite3_finalize(insert);
            }
        }
        sqlite3_close(db);
    }
    const std::string command = std::string(argv[0]) + " recover " + journalPath;
    std::fflush(stdout);  // the reading process's line after this one's
    const int status = std::system(command.c_str());
    std::filesystem::remove_all(dir);
    return status == 0 ? 0 : 3;
}
