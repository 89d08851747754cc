// A long list through the real main window: its rows are switched off on
// the window's thread while the worker renames, written into a transaction
// left open; a batch that is done commits them, one that fails or is
// cancelled leaves the table and the grid as they were.
#include <gtest/gtest.h>

#include <QTimer>


#include "FileListFixture.h"
#include "TGatedOps.h"
#include "mainwin/MainTexts.h"
#include "platform/TFileOps.h"
#include "reliability/DirState.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

namespace {

using vantelo::reliability::SameDirectory;
using vantelo::reliability::Snapshot;

constexpr int kFiles = 5000;

struct LongCase {
    const char* name;
    bool deleteOld;
    int error;  // of the watched file; 0: the batch goes on
};

class FormMainLongListTest : public FileListFixture, public ::testing::WithParamInterface<LongCase> {};

}  // namespace

// While the worker is held well into the list, the rows are already
// switched off in the window's query and written, in a transaction nobody
// else sees yet; then the batch ends.
TEST_P(FormMainLongListTest, RowsSwitchedOffDuringTheRenamesReachTheTableOnlyWhenTheBatchIsDone)
{
    const LongCase& c = GetParam();
    for (int i = 0; i < kFiles; ++i)
        Touch(Numbered("f", i, ".k"), "x");
    TGatedOps ops(c.deleteOld ? TFileOps::Step::Rename : TFileOps::Step::CopyCommit, kFiles - 100, c.error);
    Start();
    form->SetFileOps(ops);
    Search(work->Path(), ".k");
    ASSERT_EQ(GridRows(), kFiles);
    const auto tableBefore = Table();
    const auto before = Snapshot(work->Path());
    TADOConnection& connection = *ShareDataModule->ADOConnection1;
    bool writtenUncommitted = false;
    int liveWhileHeld = -1;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!ops.Reached())
            return;
        // Let the walk end before looking.
        if (!form->ADOQuery1->Eof())
            return;
        look.stop();
        writtenUncommitted = connection.HeldWrites().Empty() && connection.InTransaction();
        liveWhileHeld = static_cast<int>(Live().size());
        ops.Release();
    });
    look.start(5);
    Rename(".k", ".r", c.deleteOld);
    look.stop();
    ops.Release();
    EXPECT_TRUE(writtenUncommitted);
    EXPECT_EQ(liveWhileHeld, kFiles);
    EXPECT_TRUE(errors.empty()) << ::testing::PrintToString(errors);
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_TRUE(connection.HeldWrites().Empty());
    if (c.error == 0) {
        EXPECT_EQ(notices, std::vector<std::string>{texts::kRenameDone});
        EXPECT_TRUE(Live().empty());
        EXPECT_EQ(GridRows(), 0);
        EXPECT_TRUE(Exists("f0.r") && Exists("f4999.r"));
        EXPECT_EQ(Exists("f0.k"), !c.deleteOld);
    } else {
        std::string failure = texts::kCopyFailed;
        failure += std::to_string(c.error);
        EXPECT_EQ(notices, std::vector<std::string>{failure});
        EXPECT_TRUE(SameDirectory(before, Snapshot(work->Path())));
        EXPECT_EQ(Table(), tableBefore);
        // The grid shows the whole list again, on the row that failed.
        EXPECT_EQ(GridRows(), kFiles);
        EXPECT_EQ(form->ADOQuery1->RecNo(), kFiles - 100);
        // Pressed again, the batch goes through.
        notices.clear();
        Rename(".k", ".r", c.deleteOld);
        EXPECT_EQ(notices, std::vector<std::string>{texts::kRenameDone});
        EXPECT_TRUE(Live().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Batches, FormMainLongListTest,
                         ::testing::Values(LongCase{"RenamedInPlace", true, 0}, LongCase{"Copied", false, 0},
                                           LongCase{"RenameFails", true, EIO}, LongCase{"CopyFails", false, ENOSPC}),
                         [](const ::testing::TestParamInfo<LongCase>& info) { return info.param.name; });
