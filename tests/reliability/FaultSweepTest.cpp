// A system-call fault sweep over the batch rename. A child process runs one
// batch through the rename job, as the window does, with the fault shim preloaded:
// the Nth call of one C library function fails with an errno, or kills the
// process on the spot. N counts up from 1 until a batch finishes without
// reaching the Nth call, for every function the engine uses, with the old
// files kept and deleted, and on a kernel with every fast path as well as on
// ones without copy_file_range, O_TMPFILE or hard links. After every run the
// directory must hold every original file's content under its old or its new
// name and nothing partial; a failure shown must be the injected errno (or,
// for the journal, the database engine's text) with the directory exactly as
// before; a finished batch must be complete. A run killed at its fault is
// followed by the start-up's recovery, after which the directory must stand
// at one end of the batch: as before, or completely renamed.
#include "DirState.h"
#include "RenameRun.h"
#include "ShimChild.h"

#include "rename/TRenameHistory.h"

#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace vantelo::reliability {
namespace {

constexpr const char* kTarget = ".k";
constexpr const char* kReplacement = ".r";

// ---- the child: one batch under the shim ------------------------------------

// Runs only when the sweep re-executes this program with the driver's
// environment; never part of a normal run (disabled by name).
TEST(DISABLED_FaultSweepDriver, RunsOneBatch) {
    const char* dir = std::getenv("VANTELO_SWEEP_DIR");
    const char* database = std::getenv("VANTELO_SWEEP_DATABASE");
    const char* result = std::getenv("VANTELO_SWEEP_RESULT");
    if (!dir || !database || !result) GTEST_SKIP() << "run by the fault sweep only";
    const bool deleteOld = std::getenv("VANTELO_SWEEP_DELETE") != nullptr;
    const Rows rows = SearchRows(dir, kTarget, kReplacement);

    using Arm = void (*)(int);
    using Calls = long (*)();
    const auto arm = reinterpret_cast<Arm>(dlsym(RTLD_DEFAULT, "vantelo_faultshim_arm"));
    const auto calls = reinterpret_cast<Calls>(dlsym(RTLD_DEFAULT, "vantelo_faultshim_calls"));
    ASSERT_TRUE(arm && calls) << "the fault shim is not preloaded";
    arm(1);
    const RenameOutcome outcome = RunRenameJob(dir, database, rows, deleteOld);
    arm(0);
    std::ofstream(result) << outcome.shown << " " << calls() << "\n" << outcome.message << "\n";
}

// ---- the parent: the sweep -------------------------------------------------

struct RunResult {
    bool killed = false;  // died at the fault
    bool finished = false;  // ran to the end and wrote its result
    int shown = 0;
    long calls = 0;
    std::string message;
    std::string trouble;  // how the child went wrong, if it did
};

struct Fault {
    std::string call;
    long nth = 0;
    int error = EIO;
    bool kill = false;
    std::string always;  // VANTELO_FAULT_ALWAYS
};

RunResult RunChild(const std::string& shim, const std::string& dir, const std::string& database, bool deleteOld,
                   const Fault& fault, const std::string& scratch) {
    const std::string resultPath = scratch + "/result";
    ::unlink(resultPath.c_str());
    const ShimChild child = RunUnderShim(shim, "DISABLED_FaultSweepDriver.RunsOneBatch",
                                         {{"VANTELO_FAULT_CALL", fault.call},
                                          {"VANTELO_FAULT_NTH", std::to_string(fault.nth)},
                                          {"VANTELO_FAULT_ERRNO", std::to_string(fault.error)},
                                          {"VANTELO_FAULT_KILL", fault.kill ? "1" : "0"},
                                          {"VANTELO_FAULT_ALWAYS", fault.always},
                                          {"VANTELO_SWEEP_DIR", dir},
                                          {"VANTELO_SWEEP_DATABASE", database},
                                          {"VANTELO_SWEEP_RESULT", resultPath},
                                          {"VANTELO_SWEEP_DELETE", deleteOld ? std::optional<std::string>("1")
                                                                             : std::nullopt}},
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
    if (child.exitStatus != 0 || !(in >> run.shown >> run.calls)) {
        run.trouble = "exit status " + std::to_string(child.exitStatus) + "\n" + child.log;
        return run;
    }
    std::getline(in, run.message);
    std::getline(in, run.message);
    run.finished = true;
    return run;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

// The batch every run renames: a small file, a larger one with a hole, an
// empty one, a symbolic link, and a bystander that is not listed.
void Populate(const test::TTempDir& dir) {
    dir.WriteFile("small.k", "small");
    dir.WriteFile("empty.k", "");
    dir.WriteFile("other.txt", "not listed");
    const std::string big = dir / "big.k";
    const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
    const std::string data = RandomBytes(96 << 10, 7);
    ::pwrite(fd, data.data(), data.size(), 0);
    ::pwrite(fd, data.data(), 4096, 1 << 20);
    ::close(fd);
    const timespec times[2] = {{1000000000, 0}, {1000000000, 5}};
    ::utimensat(AT_FDCWD, big.c_str(), times, 0);
    ::symlink("small.k", (dir / "link.k").c_str());
}

const char* const kCalls[] = {"open",  "openat",    "openat_tmpfile", "close",   "linkat",    "unlinkat", "renameat2",
                              "symlinkat", "readlinkat", "fsync",     "copy_file_range", "ioctl", "pread",
                              "pwrite", "ftruncate", "lseek",          "fstat",   "fstatat",   "fchmod",
                              "futimens", "utimensat", "fsetxattr"};

struct Kernel {
    const char* why;
    std::string always;
    // False when the calls a rollback needs fail as well: a failed batch may
    // then leave new files (never a partial one), but still loses nothing.
    bool rollbackWorks = true;
};

// The database engine's texts for a journal write that failed.
bool EngineText(const std::string& text) {
    for (const char* words : {"disk I/O error", "database or disk is full", "unable to open database file",
                              "database disk image is malformed", "database is locked",
                              "attempt to write a readonly database", "vantelo/journal.db"})
        if (text.find(words) != std::string::npos) return true;
    return false;
}

// The directory at one end of the batch: exactly as before, or every file
// under its new name (and its old name gone when the old files go).
::testing::AssertionResult AtOneEnd(const DirState& before, const DirState& after, const Rows& rows, bool deleteOld) {
    if (SameDirectory(before, after)) return ::testing::AssertionSuccess();
    const ::testing::AssertionResult renamed = Renamed(before, after, rows, deleteOld);
    if (renamed) return renamed;
    return ::testing::AssertionFailure() << "neither as before nor renamed: " << renamed.message() << "\nafter:\n"
                                         << Describe(after);
}

class FaultSweep : public ::testing::Test {
protected:
    void SetUp() override {
        const char* shim = std::getenv("VANTELO_FAULTSHIM");
        if (!shim || ::access(shim, R_OK) != 0) GTEST_SKIP() << "VANTELO_FAULTSHIM names no fault shim";
        shim_ = shim;
    }

    // Sweeps one function on one kernel in one mode, up to its first fault;
    // returns the runs made.
    int Sweep(const std::string& call, const Kernel& kernel, bool deleteOld, bool kill) {
        int runs = 0;
        const int failuresBefore = FailureCount();
        for (long nth = 1;; ++nth) {
            test::TTempDir dir, start;
            Populate(dir);
            const std::string database = start / "FileName.mdb";
            CreateDatabase(database);
            const DirState before = Snapshot(dir.Path());
            const Rows rows = SearchRows(dir.Path(), kTarget, kReplacement);
            const Fault fault{call, nth, EIO, kill, kernel.always};
            const RunResult run = RunChild(shim_, dir.Path(), database, deleteOld, fault, scratch_.Path());
            ++runs;
            const std::string where = call + " #" + std::to_string(nth) + (kill ? " (kill)" : " (EIO)") + ", " +
                                      kernel.why + (deleteOld ? ", deleting" : ", keeping");
            if (!run.trouble.empty()) {
                ADD_FAILURE() << where << ": " << run.trouble;
                return runs;
            }
            const DirState after = Snapshot(dir.Path());
            EXPECT_TRUE(NothingLost(before, after, rows)) << where;
            if (run.killed) {
                // The next start: the batch is brought to one end.
                TRenameHistory history;
                while (history.RecoverOne().kind != TRenameHistory::Recovery::Kind::None) {
                }
                EXPECT_TRUE(AtOneEnd(before, Snapshot(dir.Path()), rows, deleteOld)) << where << ", recovered";
                continue;
            }
            const bool reached = run.calls >= nth;
            if (run.shown == -1) {
                // The journal could not be written: nothing done, or taken back.
                EXPECT_TRUE(reached) << where << ": the journal failed without the fault";
                EXPECT_TRUE(EngineText(run.message)) << where << ": " << run.message;
                if (kernel.rollbackWorks) {
                    EXPECT_TRUE(AtOneEnd(before, after, rows, deleteOld)) << where;
                }
            } else if (run.shown != 0) {
                EXPECT_TRUE(reached) << where << ": failed with " << run.shown << " without the fault";
                EXPECT_EQ(run.shown, EIO) << where;
                if (kernel.rollbackWorks) {
                    EXPECT_TRUE(SameDirectory(before, after)) << where;
                }
            } else if (deleteOld) {
                // Finished: every new name made; an old file the fault kept from
                // being deleted may stay beside it.
                for (const auto& [oldName, newName] : rows) {
                    EXPECT_TRUE(after.count(newName) && after.at(newName).SameAs(before.at(oldName), false))
                        << where << ": " << newName;
                }
                if (!reached && kernel.rollbackWorks) {
                    EXPECT_TRUE(Renamed(before, after, rows, true)) << where;
                }
            } else {
                EXPECT_TRUE(Renamed(before, after, rows, false)) << where;
            }
            if (!reached || FailureCount() != failuresBefore) return runs;
        }
    }

    void SweepAll(const Kernel& kernel, bool withKill) {
        int runs = 0;
        for (const bool deleteOld : {false, true}) {
            for (const char* call : kCalls) {
                runs += Sweep(call, kernel, deleteOld, false);
                if (withKill) runs += Sweep(call, kernel, deleteOld, true);
            }
        }
        RecordProperty("runs", runs);
    }

    static int FailureCount() {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    }

    std::string shim_;
    test::TTempDir scratch_;
};

TEST_F(FaultSweep, EveryFailingCallOnAFullFeaturedKernelLosesNothing) { SweepAll({"every fast path", ""}, true); }

TEST_F(FaultSweep, EveryFailingCallWithoutCopyFileRangeLosesNothing) {
    SweepAll({"no copy_file_range", "copy_file_range:ENOSYS"}, false);
}

TEST_F(FaultSweep, EveryFailingCallWithoutUnnamedTemporaryFilesLosesNothing) {
    SweepAll({"no O_TMPFILE", "openat_tmpfile:EOPNOTSUPP"}, false);
}

TEST_F(FaultSweep, EveryFailingCallWithoutHardLinksLosesNothing) {
    SweepAll({"no hard links", "linkat:EPERM,renameat2:EINVAL"}, false);
}

TEST_F(FaultSweep, EveryFailingCallWithoutRenamesThatNeverReplaceLosesNothing) {
    SweepAll({"no RENAME_NOREPLACE", "renameat2:EINVAL"}, false);
}

TEST_F(FaultSweep, EveryFailingCallWhileNothingCanBeRemovedLosesNothing) {
    SweepAll({"no removals", "unlinkat:EIO", false}, false);
}

}  // namespace
}  // namespace vantelo::reliability
