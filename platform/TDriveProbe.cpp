#include "platform/TDriveProbe.h"

#include <sys/statfs.h>

#include <cctype>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace vantelo {

namespace fs = std::filesystem;

namespace {

// One question to one mount, answered by a worker thread.
struct TPendingAnswer {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    std::chrono::steady_clock::time_point asked = std::chrono::steady_clock::now();
};

// The questions still out, by mount point. The workers never touch this
// table, only their own answer, so one that comes back after the process
// began to end harms nothing.
std::mutex& PendingMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::map<std::string, std::shared_ptr<TPendingAnswer>>& Pending()
{
    static std::map<std::string, std::shared_ptr<TPendingAnswer>> pending;
    return pending;
}

bool IsDone(TPendingAnswer& answer)
{
    const std::lock_guard lock(answer.mutex);
    return answer.done;
}

}  // namespace

std::string TDriveProbe::CanonicalDevice(const std::string& source) const
{
    // Only device nodes: any other source (a bind mount's folder, a FUSE
    // daemon's name) could lie on a mount that does not answer.
    if (source.rfind("/dev/", 0) != 0)
        return {};
    std::error_code error;
    const fs::path canonical = fs::canonical(root_ + source, error);
    return error ? std::string() : canonical.string();
}

bool TDriveProbe::IsRemovable(const std::string& source) const
{
    const std::string device = CanonicalDevice(source);
    if (device.empty())
        return false;
    const std::string name = fs::path(device).filename().string();
    for (const std::string& disk : {name, ParentDiskName(name)}) {
        std::ifstream flag(root_ + "/sys/block/" + disk + "/removable");
        char value = 0;
        if (flag >> value)
            return value == '1';
    }
    return false;
}

std::string TDriveProbe::LabelOf(const std::string& source) const
{
    const std::string device = CanonicalDevice(source);
    if (device.empty())
        return {};
    std::error_code error;
    fs::directory_iterator links(root_ + "/dev/disk/by-label", error);
    if (error)
        return {};
    for (const fs::directory_entry& link : links) {
        std::error_code linkError;
        const fs::path target = fs::canonical(link.path(), linkError);
        if (!linkError && target.string() == device)
            return DecodeLabelName(link.path().filename().string());
    }
    return {};
}

bool TDriveProbe::IsDirectory(const std::string& path) const
{
    std::error_code error;
    return fs::is_directory(root_ + path, error);
}

std::set<std::string> TDriveProbe::Unanswered(const std::vector<std::string>& mountPoints,
                                              std::chrono::milliseconds timeout) const
{
    const auto now = std::chrono::steady_clock::now();
    const auto deadline = now + timeout;
    std::set<std::string> unanswered;
    std::vector<std::pair<std::string, std::shared_ptr<TPendingAnswer>>> waiting;
    {
        const std::lock_guard lock(PendingMutex());
        for (const std::string& mountPoint : mountPoints) {
            std::shared_ptr<TPendingAnswer>& answer = Pending()[mountPoint];
            if (answer && !IsDone(*answer)) {
                // Still out from an earlier question: no second thread.
                if (now - answer->asked >= timeout)
                    unanswered.insert(mountPoint);
                else
                    waiting.emplace_back(mountPoint, answer);
                continue;
            }
            answer = std::make_shared<TPendingAnswer>();
            try {
                std::thread([answer, path = root_ + mountPoint] {
                    struct statfs info {};
                    statfs(path.c_str(), &info);
                    const std::lock_guard lock(answer->mutex);
                    answer->done = true;
                    answer->answered.notify_all();
                }).detach();
            } catch (const std::system_error&) {
                // No thread to ask with: the mount is taken as answering, as
                // it was before anyone asked.
                answer->done = true;
                continue;
            }
            waiting.emplace_back(mountPoint, answer);
        }
    }
    for (auto& [mountPoint, answer] : waiting) {
        std::unique_lock lock(answer->mutex);
        if (!answer->answered.wait_until(lock, deadline, [&pending = *answer] { return pending.done; }))
            unanswered.insert(mountPoint);
    }
    return unanswered;
}

std::string TDriveProbe::DecodeLabelName(const std::string& name)
{
    std::string decoded;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
            decoded += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            decoded += name[i];
        }
    }
    return decoded;
}

std::string TDriveProbe::ParentDiskName(const std::string& name)
{
    size_t end = name.size();
    while (end > 0 && std::isdigit(static_cast<unsigned char>(name[end - 1])))
        --end;
    if (end == name.size() || end == 0)
        return name;
    // "nvme0n1p2", "mmcblk0p1": the partition number follows a "p" that
    // itself follows the disk's own number.
    if (end >= 2 && name[end - 1] == 'p' && std::isdigit(static_cast<unsigned char>(name[end - 2])))
        return name.substr(0, end - 1);
    // "nvme0n1", "mmcblk0", "loop0" are whole disks whose names end in digits.
    if (name.rfind("nvme", 0) == 0 || name.rfind("mmcblk", 0) == 0 || name.rfind("loop", 0) == 0)
        return name;
    return name.substr(0, end);
}

}  // namespace vantelo
