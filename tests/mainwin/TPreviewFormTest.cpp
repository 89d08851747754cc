// The preview through the real window: it marks exactly the rows the rename
// refuses, with their reasons, shows the refused rows alone on request, and
// its "修改文件" gives what the main window's button gives.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include <sys/stat.h>

#include <map>

#include "FileListFixture.h"
#include "mainwin/PreviewTexts.h"
#include "mainwin/TPreviewForm.h"
#include "mainwin/TPreviewModel.h"
#include "rename/TNameRules.h"
#include "rename/TRenamePreview.h"
#include "ui_FormMain.h"

namespace {

struct PreviewRow {
    std::string oldName;
    std::string newName;
    int error;
};

class PreviewTest : public FileListFixture {
protected:
    // Ctrl+P as the user presses it; answers the preview window it opened.
    TPreviewForm* OpenPreview(const std::string& target, const std::string& replacement)
    {
        Type(form->Controls().Edit2, target);
        Type(form->Controls().Edit3, replacement);
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(form->Controls().DBGrid1, Qt::Key_P, Qt::ControlModifier);
        return form->Preview();
    }

    static std::vector<PreviewRow> Rows(const TPreviewForm& preview)
    {
        const TPreviewModel& model = preview.Model();
        std::vector<PreviewRow> rows;
        for (int row = 0; row < model.rowCount(); ++row) {
            const auto text = [&](int column) {
                return TCodePage::Active().ToNarrow(model.index(row, column).data().toString().toStdU16String());
            };
            rows.push_back({text(TPreviewModel::OldNameColumn), text(TPreviewModel::NewNameColumn),
                            model.index(row, 0).data(TPreviewModel::ErrorRole).toInt()});
            EXPECT_EQ(model.index(row, TPreviewModel::ReasonColumn).data().toString().toStdString(),
                      previewtexts::Reason(rows.back().error));
        }
        return rows;
    }

    // Names and contents of the work folder.
    std::map<std::string, std::string> Contents()
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(work->Path()))
            files[entry.path().filename()] = entry.is_regular_file() ? work->ReadFile(entry.path().filename()) : "<dir>";
        return files;
    }
};

TEST_F(PreviewTest, MarksExactlyTheRowsTheRenameRefusesWithTheirReasons)
{
    Touch("a1.txt", "a");
    Touch("b1.txt", "b");
    Touch("b22.txt", "taken");            // b1.txt's new name
    Touch("122.txt", "p");                // 122 and 221 both become 2222
    Touch("221.txt", "q");
    Touch(std::string(130, '1') + "x");   // twice as long once renamed
    Touch("bad\xff" "1.txt", "bytes");    // not UTF-8: kept byte for byte
    Touch("gone1.txt", "removed after the search");
    ASSERT_EQ(mkdir((*work / "dir1").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((*work / "fifo1").c_str(), 0644), 0);
    Start();
    Search(work->Path(), "1");
    ASSERT_EQ(GridRows(), 9);
    std::filesystem::remove(*work / "gone1.txt");

    TPreviewForm* preview = OpenPreview("1", "22");
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(preview));
    const std::map<std::string, int> expected = {
        {"a1.txt", 0}, {"b1.txt", EEXIST}, {std::string(130, '1') + "x", ENAMETOOLONG}, {"bad\xff" "1.txt", 0},
        {"gone1.txt", ENOENT}, {"dir1", EISDIR}, {"fifo1", EOPNOTSUPP},
    };
    const std::vector<PreviewRow> rows = Rows(*preview);
    ASSERT_EQ(rows.size(), 9u);
    int clashes = 0;
    size_t refused = 0;
    for (const PreviewRow& row : rows) {
        EXPECT_EQ(row.newName, ReplaceAllIgnoreCase(row.oldName, "1", "22"));
        refused += row.error != 0;
        if (row.oldName == "122.txt" || row.oldName == "221.txt")
            clashes += row.error == EEXIST;  // the later of the two in the list
        else
            EXPECT_EQ(row.error, expected.at(row.oldName)) << row.oldName;
    }
    EXPECT_EQ(clashes, 1);
    EXPECT_EQ(preview->Summary()->text().toStdString(), "共 9 个文件，其中 6 个无法修改");
    // A picture of the window for the documentation.
    if (const char* out = std::getenv("VANTELO_BINARY_DIR"))
        preview->grab().save(QString(out) + "/preview-window.png");

    // The refused rows alone, in list order.
    preview->OnlyRefused()->click();
    const std::vector<PreviewRow> onlyRefused = Rows(*preview);
    EXPECT_EQ(onlyRefused.size(), refused);
    for (const PreviewRow& row : onlyRefused)
        EXPECT_NE(row.error, 0) << row.oldName;
    preview->OnlyRefused()->click();
    EXPECT_EQ(Rows(*preview).size(), 9u);

    // "关闭" changes nothing.
    const auto before = Contents();
    preview->CloseButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Preview() == nullptr; }, 5000));
    EXPECT_EQ(Contents(), before);
    EXPECT_TRUE(notices.empty());
}

TEST_F(PreviewTest, EachRefusalItShowsIsTheOneTheRenameStopsAtUntilTheRenameGoesThrough)
{
    Touch("a1.txt", "a");
    Touch("b1.txt", "b");
    Touch("b2.txt", "taken");
    Touch("c1.txt", "c");
    Touch("c2.txt", "taken too");
    Touch("12.txt", "x");  // 12 -> 22, while 21 -> 22 as well
    Touch("21.txt", "y");
    ASSERT_EQ(mkdir((*work / "sub1").c_str(), 0755), 0);
    Start();
    for (int round = 0; round < 8; ++round) {
        Search(work->Path(), "1");
        TPreviewForm* preview = OpenPreview("1", "2");
        ASSERT_NE(preview, nullptr);
        const std::vector<PreviewRow> rows = Rows(*preview);
        const auto first = std::find_if(rows.begin(), rows.end(), [](const PreviewRow& r) { return r.error != 0; });
        preview->CloseButton()->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->Preview() == nullptr; }, 5000));
        notices.clear();
        Rename("1", "2", true);
        if (first == rows.end()) {
            // Nothing refused: the batch makes every new name the preview showed.
            EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
            for (const PreviewRow& row : rows)
                EXPECT_TRUE(Exists(row.newName) && !Exists(row.oldName)) << row.oldName;
            EXPECT_GE(round, 4);
            return;
        }
        // The batch stops at the first refused row, with its errno, and the
        // grid stands on that row.
        EXPECT_EQ(notices, std::vector<std::string>{"新文件生成失败，失败号为：" + std::to_string(first->error)});
        EXPECT_EQ(form->ADOQuery1->RecNo(), first - rows.begin() + 1);
        std::filesystem::remove(*work / first->oldName);  // its cause goes
    }
    FAIL() << "the refusals never ended";
}

TEST_F(PreviewTest, ItsRenameGivesWhatTheMainWindowsButtonGives)
{
    const auto fill = [this] {
        Touch("x1.jpg", "one");
        Touch("x2.jpg", "two");
        Touch("x3.JPG", "three");
        Touch("keep.txt", "not listed");
    };
    fill();
    Start();
    Search(work->Path(), "jpg");
    Rename("jpg", "png", false);
    const auto byButton = Contents();
    const auto buttonNotices = notices;

    // The same folder again, renamed from the preview.
    std::filesystem::remove_all(work->Path());
    std::filesystem::create_directory(work->Path());
    fill();
    notices.clear();
    Search(work->Path(), "jpg");
    form->Controls().CheckBox1->setChecked(false);
    TPreviewForm* preview = OpenPreview("jpg", "png");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->Summary()->text().toStdString(), "共 3 个文件，全部可以修改");
    preview->RenameButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return notices.size() >= buttonNotices.size(); }, 5000));
    EXPECT_EQ(notices, buttonNotices);
    EXPECT_EQ(Contents(), byButton);
    EXPECT_EQ(GridRows(), 0);
    EXPECT_TRUE(form->Preview() == nullptr);
}

TEST_F(PreviewTest, AskedWithoutTheTextsItSaysWhatIsMissingAndOpensNothing)
{
    Start();
    EXPECT_EQ(OpenPreview("", "x"), nullptr);
    EXPECT_EQ(OpenPreview("x", ""), nullptr);
    EXPECT_EQ(notices, (std::vector<std::string>{"请输入要搜索的目标字符", "请输入要改成的目标字符"}));
}

TEST(PreviewReasons, EveryReasonIsInWordsAndAnyOtherErrorByItsNumber)
{
    const std::pair<int, const char*> reasons[] = {
        {EEXIST, "新文件名已被占用"},  {ENAMETOOLONG, "新文件名太长"},        {EILSEQ, "文件名无法用当前编码表示"},
        {EISDIR, "这是文件夹"},        {EOPNOTSUPP, "不是普通文件"},          {EBUSY, "这是本工具的数据库文件"},
        {EINVAL, "文件名无效"},        {ENOENT, "原文件已不存在"},            {ESTALE, "目录已不是搜索时的目录"},
        {EACCES, "没有权限"},          {EIO, "失败号为：5"},                  {0, ""},
    };
    for (const auto& [error, text] : reasons)
        EXPECT_EQ(previewtexts::Reason(error), text) << error;
}

}  // namespace
