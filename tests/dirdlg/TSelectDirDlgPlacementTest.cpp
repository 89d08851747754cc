// Where the chooser appears under a real window manager: centred on the
// screen by its outer size, the window manager's frame included. The outer
// test starts a virtual X server (Xvfb) and a small window manager (openbox)
// and runs the inner test again in this program on that display; it skips
// when either is missing.
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "dirdlg/TSelectDirDlg.h"
#include "tests/dirdlg/DirDlgFixture.h"

extern char** environ;

namespace vantelo {
namespace {

constexpr const char* kInnerFlag = "VANTELO_UNDER_WINDOW_MANAGER";

// A program found on PATH, or empty.
std::string FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// This process's environment with some variables set.
class TEnvironment {
public:
    TEnvironment(std::initializer_list<std::pair<std::string, std::string>> changes)
    {
        for (char** each = environ; *each; ++each) {
            const std::string entry = *each;
            bool replaced = false;
            for (const auto& [name, value] : changes)
                replaced = replaced || entry.rfind(name + "=", 0) == 0;
            if (!replaced)
                entries_.push_back(entry);
        }
        for (const auto& [name, value] : changes)
            entries_.push_back(name + "=" + value);
        for (std::string& entry : entries_)
            pointers_.push_back(entry.data());
        pointers_.push_back(nullptr);
    }
    char** Get() { return pointers_.data(); }

private:
    std::vector<std::string> entries_;
    std::vector<char*> pointers_;
};

// A child process that is ended (SIGTERM) and reaped with the object.
class TChild {
public:
    // `keepFd` becomes the child's descriptor 3; a quiet child writes no output.
    TChild(const std::vector<std::string>& arguments, char** environment, int keepFd = -1, bool quiet = true)
    {
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (keepFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, keepFd, 3);
        if (quiet)
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environment) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TChild()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    bool Started() const { return pid_ > 0; }
    // Waits for the end; the exit status, or -1.
    int Wait()
    {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

TEST(TSelectDirDlgPlacement, CentredByItsOuterSizeUnderARealWindowManager)
{
    if (std::getenv(kInnerFlag))
        GTEST_SKIP() << "this is the inner run";
    const std::string xvfb = FindProgram("Xvfb");
    const std::string openbox = FindProgram("openbox");
    if (xvfb.empty() || openbox.empty())
        GTEST_SKIP() << "needs Xvfb and openbox";

    // The X server tells its display number through a pipe.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    TEnvironment plain({});
    TChild server({xvfb, "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, plain.Get(),
                  pipeFds[1]);
    close(pipeFds[1]);
    ASSERT_TRUE(server.Started());
    std::string display;
    pollfd ready{pipeFds[0], POLLIN, 0};
    char digits[16] = {};
    if (poll(&ready, 1, 10000) == 1) {
        const ssize_t got = read(pipeFds[0], digits, sizeof digits - 1);
        if (got > 0)
            display = ":" + std::string(digits, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    while (!display.empty() && (display.back() == '\n' || display.back() == ' '))
        display.pop_back();
    if (display.empty())
        GTEST_SKIP() << "Xvfb did not start";

    TEnvironment onDisplay({{"DISPLAY", display}});
    TChild manager({openbox}, onDisplay.Get());
    ASSERT_TRUE(manager.Started());
    // The window manager is ready once it has announced itself on the root window.
    const std::string xprop = FindProgram("xprop");
    for (int i = 0; i < 100 && !xprop.empty(); ++i) {
        TChild check({"/bin/sh", "-c", xprop + " -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'"},
                     onDisplay.Get());
        if (check.Wait() == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (xprop.empty())
        std::this_thread::sleep_for(std::chrono::seconds(1));

    const char* binaryDir = std::getenv("VANTELO_BINARY_DIR");
    TEnvironment inner({{"DISPLAY", display},
                        {"QT_QPA_PLATFORM", "xcb"},
                        {kInnerFlag, "1"},
                        {"VANTELO_BINARY_DIR", binaryDir ? binaryDir : "."}});
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    TChild run({self, "--gtest_filter=TSelectDirDlgUnderWindowManager.*"}, inner.Get(), -1, false);
    EXPECT_EQ(run.Wait(), 0) << "the inner run failed; its output is above";
}

class TSelectDirDlgUnderWindowManager : public test::DirDlgFixture {};

TEST_F(TSelectDirDlgUnderWindowManager, CentredOnTheScreenWithItsFrame)
{
    if (!std::getenv(kInnerFlag))
        GTEST_SKIP() << "runs inside TSelectDirDlgPlacement on a display with a window manager";
    TSelectDirDlg dialog;
    dialog.show();
    // The window manager frames the window once it is mapped.
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.windowHandle()->frameGeometry().height() > dialog.height(); }, 5000))
        << "no frame from the window manager";
    const QRect screen = dialog.screen()->geometry();
    const auto centred = [&] {
        const QSize outer = dialog.windowHandle()->frameGeometry().size();
        return QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
    };
    const bool settled = QTest::qWaitFor([&] { return dialog.windowHandle()->frameGeometry().topLeft() == centred(); }, 3000);
    EXPECT_TRUE(settled);
    EXPECT_EQ(dialog.windowHandle()->frameGeometry().topLeft(), centred())
        << "frame " << dialog.windowHandle()->frameGeometry().width() << "x" << dialog.windowHandle()->frameGeometry().height() << " client "
        << dialog.width() << "x" << dialog.height();
    std::printf("frame %dx%d at (%d, %d) on a %dx%d screen\n", dialog.windowHandle()->frameGeometry().width(),
                dialog.windowHandle()->frameGeometry().height(), dialog.windowHandle()->frameGeometry().x(), dialog.windowHandle()->frameGeometry().y(),
                screen.width(), screen.height());
    dialog.hide();
}

}  // namespace
}  // namespace vantelo
