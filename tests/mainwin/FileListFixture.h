// A fresh world for tests of the main window's file list: a work folder,
// a FileName.mdb made from the schema in another folder (the current
// directory, as at start-up), the real main window and data module, and the
// boxes answered and recorded by the test hooks.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "app/TApplication.h"
#include "app/TMessageForm.h"
#include "dirdlg/TSelectDirDlg.h"
#include "grid/TDataGrid.h"
#include "mainwin/TFormMain.h"
#include "grid/TGridColumn.h"
#include "controls/TSpeedButton.h"
#include "platform/TCodePage.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TShareDataModule.h"
#include "support/TTempDir.h"
#include "ui_FormMain.h"

using namespace vantelo;
using vantelo::test::TTempDir;

namespace {

std::string Schema()
{
    std::ifstream in(std::string(std::getenv("VANTELO_SOURCE_DIR")) + "/resources/schema.sql");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Row {
    int index;
    std::string name;
    bool enabled;
    bool operator==(const Row&) const = default;
};

[[maybe_unused]] std::ostream& operator<<(std::ostream& out, const Row& row)
{
    return out << "{" << row.index << ", " << row.name << ", " << row.enabled << "}";
}

// Start-up as the tool does it: the window (on `ops` when given), then the
// data module, then the window shown and its show handler, which is queued
// behind the show, run.
inline void StartUp(std::unique_ptr<TFormMain>& form, std::unique_ptr<TShareDataModule>& module,
                    TFileOps* ops = nullptr, int busyTimeoutMs = -1)
{
    form = std::make_unique<TFormMain>();
    if (ops)
        form->SetFileOps(*ops);
    module = std::make_unique<TShareDataModule>();
    if (busyTimeoutMs >= 0)
        module->ADOConnection1->SetBusyTimeout(busyTimeoutMs);
    ShareDataModule = module.get();
    TComponent::RegisterModule(*module);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QCoreApplication::processEvents();
}

// Types narrow text (in the active code page) into a field.
inline void TypeInto(QLineEdit* edit, const std::string& narrow)
{
    edit->setText(QString::fromStdU16String(TCodePage::Active().ToWide(narrow)));
}

class FileListFixture : public ::testing::Test {
protected:
    // "<stem><i><suffix>", as the tests of long lists name their files.
    static std::string Numbered(const char* stem, int i, const char* suffix)
    {
        std::string name = stem;
        name += std::to_string(i);
        name += suffix;
        return name;
    }

    void SetUp() override
    {
        previousDirectory_ = std::filesystem::current_path();
        work = std::make_unique<TTempDir>();
        base = std::make_unique<TTempDir>();
        CreateDatabase(base->Path() + "/FileName.mdb");
        std::filesystem::current_path(base->Path());
        // Each test keeps its rename journal to itself.
        setenv("XDG_STATE_HOME", (base->Path() + "/state").c_str(), 1);
        TMessageForm::SetAnswerHook([this](const std::string& text, DialogKind kind, const DialogButtons&) {
            notices.push_back(text);
            kinds.push_back(kind);
            // A question is answered with confirmAnswer (6: yes).
            return kind == dkConfirmation ? confirmAnswer : 1;
        });
        Application->SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            errors.push_back(text);
            return 1;
        });
    }

    void TearDown() override
    {
        // The data module goes first, as at shutdown.
        module.reset();
        ShareDataModule = nullptr;
        form.reset();
        TMessageForm::ClearTestHooks();
        Application->SetMessageBoxHook(nullptr);
        std::filesystem::current_path(previousDirectory_);
    }

    static void CreateDatabase(const std::string& path)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, Schema().c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    // Starts the tool as it starts (see StartUp).
    void Start(int busyTimeoutMs = -1) { StartUp(form, module, nullptr, busyTimeoutMs); }

    std::vector<Row> Table()
    {
        std::vector<Row> rows;
        sqlite3* db = nullptr;
        sqlite3_open_v2((base->Path() + "/FileName.mdb").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT FileIndex, FileName, FileEnable FROM Tellarin ORDER BY FileIndex", -1,
                           &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW)
            rows.push_back({sqlite3_column_int(statement, 0),
                            std::string(reinterpret_cast<const char*>(sqlite3_column_blob(statement, 1)),
                                        sqlite3_column_bytes(statement, 1)),
                            sqlite3_column_int(statement, 2) != 0});
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return rows;
    }

    std::vector<std::string> Live()
    {
        std::vector<std::string> names;
        for (const Row& row : Table())
            if (row.enabled)
                names.push_back(row.name);
        return names;
    }

    void Type(QLineEdit* edit, const std::string& narrow) { TypeInto(edit, narrow); }

    void Search(const std::string& directory, const std::string& target)
    {
        Type(form->Controls().Edit1, directory);
        Type(form->Controls().Edit2, target);
        QTest::mouseClick(form->Controls().SpeedButton1, Qt::LeftButton);
    }

    void Rename(const std::string& target, const std::string& replacement, bool deleteOld)
    {
        Type(form->Controls().Edit2, target);
        Type(form->Controls().Edit3, replacement);
        form->Controls().CheckBox1->setChecked(deleteOld);
        QTest::mouseClick(form->Controls().SpeedButton2, Qt::LeftButton);
    }

    void Touch(const std::string& name, const std::string& content = "x") { work->WriteFile(name, content); }
    bool Exists(const std::string& name) const
    {
        struct stat info;
        return lstat((*work / name).c_str(), &info) == 0;
    }

    // What the grid's footer shows under the file names.
    QString FooterCount() { return form->Controls().DBGrid1->Column(1).Footer().DisplayText(); }

    int GridRows() { return form->ADOQuery1->Active() ? static_cast<int>(form->ADOQuery1->RecordCount()) : -1; }

    std::unique_ptr<TTempDir> work, base;
    std::unique_ptr<TFormMain> form;
    std::unique_ptr<TShareDataModule> module;
    std::vector<std::string> notices, errors;
    std::vector<DialogKind> kinds;  // of each notice
    int confirmAnswer = 6;
    std::filesystem::path previousDirectory_;
};

}  // namespace
