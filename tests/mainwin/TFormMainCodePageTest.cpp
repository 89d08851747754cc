// A Chinese desktop whose locale is GBK: the tool's narrow text is GBK from
// start-up on. A GBK-named file is found and shown by its Chinese name, and a
// Chinese replacement typed into the window reaches the disk as GBK bytes.
// The locale is built for the test with localedef in a temporary folder; the
// window runs in a child process started in that locale, since the code page
// is chosen once, when the application object comes up.
#include <gtest/gtest.h>

#include <QImage>
#include <QInputMethodEvent>
#include <QMenu>

#include <filesystem>
#include <memory>

#include "FileListFixture.h"
#include "ui_FormMain.h"

namespace {

constexpr const char* kChildVariable = "VANTELO_GBK_CHILD";

bool InChild() { return std::getenv(kChildVariable) != nullptr; }

// "相册", "照片", "图" and "文件名称修改成功" in GBK.
const std::string kAlbumGbk = "\xCF\xE0\xB2\xE1";
const std::string kPhotoGbk = "\xD5\xD5\xC6\xAC";
const std::string kPictureGbk = "\xCD\xBC";
const std::string kRenameDoneGbk = "\xCE\xC4\xBC\xFE\xC3\xFB\xB3\xC6\xD0\xDE\xB8\xC4\xB3\xC9\xB9\xA6";

std::string Hex(std::string_view bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

class GbkDesktop : public FileListFixture {
protected:
    void SetUp() override
    {
        if (!InChild())
            GTEST_SKIP() << "runs in the child process that GbkLocale starts";
        FileListFixture::SetUp();
    }

    void TearDown() override
    {
        if (InChild())
            FileListFixture::TearDown();
    }

    // Typing as an input method does: the composed text is committed.
    static void Commit(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->clear();
        QInputMethodEvent event;
        event.setCommitString(text);
        QApplication::sendEvent(edit, &event);
        ASSERT_EQ(edit->text(), text);
    }

    // The file name cell of the grid's first data row, as painted.
    QImage FirstNameCell()
    {
        TDataGrid* grid = form->Controls().DBGrid1;
        return grid->grab(grid->CellRect(2, 1)).toImage();
    }
};

TEST_F(GbkDesktop, FindsShowsAndRenamesGbkNamesTypedInChinese)
{
    ASSERT_EQ(TCodePage::Active().GetKind(), TCodePage::Kind::Gbk);
    Start();
    // A GBK-named folder, typed in Chinese too.
    std::filesystem::create_directory(*work / kAlbumGbk);
    const std::string photo = kAlbumGbk + "/" + kPhotoGbk + "IMG_3.jpg";
    Touch(photo, "photo");
    Touch(kAlbumGbk + "/other.png");

    Commit(form->Controls().Edit1, QString::fromStdString(work->Path()) + QStringLiteral("/相册"));
    Commit(form->Controls().Edit2, QStringLiteral("IMG"));
    QTest::mouseClick(form->Controls().SpeedButton1, Qt::LeftButton);
    // The table holds the name as Chinese text, the query gives it back as
    // the bytes on disk.
    EXPECT_EQ(Live(), std::vector<std::string>{"照片IMG_3.jpg"});
    ASSERT_EQ(GridRows(), 1);
    EXPECT_EQ(Hex(form->ADOQuery1->FieldByName("FileName").AsString()), Hex(kPhotoGbk + "IMG_3.jpg"));
    const QImage shown = FirstNameCell();

    Commit(form->Controls().Edit2, QStringLiteral("照片"));
    Commit(form->Controls().Edit3, QStringLiteral("图"));
    form->Controls().CheckBox1->setChecked(true);
    QTest::mouseClick(form->Controls().SpeedButton2, Qt::LeftButton);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(work->ReadFile(kAlbumGbk + "/" + kPictureGbk + "IMG_3.jpg"), "photo");
    EXPECT_FALSE(Exists(photo));
    EXPECT_FALSE(Exists(kAlbumGbk + "/图IMG_3.jpg"));  // not the UTF-8 bytes
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(Hex(notices[0]), Hex(kRenameDoneGbk));

    // The same name, listed by a tool whose code page is UTF-8, paints the
    // same pixels: the GBK name was shown as Chinese, not as stand-ins.
    TTempDir utf8;
    utf8.WriteFile("照片IMG_3.jpg", "");
    TCodePage::SetActive(TCodePage::Kind::Utf8);
    Search(utf8.Path(), "IMG");
    const QImage reference = FirstNameCell();
    TCodePage::SetActive(TCodePage::Kind::Gbk);
    ASSERT_EQ(GridRows(), 1);
    EXPECT_EQ(shown, reference);
}

TEST_F(GbkDesktop, ANameGbkCannotSpellStopsTheBatchAtItsOwnRowWithItsOwnNumber)
{
    Start();
    // 0xE9 followed by "-" is no GBK character: the name is shown with "-a",
    // but the lead byte takes the "-" with it, so "-a" is in its bytes only.
    const std::string unspelt = "caf\xE9-a.bin";
    for (const std::string& name : {std::string("first-a.bin"), unspelt, std::string("last-a.bin")})
        Touch(name, name);
    Search(work->Path(), "-a");
    ASSERT_EQ(GridRows(), 3);
    std::string currentWhenShown;
    TMessageForm::SetAnswerHook([&](const std::string& text, DialogKind, const DialogButtons&) {
        notices.push_back(text);
        currentWhenShown = form->ADOQuery1->FieldByName("FileName").AsString();
        return 1;
    });
    Rename("-a", "-b", true);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(Hex(notices[0]), Hex(TCodePage::Active().FromUtf8("新文件生成失败，失败号为：84")));
    EXPECT_EQ(Hex(currentWhenShown), Hex(unspelt));
    // Nothing was renamed, and the list stays.
    for (const std::string& name : {std::string("first-a.bin"), unspelt, std::string("last-a.bin")})
        EXPECT_EQ(work->ReadFile(name), name);
    EXPECT_EQ(GridRows(), 3);
}

TEST_F(GbkDesktop, TheToolkitSpeaksChinese)
{
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("撤消(&U)\tCtrl+Z"));
}

// Builds the GBK locale and runs the tests above in it.
TEST(GbkLocale, TheWindowRunsInAGbkLocale)
{
    if (InChild())
        GTEST_SKIP() << "this is the child";
    TTempDir locales;
    const int built = vantelo::test::Shell("localedef -i zh_CN -f GBK '" + (locales / "zh_CN.GBK") + "' 2>&1");
    ASSERT_TRUE(std::filesystem::exists(locales / "zh_CN.GBK/LC_CTYPE"))
        << "localedef -i zh_CN -f GBK failed (" << built << "); it needs the Debian package locales";

    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string output = locales / "child.log";
    const int status = vantelo::test::Shell("env LOCPATH='" + locales.Path() + "' LC_ALL=zh_CN.GBK LANG=zh_CN.GBK " +
                                            kChildVariable + "=1 '" + self +
                                            "' --gtest_filter='GbkDesktop.*' >'" + output + "' 2>&1");
    const std::string log = locales.ReadFile("child.log");
    EXPECT_EQ(status, 0) << log;
    EXPECT_NE(log.find("[  PASSED  ] 3 tests."), std::string::npos) << log;
    EXPECT_EQ(log.find("SKIPPED"), std::string::npos) << log;
}

}  // namespace
