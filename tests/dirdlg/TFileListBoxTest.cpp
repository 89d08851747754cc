#include <QApplication>

#include <sys/stat.h>

#include "dirdlg/EInvalidOperation.h"
#include "dirdlg/PathRoutines.h"
#include "dirdlg/TFileListBox.h"
#include "platform/EInOutError.h"
#include "tests/dirdlg/DirDlgFixture.h"

namespace vantelo {
namespace {

class TFileListBoxTest : public test::DirDlgFixture {
protected:
    static std::vector<std::string> Entries(const TFileListBox& list)
    {
        std::vector<std::string> entries;
        for (int i = 0; i < list.count(); ++i)
            entries.push_back(FromDisplay(list.item(i)->text()));
        return entries;
    }
};

TEST_F(TFileListBoxTest, ListsOnlyVisibleRegularFilesSortedIgnoringCase)
{
    for (const char* name : {"b.txt", "A.txt", "c", ".hidden", "a.TXT"})
        dir_.WriteFile(name, "x");
    MakeFolder("folder");
    mkfifo(Path("pipe").c_str(), 0644);
    TFileListBox list;
    const std::vector<std::string> entries = Entries(list);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_TRUE((entries[0] == "A.txt" && entries[1] == "a.TXT") || (entries[0] == "a.TXT" && entries[1] == "A.txt"));
    EXPECT_EQ(entries[2], "b.txt");
    EXPECT_EQ(entries[3], "c");
    EXPECT_EQ(list.FolderPath(), root_);
    EXPECT_EQ(list.PickedName(), "");
}

TEST_F(TFileListBoxTest, FileTypesAndMaskChooseTheEntries)
{
    for (const char* name : {"x.jpg", "y.png", ".dot.jpg"})
        dir_.WriteFile(name, "x");
    MakeFolder("sub");
    TFileListBox list;
    list.SetMask("*.jpg;*.png");
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"x.jpg", "y.png"}));
    list.SetFileType(ftNormal | ftDirectory | ftHidden);
    list.SetMask("*.*");
    EXPECT_EQ(Entries(list), (std::vector<std::string>{".dot.jpg", "[sub]", "x.jpg", "y.png"}));
}

TEST_F(TFileListBoxTest, ChangingFolderMakesItCurrentAndFailureChangesNothing)
{
    MakeFolder("sub");
    dir_.WriteFile("sub/inside", "x");
    dir_.WriteFile("outside", "x");
    TFileListBox list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    list.ChangeFolder(Path("sub"));
    EXPECT_EQ(Entries(list), std::vector<std::string>{"inside"});
    EXPECT_EQ(TCurrentDirectory::Get(), Path("sub"));
    EXPECT_EQ(changes, 1);
    EXPECT_THROW(list.ChangeFolder(Path("missing")), EInOutError);
    EXPECT_EQ(list.FolderPath(), Path("sub"));
    EXPECT_EQ(Entries(list), std::vector<std::string>{"inside"});
    EXPECT_EQ(TCurrentDirectory::Get(), Path("sub"));
}

TEST_F(TFileListBoxTest, TypedPathPicksAFileOrSetsTheMask)
{
    MakeFolder("sub");
    dir_.WriteFile("sub/one.txt", "x");
    dir_.WriteFile("sub/two.dat", "x");
    TFileListBox list;
    list.ApplyPathText(Path("sub/two.dat"));
    EXPECT_EQ(list.FolderPath(), Path("sub"));
    EXPECT_EQ(list.PickedName(), "two.dat");
    EXPECT_EQ(list.PickedPath(), Path("sub/two.dat"));
    EXPECT_EQ(list.LastPicked(), 1);
    list.ApplyPathText(Path("sub/*.txt"));
    EXPECT_EQ(list.Mask(), "*.txt");
    EXPECT_EQ(Entries(list), std::vector<std::string>{"one.txt"});
    try {
        list.ApplyPathText(Path("sub/three.txt"));
        ADD_FAILURE() << "no error";
    } catch (const Exception& error) {
        // A missing last component is taken for a folder first.
        EXPECT_EQ(error.Message(), "File not found");
    }
    list.SetMask("*.*");
    list.SetFileType(ftDirectory);
    MakeFolder("sub/deeper");
    list.ChangeFolder(Path("sub/deeper"));
    dir_.WriteFile("sub/deeper/hidden-by-type", "x");
    try {
        list.ApplyPathText(Path("sub/deeper/hidden-by-type/x"));
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.Message(), "File not found");
    }
}

TEST_F(TFileListBoxTest, LongListingRestoresTheCursor)
{
    for (int i = 0; i < 300; ++i)
        dir_.WriteFile("f" + std::to_string(1000 + i), "");
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    TFileListBox list;
    EXPECT_EQ(list.count(), 300);
    EXPECT_EQ(FromDisplay(list.item(0)->text()), "f1000");
    EXPECT_EQ(FromDisplay(list.item(299)->text()), "f1299");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(TFileListBoxTest, EntriesAreDrawnInTheTextColourWithoutPictures)
{
    dir_.WriteFile("only", "x");
    TFileListBox list;
    const QColor grey(128, 128, 128);
    list.SetTextColor(grey);
    list.SetItemHeight(13);
    list.resize(185, 93);
    list.show();
    const QImage picture = list.grab().toImage();
    const QRect row = list.visualItemRect(list.item(0)).translated(list.viewport()->pos());
    EXPECT_EQ(row.height(), 13);
    // The text is grey (smoothed towards the white ground, never darker
    // than the grey itself), and nothing coloured is drawn.
    const QColor ground = list.palette().color(QPalette::Base);
    int ink = 0, wrong = 0;
    for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = row.left(); x < row.left() + 40; ++x) {
            const QColor colour = picture.pixelColor(x, y);
            if (colour == ground)
                continue;
            ++ink;
            if (colour.saturation() > 0 || colour.lightness() < grey.lightness())
                ++wrong;
        }
    EXPECT_GT(ink, 5);
    EXPECT_EQ(wrong, 0);
    list.hide();
}

TEST_F(TFileListBoxTest, RowHeightIsTheFontsWithAtLeastSixteenForGlyphs)
{
    TFileListBox list;
    QFont small = list.font();
    small.setPixelSize(8);
    list.setFont(small);
    EXPECT_EQ(list.ItemHeight(), TextRowHeight(small));
    list.SetShowGlyphs(true);
    EXPECT_EQ(list.ItemHeight(), std::max(16, TextRowHeight(small)));
}

}  // namespace
}  // namespace vantelo
