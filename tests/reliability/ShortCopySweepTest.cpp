// A sweep of the copy under the answers that look like success but are not
// all of it. A child process copies a multi-chunk file, a sparse one, an
// empty one and a symbolic link with the fault shim preloaded; the Nth call
// of copy_file_range, pread or pwrite returns a short count, returns 0
// ("nothing copied", or end of file), or fails with EIO, N counting up until
// a run no longer reaches it; and the same for the calls that give a staged
// copy its name. Kernels and file systems: every fast path, no O_TMPFILE
// (copies staged under a temporary name), no RENAME_NOREPLACE either, FAT
// over FUSE (no hard links, no ftruncate to extend), and no copy_file_range.
// Every copy must come out byte for byte, or fail with an errno leaving
// neither its new name nor its staging name; the originals never change.
// The shipped batch operation is swept the same way over copy_file_range.
#include "ShimChild.h"

#include "platform/TFileOps.h"
#include "rename/EJournalError.h"
#include "rename/TRenameOperation.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vantelo::reliability {
namespace {

const char* const kFiles[] = {"multi", "sparse", "empty", "link"};

std::string NewName(const std::string& name) { return name + ".new"; }
std::string StagingName(const std::string& name) { return name + ".stage"; }

// ---- the child: the copies under the shim ----------------------------------

// The preloaded shim's controls.
struct Shim {
    void (*arm)(int) = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "vantelo_faultshim_arm"));
    long (*calls)() = reinterpret_cast<long (*)()>(dlsym(RTLD_DEFAULT, "vantelo_faultshim_calls"));
    int (*fired)() = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "vantelo_faultshim_fired"));
    bool Loaded() const { return arm && calls && fired; }
};

// The drivers run only when the sweep re-executes this program with its
// environment; never part of a normal run (disabled by name). Each writes
// the errnos it got, then the shim's call count and whether it acted.
TEST(DISABLED_ShortCopyDriver, CopiesEveryFile) {
    const char* dir = std::getenv("VANTELO_SWEEP_DIR");
    const char* result = std::getenv("VANTELO_SWEEP_RESULT");
    if (!dir || !result) GTEST_SKIP() << "run by the short-copy sweep only";
    const Shim shim;
    ASSERT_TRUE(shim.Loaded()) << "the fault shim is not preloaded";
    const int dirFd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dirFd, 0);
    // No reflink: the sweep is about the calls that return counts.
    TFileOps ops(TFileOps::Options{.clone = false});
    std::ostringstream out;
    shim.arm(1);
    for (const std::string name : kFiles) {
        TFileIdentity source, made;
        out << ops.CopyAt(dirFd, name, NewName(name), source, made, /*flush=*/true, StagingName(name)) << " ";
    }
    shim.arm(0);
    ::close(dirFd);
    std::ofstream(result) << out.str() << shim.calls() << " " << shim.fired() << "\n";
}

// Every file renamed to its new name by the operation the main window runs;
// writes the errno it failed with, -1 for the journal's failure, or 0.
TEST(DISABLED_ShortCopyDriver, RenamesTheBatch) {
    const char* dir = std::getenv("VANTELO_SWEEP_DIR");
    const char* database = std::getenv("VANTELO_SWEEP_DATABASE");
    const char* result = std::getenv("VANTELO_SWEEP_RESULT");
    if (!dir || !database || !result) GTEST_SKIP() << "run by the short-copy sweep only";
    const Shim shim;
    ASSERT_TRUE(shim.Loaded()) << "the fault shim is not preloaded";
    TRenameOperation operation(database);
    ASSERT_EQ(operation.Open(dir), 0);
    for (const std::string name : kFiles) operation.Add(name, NewName(name));
    ASSERT_FALSE(operation.Check());
    int shown = 0;
    shim.arm(1);
    try {
        const TRenameOperation::Result run = operation.Run(std::getenv("VANTELO_SWEEP_DELETE") != nullptr);
        if (run.outcome != TRenameOperation::Outcome::Done) shown = run.error;
    } catch (const EJournalError& error) {
        shown = -1;
        std::ofstream(std::string(result) + ".journal") << error.what();
    }
    shim.arm(0);
    std::ofstream(result) << shown << " " << shim.calls() << " " << shim.fired() << "\n";
}

// ---- the parent: the sweep -------------------------------------------------

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

// What a test needs to know of an entry: its kind, its bytes (a link's
// target), its permission bits and modification time.
struct Entry {
    mode_t mode = 0;
    std::string bytes;
    timespec mtime{};
    bool operator==(const Entry& other) const {
        return mode == other.mode && bytes == other.bytes && mtime.tv_sec == other.mtime.tv_sec &&
               mtime.tv_nsec == other.mtime.tv_nsec;
    }
};

std::map<std::string, Entry> Snapshot(const std::string& dir) {
    std::map<std::string, Entry> entries;
    DIR* stream = ::opendir(dir.c_str());
    if (!stream) return entries;
    while (const dirent* item = ::readdir(stream)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) continue;
        Entry& entry = entries[name];
        entry.mode = st.st_mode;
        entry.mtime = st.st_mtim;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
            entry.bytes.assign(target, static_cast<size_t>(std::max<ssize_t>(length, 0)));
            entry.mtime = {};  // a link's time is kept where the file system can, not asked here
        } else {
            entry.bytes.resize(static_cast<size_t>(st.st_size));
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            const ssize_t got = fd >= 0 ? ::read(fd, entry.bytes.data(), entry.bytes.size()) : -1;
            entry.bytes.resize(static_cast<size_t>(std::max<ssize_t>(got, 0)));
            if (fd >= 0) ::close(fd);
        }
    }
    ::closedir(stream);
    return entries;
}

// Removes every entry of the (flat) directory.
void Clear(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* stream = ::opendir(dir.c_str())) {
        while (const dirent* item = ::readdir(stream)) names.emplace_back(item->d_name);
        ::closedir(stream);
    }
    for (const std::string& name : names) {
        if (name != "." && name != "..") ::unlink((dir + "/" + name).c_str());
    }
}

void Populate(const test::TTempDir& dir) {
    static const std::string kMulti = RandomBytes((1 << 20) + 1234, 11);  // two reads of the copy's buffer
    static const std::string kData = RandomBytes(100000, 12);
    const std::string multi = dir / "multi";
    dir.WriteFile("multi", kMulti);
    const timespec times[2] = {{1000000000, 0}, {1100000000, 7}};
    ::utimensat(AT_FDCWD, multi.c_str(), times, 0);
    const std::string sparse = dir / "sparse";
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
    ::pwrite(fd, kData.data(), kData.size(), 0);
    ::pwrite(fd, kData.data(), 7000, 1 << 20);
    ::ftruncate(fd, 2 << 20);  // a hole at the end: extended without writing
    ::close(fd);
    dir.WriteFile("empty", "");
    ::symlink("multi", (dir / "link").c_str());
}

struct Kernel {
    const char* why;
    const char* always;  // VANTELO_FAULT_ALWAYS
};

const Kernel kKernels[] = {
    {"every fast path", ""},
    {"no O_TMPFILE", "openat_tmpfile:EOPNOTSUPP"},
    {"no O_TMPFILE nor RENAME_NOREPLACE", "openat_tmpfile:EOPNOTSUPP,renameat2:EINVAL"},
    {"FAT over FUSE", "openat_tmpfile:EOPNOTSUPP,renameat2:EINVAL,linkat:EPERM,ftruncate:EPERM"},
    {"no copy_file_range", "copy_file_range:ENOSYS"},
};

// The calls that move bytes, and the ones that finish a copy or name it.
const char* const kCountCalls[] = {"copy_file_range", "pread", "pwrite"};
const char* const kNamingCalls[] = {"ftruncate", "fsync", "close",   "renameat2",
                                    "linkat",    "unlinkat", "renameat"};

struct ChildRun {
    std::vector<int> errors;  // one per file of kFiles
    long calls = 0;
    bool fired = false;
    std::string trouble;
};

class ShortCopySweep : public ::testing::Test {
protected:
    void SetUp() override {
        const char* shim = std::getenv("VANTELO_FAULTSHIM");
        if (!shim || ::access(shim, R_OK) != 0) GTEST_SKIP() << "VANTELO_FAULTSHIM names no fault shim";
        shim_ = shim;
    }

    // `deleteOld`: the batch operation with the old files going or kept;
    // none: one copy of each file.
    ChildRun RunChild(const std::string& dir, const Kernel& kernel, const std::string& call,
                      const std::string& mode, const std::string& nth, std::optional<bool> deleteOld) {
        const std::string resultPath = scratch_ / "result";
        ::unlink(resultPath.c_str());
        const std::string database = scratch_ / "FileName.mdb";
        ::close(::open(database.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));  // an empty database
        const ShimChild child = RunUnderShim(shim_,
                                             deleteOld ? "DISABLED_ShortCopyDriver.RenamesTheBatch"
                                                       : "DISABLED_ShortCopyDriver.CopiesEveryFile",
                                             {{"VANTELO_SWEEP_DATABASE", database},
                                              {"VANTELO_SWEEP_DELETE", deleteOld.value_or(false)
                                                                           ? std::optional<std::string>("1")
                                                                           : std::nullopt},
                                              {"VANTELO_FAULT_CALL", call},
                                              {"VANTELO_FAULT_NTH", nth},
                                              {"VANTELO_FAULT_MODE", mode},
                                              {"VANTELO_FAULT_DELAY_MS", "1"},
                                              {"VANTELO_FAULT_ERRNO", "EIO"},
                                              {"VANTELO_FAULT_KILL", std::nullopt},
                                              {"VANTELO_FAULT_ARMED", std::nullopt},
                                              {"VANTELO_FAULT_ALWAYS", kernel.always},
                                              {"VANTELO_SWEEP_DIR", dir},
                                              {"VANTELO_SWEEP_RESULT", resultPath}},
                                             scratch_ / "log");
        ChildRun run;
        if (!child.trouble.empty() || !child.exited || child.exitStatus != 0) {
            run.trouble = child.trouble + " signal " + std::to_string(child.signal) + " status " +
                          std::to_string(child.exitStatus) + "\n" + child.log;
            return run;
        }
        std::ifstream in(resultPath);
        std::vector<long> numbers;
        for (long number; in >> number;) numbers.push_back(number);
        if (numbers.size() < 3) {
            run.trouble = "no result\n" + child.log;
            return run;
        }
        run.errors.assign(numbers.begin(), numbers.end() - 2);
        run.calls = numbers[numbers.size() - 2];
        run.fired = numbers.back() != 0;
        return run;
    }

    // One run on a fresh directory, checked. Returns the calls the child saw.
    long RunOnce(const Kernel& kernel, const std::string& call, const std::string& mode, const std::string& nth,
                 std::optional<bool> deleteOld = std::nullopt) {
        const test::TTempDir& dir = work_;
        Clear(dir.Path());
        Populate(dir);
        const auto before = Snapshot(dir.Path());
        const ChildRun run = RunChild(dir.Path(), kernel, call, mode, nth, deleteOld);
        const std::string where = call + " #" + nth + " (" + mode + "), " + kernel.why +
                                  (deleteOld ? (*deleteOld ? ", batch deleting" : ", batch keeping") : "");
        if (!run.trouble.empty() || run.errors.size() != (deleteOld ? 1 : std::size(kFiles))) {
            ADD_FAILURE() << where << ": " << run.trouble;
            return -1;
        }
        int failed = 0;
        for (const int error : run.errors) {
            if (error == 0) continue;
            ++failed;
            // Only the fault itself may fail a copy: a short count is no failure,
            // nor is copy_file_range moving nothing (read/write take over).
            EXPECT_EQ(error, EIO) << where << (error == -1 ? " " + ReadWhole(scratch_ / "result.journal") : "");
            EXPECT_TRUE(mode == "errno" || (mode == "zero" && call != "copy_file_range"))
                << where << ": failed with " << error;
        }
        // Each copy made stands beside its original; a batch is done whole
        // (the old files gone or kept) or taken back whole.
        auto expected = before;
        for (size_t i = 0; i < std::size(kFiles); ++i) {
            const std::string name = kFiles[i];
            if (deleteOld ? run.errors.front() != 0 : run.errors[i] != 0) continue;
            expected[NewName(name)] = before.at(name);
            if (deleteOld.value_or(false)) expected.erase(name);
        }
        if (!run.fired) {
            EXPECT_EQ(failed, 0) << where << ": failed without the fault";
        }
        if (mode == "zero" && run.fired && call != "copy_file_range") {
            EXPECT_EQ(failed, 1) << where << ": a read or write that moved nothing was accepted";
        }
        const auto after = Snapshot(dir.Path());
        EXPECT_TRUE(after == expected) << where << ": " << Describe(expected) << " expected, found " << Describe(after);
        return run.calls;
    }

    // Sweeps N from 1 until a run no longer reaches it; returns the runs made.
    int Sweep(const Kernel& kernel, const std::string& call, const std::string& mode) {
        const int failuresBefore = FailureCount();
        for (long nth = 1;; ++nth) {
            const long calls = RunOnce(kernel, call, mode, std::to_string(nth));
            if (calls < nth || FailureCount() != failuresBefore) return static_cast<int>(nth);
        }
    }

    static std::string Describe(const std::map<std::string, Entry>& entries) {
        std::string text;
        for (const auto& [name, entry] : entries) text += name + "(" + std::to_string(entry.bytes.size()) + ") ";
        return text;
    }

    static int FailureCount() {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    }

    std::string shim_;
    test::TTempDir scratch_;
    test::TTempDir work_;  // emptied and filled again for every run
};

TEST_F(ShortCopySweep, ShortOrEmptyAnswersNeverMakeAShortCopy) {
    int runs = 0;
    for (const Kernel& kernel : kKernels) {
        for (const char* call : kCountCalls) {
            for (const char* mode : {"short", "zero"}) runs += Sweep(kernel, call, mode);
            // Every call short from the first on.
            RunOnce(kernel, call, "short", "1-");
            ++runs;
        }
    }
    RecordProperty("runs", runs);
}

TEST_F(ShortCopySweep, FailingCallsLeaveNeitherTheNewNameNorTheStagingName) {
    int runs = 0;
    for (const Kernel& kernel : kKernels) {
        for (const char* call : kCountCalls) runs += Sweep(kernel, call, "errno");
        for (const char* call : kNamingCalls) runs += Sweep(kernel, call, "errno");
    }
    RecordProperty("runs", runs);
}

// The shipped operation, whose copies are made where nothing renames in
// place (and, with the old files kept, always), under the staging names of
// its journal where there are no unnamed files.
TEST_F(ShortCopySweep, TheBatchOperationNeverKeepsAShortCopy) {
    int runs = 0;
    for (const Kernel& kernel : kKernels) {
        for (const bool deleteOld : {false, true}) {
            for (const char* mode : {"short", "zero"}) {
                const int failuresBefore = FailureCount();
                for (long nth = 1;; ++nth, ++runs) {
                    const long calls = RunOnce(kernel, "copy_file_range", mode, std::to_string(nth), deleteOld);
                    if (calls < nth || FailureCount() != failuresBefore) break;
                }
            }
        }
    }
    RecordProperty("runs", runs);
}

// A slowed call still does its work: the mode the progress tests rely on.
TEST_F(ShortCopySweep, DelayedCallsStillCopyEverything) {
    for (const Kernel& kernel : kKernels) {
        for (const char* call : {"copy_file_range", "pwrite", "renameat2", "linkat", "openat"}) {
            RunOnce(kernel, call, "delay", "1-");
        }
    }
}

}  // namespace
}  // namespace vantelo::reliability
