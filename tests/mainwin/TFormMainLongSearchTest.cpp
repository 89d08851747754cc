// A long search through the real main window: its matches are written on
// the window's thread while the worker still lists the folder; a search
// that completes leaves the table as any search does, one that is cancelled
// leaves it as it was, and a refused row stops the listing with its error.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <algorithm>

#include "FileListFixture.h"
#include "TGatedOps.h"
#include "mainwin/TBackgroundWork.h"
#include "mainwin/TProgressForm.h"
#include "platform/TDirectoryListing.h"
#include "rename/TNameRules.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

namespace {

constexpr int kFiles = 5000;
// Held here, the worker has handed over 4,096 matches: enough to start.
constexpr int kHoldAt = 4700;

enum class Act { Complete, Cancel, Refuse };

struct SearchCase {
    const char* name;
    Act act;
};

class FormMainLongSearchTest : public FileListFixture, public ::testing::WithParamInterface<SearchCase> {
protected:
    // The matches of ".k" in the order the folder lists them.
    std::vector<std::string> Matches()
    {
        std::vector<std::string> names;
        EXPECT_EQ(TDirectoryListing::ReadAll(work->Path(), names), 0);
        std::erase_if(names, [](const std::string& name) { return !NameMatches(name, ".k"); });
        return names;
    }
};

}  // namespace

TEST_P(FormMainLongSearchTest, MatchesAreWrittenWhileTheListingGoesOn)
{
    const SearchCase& c = GetParam();
    for (int i = 0; i < 40; ++i)
        Touch(Numbered("old", i, ".o"));
    for (int i = 0; i < kFiles; ++i)
        Touch(Numbered("f", i, ".k"));
    const std::vector<std::string> matches = Matches();
    ASSERT_EQ(matches.size(), static_cast<size_t>(kFiles));
    // The table holds the first `count` matches in listing order, live.
    const auto expectWritten = [&](size_t count) {
        const auto rows = Table();
        ASSERT_EQ(rows.size(), count);
        for (size_t i = 0; i < count; ++i)
            ASSERT_EQ(rows[i], (Row{static_cast<int>(i) + 1, matches[i], true}));
    };
    // The refused row is among the matches handed over before the hold.
    const std::string refused = matches[3000];
    if (c.act == Act::Refuse) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((base->Path() + "/FileName.mdb").c_str(), &db), SQLITE_OK);
        const std::string trigger = "CREATE TRIGGER refuse BEFORE INSERT ON Tellarin WHEN NEW.FileName = '" +
                                    refused + "' BEGIN SELECT RAISE(ABORT, 'refused here'); END";
        ASSERT_EQ(sqlite3_exec(db, trigger.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    Start();
    Search(work->Path(), ".o");
    ASSERT_EQ(GridRows(), 40);
    const auto tableBefore = Table();

    // Shared with the worker, which a cancel leaves behind.
    const auto gate = std::make_shared<TGate>(kHoldAt);
    form->SetListingStep([gate](size_t) { gate->Pass(); });
    TADOConnection& connection = *ShareDataModule->ADOConnection1;
    TADOQuery& temp = *ShareDataModule->ADOQueryTemp;
    bool writingWhileHeld = false, tableUntouchedWhileHeld = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!gate->Reached() || !temp.Active() || temp.RecordCount() < 2000)
            return;
        TProgressForm* progress = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* shown = qobject_cast<TProgressForm*>(widget); shown && shown->isVisible())
                progress = shown;
        if (c.act == Act::Cancel && !progress)
            return;
        look.stop();
        writingWhileHeld = connection.InTransaction();
        tableUntouchedWhileHeld = Table() == tableBefore;
        if (c.act == Act::Cancel)
            QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
        else
            gate->Release();
    });
    if (c.act != Act::Refuse)
        look.start(2);
    Search(work->Path(), ".k");
    look.stop();
    // A refusal or a cancel ends the search while the worker is still held.
    const bool endedWhileHeld = gate->Reached() && !gate->Released();
    gate->Release();
    EXPECT_TRUE(QTest::qWaitFor([] { return TBackgroundWork::AbandonedRunning() == 0; }, 10000));
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_TRUE(connection.HeldWrites().Empty());

    EXPECT_EQ(endedWhileHeld, c.act != Act::Complete);
    if (c.act == Act::Refuse) {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find("refused here"), std::string::npos) << errors[0];
        // The rows before the refused one stay written over the old list,
        // which is not switched off; the grid still shows it.
        expectWritten(3000);
        EXPECT_EQ(GridRows(), 40);
        return;
    }
    EXPECT_TRUE(writingWhileHeld);
    EXPECT_TRUE(tableUntouchedWhileHeld);
    EXPECT_TRUE(errors.empty()) << ::testing::PrintToString(errors);
    EXPECT_TRUE(notices.empty());
    if (c.act == Act::Cancel) {
        // Nothing of the search reaches the table or the grid.
        EXPECT_EQ(Table(), tableBefore);
        EXPECT_EQ(GridRows(), 40);
        EXPECT_FALSE(ShareDataModule->ADOQueryTemp->Active());
        form->SetListingStep({});
        Search(work->Path(), ".k");
    }
    // Every match in listing order over the old rows, then appended.
    expectWritten(kFiles);
    EXPECT_EQ(GridRows(), kFiles);
    EXPECT_EQ(form->SearchedDirectory(), work->Path());
}

INSTANTIATE_TEST_SUITE_P(Searches, FormMainLongSearchTest,
                         ::testing::Values(SearchCase{"Completed", Act::Complete}, SearchCase{"Cancelled", Act::Cancel},
                                           SearchCase{"RowRefused", Act::Refuse}),
                         [](const ::testing::TestParamInfo<SearchCase>& info) { return info.param.name; });
