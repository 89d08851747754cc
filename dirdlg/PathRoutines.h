// Path routines shared by the drive, folder and file lists and the chooser.
// Paths are byte strings in the tool's code page with "/" between folders;
// the drive of a path is the mount point that holds it (platform/TDrives.h).
#pragma once

#include <QString>

#include <string>

class QFont;

namespace vantelo {

// path + name when path ends with "/", else path + "/" + name.
std::string JoinPath(const std::string& path, const std::string& name);

// The number of "/" in path, never counting a byte inside a multi-byte
// character. "/" has depth 1, "/home/user" depth 2, "" depth 0.
int FolderDepth(const std::string& path);

// What a typed path names: the drive (mount point) that holds the folder,
// the folder and a file part. The folder is absolute for an absolute text.
struct TTypedPath {
    std::string drive;
    std::string folder;
    std::string file;
};

// Splits a typed path (absolute, relative to the current directory, or a
// file list's folder entry "[name]") into drive, folder and file part: the
// last component is the file part unless it names a folder, in which case it
// joins the folder, whatever its characters. A file part with "*" or "?"
// that names no folder stays a pattern. The current directory is changed
// while the parts are checked (never remembered for a drive) and set back
// when this returns, also on error; when it had been removed, the nearest
// existing parent stands in for it. Raises EInOutError when the folder
// cannot be entered ("File not found" for a missing folder).
TTypedPath SplitTypedPath(const std::string& text);

// Narrow (code page) <-> display text; lossless for any bytes.
QString ToDisplay(const std::string& narrow);
std::string FromDisplay(const QString& text);

// The height of one text row in a font (the font's cell height).
int TextRowHeight(const QFont& font);

}  // namespace vantelo
