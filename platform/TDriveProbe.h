// What the drive table asks the system about a mounted file system beyond
// the mount table itself: whether its block device is removable, its volume
// label, whether its mount point is a folder, and whether it answers at all.
// The system probe reads /sys/block and /dev/disk/by-label under a root
// folder ("" for the real system; tests give a prepared folder).
//
// A network or FUSE file system can stop answering: any call that reaches
// it (even a stat of its mount point) then waits for as long as the server
// or daemon wants. Such a mount is asked only by Unanswered, on worker
// threads and for a limited time.
#pragma once

#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace vantelo {

class TDriveProbe {
public:
    // Reads the system below `root` ("" = the real "/").
    explicit TDriveProbe(std::string root = "") : root_(std::move(root)) {}
    virtual ~TDriveProbe() = default;

    // True when `source` (a mount source such as "/dev/sdb1") is a block
    // device, or a partition of one, whose removable flag is set in
    // /sys/block/<device>/removable. False for anything else, missing
    // files included.
    virtual bool IsRemovable(const std::string& source) const;
    // The label under /dev/disk/by-label whose link resolves to the same
    // device as `source`, with the "\xHH" escapes of the link name decoded;
    // empty when none does or the folder is missing.
    virtual std::string LabelOf(const std::string& source) const;
    // True when `path` names a folder (links followed).
    virtual bool IsDirectory(const std::string& path) const;
    // The mount points among `mountPoints` whose file systems do not answer
    // (statfs) within `timeout`, all asked at once, each on a thread of its
    // own. A thread that does not come back is left behind, never joined,
    // so it never holds up the window or the end of the process; while it
    // is out longer than `timeout`, its mount counts as not answering at
    // once and no second thread is sent.
    virtual std::set<std::string> Unanswered(const std::vector<std::string>& mountPoints,
                                             std::chrono::milliseconds timeout) const;

    // Decodes the "\xHH" escapes that udev puts into label link names.
    static std::string DecodeLabelName(const std::string& name);
    // The whole-disk name of a partition name: "sdb1" -> "sdb",
    // "nvme0n1p2" -> "nvme0n1", "mmcblk0p1" -> "mmcblk0"; a name without a
    // partition number comes back as it is.
    static std::string ParentDiskName(const std::string& name);

private:
    std::string CanonicalDevice(const std::string& source) const;
    std::string root_;
};

}  // namespace vantelo
