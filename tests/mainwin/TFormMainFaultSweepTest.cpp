// A system-call fault sweep over the main window's real handlers: a search
// followed by a batch rename, clicked through the real window and data module
// against a real FileName.mdb, with the fault shim preloaded. The Nth call of
// one C library function fails with EIO or ENOSPC, or the process dies at it;
// the database engine's own reads and writes are counted and failed like the
// rename's. N counts up until a run ends without reaching the Nth call.
//
// After every run the parent checks what the user and the next run rely on:
// every original file's content under its old or its new name and nothing
// partial or temporary; a database that passes its integrity check (after the
// engine's recovery of a dead writer); table rows that agree with the disk; a
// box for every failure that names the injected fault (its errno after the
// copy-failure text, or the engine's text for it), and "as before" or a
// complete set of copies behind every failure.
//
// Each sweep prints how its runs ended per call; with VANTELO_SWEEP_LOG set
// to a file, every run's boxes are appended to it.
#include <gtest/gtest.h>

#include "FileListFixture.h"
#include "reliability/DirState.h"
#include "reliability/RenameRun.h"
#include "reliability/ShimChild.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/wait.h>

namespace vantelo::reliability {
namespace {

constexpr const char* kTarget = ".k";
constexpr const char* kReplacement = ".r";
// Rows an earlier run left in the table: the start-up reset switches the live
// one off, and the search overwrites both before it appends.
constexpr const char* kStaleRows[] = {"stale-1.k", "stale-2.k"};

// ---- the child: one search and one rename under the shim --------------------

// Runs only when the sweep re-executes this program with its environment;
// never part of a normal run (disabled by name).
TEST(DISABLED_FormMainFaultDriver, SearchesThenRenames)
{
    const char* work = std::getenv("VANTELO_SWEEP_WORK");
    const char* base = std::getenv("VANTELO_SWEEP_BASE");
    const char* result = std::getenv("VANTELO_SWEEP_RESULT");
    if (!work || !base || !result)
        GTEST_SKIP() << "run by the fault sweep only";
    const bool deleteOld = std::getenv("VANTELO_SWEEP_DELETE") != nullptr;

    using Arm = void (*)(int);
    using Calls = long (*)();
    const auto arm = reinterpret_cast<Arm>(dlsym(RTLD_DEFAULT, "vantelo_faultshim_arm"));
    const auto calls = reinterpret_cast<Calls>(dlsym(RTLD_DEFAULT, "vantelo_faultshim_calls"));
    ASSERT_TRUE(arm && calls) << "the fault shim is not preloaded";

    // Every box is answered and recorded in memory; the file is written once
    // the shim is disarmed.
    std::vector<std::string> notices, errors;
    TMessageForm::SetAnswerHook([&](const std::string& text, DialogKind, const DialogButtons&) {
        notices.push_back(text);
        return 1;
    });
    Application->SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        errors.push_back(text);
        return 1;
    });

    // Start-up as the tool does it, in the folder that holds the database.
    std::filesystem::current_path(base);
    std::unique_ptr<TFormMain> form;
    std::unique_ptr<TShareDataModule> module;
    ASSERT_NO_FATAL_FAILURE(StartUp(form, module));
    ASSERT_TRUE(notices.empty() && errors.empty())
        << "start-up failed before the sweep began: " << ::testing::PrintToString(notices) << " "
        << ::testing::PrintToString(errors);

    const auto type = TypeInto;
    const auto& controls = form->Controls();
    arm(1);
    type(controls.Edit1, work);
    type(controls.Edit2, kTarget);
    QTest::mouseClick(controls.SpeedButton1, Qt::LeftButton);
    type(controls.Edit2, kTarget);
    type(controls.Edit3, kReplacement);
    controls.CheckBox1->setChecked(deleteOld);
    QTest::mouseClick(controls.SpeedButton2, Qt::LeftButton);
    const long callsInHandlers = calls();
    // Shutdown closes the connection, which checkpoints the journal: still armed.
    module.reset();
    ShareDataModule = nullptr;
    form.reset();
    arm(0);
    TMessageForm::ClearTestHooks();
    Application->SetMessageBoxHook(nullptr);

    std::ofstream out(result);
    out << callsInHandlers << " " << calls() << "\n";
    for (const std::string& text : notices)
        out << "N " << text << "\n";
    for (const std::string& text : errors)
        out << "E " << text << "\n";
}

// ---- the parent: the sweep
// ---------------------------------------------------

struct Fault {
    std::string call;
    long nth = 0;
    int error = EIO;
    bool kill = false;
};

struct RunResult {
    bool killed = false;
    long callsInHandlers = 0;
    long callsTotal = 0;
    std::vector<std::string> notices, errors;
    std::string trouble;  // how the child went wrong, if it did
};

RunResult RunChild(const std::string& shim, const std::string& work, const std::string& base, bool deleteOld,
                   const Fault& fault, const std::string& scratch)
{
    const std::string resultPath = scratch + "/result";
    ::unlink(resultPath.c_str());
    std::filesystem::remove_all(scratch + "/state");
    const ShimChild child =
        RunUnderShim(shim, "DISABLED_FormMainFaultDriver.SearchesThenRenames",
                     {{"VANTELO_FAULT_CALL", fault.call},
                      {"VANTELO_FAULT_NTH", std::to_string(fault.nth)},
                      {"VANTELO_FAULT_ERRNO", std::to_string(fault.error)},
                      {"VANTELO_FAULT_KILL", fault.kill ? "1" : "0"},
                      {"VANTELO_FAULT_ALWAYS", std::nullopt},
                      {"VANTELO_FAULT_ARMED", std::nullopt},
                      {"VANTELO_SWEEP_WORK", work},
                      {"VANTELO_SWEEP_BASE", base},
                      // Each run keeps its rename journal to itself.
                      {"XDG_STATE_HOME", scratch + "/state"},
                      {"VANTELO_SWEEP_RESULT", resultPath},
                      {"VANTELO_SWEEP_DELETE", deleteOld ? std::optional<std::string>("1") : std::nullopt}},
                     scratch + "/log");
    RunResult run;
    if (!child.trouble.empty()) {
        run.trouble = child.trouble;
        return run;
    }
    if (!child.exited) {
        if (child.signal == SIGKILL && fault.kill) {
            run.killed = true;
            return run;
        }
        run.trouble = "died of signal " + std::to_string(child.signal) + "\n" + child.log;
        return run;
    }
    std::ifstream in(resultPath);
    if (child.exitStatus != 0 || !(in >> run.callsInHandlers >> run.callsTotal)) {
        run.trouble = "exit status " + std::to_string(child.exitStatus) + "\n" + child.log;
        return run;
    }
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        if (line.rfind("N ", 0) == 0)
            run.notices.push_back(line.substr(2));
        else if (line.rfind("E ", 0) == 0)
            run.errors.push_back(line.substr(2));
    }
    return run;
}

// What the database holds after a run, read by a connection of our own once
// the child has ended: opening it read-write lets the engine recover the
// journal of a writer that died.
struct DatabaseState {
    std::string integrity;
    std::vector<Row> rows;
};

DatabaseState ReadDatabase(const std::string& path)
{
    DatabaseState state;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        state.integrity = std::string("cannot open: ") + sqlite3_errmsg(db);
        sqlite3_close(db);
        return state;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW)
            state.integrity += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    } else {
        state.integrity = sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
    sqlite3_prepare_v2(db, "SELECT FileIndex, FileName, FileEnable FROM Tellarin ORDER BY FileIndex", -1, &statement,
                       nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW)
        state.rows.push_back({sqlite3_column_int(statement, 0),
                              std::string(reinterpret_cast<const char*>(sqlite3_column_blob(statement, 1)),
                                          static_cast<size_t>(sqlite3_column_bytes(statement, 1))),
                              sqlite3_column_int(statement, 2) != 0});
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return state;
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// The files every run works on: a small file, a larger one, an empty one, a
// symbolic link, and a bystander the search does not list. A long list adds
// files with long names, so that the table spans several pages and a commit
// writes several frames of the journal.
void Populate(const TTempDir& dir, bool longList)
{
    dir.WriteFile("small.k", "small");
    dir.WriteFile("empty.k", "");
    dir.WriteFile("big.k", RandomBytes(160 << 10, 11));
    dir.WriteFile("other.txt", "not listed");
    ::symlink("small.k", (dir / "link.k").c_str());
    if (longList) {
        for (int i = 0; i < 60; ++i) {
            const std::string number = std::to_string(1000 + i);
            dir.WriteFile("file-" + number + "-" + std::string(170, 'n') + ".k", "content " + number);
        }
    }
}

// True when the preloaded shim itself defines `call` (a function it can fail),
// so that calls it may learn later join the sweep on their own.
bool ShimDefines(const std::string& shim, const char* call)
{
    void* handle = ::dlopen(shim.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle)
        return false;
    Dl_info info{};
    void* symbol = ::dlsym(handle, call);
    const bool ours =
        symbol && ::dladdr(symbol, &info) && info.dli_fname && std::filesystem::equivalent(info.dli_fname, shim);
    ::dlclose(handle);
    return ours;
}

const char* ErrnoName(int error) { return error == ENOSPC ? "ENOSPC" : error == EIO ? "EIO" : "?"; }

// The texts the database engine reports for an I/O fault: a failed write with
// ENOSPC is "full"; a read that fails with EIO is taken for a damaged file
// system and reported as a malformed image (the file itself is sound); every
// other failed read, write, sync, open or lock of its files is an I/O error.
bool EngineTextFor(const std::string& call, int error, const std::string& text)
{
    const auto says = [&](const char* words) { return text.find(words) != std::string::npos; };
    // The rename's journal opens a connection of its own: a failed open of
    // its file is reported as such, or as a file it may only read.
    // The journal's own files (its folder, the database, the lock) are
    // opened and checked first, and a failure there names the file.
    const bool journalOpen = (call == "open" || call == "openat" || call == "fstat") &&
        (says("unable to open database file") || says("attempt to write a readonly database") ||
         says("vantelo/journal.db"));
    return says("disk I/O error") || (error == ENOSPC && says("database or disk is full")) ||
        (call == "pread" && error == EIO && says("database disk image is malformed")) || journalOpen;
}

// The calls a run reaches: the rename's own and the database engine's (its
// journal and database writes, opens, size changes and reads).
const std::vector<std::string> kCalls = {"write",     "pwrite",          "fsync",     "linkat",     "unlinkat",
                                         "close",     "openat",          "open",      "fstat",      "fstatat",
                                         "ftruncate", "lseek",           "pread",     "ioctl",      "fchmod",
                                         "futimens",  "copy_file_range", "symlinkat", "readlinkat", "fsetxattr"};
// The engine's alone, for the long list.
const std::vector<std::string> kEngineCalls = {"pwrite", "pread"};
// Calls the engine also makes (its syncs, and the removal of its journal),
// swept once the shim can fail them.
const char* const kCallsIfTheShimHasThem[] = {"fdatasync", "unlink", "rename", "renameat", "renameat2"};

// How one run ended.
enum class Outcome { Clean, AtShutdown, Absorbed, CopyFailure, ErrorBoxBefore, ErrorBoxAfter, Killed, Unlisted, Bad };
constexpr int kOutcomes = 9;
constexpr const char* kOutcomeNames[kOutcomes] = {
    "clean",  "at shutdown", "absorbed", "copy failure", "error box, folder as before", "error box after the copies",
    "killed", "folder not listed", "bad"};
using Tally = std::array<int, kOutcomes>;

struct Mode {
    bool deleteOld;
    int error;  // with kill false
    bool kill;
    bool longList = false;
};

class FormMainFaultSweep : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // One database made from the schema; each run starts from a copy.
        template_ = std::make_unique<TTempDir>();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((template_->Path() + "/FileName.mdb").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, Schema().c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        const std::string stale = "INSERT INTO Tellarin(FileName, FileEnable) VALUES ('" + std::string(kStaleRows[0]) +
            "', 1), ('" + kStaleRows[1] + "', 0)";
        ASSERT_EQ(sqlite3_exec(db, stale.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    static void TearDownTestSuite() { template_.reset(); }

    void SetUp() override
    {
        const char* shim = std::getenv("VANTELO_FAULTSHIM");
        if (!shim || ::access(shim, R_OK) != 0)
            GTEST_SKIP() << "VANTELO_FAULTSHIM names no fault shim";
        shim_ = shim;
    }

    // The Ns tried for one call: every one up to 60, then every 7th, until a
    // run ends without reaching N.
    static long NextN(long nth) { return nth < 60 ? nth + 1 : nth + 7; }

    // Sweeps one call in one mode; returns how its runs ended.
    Tally Sweep(const std::string& call, const Mode& mode)
    {
        Tally runs{};
        const int failuresBefore = FailureCount();
        for (long nth = 1;; nth = NextN(nth)) {
            TTempDir work, base;
            Populate(work, mode.longList);
            std::filesystem::copy_file(template_->Path() + "/FileName.mdb", base.Path() + "/FileName.mdb");
            const DirState before = Snapshot(work.Path());
            const Rows rows = SearchRows(work.Path(), kTarget, kReplacement);
            const RunResult run = RunChild(shim_, work.Path(), base.Path(), mode.deleteOld,
                                           {call, nth, mode.error, mode.kill}, scratch_.Path());
            const std::string where = call + " #" + std::to_string(nth) + " " +
                (mode.kill ? "kill" : ErrnoName(mode.error)) + (mode.deleteOld ? ", deleting" : ", keeping") +
                (mode.longList ? ", long list" : "");
            if (!run.trouble.empty()) {
                ADD_FAILURE() << where << ": " << run.trouble;
                ++runs[static_cast<int>(Outcome::Bad)];
                return runs;
            }
            // What the child left beside the database, before our own
            // connection recovers and removes the journal.
            const DirState databaseFolder = Snapshot(base.Path());
            const DatabaseState database = ReadDatabase(base.Path() + "/FileName.mdb");
            const Outcome outcome =
                Check(where, call, mode, nth, before, Snapshot(work.Path()), rows, database, databaseFolder, run);
            ++runs[static_cast<int>(outcome)];
            if (const char* log = std::getenv("VANTELO_SWEEP_LOG")) {
                std::ofstream out(log, std::ios::app);
                out << where << ": " << kOutcomeNames[static_cast<int>(outcome)] << " (" << run.callsInHandlers << "/"
                    << run.callsTotal << " calls)";
                for (const std::string& text : run.notices)
                    out << " | notice " << text;
                for (const std::string& text : run.errors)
                    out << " | error " << text;
                out << "\n";
            }
            if (FailureCount() != failuresBefore)
                return runs;  // one report per call and mode is enough
            if (!run.killed && run.callsTotal < nth)
                return runs;
        }
    }

    // The checks after one run; answers how it ended.
    Outcome Check(const std::string& where, const std::string& call, const Mode& mode, long nth, const DirState& before,
                  const DirState& after, const Rows& rows, const DatabaseState& database,
                  const DirState& databaseFolder, const RunResult& run)
    {
        SCOPED_TRACE(where);
        EXPECT_TRUE(NothingLost(before, after, rows));
        EXPECT_EQ(database.integrity, "ok");
        for (const auto& [name, entry] : databaseFolder) {
            const bool own = name == "FileName.mdb" || name == "FileName.mdb-wal" || name == "FileName.mdb-shm" ||
                name == "FileName.mdb-journal";
            EXPECT_TRUE(own) << "stray entry beside the database: " << Printable(name);
        }

        // The table against the disk, whatever happened: rows hold listed
        // names or the stale ones (which are off); a listed row that was
        // switched off went through the rename, so its new name holds the file.
        std::map<std::string, std::string> newOf(rows.begin(), rows.end());
        for (const Row& row : database.rows) {
            const auto listed = newOf.find(row.name);
            if (listed == newOf.end()) {
                const bool stale = row.name == kStaleRows[0] || row.name == kStaleRows[1];
                EXPECT_TRUE(stale) << "unknown row " << row;
                EXPECT_FALSE(row.enabled) << "stale row live " << row;
                continue;
            }
            if (!row.enabled) {
                const auto made = after.find(listed->second);
                EXPECT_TRUE(made != after.end() && made->second.SameContent(before.at(row.name)))
                    << "row switched off without its new file: " << row;
            }
        }
        if (run.killed)
            return Outcome::Killed;

        const bool firedInHandlers = run.callsInHandlers >= nth;
        const auto has = [](const std::vector<std::string>& texts, const std::string& text) {
            return std::find(texts.begin(), texts.end(), text) != texts.end();
        };
        const bool success = has(run.notices, texts::kRenameDone);
        const std::string copyFailed = texts::kCopyFailed;
        const auto copyFailure = std::find_if(run.notices.begin(), run.notices.end(),
                                              [&](const std::string& text) { return text.rfind(copyFailed, 0) == 0; });
        auto liveNames = [&] {
            std::vector<std::string> names;
            for (const Row& row : database.rows)
                if (row.enabled)
                    names.push_back(row.name);
            std::sort(names.begin(), names.end());
            return names;
        };
        auto allCopiesMade = [&] {
            for (const auto& [oldName, newName] : rows) {
                const auto made = after.find(newName);
                if (made == after.end() || !made->second.SameContent(before.at(oldName)))
                    return false;
            }
            return true;
        };

        if (!firedInHandlers) {
            // The fault came at shutdown or never: the batch is complete.
            EXPECT_TRUE(run.errors.empty()) << ::testing::PrintToString(run.errors);
            EXPECT_EQ(run.notices, std::vector<std::string>{texts::kRenameDone});
            EXPECT_TRUE(Renamed(before, after, rows, mode.deleteOld));
            EXPECT_TRUE(liveNames().empty());
            EXPECT_EQ(database.rows.size(), rows.size());
            return run.callsTotal >= nth ? Outcome::AtShutdown : Outcome::Clean;
        }
        if (success) {
            // A fault the handlers met and absorbed: a deletion that failed is
            // ignored; everything else is as after a clean batch.
            EXPECT_TRUE(run.errors.empty()) << ::testing::PrintToString(run.errors);
            EXPECT_EQ(run.notices.back(), texts::kRenameDone);
            EXPECT_TRUE(allCopiesMade());
            // Only a fault in the deletion itself (the removal, or the look
            // that makes sure the old name still holds the file copied) may
            // leave an old file beside its new one.
            const bool deletionFailed = call == "unlinkat" || call == "fstatat";
            if (!mode.deleteOld || !deletionFailed) {
                EXPECT_TRUE(Renamed(before, after, rows, mode.deleteOld));
            }
            EXPECT_TRUE(liveNames().empty());
            return Outcome::Absorbed;
        }
        if (copyFailure != run.notices.end()) {
            EXPECT_EQ(*copyFailure, copyFailed + std::to_string(mode.error));
            EXPECT_TRUE(run.errors.empty()) << ::testing::PrintToString(run.errors);
            EXPECT_TRUE(SameDirectory(before, after));
            // The list stays live for another try.
            std::vector<std::string> listed;
            for (const auto& row : rows)
                listed.push_back(row.first);
            std::sort(listed.begin(), listed.end());
            EXPECT_EQ(liveNames(), listed);
            return Outcome::CopyFailure;
        }
        if (!run.errors.empty()) {
            for (const std::string& text : run.errors)
                EXPECT_TRUE(EngineTextFor(call, mode.error, text)) << "error box: " << text;
            // A failure in the search or the copy pass leaves the folder as it
            // was; one in the delete pass comes after every copy was made.
            if (SameDirectory(before, after))
                return Outcome::ErrorBoxBefore;
            EXPECT_TRUE(allCopiesMade());
            return Outcome::ErrorBoxAfter;
        }
        if (run.notices.empty() && SameDirectory(before, after) && liveNames().empty()) {
            // The folder could not be listed: no message, the list (emptied
            // at start-up) stays as it was, and a rename of an empty list
            // does nothing and says nothing.
            return Outcome::Unlisted;
        }
        ADD_FAILURE() << "the run ended with no box at all; notices: " << ::testing::PrintToString(run.notices);
        return Outcome::Bad;
    }

    // Sweeps every call in every mode and prints how the runs ended; answers
    // the totals.
    Tally SweepAll(const std::vector<Mode>& modes, std::vector<std::string> calls = kCalls)
    {
        for (const char* call : kCallsIfTheShimHasThem)
            if (ShimDefines(shim_, call))
                calls.push_back(call);
        const auto started = std::chrono::steady_clock::now();
        Tally total{};
        for (const Mode& mode : modes) {
            for (const std::string& call : calls) {
                const Tally runs = Sweep(call, mode);
                std::printf("%-16s %-6s %-8s%s", call.c_str(), mode.kill ? "kill" : ErrnoName(mode.error),
                            mode.deleteOld ? "deleting" : "keeping", mode.longList ? " long" : "");
                for (int i = 0; i < kOutcomes; ++i) {
                    total[i] += runs[i];
                    if (runs[i])
                        std::printf("  %d %s", runs[i], kOutcomeNames[i]);
                }
                std::printf("\n");
            }
        }
        int runs = 0;
        for (const int count : total)
            runs += count;
        RecordProperty("runs", runs);
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
        std::printf("%d runs in %lld s\n", runs, static_cast<long long>(seconds));
        return total;
    }

    static int FailureCount()
    {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    }

    static inline std::unique_ptr<TTempDir> template_;
    std::string shim_;
    TTempDir scratch_;
};

TEST_F(FormMainFaultSweep, EveryFailingCallKeepingTheOldFilesLosesNothingAndIsReported)
{
    const Tally runs = SweepAll({{false, EIO, false}, {false, ENOSPC, false}});
    // The sweep reached both kinds of failure: the rename's and the engine's.
    // (With the journal in a file of its own, the list's pages are not read
    // again after the copies, so the engine's failures all come before them.)
    EXPECT_GT(runs[static_cast<int>(Outcome::CopyFailure)], 0);
    EXPECT_GT(runs[static_cast<int>(Outcome::ErrorBoxBefore)], 0);
}

TEST_F(FormMainFaultSweep, EveryFailingCallDeletingTheOldFilesLosesNothingAndIsReported)
{
    const Tally runs = SweepAll({{true, EIO, false}, {true, ENOSPC, false}});
    EXPECT_GT(runs[static_cast<int>(Outcome::CopyFailure)], 0);
    EXPECT_GT(runs[static_cast<int>(Outcome::ErrorBoxBefore)], 0);
}

TEST_F(FormMainFaultSweep, DyingAtEveryCallLosesNothingAndLeavesASoundDatabase)
{
    const Tally runs = SweepAll({{false, 0, true}, {true, 0, true}});
    EXPECT_GT(runs[static_cast<int>(Outcome::Killed)], 0);
}

TEST_F(FormMainFaultSweep, EveryFailingOrFatalDatabaseWriteOverSeveralPagesLosesNoRowOrFile)
{
    std::vector<Mode> modes;
    for (const bool deleteOld : {false, true})
        for (const Mode mode :
             {Mode{deleteOld, EIO, false, true}, Mode{deleteOld, ENOSPC, false, true}, Mode{deleteOld, 0, true, true}})
            modes.push_back(mode);
    const Tally runs = SweepAll(modes, kEngineCalls);
    EXPECT_GT(runs[static_cast<int>(Outcome::ErrorBoxBefore)], 0);
    EXPECT_GT(runs[static_cast<int>(Outcome::Killed)], 0);
}

}  // namespace
}  // namespace vantelo::reliability
