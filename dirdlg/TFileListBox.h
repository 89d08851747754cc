// The file list: one folder's entries that match a name pattern, sorted
// case-insensitively by the user's locale, one fixed row height. Listing a
// folder makes it the process's current directory. A folder on a network or
// FUSE mount that does not answer within a short time is listed empty and
// never touched. The list never scrolls sideways: long names are cut.
//
// Which entries are listed (FileType, a bit mask): ftNormal lists regular
// files (links to them included) whose names do not start with "."; ftHidden
// adds the names starting with "."; ftDirectory adds folders as "[name]";
// ftReadOnly lists files nobody may write; ftArchive lists regular files;
// ftSystem lists the other kinds (FIFOs, sockets, devices); ftVolumeID
// matches nothing here.
#pragma once

#include <QColor>
#include <QListWidget>
#include <QPixmap>

#include <functional>
#include <string>
#include <vector>

namespace vantelo {

enum TFileAttr : unsigned {
    ftReadOnly = 1,
    ftHidden = 2,
    ftSystem = 4,
    ftVolumeID = 8,
    ftDirectory = 16,
    ftArchive = 32,
    ftNormal = 128,
};

class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    // Reads the current directory as the folder and lists it. OnChange is
    // not fired here.
    explicit TFileListBox(QWidget* parent = nullptr);

    const std::string& FolderPath() const { return folderPath_; }
    const std::string& Mask() const { return mask_; }
    unsigned FileType() const { return fileType_; }
    // Storing a different mask or type lists the folder again.
    void SetMask(const std::string& mask);
    void SetFileType(unsigned fileType);
    bool ShowGlyphs() const { return showGlyphs_; }
    void SetShowGlyphs(bool on);
    // The text colour of the entries (the highlighted entry uses the
    // highlight text colour).
    void SetTextColor(const QColor& colour);
    QColor TextColor() const { return textColor_; }

    // Lists `path` (relative to the current directory) unless it is the
    // folder already listed. Raises EInOutError when it cannot be entered;
    // the list and the current directory then stay as they were.
    void ChangeFolder(const std::string& path);
    // Lists the folder again (makes it current first).
    virtual void FillFileList();
    // The highlighted entry's text, or empty.
    std::string PickedName() const;
    // FolderPath joined with PickedName, or empty when nothing is picked.
    virtual std::string PickedPath() const;
    // Highlights the entry whose text equals `name` ignoring case (none when
    // there is no such entry) and fires the change event; nothing when it is
    // already the picked name.
    void PickName(const std::string& name);
    // Lists the folder a typed path names; a file part with "*" or "?"
    // becomes the mask, another one is picked. Raises EInvalidOperation
    // "Invalid file name - <text>" for a file part that does not exist.
    virtual void ApplyPathText(const std::string& text);

    // The entry index at the last change event; -1 before the first.
    int LastPicked() const { return lastPicked_; }
    // Row height: the font's row height (with glyphs, at least 16) until set.
    int ItemHeight() const { return itemHeight_; }
    void SetItemHeight(int height);

    // Whether the last listing switched to the busy cursor: an entry landed
    // at position 100 as the entries were sorted in. The cursor then stays
    // busy through the rest of the listing, the sorting and the filling.
    bool LastFillShowedBusyCursor() const { return lastFillBusy_; }
    // Whether, inserting entries one at a time into a sorted list, one of
    // them lands at `position`. `finalRanks` gives, in arrival order, each
    // entry's place in the final order (a permutation of 0..n-1; entries
    // that compare equal are placed in arrival order). The same watch
    // (TLandingWatch) that the listing uses.
    static bool SomeEntryLandsAt(const std::vector<int>& finalRanks, int position);

    // Fired when the picked entry changes and after every listing.
    std::function<void()> OnChange;

protected:
    virtual void LoadBitmaps();
    virtual void NotifyChange();
    void changeEvent(QEvent* event) override;

private:
    void DrawEntry(QPainter& painter, const QRect& rect, int row, bool selected) const;
    void UpdateItemHeight();

    std::string folderPath_;
    std::string mask_ = "*.*";
    unsigned fileType_ = ftNormal;
    bool showGlyphs_ = false;
    int lastPicked_ = -1;
    int itemHeight_ = 13;
    bool filling_ = false;
    bool lastFillBusy_ = false;
    QColor textColor_;
    QPixmap executable_, closedFolder_, unknownFile_;
    std::vector<const QPixmap*> entryPictures_;
};

}  // namespace vantelo
