#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TCurrentDirectory.h"
#include "platform/TDrives.h"
#include "support/TOwnDrives.h"
#include "support/TStallMount.h"
#include "support/TTempDir.h"

// Before main: the namespace can only be entered while the process has one thread.
static const bool kPrivateMounts = vantelo::test::TStallMount::EnterPrivateNamespace();

namespace vantelo {
namespace {

// Answers from fixed sets instead of /sys and /dev.
class FakeProbe : public TDriveProbe {
public:
    std::set<std::string> removable;
    std::map<std::string, std::string> labels;
    std::set<std::string> notFolders;
    std::set<std::string> silent;
    mutable std::set<std::string> touched;  // mount points looked at
    mutable std::vector<std::string> asked;  // mount points asked whether they answer
    bool IsRemovable(const std::string& source) const override { return removable.count(source) > 0; }
    std::string LabelOf(const std::string& source) const override
    {
        const auto found = labels.find(source);
        return found != labels.end() ? found->second : std::string();
    }
    bool IsDirectory(const std::string& path) const override
    {
        touched.insert(path);
        return notFolders.count(path) == 0;
    }
    std::set<std::string> Unanswered(const std::vector<std::string>& mountPoints,
                                     std::chrono::milliseconds) const override
    {
        asked = mountPoints;
        std::set<std::string> unanswered;
        for (const std::string& each : mountPoints)
            if (silent.count(each))
                unanswered.insert(each);
        return unanswered;
    }
};

const char* const kSampleMounts =
    "sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0\n"
    "proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0\n"
    "udev /dev devtmpfs rw,nosuid,relatime 0 0\n"
    "devpts /dev/pts devpts rw 0 0\n"
    "tmpfs /run tmpfs rw,nosuid,nodev 0 0\n"
    "/dev/nvme0n1p2 / ext4 rw,relatime 0 0\n"
    "securityfs /sys/kernel/security securityfs rw 0 0\n"
    "tmpfs /dev/shm tmpfs rw 0 0\n"
    "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
    "systemd-1 /proc/sys/fs/binfmt_misc autofs rw 0 0\n"
    "mqueue /dev/mqueue mqueue rw 0 0\n"
    "debugfs /sys/kernel/debug debugfs rw 0 0\n"
    "configfs /sys/kernel/config configfs rw 0 0\n"
    "fusectl /sys/fs/fuse/connections fusectl rw 0 0\n"
    "/dev/nvme0n1p1 /boot/efi vfat rw 0 0\n"
    "/dev/loop3 /snap/core/123 squashfs ro 0 0\n"
    "tmpfs /tmp tmpfs rw 0 0\n"
    "//server/Share /mnt/share cifs rw 0 0\n"
    "nas:/export/home /mnt/nfs nfs4 rw 0 0\n"
    "me@host:/srv /home/me/remote fuse.sshfs rw 0 0\n"
    "/dev/sr0 /media/me/DVD\\040Disc iso9660 ro 0 0\n"
    "/dev/sdb1 /media/me/USB vfat rw 0 0\n"
    "/dev/sdc1 /run/media/me/STICK exfat rw 0 0\n"
    "tmpfs /run/user/1000 tmpfs rw 0 0\n"
    "gvfsd-fuse /run/user/1000/gvfs fuse.gvfsd-fuse rw 0 0\n"
    "overlay /var/lib/docker/overlay2/abc/merged overlay rw 0 0\n"
    "/dev/nvme0n1p2 /etc/hosts ext4 rw 0 0\n"
    "/dev/sdd1 /mnt/old msdos rw 0 0\n"
    "/dev/sde1 /mnt/data ext4 rw 0 0\n"
    "/dev/sdf1 /mnt/data xfs rw 0 0\n"
    "garbage\n";

TEST(TDrives, MountTableGivesTheDrivesTheirKindsAndLabels)
{
    FakeProbe probe;
    probe.removable = {"/dev/sdb1", "/dev/sdc1"};
    probe.labels = {{"/dev/nvme0n1p2", "System"}, {"/dev/sr0", "DVD Disc"}, {"/dev/sdb1", "USB"}};
    probe.notFolders = {"/etc/hosts"};

    struct Row {
        const char* mountPoint;
        TDriveKind kind;
        const char* label;
        const char* source;
    };
    const Row expected[] = {
        {"/", TDriveKind::Fixed, "System", "/dev/nvme0n1p2"},
        {"/boot/efi", TDriveKind::Fixed, "", "/dev/nvme0n1p1"},
        {"/home/me/remote", TDriveKind::Remote, "", "me@host:/srv"},
        {"/media/me/DVD Disc", TDriveKind::CDRom, "DVD Disc", "/dev/sr0"},
        // Removable drives are never asked for their label.
        {"/media/me/USB", TDriveKind::Removable, "", "/dev/sdb1"},
        // Mounted over: the last mount is the drive.
        {"/mnt/data", TDriveKind::Fixed, "", "/dev/sdf1"},
        {"/mnt/nfs", TDriveKind::Remote, "", "nas:/export/home"},
        {"/mnt/old", TDriveKind::Fixed, "", "/dev/sdd1"},
        {"/mnt/share", TDriveKind::Remote, "", "//server/Share"},
        {"/run/media/me/STICK", TDriveKind::Removable, "", "/dev/sdc1"},
        {"/tmp", TDriveKind::RamDisk, "", "tmpfs"},
    };
    const std::vector<TDrive> drives = TDrives::ParseMountTable(kSampleMounts, probe);
    ASSERT_EQ(drives.size(), std::size(expected));
    for (size_t i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(drives[i].mountPoint, expected[i].mountPoint);
        EXPECT_EQ(drives[i].kind, expected[i].kind) << expected[i].mountPoint;
        EXPECT_EQ(drives[i].label, expected[i].label) << expected[i].mountPoint;
        EXPECT_EQ(drives[i].source, expected[i].source) << expected[i].mountPoint;
    }
    const TDrive* efi = TDrives::Find(drives, "/boot/efi");
    ASSERT_TRUE(efi);
    EXPECT_TRUE(efi->caseKept);
    EXPECT_FALSE(efi->caseMatters);
    const TDrive* old = TDrives::Find(drives, "/mnt/old");
    EXPECT_FALSE(old->caseKept);
    EXPECT_FALSE(old->caseMatters);
    EXPECT_TRUE(TDrives::Find(drives, "/")->caseMatters);
}

TEST(TDrives, RootIsAlwaysADrive)
{
    FakeProbe probe;
    const std::vector<TDrive> none = TDrives::ParseMountTable("", probe);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].mountPoint, "/");
    // A container's overlay root is a fixed drive; other overlays are not drives.
    const std::vector<TDrive> container =
        TDrives::ParseMountTable("overlay / overlay rw 0 0\noverlay /x overlay rw 0 0\n", probe);
    ASSERT_EQ(container.size(), 1u);
    EXPECT_EQ(container[0].kind, TDriveKind::Fixed);
}

TEST(TDrives, DriveOfAPathIsTheLongestMountPointAboveIt)
{
    FakeProbe probe;
    const std::vector<TDrive> drives = TDrives::ParseMountTable(kSampleMounts, probe);
    const std::pair<const char*, const char*> rows[] = {
        {"/", "/"},
        {"/home/me", "/"},
        {"/home/me/remote", "/home/me/remote"},
        {"/home/me/remote/a/b", "/home/me/remote"},
        {"/home/me/remoteX", "/"},
        {"/media/me/DVD Disc/x", "/media/me/DVD Disc"},
        {"/dev/shm/x", "/"},  // not a drive of its own
        {"relative/path", "/"},
        {"", "/"},
    };
    for (const auto& [path, drive] : rows)
        EXPECT_EQ(TDrives::DriveOf(path, drives), drive) << path;
}

TEST(TDrives, MountFieldsAndLabelLinksAreDecoded)
{
    EXPECT_EQ(TDrives::DecodeField("/media/My\\040Disk\\011x\\134y"), "/media/My Disk\tx\\y");
    EXPECT_EQ(TDrives::DecodeField("/a\\04"), "/a\\04");
    EXPECT_EQ(TDriveProbe::DecodeLabelName("My\\x20Disk\\x2fA"), "My Disk/A");
    const std::pair<const char*, const char*> disks[] = {
        {"sdb1", "sdb"}, {"sdb", "sdb"}, {"nvme0n1p2", "nvme0n1"}, {"nvme0n1", "nvme0n1"},
        {"mmcblk0p1", "mmcblk0"}, {"sr0", "sr"}, {"loop3", "loop3"},
    };
    for (const auto& [name, parent] : disks)
        EXPECT_EQ(TDriveProbe::ParentDiskName(name), parent) << name;
}

TEST(TDrives, SystemProbeReadsRemovableFlagsAndLabelLinks)
{
    test::TTempDir root;
    test::Shell("mkdir -p '" + root / "dev/disk/by-label" + "' '" + root / "sys/block/sdb" + "' '" +
                root / "sys/block/sda" + "' '" + root / "media/usb" + "'");
    root.WriteFile("dev/sdb1", "");
    root.WriteFile("dev/sda2", "");
    root.WriteFile("sys/block/sdb/removable", "1\n");
    root.WriteFile("sys/block/sda/removable", "0\n");
    symlink("../../sda2", (root / "dev/disk/by-label/Data\\x20Disk").c_str());
    symlink("../../sdb1", (root / "dev/disk/by-label/STICK").c_str());
    // A mount source that is itself a link resolves to the same device.
    symlink("sda2", (root / "dev/root").c_str());

    const TDriveProbe probe(root.Path());
    EXPECT_TRUE(probe.IsRemovable("/dev/sdb1"));
    EXPECT_FALSE(probe.IsRemovable("/dev/sda2"));
    EXPECT_FALSE(probe.IsRemovable("/dev/missing1"));
    EXPECT_FALSE(probe.IsRemovable("tmpfs"));
    EXPECT_EQ(probe.LabelOf("/dev/sda2"), "Data Disk");
    EXPECT_EQ(probe.LabelOf("/dev/root"), "Data Disk");
    EXPECT_EQ(probe.LabelOf("/dev/missing1"), "");
    EXPECT_TRUE(probe.IsDirectory("/media/usb"));
    EXPECT_FALSE(probe.IsDirectory("/dev/sdb1"));

    const std::vector<TDrive> drives =
        TDrives::ParseMountTable("/dev/root / ext4 rw 0 0\n/dev/sdb1 /media/usb vfat rw 0 0\n", probe);
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].label, "Data Disk");
    EXPECT_EQ(drives[1].kind, TDriveKind::Removable);
    EXPECT_EQ(drives[1].label, "");
}

TEST(TDrives, SettingTheCurrentDirectoryRemembersItPerDrive)
{
    test::TTempDir dir;
    mkdir((dir / "a").c_str(), 0755);
    mkdir((dir / "drive").c_str(), 0755);
    mkdir((dir / "drive/inner").c_str(), 0755);
    TDrive root;
    root.mountPoint = "/";
    TDrive other;
    other.mountPoint = dir / "drive";
    TDrives::SetTableOverride(std::vector<TDrive>{root, other});
    TDrives::ForgetFolders();
    const std::string saved = TCurrentDirectory::Get();

    EXPECT_EQ(TDrives::RememberedFolder(other.mountPoint), other.mountPoint);
    TCurrentDirectory::Set(dir / "drive/inner");
    TCurrentDirectory::Set(dir / "a");
    EXPECT_EQ(TDrives::RememberedFolder(other.mountPoint), dir / "drive/inner");
    EXPECT_EQ(TDrives::RememberedFolder("/"), dir / "a");
    // A failed change remembers nothing.
    EXPECT_THROW(TCurrentDirectory::Set(dir / "drive/missing"), std::exception);
    EXPECT_EQ(TDrives::RememberedFolder(other.mountPoint), dir / "drive/inner");

    TCurrentDirectory::Set(saved);
    TDrives::SetTableOverride(std::nullopt);
    TDrives::ForgetFolders();
}

TEST(TDrives, NetworkAndFuseMountsAreNeverTouchedToBuildTheTableAndOnlyTheyAreAsked)
{
    FakeProbe probe;
    probe.silent = {"/mnt/nfs", "/mnt/fuse"};
    const std::string table = std::string(kSampleMounts) + "bindfs /mnt/fuse fuse.bindfs rw 0 0\n" +
                              "/dev/sdg1 /mnt/ntfs fuseblk rw 0 0\n" + "stallfs /mnt/plain fuse rw 0 0\n";
    std::vector<TDrive> drives = TDrives::ParseMountTable(table, probe);
    const std::set<std::string> mayStall = {"/home/me/remote", "/mnt/fuse", "/mnt/nfs", "/mnt/ntfs", "/mnt/plain",
                                            "/mnt/share"};
    for (const std::string& mountPoint : mayStall) {
        EXPECT_EQ(probe.touched.count(mountPoint), 0u) << mountPoint;
        ASSERT_TRUE(TDrives::Find(drives, mountPoint)) << mountPoint;
        EXPECT_TRUE(TDrives::MayStall(TDrives::Find(drives, mountPoint)->fsType)) << mountPoint;
    }
    EXPECT_EQ(probe.touched.count("/mnt/data"), 1u);

    TDrives::MarkUnanswered(drives, probe, std::chrono::milliseconds(300));
    EXPECT_EQ(std::set<std::string>(probe.asked.begin(), probe.asked.end()), mayStall);
    for (const TDrive& drive : drives)
        EXPECT_EQ(drive.available, drive.mountPoint != "/mnt/nfs" && drive.mountPoint != "/mnt/fuse")
            << drive.mountPoint;
}

// Makes Current() answer a table until the scope ends.
class TTableInUse {
public:
    explicit TTableInUse(std::vector<TDrive> table) { TDrives::SetTableOverride(std::move(table)); }
    ~TTableInUse() { TDrives::SetTableOverride(std::nullopt); }
    TTableInUse(const TTableInUse&) = delete;
    TTableInUse& operator=(const TTableInUse&) = delete;
};

TEST(TDrives, AStalledMountIsListedUnavailableUntilItAnswersAgain)
{
    test::TTempDir dir;
    test::TStallMount mount(dir / "dead");
    if (!mount.Mounted())
        GTEST_SKIP() << mount.WhyNot();
    const TTableInUse own(test::OwnDrives(dir.Path()));
    ASSERT_EQ(TDrives::Current().size(), 2u);
    mount.Stall();
    const auto find = [&](const std::vector<TDrive>& drives) {
        const TDrive* drive = TDrives::Find(drives, dir / "dead");
        return drive ? *drive : TDrive();
    };
    const TDrive dead = find(TDrives::CurrentChecked());
    EXPECT_EQ(dead.mountPoint, dir / "dead");
    EXPECT_EQ(dead.fsType, "fuse.stallfs");
    EXPECT_FALSE(dead.available);
    EXPECT_TRUE(find(TDrives::Current()).available);  // not asked
    // The question still out is not asked again, and the answer stays no.
    EXPECT_FALSE(TDrives::Answers(dir / "dead/inside"));
    EXPECT_TRUE(TDrives::Answers(dir.Path()));
    mount.Answer();
    bool answers = false;
    for (int i = 0; i < 500 && !answers; ++i) {
        answers = TDrives::Answers(dir / "dead");
        if (!answers)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(answers);
    EXPECT_TRUE(find(TDrives::CurrentChecked()).available);
}

TEST(TDrives, TheSystemsTableIsReadWithTheRootAndAMountOfTheTestsOwn)
{
    // Reading the table asks nothing of a mount that may stall; the mount
    // looked for is one this test made, in its private namespace.
    test::TTempDir dir;
    ASSERT_EQ(mkdir((dir / "ram").c_str(), 0755), 0);
    const bool mounted = kPrivateMounts && mount("vantelo-test", (dir / "ram").c_str(), "tmpfs", 0, "size=1m") == 0;
    const int mountError = errno;
    const std::vector<TDrive> drives = TDrives::Current();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives.front().mountPoint, "/");
    for (const TDrive& drive : drives)
        EXPECT_FALSE(TDrives::IsPseudoFileSystem(drive.fsType) && drive.mountPoint != "/") << drive.mountPoint;
    if (!mounted)
        GTEST_SKIP() << "no mount of the test's own: " << (kPrivateMounts ? std::strerror(mountError) : "no private namespace");
    const TDrive* ram = TDrives::Find(drives, dir / "ram");
    ASSERT_TRUE(ram);
    EXPECT_EQ(ram->kind, TDriveKind::RamDisk);
    EXPECT_EQ(ram->source, "vantelo-test");
    EXPECT_EQ(umount2((dir / "ram").c_str(), MNT_DETACH), 0);
}

}  // namespace
}  // namespace vantelo
