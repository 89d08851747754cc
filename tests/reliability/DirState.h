// A directory's complete state for the reliability checks, and the rename's
// invariants over two such states: nothing lost (every original file's
// content under its old or its new name), nothing partial or temporary left
// (every entry is an original one, unchanged, or a finished new name), and
// "as before" (the same entries, the same files, the same contents).
#pragma once

#include "RenameRun.h"
#include "platform/TDirectoryListing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vantelo::reliability {

struct EntryState {
    mode_t mode = 0;  // kind and permission bits
    ino_t inode = 0;
    nlink_t links = 0;
    off_t size = 0;
    blkcnt_t blocks = 0;
    timespec mtime{};
    uint64_t hash = 0;   // content of a regular file (FNV-1a), or of a link's target text
    std::string target;  // a symbolic link's target
    std::string xattrs;  // "name=value;" of the user namespace

    // The same content and metadata the rename promises to keep; `sameFile`
    // also asks for the same inode and link count.
    bool SameAs(const EntryState& other, bool sameFile) const {
        return mode == other.mode && size == other.size && hash == other.hash && target == other.target &&
               xattrs == other.xattrs && mtime.tv_sec == other.mtime.tv_sec && mtime.tv_nsec == other.mtime.tv_nsec &&
               (!sameFile || (inode == other.inode && links == other.links));
    }
    // Only the content: what "nothing lost" asks for.
    bool SameContent(const EntryState& other) const {
        return (mode & S_IFMT) == (other.mode & S_IFMT) && size == other.size && hash == other.hash &&
               target == other.target;
    }
};

using DirState = std::map<std::string, EntryState>;

inline uint64_t HashFile(int fd) {
    uint64_t hash = 14695981039346656037ull;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
    }
    return hash;
}

inline std::string UserXattrs(const std::string& path) {
    char names[4096];
    const ssize_t length = llistxattr(path.c_str(), names, sizeof names);
    std::string all;
    for (ssize_t at = 0; at < length;) {
        const std::string name(names + at);
        at += static_cast<ssize_t>(name.size()) + 1;
        if (name.rfind("user.", 0) != 0) continue;
        char value[4096];
        const ssize_t got = lgetxattr(path.c_str(), name.c_str(), value, sizeof value);
        all += name + "=" + std::string(value, static_cast<size_t>(got > 0 ? got : 0)) + ";";
    }
    return all;
}

// Every entry of `dir` except "." and "..". Never follows a link and never
// opens anything but a regular file (a FIFO is not opened).
inline DirState Snapshot(const std::string& dir) {
    DirState state;
    std::vector<std::string> names;
    EXPECT_EQ(TDirectoryListing::ReadAll(dir, names), 0) << dir;
    for (const std::string& name : names) {
        if (name == "." || name == "..") continue;
        const std::string path = dir + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) continue;
        EntryState entry;
        entry.mode = st.st_mode;
        entry.inode = st.st_ino;
        entry.links = st.st_nlink;
        entry.size = st.st_size;
        entry.blocks = st.st_blocks;
        entry.mtime = st.st_mtim;
        if (S_ISREG(st.st_mode)) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                entry.hash = HashFile(fd);
                ::close(fd);
            }
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t length = readlink(path.c_str(), target, sizeof target);
            entry.target.assign(target, static_cast<size_t>(length > 0 ? length : 0));
        }
        if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) entry.xattrs = UserXattrs(path);
        state[name] = entry;
    }
    return state;
}

inline std::string Printable(const std::string& name) {
    std::ostringstream out;
    for (const unsigned char c : name) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out << c;
        } else {
            static const char* digits = "0123456789abcdef";
            out << "\\x" << digits[c >> 4] << digits[c & 15];
        }
    }
    return out.str();
}

inline std::string Describe(const DirState& state) {
    std::string text;
    for (const auto& [name, entry] : state) {
        text += "  " + Printable(name) + " mode " + std::to_string(entry.mode) + " ino " +
                std::to_string(entry.inode) + " size " + std::to_string(entry.size) + "\n";
    }
    return text;
}

// The directory is exactly as it was: the same names on the same files with
// the same content and metadata.
inline ::testing::AssertionResult SameDirectory(const DirState& before, const DirState& after) {
    for (const auto& [name, entry] : before) {
        const auto found = after.find(name);
        if (found == after.end()) return ::testing::AssertionFailure() << "missing: " << Printable(name);
        if (!found->second.SameAs(entry, true)) return ::testing::AssertionFailure() << "changed: " << Printable(name);
    }
    for (const auto& [name, entry] : after) {
        if (!before.count(name)) return ::testing::AssertionFailure() << "left behind: " << Printable(name);
    }
    return ::testing::AssertionSuccess();
}

// Nothing lost and nothing partial, after any batch over `rows`, finished,
// failed or killed: every original regular file or link still has its
// content under its old name or its new name; every entry now present is an
// original one with its content unchanged, or the new name of a listed file
// holding that file's content.
inline ::testing::AssertionResult NothingLost(const DirState& before, const DirState& after, const Rows& rows) {
    std::map<std::string, std::string> oldOf;  // new name -> old name
    std::map<std::string, std::string> newOf;
    for (const auto& [oldName, newName] : rows) {
        oldOf[newName] = oldName;
        newOf[oldName] = newName;
    }
    for (const auto& [name, entry] : before) {
        if (!S_ISREG(entry.mode) && !S_ISLNK(entry.mode)) continue;
        const auto old = after.find(name);
        if (old != after.end() && old->second.SameContent(entry)) continue;
        const auto renamed = newOf.find(name);
        if (renamed != newOf.end()) {
            const auto made = after.find(renamed->second);
            if (made != after.end() && made->second.SameContent(entry)) continue;
        }
        return ::testing::AssertionFailure() << "lost: " << Printable(name) << "\nafter:\n" << Describe(after);
    }
    for (const auto& [name, entry] : after) {
        const auto original = before.find(name);
        if (original != before.end()) {
            if (!entry.SameContent(original->second))
                return ::testing::AssertionFailure() << "original changed: " << Printable(name);
            continue;
        }
        const auto source = oldOf.find(name);
        if (source == oldOf.end())
            return ::testing::AssertionFailure() << "stray entry: " << Printable(name) << "\nafter:\n"
                                                 << Describe(after);
        const auto from = before.find(source->second);
        if (from == before.end() || !entry.SameContent(from->second))
            return ::testing::AssertionFailure() << "partial or wrong new file: " << Printable(name);
    }
    return ::testing::AssertionSuccess();
}

// A finished batch: every listed file is under its new name with its content
// and metadata; its old name is gone when `deleteOld`, and untouched when not.
inline ::testing::AssertionResult Renamed(const DirState& before, const DirState& after, const Rows& rows,
                                          bool deleteOld) {
    for (const auto& [oldName, newName] : rows) {
        const auto original = before.find(oldName);
        if (original == before.end()) return ::testing::AssertionFailure() << "not listed: " << Printable(oldName);
        const auto made = after.find(newName);
        if (made == after.end()) return ::testing::AssertionFailure() << "no new file: " << Printable(newName);
        if (!made->second.SameAs(original->second, false))
            return ::testing::AssertionFailure() << "new file differs: " << Printable(newName);
        const bool oldThere = after.count(oldName) != 0;
        if (deleteOld == oldThere)
            return ::testing::AssertionFailure() << "old file " << (oldThere ? "kept: " : "gone: ")
                                                 << Printable(oldName);
    }
    return NothingLost(before, after, rows);
}

}  // namespace vantelo::reliability
