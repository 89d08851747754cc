#include <QTest>

#include "dirdlg/PathRoutines.h"
#include "dirdlg/TDriveComboBox.h"
#include "dirdlg/TListBitmap.h"
#include "tests/dirdlg/DirDlgFixture.h"

namespace vantelo {
namespace {

TDrive MakeDrive(std::string mountPoint, TDriveKind kind, std::string label = {}, std::string source = {})
{
    TDrive drive;
    drive.mountPoint = std::move(mountPoint);
    drive.kind = kind;
    drive.label = std::move(label);
    drive.source = std::move(source);
    return drive;
}

TEST(TDriveComboBox, EntryTextsByKind)
{
    struct Row {
        TDrive drive;
        const char* lower;
        const char* upper;
    };
    const Row rows[] = {
        {MakeDrive("/", TDriveKind::Fixed, "System"), "/: [system]", "/: [SYSTEM]"},
        {MakeDrive("/data", TDriveKind::Fixed), "/data: []", "/data: []"},
        {MakeDrive("/Media/USB", TDriveKind::Removable, "Stick"), "/Media/USB", "/Media/USB"},
        {MakeDrive("/mnt/Share", TDriveKind::Remote, "", "//Server/Share"), "/mnt/Share: //server/share",
         "/mnt/Share: //SERVER/SHARE"},
        {MakeDrive("/media/cd", TDriveKind::CDRom), "/media/cd: []", "/media/cd: []"},
        {MakeDrive("/tmp", TDriveKind::RamDisk, "Scratch"), "/tmp: [scratch]", "/tmp: [SCRATCH]"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TDriveComboBox::EntryText(row.drive, TTextCase::tcLowerCase), row.lower);
        EXPECT_EQ(TDriveComboBox::EntryText(row.drive, TTextCase::tcUpperCase), row.upper);
    }
}

TEST(TDriveComboBox, KindPicturesAreSixteenByElevenWithTransparentCorner)
{
    for (const char* name : {"FLOPPY", "HARD", "NETWORK", "CDROM", "RAM"}) {
        const QImage picture = TListBitmap::Load(name).toImage();
        ASSERT_EQ(picture.size(), QSize(16, 11)) << name;
        EXPECT_EQ(qAlpha(picture.pixel(0, 10)), 0) << name;
        int opaque = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                opaque += qAlpha(picture.pixel(x, y)) == 255;
        EXPECT_GT(opaque, 40) << name;
    }
    for (const char* name : {"OPENFOLDER", "CLOSEDFOLDER", "CURRENTFOLDER", "EXECUTABLE", "UNKNOWNFILE", "KNOWNFILE"})
        EXPECT_EQ(TListBitmap::Load(name).size(), QSize(16, 15)) << name;
}

class TDriveComboBoxTest : public test::DirDlgFixture {};

TEST_F(TDriveComboBoxTest, StartsOnTheCurrentDrivePicksFireOnceAndRepeatsAreQuiet)
{
    MakeFolder("usb");
    TDrives::SetTableOverride(std::vector<TDrive>{MakeDrive("/", TDriveKind::Fixed, "System"),
                                                  MakeDrive(Path("usb"), TDriveKind::Removable)});
    TCurrentDirectory::Set(Path("usb"));
    TDriveComboBox drives;
    EXPECT_EQ(drives.Drive(), Path("usb"));
    ASSERT_EQ(drives.count(), 2);
    EXPECT_EQ(drives.currentIndex(), 1);
    EXPECT_EQ(FromDisplay(drives.itemText(0)), "/: [system]");
    EXPECT_EQ(drives.ItemHeight(), std::max(11, TextRowHeight(drives.font())));

    int changes = 0;
    drives.OnChange = [&] { ++changes; };
    drives.SelectDrive(Path("usb"));
    EXPECT_EQ(changes, 0);
    drives.show();
    drives.setFocus();
    QTest::keyClick(&drives, Qt::Key_Up);  // a keyboard pick in the closed list
    EXPECT_EQ(drives.Drive(), "/");
    EXPECT_EQ(changes, 1);
    drives.SelectDrive("/");
    EXPECT_EQ(changes, 1);
    drives.SelectDrive("");
    EXPECT_EQ(drives.currentIndex(), -1);
    EXPECT_EQ(changes, 2);

    drives.SetTextCase(TTextCase::tcUpperCase);
    EXPECT_EQ(FromDisplay(drives.itemText(0)), "/: [SYSTEM]");
    drives.hide();
}

}  // namespace
}  // namespace vantelo
