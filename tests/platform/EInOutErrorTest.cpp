#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/EInOutError.h"
#include "platform/TCurrentDirectory.h"
#include "support/TTempDir.h"

namespace vantelo {
namespace {

struct ErrnoRow {
    int error;
    int code;
    const char* message;
};

TEST(EInOutError, ErrnoMapsOntoTheToolsErrorNumbersAndTexts)
{
    const ErrnoRow rows[] = {
        {ENOENT, 2, "File not found"},       {ENOTDIR, 2, "File not found"},
        {ENAMETOOLONG, 3, "Invalid filename"}, {EINVAL, 3, "Invalid filename"},
        {EMFILE, 4, "Too many open files"},  {ENFILE, 4, "Too many open files"},
        {EACCES, 5, "File access denied"},   {EPERM, 5, "File access denied"},
        {ENOSPC, 101, "Disk full"},
        // Without a number of their own, errnos are shown as they are, even
        // when their value is one of the table's numbers.
        {EIO, EIO, "I/O error 5"},           {EINTR, EINTR, "I/O error 4"},
        {ENOMEDIUM, ENOMEDIUM, "I/O error 123"}, {ELOOP, ELOOP, "I/O error 40"},
    };
    for (const ErrnoRow& row : rows) {
        const EInOutError error = EInOutError::FromErrno(row.error);
        EXPECT_EQ(error.ErrorCode(), row.code) << row.error;
        EXPECT_EQ(error.Message(), row.message) << row.error;
        EXPECT_EQ(EInOutError::MessageForErrno(row.error), row.message);
    }
}

TEST(EInOutError, ErrorNumberTableKeepsItsTexts)
{
    const std::pair<int, const char*> rows[] = {
        {2, "File not found"},       {3, "Invalid filename"},        {4, "Too many open files"},
        {5, "File access denied"},   {100, "Read beyond end of file"}, {101, "Disk full"},
        {106, "Invalid numeric input"}, {21, "I/O error 21"},        {0, "I/O error 0"},
    };
    for (const auto& [code, message] : rows)
        EXPECT_EQ(EInOutError(code).Message(), message) << code;
    EXPECT_STREQ(EInOutError(2).ClassName(), "EInOutError");
}

class CurrentDirectory : public ::testing::Test {
protected:
    void SetUp() override { saved_ = TCurrentDirectory::Get(); }
    void TearDown() override { TCurrentDirectory::Set(saved_); }
    test::TTempDir dir_;
    std::string saved_;
};

TEST_F(CurrentDirectory, SetReadsTheDirectoryBack)
{
    mkdir((dir_ / "a").c_str(), 0755);
    TCurrentDirectory::Set(dir_.Path());
    // Relative, with a detour: what comes back is the clean absolute folder.
    EXPECT_EQ(TCurrentDirectory::Set("./a/../a/"), dir_ / "a");
    EXPECT_EQ(TCurrentDirectory::Get(), dir_ / "a");
}

TEST_F(CurrentDirectory, FailedSetRaisesAndChangesNothing)
{
    dir_.WriteFile("plain", "x");
    TCurrentDirectory::Set(dir_.Path());
    const std::pair<std::string, const char*> rows[] = {
        {dir_ / "missing", "File not found"},
        {"", "File not found"},
        {dir_ / "plain", "File not found"},  // ENOTDIR
        {dir_ / std::string(300, 'n'), "Invalid filename"},
    };
    for (const auto& [path, message] : rows) {
        try {
            TCurrentDirectory::Set(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const EInOutError& error) {
            EXPECT_EQ(error.Message(), message);
        }
        EXPECT_EQ(TCurrentDirectory::Get(), dir_.Path());
    }
}

TEST_F(CurrentDirectory, RemovedCurrentFolderCannotBeRead)
{
    mkdir((dir_ / "gone").c_str(), 0755);
    TCurrentDirectory::Set(dir_ / "gone");
    rmdir((dir_ / "gone").c_str());
    try {
        TCurrentDirectory::Get();
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.Message(), "File not found");
    }
}

TEST_F(CurrentDirectory, ExistenceTestsTellFoldersFromFiles)
{
    dir_.WriteFile("file", "x");
    mkdir((dir_ / "folder").c_str(), 0755);
    symlink("folder", (dir_ / "link").c_str());
    EXPECT_TRUE(TCurrentDirectory::DirectoryExists(dir_ / "folder"));
    EXPECT_TRUE(TCurrentDirectory::DirectoryExists(dir_ / "link"));
    EXPECT_FALSE(TCurrentDirectory::DirectoryExists(dir_ / "file"));
    EXPECT_FALSE(TCurrentDirectory::DirectoryExists(""));
    EXPECT_TRUE(TCurrentDirectory::FileExists(dir_ / "file"));
    EXPECT_FALSE(TCurrentDirectory::FileExists(dir_ / "folder"));
    EXPECT_FALSE(TCurrentDirectory::FileExists(dir_ / "missing"));
}

}  // namespace
}  // namespace vantelo
