// The drives a test may look at: "/" and the mounts the test made itself
// under one of its folders, read from the system's mount table with the
// real probe. The machine's other mounts are left out, so that a network or
// FUSE mount of another program's that stopped answering is never asked:
// a thread caught on one cannot end, and neither can its process.
//   TDrives::SetTableOverride(test::OwnDrives(folder));
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/TDriveProbe.h"
#include "platform/TDrives.h"

namespace vantelo::test {

inline std::vector<TDrive> OwnDrives(const std::string& folder)
{
    std::error_code error;
    const std::string real = std::filesystem::canonical(folder, error).string();
    std::ifstream in("/proc/self/mounts");
    std::string line, own;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string source, point;
        if (!real.empty() && fields >> source >> point && TDrives::DecodeField(point).rfind(real + "/", 0) == 0)
            own += line + "\n";
    }
    return TDrives::ParseMountTable(own, TDriveProbe());
}

}  // namespace vantelo::test
