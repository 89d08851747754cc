// The machine's drives. Linux has no drive letters: a drive is a mounted file
// system, named by its mount point, and the drive of a path is the drive
// whose mount point is the longest leading folder of that path. "/" is
// always a drive.
//
// Read from /proc/self/mounts. Not every mount is a drive: kernel and
// pseudo file systems (proc, sysfs, cgroup, devpts, mqueue, debugfs...),
// everything mounted under /proc, /sys, /dev and /run (the system's own
// mounts: shared memory, session folders) except /run/media (where removable
// media are mounted on some desktops), snap images under /snap, overlay file
// systems other than the root, and mount points that are not folders (file
// bind mounts) are left out. When a mount point is mounted over, the last
// mount wins.
//
// Kinds: nfs, nfs4, cifs, smb3, smbfs, sshfs, fuse.sshfs, afs, ceph,
// glusterfs and davfs are network drives (remote name = the mount source);
// iso9660 and udf are CD-ROM drives; tmpfs and ramfs are RAM drives; a file
// system on a block device whose removable flag is set is removable;
// anything else is a fixed drive.
//
// Network and FUSE mounts (MayStall) can stop answering, and any call that
// reaches one then waits as long as its server or daemon wants. Building the
// table never touches them: their kind comes from the file system type,
// their label from the /dev/disk/by-label links, and their mount points are
// taken to be folders without a stat. Whether they answer is asked on worker
// threads for a short time only (CurrentChecked, Answers); one that does not
// answer is listed but marked unavailable.
//
// The tool also remembers, per drive and in memory only, the folder last
// made current on it (see TCurrentDirectory): picking a drive goes back
// there.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TDriveProbe.h"

namespace vantelo {

enum class TDriveKind { Removable, Fixed, Remote, CDRom, RamDisk };

struct TDrive {
    std::string mountPoint;  // absolute, no trailing "/" except for "/"
    std::string source;      // the mount source: device, "//server/share", "host:/export"
    std::string fsType;
    TDriveKind kind = TDriveKind::Fixed;
    std::string label;         // volume label, or empty
    bool caseKept = true;      // the volume keeps the case of names
    bool caseMatters = true;   // the volume compares names case-sensitively
    bool available = true;     // false: a network or FUSE mount that did not answer

    bool operator==(const TDrive&) const = default;
};

class TDrives {
public:
    // The drives of a mount table text (the format of /proc/self/mounts),
    // filtered and classified as described above, sorted by mount point.
    // An empty or unreadable text gives "/" alone.
    static std::vector<TDrive> ParseMountTable(std::string_view text, const TDriveProbe& probe);
    // The system's drives now (or the table set for tests). Touches no
    // mount point that may stall: safe on the window's thread.
    static std::vector<TDrive> Current();
    // Current(), with the mounts that may stall asked whether they answer,
    // all at once and for AnswerTimeout at most (see TDriveProbe::Unanswered).
    static std::vector<TDrive> CurrentChecked();
    // Marks unavailable the drives of `drives` that may stall and do not
    // answer `probe` within `timeout`.
    static void MarkUnanswered(std::vector<TDrive>& drives, const TDriveProbe& probe,
                               std::chrono::milliseconds timeout);
    // False when `path` (absolute) lies on a mount that may stall and that
    // does not answer within AnswerTimeout; true for every other path, which
    // is not asked.
    static bool Answers(const std::string& path);
    // How long a mount that may stall is waited for.
    static constexpr std::chrono::milliseconds AnswerTimeout{300};
    // Tests: makes Current() answer this table; nullopt goes back to the system.
    static void SetTableOverride(std::optional<std::vector<TDrive>> table);

    // The mount point of the drive that holds `path` (an absolute path):
    // the longest mount point that is `path` itself or a leading folder of
    // it. "/" for a relative or empty path.
    static std::string DriveOf(std::string_view path, const std::vector<TDrive>& drives);
    static std::string DriveOf(std::string_view path) { return DriveOf(path, Current()); }
    // The drive with this mount point, or nullptr.
    static const TDrive* Find(const std::vector<TDrive>& drives, std::string_view mountPoint);

    // Remembers `folder` (absolute) as the last folder made current on its drive.
    static void RememberFolder(const std::string& folder);
    // The folder last made current on the drive `mountPoint`, or the mount
    // point itself when none was remembered.
    static std::string RememberedFolder(const std::string& mountPoint);
    // Tests: forgets every remembered folder.
    static void ForgetFolders();

    // Decodes the octal escapes of a mount table field ("\040" is a space).
    static std::string DecodeField(std::string_view field);
    // Whether a file system type is never a drive (kernel and pseudo file systems).
    static bool IsPseudoFileSystem(std::string_view fsType);
    // Whether a file system of this type may stop answering: the network
    // types above and every FUSE file system ("fuse", "fuseblk", "fuse.*").
    static bool MayStall(std::string_view fsType);
    // The case flags of a file system type: msdos keeps no case; vfat,
    // exfat, ntfs, the SMB family and hfsplus keep case but ignore it.
    static void CaseFlagsOf(std::string_view fsType, bool& caseKept, bool& caseMatters);
};

}  // namespace vantelo
