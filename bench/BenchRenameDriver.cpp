// bench-libs: vantelo_mainwin Qt6::Test
// End-to-end figures of the two buttons against the `rename` command.
//
// For each N, on a fresh directory of N small files "IMG_000001.jpg"... and a
// fresh FileName.mdb (made from resources/schema.sql) in another folder, the
// real main window and data module come up offscreen as at start-up, the
// window is shown (its show handler resets the list and the grid paints),
// the directory, "IMG" and "PIC" are typed into the fields, and the driver
// times a click on "搜索文件" (the search, with the grid's refresh and paint)
// and a click on "修改文件" (the batch rename), once keeping the old files
// and once with the box ticked that deletes them.
//
// On an identical fresh directory the same renames are done by the tools a
// user would reach for, each listing the directory itself:
//   rename   ls | rename s/IMG/PIC/   (run once, the names on its input)
//   floor    BenchFloor (built beside this driver): one listing, then one
//            renameat2 a name, or (keep mode, floor-copy) one clone or
//            copy_file_range a file: the kernel's part alone
//   find-rename  find . -maxdepth 1 -name 'IMG*' -exec rename s/IMG/PIC/ -- {} +
//   (the ones below list through the same find)
//   cp-reflink  (keep mode, where the folder's file system clones)
//            cp -a --reflink=always of the same files into a folder beside
//            them
//   copy     the same find feeding one perl process that copies each file
//            under its new name keeping mode and times, as `cp -p` does (the
//            fair opponent when the old files stay)
//   cp       (with --with-cp) the same find feeding a shell loop that runs
//            `cp -p` once per file
// Runs alternate (ours, theirs, ours, theirs...) so that drift on a shared
// machine falls on both; each figure is the median of the repetitions. Every
// run's result is checked on disk: each new name with its file's content,
// each old name present or gone by mode, nothing else left in the folder.
//
// Usage: BenchRenameDriver [N...] [--reps K] [--budget S] [--source DIR]
//                          [--with-cp] [--mode delete|keep] [--fs btrfs|xfs|ext4]
//                          [--mixed] [--skip OPPONENT] [--breakdown]
//   N          file counts (default 1000 10000 100000)
//   --reps     repetitions of each measurement (default 3)
//   --budget   seconds for the whole run (default 300, 0 for no limit):
//              every cell runs once, further repetitions only while the
//              budget allows; a cut cell says how many runs it had. The
//              delete cells run first, the keep cells (which copy, and so
//              take longest) after them
//   --source   the source tree (else $VANTELO_SOURCE_DIR, else the
//              CMAKE_HOME_DIRECTORY of the build folder holding this program)
//   --with-cp  also time `cp -p` run once per file (slow: a process a file)
//   --mode M   only the delete or only the keep cells (M: delete, keep)
//   --fs F     the folders on a fresh btrfs, reflink xfs or ext4 (F) loop
//              image, made and mounted for the run (root; skipped, saying
//              why, where the image cannot be made or mounted). ext4, with
//              a desktop disk's journal, gives figures that do not hang on
//              what earlier runs left in a shared /tmp (a churned one makes
//              every file slower to create) nor on how it was made
//   --mixed    files of mixed sizes (100 bytes to 2 MiB) instead of small ones
//   --skip O   leave out the opponent O (rename, find-rename, floor, copy,
//              floor-copy, cp-reflink), e.g. to shorten a 1,000,000-file run
//   --breakdown  after the figures, time the parts of each handler apart:
//              the listing alone, and the rename job alone (open, new names
//              and check; then the journaled file passes)
// The temporary folders go under $TMPDIR (default /tmp); the file system
// matters, as the rename flushes every copy to disk. The rename journal is
// a fresh one there too ($XDG_STATE_HOME is set to a scratch folder).
// Exit status: 0 when every run gave the right result, 1 otherwise.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <sqlite3.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/TApplication.h"
#include "app/TMessageForm.h"
#include "mainwin/MainTexts.h"
#include "mainwin/TFormMain.h"
#include "jobs/TRenameJob.h"
#include "jobs/TWorkProgress.h"
#include "controls/TSpeedButton.h"
#include "platform/TCodePage.h"
#include "platform/TDirectoryListing.h"
#include "store/OpenQuery.h"
#include "store/TADOQuery.h"
#include "store/TShareDataModule.h"
#include "ui_FormMain.h"

using namespace vantelo;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "BenchRenameDriver: FAILED: %s\n", what.c_str());
    std::exit(1);
}

// --- the source tree and the database ---------------------------------------

fs::path SourceDir(const std::string& given, const char* argv0)
{
    if (!given.empty())
        return given;
    if (const char* env = std::getenv("VANTELO_SOURCE_DIR"))
        return env;
    // The build folder that holds this program names its source tree.
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    for (fs::path dir = error ? fs::absolute(argv0).parent_path() : exe.parent_path(); !dir.empty();
         dir = dir.parent_path()) {
        std::ifstream cache(dir / "CMakeCache.txt");
        for (std::string line; std::getline(cache, line);)
            if (line.rfind("CMAKE_HOME_DIRECTORY:INTERNAL=", 0) == 0)
                return line.substr(line.find('=') + 1);
        if (dir == dir.root_path())
            break;
    }
    return fs::path(__FILE__).parent_path().parent_path();
}

std::string ReadWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string g_schema;

void CreateDatabase(const fs::path& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK || sqlite3_exec(db, g_schema.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail("cannot create " + path.string() + ": " + sqlite3_errmsg(db));
    sqlite3_close(db);
}

// --- the directories ------------------------------------------------------------

// Where the folders of files go: $TMPDIR, or the loop mount of --fs.
fs::path g_workRoot;

// A fresh folder under `root` (the folders of files' by default), removed
// with its content at the end of scope.
class TScratchDir {
public:
    explicit TScratchDir(const char* tag, const fs::path& root = g_workRoot)
    {
        std::string pattern = (root / (std::string("vantelo-") + tag + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            Fail("mkdtemp: " + std::string(std::strerror(errno)));
        path_ = pattern;
    }
    ~TScratchDir()
    {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string NumberedName(const char* prefix, int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "%s_%06d.jpg", prefix, i);
    return name;
}

// With --mixed the files take sizes from 100 bytes to 2 MiB (about 280 KB
// on average), as a folder of photos and documents would.
bool g_mixed = false;

size_t MixedSize(int i)
{
    static constexpr size_t kSizes[16] = {100,   700,   1500,   3000,   4096,   9000,   16384,   30000,
                                          65536, 65536, 131072, 262144, 262144, 524288, 1048576, 2097152};
    return kSizes[static_cast<unsigned>(i) * 7u % 16u];
}

// Each file holds its own number, so a copy under the wrong name shows.
std::string Content(int i)
{
    std::string content = "picture " + std::to_string(i) + "\n";
    if (g_mixed) {
        const size_t size = MixedSize(i);
        content.reserve(size);
        for (size_t at = content.size(); content.size() < size; ++at)
            content.push_back(static_cast<char>('a' + (at * 31 + static_cast<size_t>(i)) % 26));
    }
    return content;
}

void Populate(const fs::path& dir, int n)
{
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        Fail("cannot open " + dir.string());
    for (int i = 1; i <= n; ++i) {
        const std::string name = NumberedName("IMG", i);
        const std::string content = Content(i);
        const int out = openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (out < 0 || write(out, content.data(), content.size()) != static_cast<ssize_t>(content.size()) ||
            close(out) != 0)
            Fail("cannot write " + (dir / name).string());
    }
    close(dirFd);
    // Both sides start from clean pages: nothing of the set-up is left for
    // the timed part to write back.
    ::sync();
}

// Every new name holds its file's content; the old names are there when kept
// and gone otherwise; nothing else is in the folder (no stray or temporary
// file). Returns an empty string, or what is wrong.
std::string Verify(const fs::path& dir, int n, bool oldKept)
{
    for (int i = 1; i <= n; ++i) {
        const std::string now = NumberedName("PIC", i);
        if (ReadWhole(dir / now) != Content(i))
            return now + " missing or with the wrong content";
        struct stat info;
        const bool oldThere = lstat((dir / NumberedName("IMG", i)).c_str(), &info) == 0;
        if (oldThere != oldKept)
            return NumberedName("IMG", i) + (oldKept ? " was deleted" : " is still there");
    }
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir))
        ++entries;
    const size_t expected = static_cast<size_t>(n) * (oldKept ? 2 : 1);
    if (entries != expected)
        return std::to_string(entries) + " entries in the folder, expected " + std::to_string(expected);
    return {};
}

// --- a fresh file system on a loop image (--fs) ---------------------------------

// Runs `command` through the shell, its output kept out of the figures;
// answers its exit status.
int Shell(const std::string& command)
{
    std::fflush(nullptr);
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A fresh btrfs, reflink xfs or ext4 file system in a sparse image under $TMPDIR,
// loop-mounted for the run and taken down at the end (the driver's exit
// included). Empty Reason() when it is mounted.
class TLoopFileSystem {
public:
    explicit TLoopFileSystem(const std::string& kind)
    {
        const std::string mkfs = "mkfs." + kind;
        if (geteuid() != 0) {
            reason_ = "loop mounts need root";
            return;
        }
        if (Shell("command -v " + mkfs) != 0 || Shell("command -v losetup") != 0) {
            reason_ = mkfs + " or losetup is not installed (scripts/setup-packages test)";
            return;
        }
        dir_ = fs::temp_directory_path() / ("vantelo-" + kind + "-" + std::to_string(getpid()));
        image_ = dir_.string() + ".img";
        fs::create_directories(dir_);
        // ext4 gets an inode for every 2 KB (some three million, room for
        // the folders of a 1,000,000-file run side by side) and the 1 GB
        // journal mkfs gives a large disk: the image's own default, some
        // 85 MB, is filled by a million renames, and the commits it forces
        // slow every program several times over.
        const std::string options = kind == "btrfs" ? "-q -f"
                                    : kind == "xfs" ? "-q -f -m reflink=1"
                                                    : "-q -F -i 2048 -J size=1024";
        if (Shell("truncate -s 6G " + image_) != 0 || Shell(mkfs + " " + options + " " + image_) != 0) {
            reason_ = mkfs + " failed on " + image_;
            return;
        }
        if (Shell("mount -o loop " + image_ + " " + dir_.string()) != 0) {
            reason_ = "no loop device could be mounted here (mount -o loop " + image_ + ")";
            return;
        }
        mounted_ = true;
    }
    ~TLoopFileSystem()
    {
        if (mounted_)
            Shell("umount " + dir_.string());
        std::error_code error;
        if (!image_.empty())
            fs::remove(image_, error);
        if (!dir_.empty())
            fs::remove(dir_, error);
    }
    TLoopFileSystem(const TLoopFileSystem&) = delete;
    TLoopFileSystem& operator=(const TLoopFileSystem&) = delete;
    const std::string& Reason() const { return reason_; }
    const fs::path& Dir() const { return dir_; }

private:
    fs::path dir_;
    std::string image_;
    std::string reason_;
    bool mounted_ = false;
};

// Whether files in `dir` can share their data (FICLONE works there).
bool ClonesIn(const fs::path& dir)
{
    TScratchDir probe("probe", dir);
    const int a = open((probe.Path() / "a").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const int b = open((probe.Path() / "b").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool clones = a >= 0 && b >= 0 && write(a, "x", 1) == 1 && ioctl(b, FICLONE, a) == 0;
    close(a);
    close(b);
    return clones;
}

// --- the other side: the command-line tools -----------------------------------

// Runs `argv` in `dir` and waits; fails the driver on a non-zero exit.
void RunIn(const fs::path& dir, const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        Fail("fork: " + std::string(std::strerror(errno)));
    if (child == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail(argv[0] + " ... " + argv.back() + " ended with status " + std::to_string(status));
}

const std::vector<std::string> kFindImages = {"find", ".", "-maxdepth", "1", "-name", "IMG*", "-exec"};

std::vector<std::string> WithFind(std::vector<std::string> command)
{
    std::vector<std::string> argv = kFindImages;
    argv.insert(argv.end(), command.begin(), command.end());
    argv.push_back("{}");
    argv.push_back("+");
    return argv;
}

// Renames in place (the old names go): `rename` run once, reading the names
// from `ls` on its standard input, as a user types it.
void TheirRename(const fs::path& dir)
{
    RunIn(dir, {"sh", "-c", "ls | rename s/IMG/PIC/"});
}

// The same through find, which hands the names over as arguments.
void TheirFindRename(const fs::path& dir)
{
    RunIn(dir, WithFind({"rename", "s/IMG/PIC/", "--"}));
}

// Copies each file under its new name, never over an existing one, keeping
// mode and times (what `cp -p` keeps for a file of one's own).
const char* kPerlCopy =
    "use File::Copy;"
    "for my $f (@ARGV) {"
    "  (my $n = $f) =~ s/IMG/PIC/;"
    "  die \"$n exists\\n\" if -e $n;"
    "  copy($f, $n) or die \"$f: $!\\n\";"
    "  my @s = stat $f;"
    "  chmod($s[2] & 07777, $n) or die \"$n: $!\\n\";"
    "  utime($s[8], $s[9], $n) or die \"$n: $!\\n\";"
    "}";

void TheirCopy(const fs::path& dir)
{
    RunIn(dir, WithFind({"perl", "-e", kPerlCopy}));
}

// The floor program (BenchFloor, built beside this driver): the kernel's
// calls alone, a rename or a clone a file after one listing.
fs::path g_floor;

void FloorRename(const fs::path& dir)
{
    RunIn(dir, {g_floor.string(), "rename", "IMG", "PIC"});
}

void FloorCopy(const fs::path& dir)
{
    RunIn(dir, {g_floor.string(), "copy", "IMG", "PIC"});
}

// `cp -a --reflink=always` of the same files into a fresh folder beside
// them, named by $1 (cp cannot give each copy a new name in one run): the
// clone tool a user would reach for, and what the keep mode is held against
// on a file system that clones. The copies are checked there, then removed,
// untimed.
const char* kCpReflink = "mkdir \"$1\" && find . -maxdepth 1 -name 'IMG*' -exec cp -a --reflink=always -t \"$1\" -- {} +";

void TheirCpLoop(const fs::path& dir)
{
    RunIn(dir, WithFind({"sh", "-c", "for f do cp -p -n -- \"$f\" \"./PIC${f#./IMG}\" || exit 1; done", "sh"}));
}

// --- our side: the real window ------------------------------------------------

struct OurTimes {
    double search = 0;
    double rename = 0;
    // Where each click's time went, from the datasets' own hooks: up to the
    // first row written (the listing, or the check and the file passes), the
    // rows' posts, the reopening of the grid's query, and what followed it
    // (the paint, the box).
    struct Phases {
        double before = 0, posts = 0, open = 0, after = 0;
    } searchPhases, renamePhases;
};

// When a click's datasets first write, last post and last open the list.
struct TClickMarks {
    Clock::time_point start, firstWrite, lastPost, openStart, openEnd;
    void Reset()
    {
        *this = {};
        start = Clock::now();
    }
    OurTimes::Phases Phases(Clock::time_point end) const
    {
        const auto span = [](Clock::time_point from, Clock::time_point to) {
            return from == Clock::time_point{} || to == Clock::time_point{}
                       ? 0.0
                       : std::chrono::duration<double>(to - from).count();
        };
        const Clock::time_point postsEnd = lastPost == Clock::time_point{} ? start : lastPost;
        return {span(start, firstWrite == Clock::time_point{} ? openStart : firstWrite), span(firstWrite, lastPost),
                span(openStart, openEnd), span(openEnd == Clock::time_point{} ? postsEnd : openEnd, end)};
    }
};

// Runs `mark` before (or, with `last`, after) the handler already in the
// slot, which still runs.
void MarkHook(TDataSet& dataSet, TDataSetHook hook, std::function<void()> mark, bool last = false)
{
    TDataSetNotifyEvent kept = dataSet.Hook(hook);
    dataSet.SetHook(hook, [kept = std::move(kept), mark = std::move(mark), last](TDataSet& target) {
        if (!last)
            mark();
        if (kept)
            kept(target);
        if (last)
            mark();
    });
}

void MarkWrites(TDataSet& dataSet, TClickMarks& marks)
{
    const auto first = [&marks] {
        if (marks.firstWrite == Clock::time_point{})
            marks.firstWrite = Clock::now();
    };
    MarkHook(dataSet, TDataSetHook::BeforeEdit, first);
    MarkHook(dataSet, TDataSetHook::BeforeInsert, first);
    MarkHook(dataSet, TDataSetHook::AfterPost, [&marks] { marks.lastPost = Clock::now(); });
}

void Type(QLineEdit* edit, const std::string& narrow)
{
    edit->setText(QString::fromStdU16String(TCodePage::Active().ToWide(narrow)));
}

// Clicks a button as the user does and lets the loop finish what the click
// left posted (the grid's last paint among it).
void ClickAndSettle(QWidget* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
    QApplication::processEvents();
}

// One run of the tool: start-up in `base` as the run script does it, the
// search of `work` for "IMG", the rename to "PIC".
// The process's peak resident memory is reset before our run and read
// after it (before the check of the folder, which is the driver's own), so
// it is the window's peak over both clicks.
void ResetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double PeakMemoryMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return 0;
}

OurTimes RunOurs(const fs::path& work, const fs::path& base, int n, bool deleteOld)
{
    CreateDatabase(base / "FileName.mdb");
    const fs::path previous = fs::current_path();
    fs::current_path(base);

    std::vector<std::string> notices, errors;
    TMessageForm::SetAnswerHook([&notices](const std::string& text, DialogKind, const DialogButtons&) {
        notices.push_back(text);
        return 1;
    });
    Application->SetMessageBoxHook([&errors](const std::string& text, const std::string&, unsigned) {
        errors.push_back(text);
        return 1;
    });

    OurTimes times;
    TClickMarks marks;
    {
        // The window first, the data module second, then the show: the
        // order of start-up.
        auto form = std::make_unique<TFormMain>();
        auto module = std::make_unique<TShareDataModule>();
        ShareDataModule = module.get();
        TComponent::RegisterModule(*module);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            Fail("the main window was never exposed");
        QApplication::processEvents();
        if (!notices.empty() || !errors.empty())
            Fail("boxes at start-up: " + (notices.empty() ? errors.front() : notices.front()));

        MarkWrites(*form->ADOQuery1, marks);
        MarkWrites(*module->ADOQueryTemp, marks);
        MarkHook(*form->ADOQuery1, TDataSetHook::BeforeOpen, [&marks] { marks.openStart = Clock::now(); });
        // The open ends after the footer's recount that follows it.
        MarkHook(*form->ADOQuery1, TDataSetHook::AfterOpen, [&marks] { marks.openEnd = Clock::now(); }, true);

        Ui::FormMain& controls = form->Controls();
        Type(controls.Edit1, work.string());
        Type(controls.Edit2, "IMG");
        Type(controls.Edit3, "PIC");
        controls.CheckBox1->setChecked(deleteOld);
        QApplication::processEvents();

        marks.Reset();
        Clock::time_point start = marks.start;
        ClickAndSettle(controls.SpeedButton1);
        times.search = Seconds(start);
        times.searchPhases = marks.Phases(Clock::now());
        if (!notices.empty() || !errors.empty())
            Fail("boxes during the search: " + (notices.empty() ? errors.front() : notices.front()));
        if (!form->ADOQuery1->Active() || form->ADOQuery1->RecordCount() != n)
            Fail("the search listed " + std::to_string(form->ADOQuery1->RecordCount()) + " files, expected " +
                 std::to_string(n));

        marks.Reset();
        start = marks.start;
        ClickAndSettle(controls.SpeedButton2);
        times.rename = Seconds(start);
        times.renamePhases = marks.Phases(Clock::now());
        if (!errors.empty())
            Fail("error box during the rename: " + errors.front());
        if (notices.empty() || notices.back() != texts::kRenameDone) {
            std::string shown;
            for (const std::string& text : notices)
                shown += " [" + text + "]";
            Fail("the rename did not end with \"" + std::string(texts::kRenameDone) + "\"; boxes:" + shown);
        }
        if (notices.size() != 1)
            Fail("more than one box during the rename");
        if (form->ADOQuery1->RecordCount() != 0)
            Fail("the list is not empty after the rename");

        // The data module goes first, as at shutdown.
        module.reset();
        ShareDataModule = nullptr;
        form.reset();
    }
    TMessageForm::ClearTestHooks();
    Application->SetMessageBoxHook(nullptr);
    fs::current_path(previous);
    return times;
}

// --- the measurement ------------------------------------------------------------

struct Sample {
    std::vector<double> search, rename, total, peak;
    std::map<std::string, std::vector<double>> theirs;
};

// One opponent: its name, the run, and whether the old names stay.
struct Opponent {
    std::string name;
    std::function<void(const fs::path&)> run;
    bool oldKept = false;
};

// The whole run's start and its time budget in seconds (0: none).
Clock::time_point g_runStart;
double g_budget = 300;
// Whether the folders' file system clones (cp --reflink=always works there).
bool g_clones = false;
// Opponents left out (--skip), to spare the set-up of a long run.
std::set<std::string> g_skipped;

// Where `cp -a --reflink=always` puts the copies of the folder `dir`.
fs::path CpTarget(const fs::path& dir)
{
    return dir.string() + "-cp";
}

// The copies cp made: every old name's content, and nothing else.
std::string VerifyCpCopies(const fs::path& copies, int n)
{
    for (int i = 1; i <= n; ++i)
        if (ReadWhole(copies / NumberedName("IMG", i)) != Content(i))
            return "the copy of " + NumberedName("IMG", i) + " is missing or wrong";
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(copies))
        ++entries;
    return entries == static_cast<size_t>(n) ? std::string() : std::to_string(entries) + " copies";
}

void Measure(int n, bool deleteOld, int reps, bool withCp)
{
    std::vector<Opponent> opponents;
    if (deleteOld) {
        opponents = {{"rename", TheirRename}, {"find-rename", TheirFindRename}, {"floor", FloorRename}};
    } else {
        opponents = {{"copy", TheirCopy, true}, {"floor-copy", FloorCopy, true}};
        if (g_clones)
            opponents.push_back({"cp-reflink", [](const fs::path& dir) {
                                     RunIn(dir, {"sh", "-c", kCpReflink, "sh", CpTarget(dir).string()});
                                 }});
        if (withCp)
            opponents.push_back({"cp-p", TheirCpLoop, true});
    }
    std::erase_if(opponents, [](const Opponent& opponent) { return g_skipped.count(opponent.name) > 0; });
    const char* mode = deleteOld ? "delete" : "keep";
    Sample sample;
    int done = 0;
    double lastRep = 0;
    for (int rep = 0; rep < reps; ++rep) {
        // One run of each cell always; more only while the budget allows
        // another of the same length.
        if (rep > 0 && g_budget > 0 && Seconds(g_runStart) + lastRep > g_budget)
            break;
        const Clock::time_point repStart = Clock::now();
        {
            TScratchDir work("work"), base("db", fs::temp_directory_path());
            Populate(work.Path(), n);
            ResetPeakMemory();
            const OurTimes times = RunOurs(work.Path(), base.Path(), n, deleteOld);
            const double peakMb = PeakMemoryMb();
            if (const std::string wrong = Verify(work.Path(), n, !deleteOld); !wrong.empty())
                Fail("ours, N=" + std::to_string(n) + " " + mode + ": " + wrong);
            sample.search.push_back(times.search);
            sample.rename.push_back(times.rename);
            sample.total.push_back(times.search + times.rename);
            sample.peak.push_back(peakMb);
            std::fprintf(stderr,
                         "  N=%d %s rep %d: ours %.3f + %.3f s (search: before posts %.3f, posts %.3f, open %.3f, "
                         "after %.3f; rename: before posts %.3f, posts %.3f, open %.3f, after %.3f; peak %.0f MB)\n",
                         n, mode, rep + 1, times.search, times.rename, times.searchPhases.before,
                         times.searchPhases.posts, times.searchPhases.open, times.searchPhases.after,
                         times.renamePhases.before, times.renamePhases.posts, times.renamePhases.open,
                         times.renamePhases.after, peakMb);
        }
        for (const Opponent& opponent : opponents) {
            TScratchDir work("theirs");
            Populate(work.Path(), n);
            const Clock::time_point start = Clock::now();
            opponent.run(work.Path());
            const double took = Seconds(start);
            std::string wrong;
            if (opponent.name == "cp-reflink") {
                wrong = VerifyCpCopies(CpTarget(work.Path()), n);
                std::error_code error;
                fs::remove_all(CpTarget(work.Path()), error);
            } else {
                wrong = Verify(work.Path(), n, opponent.oldKept);
            }
            if (!wrong.empty())
                Fail(opponent.name + ", N=" + std::to_string(n) + ": " + wrong);
            sample.theirs[opponent.name].push_back(took);
            std::fprintf(stderr, "  N=%d %s rep %d: %s %.3f s\n", n, mode, rep + 1, opponent.name.c_str(), took);
        }
        ++done;
        lastRep = Seconds(repStart);
    }
    const double ours = Median(sample.total);
    std::printf("N=%-7d %-6s ours: search %7.3f s  rename %7.3f s  total %7.3f s", n, mode, Median(sample.search),
                Median(sample.rename), ours);
    for (const Opponent& opponent : opponents) {
        const double theirs = Median(sample.theirs[opponent.name]);
        std::printf(" | %s %7.3f s  ratio %5.2f", opponent.name.c_str(), theirs, theirs > 0 ? ours / theirs : 0.0);
    }
    std::printf(" | peak %.0f MB", Median(sample.peak));
    if (done < reps)
        std::printf("  (%d run%s: time budget)", done, done == 1 ? "" : "s");
    std::printf("\n");
    std::fflush(stdout);
}

// --- the parts of each handler, timed apart -----------------------------------

// Copies every "IMG" file of `names` to its "PIC" name the plain way
// (exclusive create, copy_file_range, mode and times kept), each flushed to
// disk before the next when `flush` is set, as the rename engine does.
// Answers the seconds taken; the copies are removed afterwards, untimed.
double ProbeCopies(const fs::path& dir, const std::vector<std::string>& names, bool flush)
{
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<std::string> made;
    const Clock::time_point start = Clock::now();
    for (const std::string& name : names) {
        if (name.rfind("IMG", 0) != 0)
            continue;
        const std::string to = "PIC" + name.substr(3);
        const int in = openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        const int out = openat(dirFd, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (in < 0 || out < 0 || fstat(in, &st) != 0)
            Fail("probe copy of " + name + ": " + std::strerror(errno));
        loff_t inOffset = 0, outOffset = 0;
        if (copy_file_range(in, &inOffset, out, &outOffset, st.st_size, 0) != st.st_size)
            Fail("probe copy of " + name + ": short copy");
        fchmod(out, st.st_mode & 07777);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(out, times);
        if (flush && fsync(out) != 0)
            Fail("probe fsync: " + std::string(std::strerror(errno)));
        close(out);
        close(in);
        made.push_back(to);
    }
    const double took = Seconds(start);
    for (const std::string& name : made)
        unlinkat(dirFd, name.c_str(), 0);
    close(dirFd);
    return took;
}

void Breakdown(int n, const std::vector<bool>& modes)
{
    std::printf("breakdown at N=%d (one run each):\n", n);
    for (const bool deleteOld : modes) {
        TScratchDir work("parts");
        Populate(work.Path(), n);
        Clock::time_point start = Clock::now();
        std::vector<std::string> names;
        TDirectoryListing::ReadAll(work.Path().string(), names);
        const double listing = Seconds(start);

        if (!deleteOld) {
            const double plain = ProbeCopies(work.Path(), names, false);
            const double flushed = ProbeCopies(work.Path(), names, true);
            std::printf("  plain copies without flush %.3f s (%.1f us/file), each flushed %.3f s (%.1f us/file)\n",
                        plain, plain * 1e6 / n, flushed, flushed * 1e6 / n);
            ::sync();
        }
        TScratchDir journal("journal", fs::temp_directory_path());
        const std::string database = (journal.Path() / "FileName.mdb").string();
        CreateDatabase(database);
        TRenameJob job(database, TFileOps::System(), (journal.Path() / "state/journal.db").string());
        start = Clock::now();
        job.SetFolder(work.Path().string());
        std::deque<std::string> listed;
        for (const std::string& name : names)
            if (name.rfind("IMG", 0) == 0)
                listed.push_back(name);
        job.SetNames(std::move(listed), "IMG", "PIC");
        TWorkProgress progress;
        if (const TRenameJob::Refusal& refused = job.Check(progress))
            Fail(refused.row ? "the rename job's check failed" : "the rename job cannot open the folder");
        const double check = Seconds(start);
        start = Clock::now();
        job.Run(deleteOld, progress);
        if (!job.Done())
            Fail("the rename failed: " + std::string(std::strerror(job.Result().error)));
        const double passes = Seconds(start);
        std::printf("  %-6s listing %.3f s | job: open+names+check %.3f s, journaled %s %.3f s (%.1f us/file)\n",
                    deleteOld ? "delete" : "keep", listing, check, deleteOld ? "renames" : "copies", passes,
                    passes * 1e6 / n);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> counts;
    int reps = 3;
    bool withCp = false, breakdown = false;
    std::vector<bool> modes = {true, false};
    std::string source, fileSystem;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--reps" && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--source" && i + 1 < argc)
            source = argv[++i];
        else if (arg == "--budget" && i + 1 < argc)
            g_budget = std::atof(argv[++i]);
        else if (arg == "--mode" && i + 1 < argc && (argv[i + 1] == std::string("delete") ||
                                                     argv[i + 1] == std::string("keep")))
            modes = {argv[++i] == std::string("delete")};
        else if (arg == "--fs" && i + 1 < argc && (argv[i + 1] == std::string("btrfs") ||
                                                   argv[i + 1] == std::string("xfs") ||
                                                   argv[i + 1] == std::string("ext4")))
            fileSystem = argv[++i];
        else if (arg == "--mixed")
            g_mixed = true;
        else if (arg == "--skip" && i + 1 < argc)
            g_skipped.insert(argv[++i]);
        else if (arg == "--with-cp")
            withCp = true;
        else if (arg == "--breakdown")
            breakdown = true;
        else if (!arg.empty() && std::isdigit(static_cast<unsigned char>(arg[0])))
            counts.push_back(std::atoi(arg.c_str()));
        else {
            std::fprintf(stderr, "usage: %s [N...] [--reps K] [--source DIR] [--budget S] [--with-cp] [--mode delete|keep] "
                         "[--fs btrfs|xfs|ext4] [--mixed] [--skip OPPONENT] [--breakdown]\n",
                         argv[0]);
            return 2;
        }
    }
    if (counts.empty())
        counts = {1000, 10000, 100000};

    const fs::path sourceDir = SourceDir(source, argv[0]);
    g_schema = ReadWhole(sourceDir / "resources" / "schema.sql");
    if (g_schema.empty())
        Fail("no resources/schema.sql under " + sourceDir.string() + " (pass --source DIR)");

    // Headless, and the names typed as UTF-8.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("LANG", "C.UTF-8", 0);
    // A journal of its own, which starts empty: the figures do not hang on
    // what earlier runs left in this machine's.
    static const TScratchDir state("state", fs::temp_directory_path());
    setenv("XDG_STATE_HOME", state.Path().c_str(), 1);
    int qtArgc = 1;
    TApplication application(qtArgc, argv);

    // The floor program is built beside this driver.
    std::error_code error;
    g_floor = fs::read_symlink("/proc/self/exe", error).parent_path() / "BenchFloor";
    if (error || access(g_floor.c_str(), X_OK) != 0)
        Fail("no BenchFloor beside the driver (" + g_floor.string() + "): build it too");

    g_workRoot = fs::temp_directory_path();
    static std::unique_ptr<TLoopFileSystem> loop;
    if (!fileSystem.empty()) {
        loop = std::make_unique<TLoopFileSystem>(fileSystem);
        if (!loop->Reason().empty()) {
            std::printf("skipped: no %s loop image: %s\n", fileSystem.c_str(), loop->Reason().c_str());
            return 0;
        }
        g_workRoot = loop->Dir();
    }
    g_clones = ClonesIn(g_workRoot);

    struct statfs info{};
    statfs(g_workRoot.c_str(), &info);
    std::printf("folders under %s (file system magic 0x%lx%s%s), %d repetitions, medians; ratio = ours / theirs\n",
                g_workRoot.c_str(), static_cast<unsigned long>(info.f_type), g_clones ? ", clones" : "",
                g_mixed ? ", mixed sizes" : "", reps);
    std::fflush(stdout);

    // The cheap cells first, so that the budget falls on the copies of the
    // largest folder.
    g_runStart = Clock::now();
    for (const bool deleteOld : modes)
        for (const int n : counts)
            Measure(n, deleteOld, reps, withCp);
    if (breakdown)
        for (const int n : counts)
            Breakdown(n, modes);
    std::printf("all results verified on disk; %.0f s in all\n", Seconds(g_runStart));
    return 0;
}
