// A fresh temporary folder for one test, removed with everything in it when
// the object goes out of scope.
#pragma once

#include <string>

namespace vantelo::test {

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path() + "/" + name.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Writes a file with the given content (created or truncated).
    void WriteFile(const std::string& name, const std::string& content) const;
    // Reads a whole file; throws std::runtime_error when it cannot be read.
    std::string ReadFile(const std::string& name) const;

private:
    std::string path_;
};

// Runs a shell command and returns its exit status.
int Shell(const std::string& command);
// The first line a shell command prints, without its line end.
std::string ShellLine(const std::string& command);

}  // namespace vantelo::test
