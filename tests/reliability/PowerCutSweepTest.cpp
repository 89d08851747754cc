// A power-cut sweep of the batch rename. The batch's folder lives on the
// tests' own FUSE file system that keeps only what was flushed
// (support/TCutMount.h); the tool's state (its database and journal) lives
// on that file system too, or on another one that never loses power.
//
// For every configuration: one uncut run counts the file system's
// mutating calls, and the power goes right after it (the batch said done);
// then for every N (a run of writes to one file cut at its first only) the
// batch runs in a child process that the power cut at call N stops (the
// child is killed once the cut has happened), the power comes back, the
// tool starts again in a fresh child (recovery), and
// the folder must hold every original's content under exactly one name in
// delete mode (under its old name, plus at most its whole copy under the
// new name, in keep mode), nothing else, and the whole batch at one end:
// finished, with the journal offering it to Ctrl+Z, or taken back, with the
// journal offering nothing.
//
// Every failing cut point is listed with the call the power was cut at.
// VANTELO_POWER_CUT_CALLS=<folder> keeps each configuration's calls.
#include "DirState.h"
#include "RenameRun.h"

#include "rename/EJournalError.h"
#include "rename/TRenameHistory.h"
#include "support/TCutMount.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

static const bool kPrivateMounts = vantelo::test::TStallMount::EnterPrivateNamespace();

namespace vantelo::reliability {
namespace {

// ---- the engine, all of it that the sweep calls --------------------------

namespace engine {

std::string Database(const std::string& stateDir) { return stateDir + "/FileName.mdb"; }
std::string Journal(const std::string& stateDir) { return stateDir + "/state/vantelo/journal.db"; }

// Makes `stateDir` ready to hold the tool's own state.
void PrepareState(const std::string& stateDir) {
    CreateDatabase(Database(stateDir));
    // A fresh journal too: the tool's own state starts empty.
    for (const char* suffix : {"", "-journal", ".lock"}) ::unlink((Journal(stateDir) + suffix).c_str());
}

// Runs `rows` in `directory` as one batch; 0 when it finished, else the
// errno shown, or -1 for the journal's error.
int RunBatch(const std::string& directory, const std::string& stateDir, const Rows& rows, bool deleteOld) {
    ::setenv("XDG_STATE_HOME", (stateDir + "/state").c_str(), 1);
    return RunRenameJob(directory, Database(stateDir), rows, deleteOld).shown;
}

// Starts the tool again: every unfinished batch brought to one end. The
// batches handled, or -1 for the journal's error.
int Recover(const std::string& stateDir) {
    try {
        TRenameHistory history(Journal(stateDir));
        int handled = 0;
        while (history.RecoverOne().kind != TRenameHistory::Recovery::Kind::None) ++handled;
        return handled;
    } catch (const EJournalError&) {
        return -1;
    }
}

// The files of the batch Ctrl+Z would undo: -1 when there is none, -2 for
// the journal's error.
long Undoable(const std::string& stateDir) {
    try {
        const std::optional<size_t> size = TRenameHistory(Journal(stateDir)).LastBatchSize();
        return size ? static_cast<long>(*size) : -1;
    } catch (const EJournalError&) {
        return -2;
    }
}

}  // namespace engine

// ---- the batch -------------------------------------------------------------

constexpr int kFiles = 30;

std::string OldName(int i) { return "photo-" + std::to_string(100 + i) + ".jpg"; }
std::string NewName(int i) { return "image-" + std::to_string(100 + i) + ".jpg"; }

// Sizes around the page, the copy buffer and FUSE's largest write.
size_t SizeOf(int i) {
    static const size_t kSizes[] = {0,    1,     7,     100,   511,   512,   4095,  4096,  4097,   8191,
                                    8193, 12345, 33333, 65535, 65536, 65537, 40000, 20000, 131073, 3};
    return kSizes[static_cast<size_t>(i) % std::size(kSizes)] + static_cast<size_t>(i / 20);
}

std::string Content(int i) {
    std::mt19937 random(static_cast<unsigned>(i) + 1);
    std::string bytes(SizeOf(i), '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

Rows BatchRows() {
    Rows rows;
    for (int i = 0; i < kFiles; ++i) rows.emplace_back(OldName(i), NewName(i));
    return rows;
}

// Empties a flat folder.
void Clear(const std::string& dir) {
    std::vector<std::string> names;
    TDirectoryListing::ReadAll(dir, names);
    for (const std::string& name : names) {
        if (name != "." && name != "..") ::unlink((dir + "/" + name).c_str());
    }
}

// The originals, each with its own mode and time, some with an extended
// attribute.
void Populate(const std::string& dir) {
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = dir + "/" + OldName(i);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600 | (i % 3 == 0 ? 044 : 0));
        const std::string bytes = Content(i);
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())) << path;
        if (i % 4 == 1) ::fsetxattr(fd, "user.tag", "kept", 4, 0);
        const timespec times[2] = {{1600000000 + i, 0}, {1500000000 + i * 1000, i * 1000}};
        ::futimens(fd, times);
        ::close(fd);
    }
}

// ---- child processes ---------------------------------------------------------

struct ChildEnd {
    bool killed = false;   // stopped by the test once the cut had happened
    std::string output;    // what the child wrote before it ended
    std::string trouble;   // the child could not be run or did not end
};

// Runs `body` in a forked child, its answer read back through a pipe.
// With `disk`, the child is killed as soon as the power is cut.
ChildEnd InChild(const std::function<std::string()>& body, const test::TCutMount* disk) {
    ChildEnd end;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {false, {}, "pipe failed"};
    const pid_t child = ::fork();
    if (child < 0) return {false, {}, "fork failed"};
    if (child == 0) {
        ::close(pipeFds[0]);
        const std::string answer = body();
        [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], answer.data(), answer.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (disk && disk->Fired()) {
            ::kill(child, SIGKILL);
            end.killed = true;
        } else if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            end.trouble = "the child did not end within 60 s";
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            continue;
        }
        ::waitpid(child, &status, 0);
        break;
    }
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) end.output.append(buffer, static_cast<size_t>(got));
    ::close(pipeFds[0]);
    if (!end.killed && end.trouble.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        end.trouble = "the child died (status " + std::to_string(status) + ")";
    return end;
}

// ---- the sweep -----------------------------------------------------------------

struct Config {
    const char* name;
    bool deleteOld;
    bool stateOnDisk;  // the database and journal on the file system that is cut
    bool fallbacks;    // no RENAME_NOREPLACE, no hard links
};

std::string ConfigName(const ::testing::TestParamInfo<Config>& info) { return info.param.name; }

class PowerCutSweep : public ::testing::TestWithParam<Config> {
protected:
    void SetUp() override {
        disk_.emplace(temp_ / "disk");
        if (!disk_->Mounted()) GTEST_SKIP() << disk_->WhyNot();
        photos_ = disk_->MountPoint() + "/photos";
        ASSERT_EQ(::mkdir(photos_.c_str(), 0755), 0);
        if (GetParam().stateOnDisk) {
            state_ = disk_->MountPoint() + "/state";
            ASSERT_EQ(::mkdir(state_.c_str(), 0700), 0);
        } else {
            state_ = temp_ / "state";
            ASSERT_EQ(::mkdir(state_.c_str(), 0700), 0);
        }
        disk_->RefuseRenameFlags(GetParam().fallbacks);
        disk_->RefuseLinks(GetParam().fallbacks);
    }

    // Fresh originals and a fresh state, all of it on disk. The first time
    // they are made and the disk remembers them; then it goes back to them.
    void Fresh() {
        if (!GetParam().stateOnDisk) {
            Clear(state_);
            engine::PrepareState(state_);
        }
        if (made_) {
            disk_->Restore();
            return;
        }
        Populate(photos_);
        if (GetParam().stateOnDisk) engine::PrepareState(state_);
        disk_->SyncAll();
        disk_->Save();
        disk_->ResetCount();
        before_ = Snapshot(photos_);
        made_ = true;
    }

    // One batch, cut at call `n` (0: never); then the power back and the tool
    // started again. Answers why the folder breaks the rules, or "".
    std::string RunCut(long n, long* calls = nullptr, bool logBatch = false) {
        Fresh();
        if (logBatch) {
            struct stat st {};
            ::stat(disk_->LogPath().c_str(), &st);
            logFrom_ = st.st_size;
            disk_->Log(true);
        }
        const DirState before = Snapshot(photos_);
        const Rows rows = BatchRows();
        const bool deleteOld = GetParam().deleteOld;
        const std::string photos = photos_, state = state_;
        if (n > 0) disk_->CutAt(n);
        const ChildEnd batch = InChild([&] { return std::to_string(engine::RunBatch(photos, state, rows, deleteOld)); },
                                       n > 0 ? &*disk_ : nullptr);
        if (calls) *calls = disk_->CountOps();
        if (logBatch) disk_->Log(false);
        disk_->PowerBack();
        if (!batch.trouble.empty()) return "the batch: " + batch.trouble;
        if (n == 0 && batch.output != "0") return "the batch failed uncut: " + batch.output;
        const ChildEnd start = InChild(
            [&] {
                const int recovered = engine::Recover(state);
                return std::to_string(recovered) + " " + std::to_string(engine::Undoable(state));
            },
            nullptr);
        if (!start.trouble.empty()) return "the start: " + start.trouble;
        std::istringstream answer(start.output);
        long recovered = 0, undoable = 0;
        answer >> recovered >> undoable;
        if (recovered < 0) return "the start: the journal could not be read";
        if (undoable == -2) return "the start: the journal could not be read for Ctrl+Z";
        const std::string why = Judge(before, Snapshot(photos_), rows, undoable);
        if (why.empty()) return why;
        return why.substr(0, why.find('\n')) + " (the start ended " + std::to_string(recovered) +
               " batches; Ctrl+Z offers " + std::to_string(undoable) + " files)";
    }

    // The rules after a cut and a start.
    std::string Judge(const DirState& before, const DirState& after, const Rows& rows, long undoable) const {
        const bool deleteOld = GetParam().deleteOld;
        if (const auto lost = NothingLost(before, after, rows); !lost) return lost.message();
        size_t made = 0;
        for (const auto& [oldName, newName] : rows) {
            const bool oldThere = after.count(oldName) != 0, newThere = after.count(newName) != 0;
            if (deleteOld && oldThere && newThere) return "under two names: " + oldName;
            if (!deleteOld && !oldThere) return "original gone: " + oldName;
            made += newThere ? 1 : 0;
        }
        if (made == rows.size()) {
            if (const auto renamed = Renamed(before, after, rows, deleteOld); !renamed)
                return std::string("finished, but ") + renamed.message();
            if (undoable != static_cast<long>(rows.size()))
                return "finished, but the journal offers " + std::to_string(undoable) + " files to undo";
            return {};
        }
        if (made == 0) {
            if (undoable != -1) return "taken back, but the journal offers " + std::to_string(undoable) + " files to undo";
            return {};
        }
        return "left between: " + std::to_string(made) + " of " + std::to_string(rows.size()) +
               " new names, the journal offering " + std::to_string(undoable);
    }

    // The calls of the uncut run in the daemon's words, the first call
    // first; `why`: what the power lost right after it (the batch done).
    std::vector<std::string> CallsOfUncutRun(std::string& why) {
        long calls = 0;
        why = RunCut(0, &calls, /*logBatch=*/true);
        std::ifstream log(disk_->LogPath());
        log.seekg(logFrom_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        EXPECT_EQ(lines.size(), static_cast<size_t>(calls)) << "the daemon's log and its count disagree";
        // For a closer look: VANTELO_POWER_CUT_CALLS=<folder> keeps each
        // configuration's calls there.
        if (const char* keep = std::getenv("VANTELO_POWER_CUT_CALLS")) {
            std::ofstream out(std::string(keep) + "/" + GetParam().name + ".calls");
            for (const std::string& line : lines) out << line << "\n";
        }
        return lines;
    }

    test::TTempDir temp_;
    std::optional<test::TCutMount> disk_;
    std::string photos_, state_;
    bool made_ = false;
    DirState before_;
    off_t logFrom_ = 0;
};

// The cut points: every call, except that a run of writes to one file is cut
// at its first write only (a cut anywhere in it leaves the same: the file's
// content not on disk).
std::vector<long> CutPoints(const std::vector<std::string>& calls) {
    // "[n] write <inode> ..." -> "write <inode>"
    const auto callOf = [&](size_t i) {
        std::istringstream words(calls[i]);
        std::string number, kind, inode;
        words >> number >> kind >> inode;
        return kind + " " + inode;
    };
    std::vector<long> points;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (i > 0 && callOf(i).rfind("write ", 0) == 0 && callOf(i) == callOf(i - 1)) continue;
        points.push_back(static_cast<long>(i) + 1);
    }
    return points;
}

TEST_P(PowerCutSweep, EveryOriginalSurvivesUnderOneNameAndTheBatchEndsAtOneEnd) {
    std::string uncut;
    const std::vector<std::string> calls = CallsOfUncutRun(uncut);
    ASSERT_FALSE(calls.empty()) << "the uncut run made no call on the disk";
    std::map<std::string, std::vector<std::string>> failures;  // why -> the calls cut at
    if (!uncut.empty()) failures[uncut.substr(0, uncut.find('\n'))].push_back("after the last call: the batch was done");
    const std::vector<long> points = CutPoints(calls);
    for (const long n : points) {
        const std::string why = RunCut(n);
        if (!why.empty()) failures[why.substr(0, why.find('\n'))].push_back(calls[static_cast<size_t>(n - 1)]);
    }
    RecordProperty("calls", static_cast<int>(calls.size()));
    RecordProperty("cuts", static_cast<int>(points.size()));
    std::ostringstream report;
    for (const auto& [why, at] : failures) {
        report << why << "\n    after a cut at " << at.size() << " of the calls:";
        for (const std::string& call : at) report << "\n      " << call;
        report << "\n";
    }
    EXPECT_TRUE(failures.empty()) << points.size() << " cuts of " << calls.size() << " calls; failing:\n"
                                  << report.str();
}

const Config kConfigs[] = {
    {"KeepStateOnDisk", false, true, false},
    {"KeepStateElsewhere", false, false, false},
    {"DeleteStateOnDisk", true, true, false},
    {"DeleteStateElsewhere", true, false, false},
    {"DeleteFallbacksStateOnDisk", true, true, true},
    {"DeleteFallbacksStateElsewhere", true, false, true},
};

INSTANTIATE_TEST_SUITE_P(Batches, PowerCutSweep, ::testing::ValuesIn(kConfigs), ConfigName);

}  // namespace
}  // namespace vantelo::reliability
