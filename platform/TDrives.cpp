#include "platform/TDrives.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <set>
#include <sstream>

namespace vantelo {

namespace {

std::optional<std::vector<TDrive>>& TableOverride()
{
    static std::optional<std::vector<TDrive>> table;
    return table;
}

std::map<std::string, std::string>& RememberedFolders()
{
    static std::map<std::string, std::string> folders;
    return folders;
}

template <size_t N>
bool OneOf(std::string_view value, const std::array<std::string_view, N>& set)
{
    return std::find(set.begin(), set.end(), value) != set.end();
}

constexpr std::array<std::string_view, 25> kPseudoTypes = {
    "proc",       "sysfs",      "devtmpfs",  "devpts",      "mqueue",     "securityfs", "debugfs",
    "tracefs",    "bpf",        "pstore",    "configfs",    "fusectl",    "cgroup",     "cgroup2",
    "hugetlbfs",  "autofs",     "binfmt_misc", "efivarfs",  "rpc_pipefs", "nsfs",       "selinuxfs",
    "fuse.portal", "fuse.gvfsd-fuse", "fuse.lxcfs", "none"};
constexpr std::array<std::string_view, 13> kNetworkTypes = {
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs", "afs", "ceph", "glusterfs", "fuse.glusterfs",
    "davfs", "fuse.davfs2"};
constexpr std::array<std::string_view, 10> kCaseBlindTypes = {
    "vfat", "exfat", "ntfs", "ntfs3", "fuseblk", "cifs", "smb3", "smbfs", "hfsplus", "fuse.exfat"};

bool IsUnder(std::string_view path, std::string_view folder)
{
    return path == folder || (path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
                              path[folder.size()] == '/');
}

// Mount points where the system keeps its own file systems.
bool IsSystemLocation(std::string_view mountPoint)
{
    if (IsUnder(mountPoint, "/run/media"))
        return false;
    for (std::string_view folder : {"/proc", "/sys", "/dev", "/run", "/snap"})
        if (IsUnder(mountPoint, folder))
            return true;
    return false;
}

TDriveKind KindOf(const TDrive& drive, const TDriveProbe& probe)
{
    if (OneOf(drive.fsType, kNetworkTypes))
        return TDriveKind::Remote;
    if (drive.fsType == "iso9660" || drive.fsType == "udf")
        return TDriveKind::CDRom;
    if (drive.fsType == "tmpfs" || drive.fsType == "ramfs")
        return TDriveKind::RamDisk;
    if (drive.source.rfind("/dev/", 0) == 0 && probe.IsRemovable(drive.source))
        return TDriveKind::Removable;
    return TDriveKind::Fixed;
}

}  // namespace

std::string TDrives::DecodeField(std::string_view field)
{
    std::string decoded;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::all_of(field.begin() + i + 1, field.begin() + i + 4, [](char c) { return c >= '0' && c <= '7'; })) {
            decoded += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            decoded += field[i];
        }
    }
    return decoded;
}

bool TDrives::IsPseudoFileSystem(std::string_view fsType)
{
    return OneOf(fsType, kPseudoTypes);
}

bool TDrives::MayStall(std::string_view fsType)
{
    return OneOf(fsType, kNetworkTypes) || fsType == "fuse" || fsType == "fuseblk" || fsType.rfind("fuse.", 0) == 0;
}

void TDrives::CaseFlagsOf(std::string_view fsType, bool& caseKept, bool& caseMatters)
{
    caseKept = fsType != "msdos";
    caseMatters = caseKept && !OneOf(fsType, kCaseBlindTypes);
}

std::vector<TDrive> TDrives::ParseMountTable(std::string_view text, const TDriveProbe& probe)
{
    std::vector<TDrive> drives;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string source, mountPoint, fsType;
        if (!(fields >> source >> mountPoint >> fsType))
            continue;
        TDrive drive;
        drive.source = DecodeField(source);
        drive.mountPoint = DecodeField(mountPoint);
        drive.fsType = fsType;
        if (drive.mountPoint.empty() || drive.mountPoint[0] != '/')
            continue;
        while (drive.mountPoint.size() > 1 && drive.mountPoint.back() == '/')
            drive.mountPoint.pop_back();
        const bool isRoot = drive.mountPoint == "/";
        if (!isRoot) {
            // A mount that may stall is never touched here: its mount point
            // is taken to be a folder.
            if (IsPseudoFileSystem(fsType) || fsType == "overlay" || IsSystemLocation(drive.mountPoint) ||
                (!MayStall(fsType) && !probe.IsDirectory(drive.mountPoint)))
                continue;
        }
        drive.kind = isRoot && (fsType == "overlay" || IsPseudoFileSystem(fsType)) ? TDriveKind::Fixed
                                                                                  : KindOf(drive, probe);
        if (drive.kind != TDriveKind::Remote && drive.kind != TDriveKind::Removable)
            drive.label = probe.LabelOf(drive.source);
        CaseFlagsOf(fsType, drive.caseKept, drive.caseMatters);
        // A mount point mounted over: the last mount is the one in use.
        std::erase_if(drives, [&](const TDrive& other) { return other.mountPoint == drive.mountPoint; });
        drives.push_back(std::move(drive));
    }
    if (!Find(drives, "/")) {
        TDrive root;
        root.mountPoint = "/";
        drives.push_back(root);
    }
    std::sort(drives.begin(), drives.end(),
              [](const TDrive& a, const TDrive& b) { return a.mountPoint < b.mountPoint; });
    return drives;
}

std::vector<TDrive> TDrives::Current()
{
    if (TableOverride())
        return *TableOverride();
    std::ifstream in("/proc/self/mounts");
    std::ostringstream text;
    text << in.rdbuf();
    return ParseMountTable(text.str(), TDriveProbe());
}

std::vector<TDrive> TDrives::CurrentChecked()
{
    std::vector<TDrive> drives = Current();
    MarkUnanswered(drives, TDriveProbe(), AnswerTimeout);
    return drives;
}

void TDrives::MarkUnanswered(std::vector<TDrive>& drives, const TDriveProbe& probe, std::chrono::milliseconds timeout)
{
    std::vector<std::string> asked;
    for (const TDrive& drive : drives)
        if (MayStall(drive.fsType))
            asked.push_back(drive.mountPoint);
    if (asked.empty())
        return;
    const std::set<std::string> unanswered = probe.Unanswered(asked, timeout);
    for (TDrive& drive : drives)
        drive.available = unanswered.count(drive.mountPoint) == 0;
}

bool TDrives::Answers(const std::string& path)
{
    const std::vector<TDrive> drives = Current();
    const TDrive* drive = Find(drives, DriveOf(path, drives));
    if (!drive || !MayStall(drive->fsType))
        return true;
    return TDriveProbe().Unanswered({drive->mountPoint}, AnswerTimeout).empty();
}

void TDrives::SetTableOverride(std::optional<std::vector<TDrive>> table)
{
    TableOverride() = std::move(table);
}

std::string TDrives::DriveOf(std::string_view path, const std::vector<TDrive>& drives)
{
    std::string best = "/";
    if (path.empty() || path[0] != '/')
        return best;
    for (const TDrive& drive : drives)
        if (drive.mountPoint.size() > best.size() && IsUnder(path, drive.mountPoint))
            best = drive.mountPoint;
    return best;
}

const TDrive* TDrives::Find(const std::vector<TDrive>& drives, std::string_view mountPoint)
{
    for (const TDrive& drive : drives)
        if (drive.mountPoint == mountPoint)
            return &drive;
    return nullptr;
}

void TDrives::RememberFolder(const std::string& folder)
{
    if (folder.empty() || folder[0] != '/')
        return;
    RememberedFolders()[DriveOf(folder)] = folder;
}

std::string TDrives::RememberedFolder(const std::string& mountPoint)
{
    const auto found = RememberedFolders().find(mountPoint);
    return found != RememberedFolders().end() ? found->second : mountPoint;
}

void TDrives::ForgetFolders()
{
    RememberedFolders().clear();
}

}  // namespace vantelo
