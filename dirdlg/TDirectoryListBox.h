// The folder tree, drawn as an indented list: the root "/", the chain of
// folders down to the open folder, the open folder itself, then the open
// folder's subfolders. Opening a folder (double-click, or Enter outside a
// dialog) makes it the process's current directory, reads it back and
// rebuilds the list; a single click or the arrow keys only move the
// highlight. A folder that cannot be opened raises EInOutError and leaves
// the list, its open path and the current directory as they were; a folder
// on a network or FUSE mount that does not answer within a short time is
// not touched and raises "I/O error 21" (the drive is not ready).
//
// Subfolders are the open folder's entries that are folders (links to
// folders included) and whose names do not start with "." (hidden; "." and
// ".." with them), sorted case-insensitively by the user's locale. Names that
// differ only in case are both listed: they are two folders here. A mount
// point is known to be a folder from the listing alone, without asking it.
#pragma once

#include <QListWidget>
#include <QPixmap>

#include <functional>
#include <string>
#include <vector>

namespace vantelo {

class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    enum EntryKind { ekAncestor, ekOpenFolder, ekSubfolder };

    // Reads the current directory as the open path and builds the tree with
    // the open folder highlighted. OnChange is not fired here.
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    // The open folder, as read back from the current directory: absolute,
    // with a trailing "/" only for the root.
    const std::string& OpenPath() const { return openPath_; }
    // Whether the open folder's volume keeps the case of names and whether it
    // compares them case-sensitively (refreshed by every rebuild). Only
    // msdos volumes keep no case.
    bool CaseKept() const { return caseKept_; }
    bool CaseMatters() const { return caseMatters_; }

    // Opens the folder a typed or computed path names (see SplitTypedPath).
    // Nothing for an empty text or the open path itself.
    virtual void ChangeOpenPath(const std::string& text);
    // Opens the drive with this mount point at the folder last made current
    // on it (its mount point when none was, or when that folder is gone),
    // unless the open path already is on that drive. Nothing for "".
    void SetDrive(const std::string& mountPoint);
    // Makes `path` current (relative to the open path) and opens it.
    void EnterFolder(const std::string& path);
    // Opens the highlighted entry's folder.
    void OpenEntry();
    // Reads the open folder's subfolders into `names`, sorted; returns how many.
    int ListSubfolders(const std::string& parent, std::vector<std::string>& names) const;
    // The folder an entry stands for; empty for an index out of range.
    std::string EntryPath(int index) const;
    // The row of the open folder's entry.
    int OpenIndex() const { return openIndex_; }
    EntryKind KindOf(int index) const;
    // An entry's stored name (bytes).
    std::string EntryName(int index) const;

    // The name as drawn: lower case on a volume that neither keeps case nor
    // matters about it, else as stored.
    std::string ShownName(const std::string& name) const;
    // Path comparison by the volume's rules.
    bool SamePath(const std::string& a, const std::string& b) const;

    // Row height: the larger of the font's row height and the pictures' + 1
    // (16) until set; a font change computes it again.
    int ItemHeight() const { return itemHeight_; }
    void SetItemHeight(int height);
    // With IntegralHeight on, SetBounds shrinks the height to the frame plus
    // a whole number of rows.
    void SetIntegralHeight(bool on) { integralHeight_ = on; }
    void SetBounds(const QRect& bounds);
    // The indentation of an entry: index * 4 + 2, or (depth of the open
    // path + 1) * 4 + 2 for every subfolder.
    int EntryOffset(int index) const;

    // Fired after every change of the open path.
    std::function<void()> OnChange;

protected:
    virtual void NotifyChange();
    virtual void LoadBitmaps();
    virtual void RebuildTree();

    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void AddEntry(const std::string& name, EntryKind kind);
    // `path` made absolute against the open path, without "." and "..".
    std::string Absolute(const std::string& path) const;
    void DrawEntry(QPainter& painter, const QRect& rect, int row, bool selected) const;
    void UpdateItemHeight();
    void ApplyIntegralHeight();
    // Scrolls to the top, then as far as the open folder needs to be seen.
    void RevealOpenFolder();

    std::string openPath_;
    bool caseKept_ = true;
    bool caseMatters_ = true;
    int openIndex_ = 0;
    QPixmap openFolder_, closedFolder_, currentFolder_;
    int itemHeight_ = 16;
    bool integralHeight_ = false;
    QRect requestedBounds_;
    bool revealOnShow_ = false;
};

}  // namespace vantelo
