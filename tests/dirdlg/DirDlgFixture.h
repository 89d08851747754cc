// Shared set-up of the chooser's GUI tests: a fresh folder tree made current,
// the error box captured instead of shown, and the process state the chooser
// touches (current directory, drive table, remembered folders, test hooks)
// put back afterwards. The drive table holds "/" and the mounts a test makes
// in its folder, never the machine's others.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "app/TApplication.h"
#include "dirdlg/TSelectDirDlg.h"
#include "platform/TCurrentDirectory.h"
#include "platform/TDrives.h"
#include "support/TOwnDrives.h"
#include "support/TTempDir.h"

namespace vantelo::test {

class DirDlgFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = TCurrentDirectory::Get();
        root_ = TCurrentDirectory::Set(dir_.Path());
        // The chooser asks every drive that may stall whether it answers:
        // only the test's own are there to ask.
        TDrives::SetTableOverride(OwnDrives(root_));
        Application->SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            boxes_.push_back(text);
            return TApplication::IDOK;
        });
    }
    void TearDown() override
    {
        Application->SetMessageBoxHook(nullptr);
        TSelectDirDlg::ClearTestHooks();
        TDrives::SetTableOverride(std::nullopt);
        TDrives::ForgetFolders();
        TCurrentDirectory::Set(saved_);
        // No window of a test outlives it.
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className();
    }

    void MakeFolder(const std::string& relative) const { ASSERT_EQ(mkdir((dir_ / relative).c_str(), 0755), 0); }

    TTempDir dir_;
    // The folder as the system reads it back (links resolved).
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    std::string root_;
    std::string saved_;
    std::vector<std::string> boxes_;
};

}  // namespace vantelo::test
