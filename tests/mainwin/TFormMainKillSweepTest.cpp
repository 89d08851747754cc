// A kill sweep over the real window: a search and a batch rename are clicked
// through the real main window and data module in a child process, which is
// killed (SIGKILL) just before its Nth file operation; then the tool starts
// again in this process, as the user would start it, against the same
// database. Its start-up must bring the batch to one end (the folder exactly
// as before, or every file under its new name), say what it did in one box,
// and leave every row of the table switched off. Every point of a small
// batch is swept in both modes on four kinds of file system, and a sample of
// points of a 20,000-file batch.
#include <gtest/gtest.h>

#include "FileListFixture.h"
#include "mainwin/MainTexts.h"
#include "platform/TFileOps.h"
#include "reliability/DirState.h"
#include "reliability/ShimChild.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

#include <csignal>
#include <cstdio>
#include <fcntl.h>

namespace vantelo::reliability {
namespace {

constexpr const char* kTarget = ".k";
constexpr const char* kReplacement = ".r";

// The file systems swept: every fast path; no rename without replacing (the
// old files are linked, then deleted); neither that nor hard links (copied,
// then deleted); no unnamed files (copies built under staging names).
enum class Kernel { Full, NoRenameInPlace, NoLinks, NoTmpFile };
const char* KernelName(Kernel kernel)
{
    switch (kernel) {
    case Kernel::Full:
        return "every fast path";
    case Kernel::NoRenameInPlace:
        return "no RENAME_NOREPLACE";
    case Kernel::NoLinks:
        return "no links, no RENAME_NOREPLACE";
    default:
        return "no O_TMPFILE";
    }
}

// The file system of one kernel, killing the process before its Nth step
// (0: never) and counting the steps.
class TKillingOps : public TFileOps {
public:
    TKillingOps(Kernel kernel, long nth)
        : TFileOps(Options{.tmpFile = kernel != Kernel::NoTmpFile}), kernel_(kernel), nth_(nth)
    {
    }
    long Steps() const { return steps_; }

    int Fault(Step step, const std::string&) override
    {
        if (++steps_ == nth_)
            ::kill(::getpid(), SIGKILL);
        return step == Step::Link && kernel_ == Kernel::NoLinks ? EPERM : 0;
    }

protected:
    int RenameNoReplace(int dirFd, const std::string& from, const std::string& to) override
    {
        if (kernel_ != Kernel::Full && kernel_ != Kernel::NoTmpFile) {
            errno = EINVAL;
            return -1;
        }
        return TFileOps::RenameNoReplace(dirFd, from, to);
    }

private:
    Kernel kernel_;
    long nth_;
    long steps_ = 0;
};

// ---- the child: start-up, search and rename until killed ----------------------

TEST(DISABLED_FormMainKillDriver, SearchesThenRenames)
{
    const char* work = std::getenv("VANTELO_KILL_WORK");
    const char* base = std::getenv("VANTELO_KILL_BASE");
    const char* result = std::getenv("VANTELO_KILL_RESULT");
    if (!work || !base || !result)
        GTEST_SKIP() << "run by the kill sweep only";
    TKillingOps ops(static_cast<Kernel>(std::atoi(std::getenv("VANTELO_KILL_KERNEL"))),
                    std::atol(std::getenv("VANTELO_KILL_NTH")));
    std::vector<std::string> notices;
    TMessageForm::SetAnswerHook([&](const std::string& text, DialogKind, const DialogButtons&) {
        notices.push_back(text);
        return 1;
    });
    Application->SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        notices.push_back(text);
        return 1;
    });
    std::filesystem::current_path(base);
    std::unique_ptr<TFormMain> form;
    std::unique_ptr<TShareDataModule> module;
    ASSERT_NO_FATAL_FAILURE(StartUp(form, module, &ops));
    const auto type = TypeInto;
    const auto& controls = form->Controls();
    type(controls.Edit1, work);
    type(controls.Edit2, kTarget);
    QTest::mouseClick(controls.SpeedButton1, Qt::LeftButton);
    type(controls.Edit3, kReplacement);
    controls.CheckBox1->setChecked(std::getenv("VANTELO_KILL_DELETE") != nullptr);
    QTest::mouseClick(controls.SpeedButton2, Qt::LeftButton);
    module.reset();
    ShareDataModule = nullptr;
    form.reset();
    std::ofstream out(result);
    out << ops.Steps() << "\n";
    for (const std::string& text : notices)
        out << text << "\n";
}

// ---- the parent ----------------------------------------------------------------

struct Batch {
    int files;        // listed files; one of them a symbolic link when small
    bool deleteOld;
    Kernel kernel;
};

class KillSweep : public FileListFixture {
protected:
    // A fresh folder and database for one run.
    void Fresh(int files)
    {
        work = std::make_unique<TTempDir>();
        base = std::make_unique<TTempDir>();
        CreateDatabase(base->Path() + "/FileName.mdb");
        std::filesystem::current_path(base->Path());
        const int dir = ::open(work->Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int i = 0; i < files; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "f%05d.k", i);
            const std::string content = "file " + std::to_string(i) + std::string(static_cast<size_t>(i % 7) * 100, 'x');
            const int fd = ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
            ::close(fd);
        }
        ::close(dir);
        if (files < 100) {
            ASSERT_EQ(::symlink("f00000.k", (*work / "link.k").c_str()), 0);
        }
        Touch("bystander.txt", "not listed");
    }

    // Runs the child killed before step `nth`; answers whether it was killed,
    // and the steps it took when it was not.
    bool RunKilled(const Batch& batch, long nth, long& steps)
    {
        const std::string resultPath = scratch_ / "result";
        ::unlink(resultPath.c_str());
        const ShimChild child = RunUnderShim(
            "", "DISABLED_FormMainKillDriver.SearchesThenRenames",
            {{"VANTELO_KILL_WORK", work->Path()},
             {"VANTELO_KILL_BASE", base->Path()},
             {"VANTELO_KILL_RESULT", resultPath},
             {"VANTELO_KILL_NTH", std::to_string(nth)},
             {"VANTELO_KILL_KERNEL", std::to_string(static_cast<int>(batch.kernel))},
             {"VANTELO_KILL_DELETE", batch.deleteOld ? std::optional<std::string>("1") : std::nullopt}},
            scratch_ / "log");
        EXPECT_TRUE(child.trouble.empty()) << child.trouble;
        if (!child.exited) {
            EXPECT_EQ(child.signal, SIGKILL) << child.log;
            return true;
        }
        EXPECT_EQ(child.exitStatus, 0) << child.log;
        std::ifstream in(resultPath);
        in >> steps;
        return false;
    }

    // One run: killed before step `nth`, then the tool started again here.
    // Answers false when the child was not killed (N lay past its last step).
    bool KillAndRestart(const Batch& batch, long nth)
    {
        Fresh(batch.files);
        const DirState before = Snapshot(work->Path());
        const Rows rows = SearchRows(work->Path(), kTarget, kReplacement);
        long steps = 0;
        const bool killed = RunKilled(batch, nth, steps);
        const std::string where = std::string(KernelName(batch.kernel)) + (batch.deleteOld ? ", deleting" : ", keeping") +
            ", " + std::to_string(batch.files) + " files, killed before step " + std::to_string(nth);
        SCOPED_TRACE(where);

        notices.clear();
        errors.clear();
        Start();
        const DirState after = Snapshot(work->Path());
        const bool asBefore = SameDirectory(before, after);
        const ::testing::AssertionResult renamed = Renamed(before, after, rows, batch.deleteOld);
        EXPECT_TRUE(asBefore || renamed) << renamed.message() << "\nafter:\n" << (after.size() < 50 ? Describe(after) : "");
        EXPECT_TRUE(errors.empty()) << ::testing::PrintToString(errors);
        EXPECT_LE(notices.size(), 1u) << ::testing::PrintToString(notices);
        if (!notices.empty()) {
            const std::string& box = notices.front();
            bool known = false;
            for (size_t n = 1; n <= rows.size() && !known; ++n)
                known = box == (asBefore ? texts::RecoveredUndone(n) : texts::RecoveredFinished(n));
            EXPECT_TRUE(known) << box;
        }
        // Renamed in place, the first N-1 files went back under their names.
        if (killed && batch.kernel == Kernel::Full && batch.deleteOld && nth >= 2 && nth <= static_cast<long>(rows.size())) {
            EXPECT_EQ(notices, std::vector<std::string>{texts::RecoveredUndone(static_cast<size_t>(nth - 1))});
        }
        // The table: every row switched off, each holding a listed name.
        for (const Row& row : Table()) {
            EXPECT_FALSE(row.enabled) << row;
            EXPECT_TRUE(before.count(row.name)) << row;
        }
        module.reset();
        ShareDataModule = nullptr;
        form.reset();
        if (!killed)
            lastSteps_ = steps;
        return killed;
    }

    TTempDir scratch_;
    long lastSteps_ = 0;
};

TEST_F(KillSweep, AKillAtEveryFileOperationOfASmallBatchEndsAtOneEndAfterTheRestart)
{
    for (const Kernel kernel : {Kernel::Full, Kernel::NoRenameInPlace, Kernel::NoLinks, Kernel::NoTmpFile}) {
        for (const bool deleteOld : {false, true}) {
            const Batch batch{4, deleteOld, kernel};
            long nth = 1;
            while (KillAndRestart(batch, nth) && !HasFailure())
                ++nth;
            // The run that was not killed finished the batch.
            EXPECT_GE(nth, 3) << KernelName(kernel);
            if (HasFailure())
                return;
        }
    }
}

TEST_F(KillSweep, AKillAtSampledPointsOfA20000FileBatchEndsAtOneEndAfterTheRestart)
{
    constexpr int kFiles = 20000;
    const struct {
        Batch batch;
        std::vector<long> points;
    } samples[] = {
        // One step per file renamed in place, then the folder's flush.
        {{kFiles, true, Kernel::Full}, {1, 2, kFiles / 2, kFiles, kFiles + 1}},
        // Two steps per copy: its content written, its name given.
        {{kFiles, false, Kernel::Full}, {2, kFiles + 1, 2 * kFiles}},
        // Per file the refused rename and the link; the flush; the deletions.
        {{kFiles, true, Kernel::NoRenameInPlace}, {kFiles, 2 * kFiles + 1, 2 * kFiles + 2 + kFiles / 2}},
    };
    for (const auto& sample : samples) {
        for (const long nth : sample.points) {
            EXPECT_TRUE(KillAndRestart(sample.batch, nth)) << "step " << nth << " was never reached";
            if (HasFailure())
                return;
        }
    }
}

}  // namespace
}  // namespace vantelo::reliability
