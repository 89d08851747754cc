#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QWindow>

#include <unistd.h>

#include "app/TMessageForm.h"
#include "dirdlg/PathRoutines.h"
#include "dirdlg/TDirectoryListBox.h"
#include "dirdlg/TDriveComboBox.h"
#include "dirdlg/TFileListBox.h"
#include "dirdlg/TPathLabel.h"
#include "tests/dirdlg/DirDlgFixture.h"

namespace vantelo {
namespace {

class TSelectDirDlgTest : public test::DirDlgFixture {
protected:
    static void DoubleClick(TDirectoryListBox& tree, int row)
    {
        const QRect rect = tree.visualItemRect(tree.item(row));
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
    }
    static int RowOf(const TDirectoryListBox& tree, const std::string& name)
    {
        for (int i = tree.OpenIndex() + 1; i < tree.count(); ++i)
            if (tree.EntryName(i) == name)
                return i;
        return -1;
    }
    // Runs the chooser as the main window's "...." button does, with the
    // script working the open dialog.
    bool Choose(std::string& directory, std::function<void(TSelectDirDlg&)> script, int options = cdConfirmMissing,
                int helpCtx = 1000)
    {
        bool scriptRan = false;
        TSelectDirDlg::SetModalScript([&, script](TSelectDirDlg& dialog) {
            scriptRan = true;
            script(dialog);
            if (dialog.isVisible())
                QTest::keyClick(&dialog, Qt::Key_Escape);
        });
        const bool result = ChooseDirectory(directory, options, helpCtx);
        EXPECT_TRUE(scriptRan);
        return result;
    }
};

TEST_F(TSelectDirDlgTest, BuiltWithTheLayoutTextsAndTabOrder)
{
    TSelectDirDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "Select Directory");
    EXPECT_EQ(dialog.size(), QSize(424, 255));
    EXPECT_EQ(dialog.font().pixelSize(), 11);
    struct Row {
        QWidget* control;
        QRect bounds;
        bool visible;
    };
    const int treeFrame = 2 * dialog.DirList->frameWidth();
    const Row rows[] = {
        {dialog.DirEdit, {8, 24, 313, 20}, false},
        {dialog.NameCaption, {8, 8, 92, 13}, true},
        {dialog.DriveList, {232, 192, 185, 19}, true},
        {dialog.DrivesCaption, {232, 176, 41, 13}, true},
        {dialog.DirLabel, {8, 24, 313, 20}, true},
        // Whole rows only: the height shrinks from 138.
        {dialog.DirList, {8, 72, 213, treeFrame + (138 - treeFrame) / 17 * 17}, true},
        {dialog.DirectoriesCaption, {8, 56, 66, 13}, true},
        {dialog.FileList, {232, 72, 185, 93}, true},
        {dialog.FilesCaption, {232, 56, 57, 13}, true},
        {dialog.NetButton, {8, 224, 77, 27}, false},
        {dialog.OKButton, {172, 224, 77, 27}, true},
        {dialog.CancelButton, {256, 224, 77, 27}, true},
        {dialog.HelpButton, {340, 224, 77, 27}, true},
    };
    dialog.show();
    for (const Row& row : rows) {
        EXPECT_EQ(row.control->geometry(), row.bounds) << row.control->objectName().toStdString();
        EXPECT_EQ(row.control->isVisible(), row.visible) << row.control->objectName().toStdString();
    }
    EXPECT_EQ(dialog.NameCaption->text(), "Directory &Name:");
    EXPECT_EQ(dialog.DrivesCaption->text(), "D&rives:");
    EXPECT_EQ(dialog.DirectoriesCaption->text(), "&Directories:");
    EXPECT_EQ(dialog.FilesCaption->text(), "&Files: (*.*)");
    EXPECT_EQ(dialog.OKButton->text(), "OK");
    EXPECT_EQ(dialog.CancelButton->text(), "Cancel");
    EXPECT_EQ(dialog.HelpButton->text(), "&Help");
    EXPECT_EQ(dialog.NetButton->text(), "Ne&twork...");
    EXPECT_TRUE(dialog.OKButton->isDefault());
    EXPECT_EQ(dialog.DirList->ItemHeight(), 17);
    EXPECT_EQ(dialog.FileList->ItemHeight(), 13);
    EXPECT_EQ(dialog.FileList->TextColor(), QColor(128, 128, 128));

    // The tree has the focus; Tab walks tree, drive list, OK, Cancel, file list, Help.
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.DirList->hasFocus(); }));
    const std::vector<QWidget*> order = {dialog.DriveList, dialog.OKButton, dialog.CancelButton, dialog.FileList,
                                         dialog.HelpButton, dialog.DirList};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    // Accelerators focus their lists.
    QTest::keyClick(&dialog, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), dialog.DriveList);
    QTest::keyClick(&dialog, Qt::Key_F, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), dialog.FileList);
    QTest::keyClick(&dialog, Qt::Key_D, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), dialog.DirList);
    // The hidden edit's accelerator does nothing.
    QTest::keyClick(&dialog, Qt::Key_N, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), dialog.DirList);
    dialog.hide();
}

TEST_F(TSelectDirDlgTest, OpensOnTheCurrentDirectoryAndOkReturnsItUnchanged)
{
    MakeFolder("sub");
    dir_.WriteFile("b.txt", "");
    dir_.WriteFile("a.txt", "");
    std::string directory;
    const bool accepted = Choose(directory, [&](TSelectDirDlg& dialog) {
        EXPECT_EQ(dialog.DirLabel->Caption(), root_);
        EXPECT_EQ(dialog.DirList->OpenPath(), root_);
        EXPECT_EQ(dialog.DriveList->Drive(), "/");
        EXPECT_EQ(dialog.FileList->FolderPath(), root_);
        ASSERT_EQ(dialog.FileList->count(), 2);
        EXPECT_EQ(dialog.FileList->item(0)->text(), "a.txt");
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    });
    EXPECT_TRUE(accepted);
    EXPECT_EQ(directory, root_);
    EXPECT_EQ(TCurrentDirectory::Get(), root_);
}

TEST_F(TSelectDirDlgTest, OkAfterOpeningAFolderReturnsItAndItIsCurrent)
{
    MakeFolder("Data");
    MakeFolder("Data/2021");
    std::string directory;
    EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "Data"));
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "2021"));
        EXPECT_EQ(dialog.DirLabel->Caption(), Path("Data/2021"));
        EXPECT_EQ(dialog.FileList->FolderPath(), Path("Data/2021"));
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    }));
    EXPECT_EQ(directory, Path("Data/2021"));
    EXPECT_EQ(TCurrentDirectory::Get(), Path("Data/2021"));
}

TEST_F(TSelectDirDlgTest, OkAtTheRootReturnsSlash)
{
    std::string directory;
    EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
        DoubleClick(*dialog.DirList, 0);
        QTest::keyClick(dialog.DirList, Qt::Key_Return);
    }));
    EXPECT_EQ(directory, "/");
    EXPECT_EQ(TCurrentDirectory::Get(), "/");
}

TEST_F(TSelectDirDlgTest, CancelKeepsTheCallersTextButTheNextDialogOpensWhereTheUserLeftOff)
{
    MakeFolder("elsewhere");
    std::string directory = "caller's text";
    EXPECT_FALSE(Choose(directory, [&](TSelectDirDlg& dialog) {
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "elsewhere"));
        QTest::mouseClick(dialog.CancelButton, Qt::LeftButton);
    }));
    EXPECT_EQ(directory, "caller's text");
    EXPECT_EQ(TCurrentDirectory::Get(), Path("elsewhere"));

    std::string next;
    EXPECT_FALSE(Choose(next, [&](TSelectDirDlg& dialog) {
        EXPECT_EQ(dialog.DirLabel->Caption(), Path("elsewhere"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
    }));
    EXPECT_EQ(next, "");
}

TEST_F(TSelectDirDlgTest, HighlightWithoutOpeningReturnsTheOpenPath)
{
    MakeFolder("highlighted");
    std::string directory;
    EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
        const int row = RowOf(*dialog.DirList, "highlighted");
        QTest::mouseClick(dialog.DirList->viewport(), Qt::LeftButton, {},
                          dialog.DirList->visualItemRect(dialog.DirList->item(row)).center());
        EXPECT_EQ(dialog.DirList->currentRow(), row);
        QTest::keyClick(dialog.DirList, Qt::Key_Enter);
    }));
    EXPECT_EQ(directory, root_);
    EXPECT_EQ(TCurrentDirectory::Get(), root_);
}

TEST_F(TSelectDirDlgTest, HelpContextZeroHidesHelpAndMovesTheButtons)
{
    std::string directory;
    Choose(directory, [&](TSelectDirDlg& dialog) {
        EXPECT_FALSE(dialog.HelpButton->isVisible());
        EXPECT_EQ(dialog.OKButton->pos(), QPoint(256, 224));
        EXPECT_EQ(dialog.CancelButton->pos(), QPoint(340, 224));
    }, cdConfirmMissing, 0);
    Choose(directory, [&](TSelectDirDlg& dialog) {
        EXPECT_TRUE(dialog.HelpButton->isVisible());
        EXPECT_EQ(dialog.HelpButton->pos(), QPoint(340, 224));
        EXPECT_EQ(dialog.OKButton->pos(), QPoint(172, 224));
        EXPECT_EQ(dialog.HelpContext(), 1000);
        // Help has nothing to show and leaves the dialog as it was.
        QTest::mouseClick(dialog.HelpButton, Qt::LeftButton);
        QTest::keyClick(&dialog, Qt::Key_H, Qt::AltModifier);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(boxes_.empty());
    });
}

TEST_F(TSelectDirDlgTest, At120DotsPerInchEverythingIsAQuarterLargerAndCentred)
{
    TSelectDirDlg::SetPixelsPerInchOverride(120);
    std::string directory;
    Choose(directory, [&](TSelectDirDlg& dialog) {
        EXPECT_EQ(dialog.size(), QSize(530, 319));
        EXPECT_EQ(dialog.OKButton->geometry(), QRect(215, 280, 96, 34));
        EXPECT_EQ(dialog.HelpButton->geometry(), QRect(425, 280, 96, 34));
        EXPECT_EQ(dialog.DirLabel->geometry(), QRect(10, 30, 391, 25));
        EXPECT_EQ(dialog.DriveList->geometry(), QRect(290, 240, 231, 24));
        EXPECT_EQ(dialog.FileList->geometry(), QRect(290, 90, 231, 116));
        EXPECT_EQ(dialog.DirList->x(), 10);
        EXPECT_EQ(dialog.DirList->width(), 266);
        // 10 points at 120 pixels per inch; the lists measure their rows again.
        EXPECT_EQ(dialog.font().pixelSize(), 17);
        EXPECT_EQ(dialog.FileList->ItemHeight(), TextRowHeight(dialog.font()));
        EXPECT_EQ(dialog.DirList->ItemHeight(), std::max(16, TextRowHeight(dialog.font())));
        EXPECT_EQ(dialog.FileList->TextColor(), QColor(128, 128, 128));
        const QRect screen = dialog.screen()->geometry();
        // The window's own frame geometry: the widget's copy of it is only
        // brought up to date by the window's next move or resize.
        const QRect frame = dialog.windowHandle()->frameGeometry();
        const QSize outer = frame.size();
        EXPECT_EQ(frame.topLeft(),
                  QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2));
    });
}

TEST_F(TSelectDirDlgTest, LongPathIsDrawnShortenedButAnsweredInFull)
{
    std::string deep = "a-rather-long-folder-name";
    MakeFolder(deep);
    for (const char* part : {"/and-another-long-one", "/Photos", "/2020"}) {
        deep += part;
        MakeFolder(deep);
    }
    TCurrentDirectory::Set(Path(deep));
    std::string directory;
    EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
        const std::string shown = dialog.DirLabel->ShownText();
        EXPECT_NE(shown, Path(deep));
        EXPECT_NE(shown.find("..."), std::string::npos) << shown;
        EXPECT_LE(QFontMetrics(dialog.DirLabel->font()).horizontalAdvance(ToDisplay(shown)),
                  dialog.DirLabel->width());
        EXPECT_EQ(shown.substr(shown.size() - 12), "/Photos/2020");
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    }));
    EXPECT_EQ(directory, Path(deep));
}

TEST_F(TSelectDirDlgTest, RemovedFolderShowsFileNotFoundAndTheDialogStaysWhereItWas)
{
    MakeFolder("vanishing");
    std::string directory;
    EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
        const int row = RowOf(*dialog.DirList, "vanishing");
        ASSERT_EQ(rmdir(Path("vanishing").c_str()), 0);
        DoubleClick(*dialog.DirList, row);
        EXPECT_EQ(boxes_, std::vector<std::string>{"File not found."});
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.DirList->OpenPath(), root_);
        EXPECT_EQ(dialog.DirList->EntryName(row), "vanishing");
        EXPECT_EQ(TCurrentDirectory::Get(), root_);
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    }));
    EXPECT_EQ(directory, root_);
}

TEST_F(TSelectDirDlgTest, PickingADriveOpensItsRememberedFolderAndTheListFollowsTheTree)
{
    MakeFolder("usb");
    MakeFolder("usb/photos");
    TDrive root;
    root.mountPoint = "/";
    TDrive usb;
    usb.mountPoint = Path("usb");
    usb.kind = TDriveKind::Removable;
    TDrives::SetTableOverride(std::vector<TDrive>{root, usb});
    std::string directory;
    EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
        EXPECT_EQ(dialog.DriveList->Drive(), "/");
        // Walking into the mount point moves the drive list along.
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "usb"));
        EXPECT_EQ(dialog.DriveList->Drive(), Path("usb"));
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "photos"));
        // Back to "/" by the drive list, then to the usb drive again.
        dialog.DriveList->setFocus();
        QTest::keyClick(dialog.DriveList, Qt::Key_Up);
        EXPECT_EQ(dialog.DirList->OpenPath(), root_);
        QTest::keyClick(dialog.DriveList, Qt::Key_Down);
        EXPECT_EQ(dialog.DirList->OpenPath(), Path("usb/photos"));
        EXPECT_EQ(dialog.DirLabel->Caption(), Path("usb/photos"));
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    }));
    EXPECT_EQ(directory, Path("usb/photos"));
}

TEST_F(TSelectDirDlgTest, EditableWithConfirmationAsksBeforeAcceptingAMissingFolder)
{
    std::string directory;
    int asked = 0;
    TMessageForm::SetAnswerHook([&](const std::string& text, DialogKind kind, const DialogButtons&) {
        ++asked;
        EXPECT_EQ(text, "The specified directory does not exist. Create it?");
        EXPECT_EQ(kind, dkConfirmation);
        return asked == 1 ? TModalForm::mrNo : TModalForm::mrYes;
    });
    EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
        EXPECT_TRUE(dialog.DirEdit->isVisible());
        EXPECT_FALSE(dialog.DirLabel->isVisible());
        dialog.DirEdit->setText(ToDisplay(Path("new/folder")));
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
        EXPECT_TRUE(dialog.isVisible());  // "No" keeps it open
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    }, cdEditable | cdConfirmMissing | cdCreateMissing));
    TMessageForm::ClearTestHooks();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(directory, Path("new/folder"));
    EXPECT_TRUE(TCurrentDirectory::DirectoryExists(Path("new/folder")));
}

TEST_F(TSelectDirDlgTest, ScriptedResultAnswersWithoutADialog)
{
    MakeFolder("scripted");
    std::vector<std::tuple<std::string, int, int>> calls;
    TSelectDirDlg::SetObserver([&](const std::string& d, int o, int h) { calls.emplace_back(d, o, h); });
    TSelectDirDlg::SetNextResult(true, Path("scripted"));
    std::string directory;
    EXPECT_TRUE(ChooseDirectory(directory, cdConfirmMissing, 1000));
    EXPECT_EQ(directory, Path("scripted"));
    EXPECT_EQ(TCurrentDirectory::Get(), Path("scripted"));
    TSelectDirDlg::SetNextResult(false);
    std::string untouched = "kept";
    EXPECT_FALSE(ChooseDirectory(untouched, cdConfirmMissing, 1000));
    EXPECT_EQ(untouched, "kept");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], std::make_tuple(std::string(), 4, 1000));
}

TEST_F(TSelectDirDlgTest, RemovedCurrentDirectoryOpensTheNearestExistingParentAndTheDialogWorks)
{
    MakeFolder("a");
    MakeFolder("a/b");
    MakeFolder("a/b/c");
    MakeFolder("sibling");
    TCurrentDirectory::Set(Path("a/b/c"));
    ASSERT_EQ(rmdir(Path("a/b/c").c_str()), 0);
    ASSERT_EQ(rmdir(Path("a/b").c_str()), 0);
    std::string directory;
    EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
        EXPECT_EQ(dialog.DirList->OpenPath(), Path("a"));
        EXPECT_EQ(dialog.DirLabel->Caption(), Path("a"));
        EXPECT_EQ(dialog.DriveList->Drive(), "/");
        // The open folder goes too, while the dialog is open: its ancestors
        // still open.
        ASSERT_EQ(rmdir(Path("a").c_str()), 0);
        DoubleClick(*dialog.DirList, dialog.DirList->OpenIndex() - 1);
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "sibling"));
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    }));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(directory, Path("sibling"));
}

TEST_F(TSelectDirDlgTest, FoldersNamedWithWildcardsOpenAndNeverFilterTheFileList)
{
    for (const char* name : {"a*b", "what?", "*", "[x]"}) {
        SCOPED_TRACE(name);
        MakeFolder(name);
        dir_.WriteFile(std::string(name) + "/one.txt", "");
        dir_.WriteFile(std::string(name) + "/two.jpg", "");
        TCurrentDirectory::Set(root_);
        std::string directory;
        // Opened from the tree...
        EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
            DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, name));
            EXPECT_EQ(dialog.DirList->OpenPath(), Path(name));
            QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
        }));
        EXPECT_EQ(directory, Path(name));
        // ...and started in: every file is listed, the mask stays "*.*".
        EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
            EXPECT_EQ(dialog.DirList->OpenPath(), Path(name));
            EXPECT_EQ(dialog.FileList->FolderPath(), Path(name));
            EXPECT_EQ(dialog.FileList->Mask(), "*.*");
            EXPECT_EQ(dialog.FileList->count(), 2);
            QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
        }));
        EXPECT_EQ(directory, Path(name));
    }
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(TSelectDirDlgTest, TheFolderRememberedForADriveIsOneTheUserOpened)
{
    // Mount points deeper down than the folder open on "/".
    for (const char* folder : {"x", "x/m1", "y", "y/m2"})
        MakeFolder(folder);
    std::vector<TDrive> table(3);
    table[0].mountPoint = "/";
    table[1].mountPoint = Path("x/m1");
    table[2].mountPoint = Path("y/m2");
    TDrives::SetTableOverride(table);
    std::string directory;
    EXPECT_TRUE(Choose(directory, [&](TSelectDirDlg& dialog) {
        const auto pick = [&](const std::string& mountPoint) {
            for (int row = 0; row < dialog.DriveList->count(); ++row)
                if (dialog.DriveList->EntryDrive(row) == mountPoint)
                    emit dialog.DriveList->activated(row);
        };
        pick(Path("x/m1"));
        EXPECT_EQ(dialog.DirList->OpenPath(), Path("x/m1"));
        pick(Path("y/m2"));
        EXPECT_EQ(dialog.DirList->OpenPath(), Path("y/m2"));
        pick("/");
        EXPECT_EQ(dialog.DirList->OpenPath(), root_);
        QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    }));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(directory, root_);
}

TEST_F(TSelectDirDlgTest, AFreshlyOpenedDialogOnAFolderWithManySubfoldersShowsTheRootAtTheTop)
{
    for (int i = 0; i < 40; ++i)
        MakeFolder("sub" + std::to_string(100 + i));
    std::string directory;
    Choose(directory, [&](TSelectDirDlg& dialog) {
        TDirectoryListBox& tree = *dialog.DirList;
        const int rows = tree.viewport()->height() / tree.ItemHeight();
        // The root, the folders down to the open one and that one fit.
        ASSERT_LT(tree.OpenIndex(), rows) << root_;
        ASSERT_GT(tree.count(), rows);
        EXPECT_EQ(tree.verticalScrollBar()->value(), 0);
        EXPECT_EQ(tree.indexAt(QPoint(4, 2)).row(), 0);
        EXPECT_EQ(tree.EntryName(0), "/");
        EXPECT_TRUE(tree.viewport()->rect().contains(tree.visualItemRect(tree.item(tree.OpenIndex()))));
    });
}

TEST_F(TSelectDirDlgTest, FileListNeverScrollsSidewaysFromAShortFolderToALongOne)
{
    MakeFolder("short");
    MakeFolder("long");
    dir_.WriteFile("short/a", "");
    for (int i = 0; i < 40; ++i)
        dir_.WriteFile("long/a-rather-long-file-name-that-is-wider-than-the-list-" + std::to_string(i) + ".jpg", "");
    std::string directory;
    Choose(directory, [&](TSelectDirDlg& dialog) {
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "short"));
        DoubleClick(*dialog.DirList, dialog.DirList->OpenIndex() - 1);
        DoubleClick(*dialog.DirList, RowOf(*dialog.DirList, "long"));
        ASSERT_EQ(dialog.FileList->count(), 40);
        QApplication::processEvents();
        EXPECT_TRUE(dialog.FileList->verticalScrollBar()->isVisible());
        EXPECT_FALSE(dialog.FileList->horizontalScrollBar()->isVisible());
    });
}

TEST_F(TSelectDirDlgTest, PictureOfTheDialog)
{
    MakeFolder("Documents");
    MakeFolder("Music");
    MakeFolder("Photos");
    MakeFolder("Photos/2020");
    MakeFolder("Photos/2021");
    MakeFolder("Photos/Holidays");
    for (const char* name : {"IMG_0001.jpg", "IMG_0002.jpg", "notes.txt", "readme"})
        dir_.WriteFile(std::string("Photos/") + name, "x");
    TCurrentDirectory::Set(Path("Photos"));
    TSelectDirDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.DirList->hasFocus(); }));
    const QImage picture = dialog.grab().toImage();
    EXPECT_EQ(picture.size(), QSize(424, 255));
    picture.save("/tmp/vantelo-dirdlg.png");
    dialog.hide();
}

}  // namespace
}  // namespace vantelo
