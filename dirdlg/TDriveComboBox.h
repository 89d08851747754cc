// The drive list: a drop-down list of the machine's drives (mounted file
// systems, platform/TDrives.h), each entry with a picture of the drive's kind
// and its mount point, plus the volume label in brackets or, for a network
// drive, its remote name. Entries in mount point order:
//   removable   "/media/usb"                      FLOPPY (never queried)
//   fixed       "/: [system]", "/data: []"        HARD
//   network     "/mnt/share: //server/share"      NETWORK
//   CD-ROM      "/media/cd: [disc]"               CDROM
//   RAM         "/tmp: []"                        RAM
// TextCase folds the label and remote name, never the mount point.
// A network or FUSE mount that did not answer when the list was filled is
// listed all the same, its text drawn in the disabled colour; picking it
// raises "I/O error 21" (the drive is not ready) from the tree.
#pragma once

#include <QComboBox>
#include <QPixmap>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "platform/TDrives.h"

namespace vantelo {

enum class TTextCase { tcLowerCase, tcUpperCase };

class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    // Reads the current directory's drive, loads the kind pictures and fills
    // the list with that drive highlighted. OnChange is not fired here.
    explicit TDriveComboBox(QWidget* parent = nullptr);

    // The drive shown as current (a mount point); empty when none.
    const std::string& Drive() const { return drive_; }
    // The mount point of an entry; empty for an index out of range.
    std::string EntryDrive(int index) const;
    // Whether an entry's drive answered when the list was filled.
    bool EntryAvailable(int index) const;

    // Makes a drive current: nothing when an entry is highlighted and it is
    // already the current drive; an empty mount point clears the highlight.
    // Otherwise the entry of that mount point is highlighted (when there is
    // none the highlight stays), then OnChange fires.
    void SelectDrive(const std::string& mountPoint);
    // Rebuilds the entries from the system's drives; nothing is highlighted.
    // Waits at most TDrives::AnswerTimeout for mounts that may stall.
    virtual void FillDriveList();

    TTextCase TextCase() const { return textCase_; }
    // Refills the list in the new case and selects the drive that was current.
    void SetTextCase(TTextCase textCase);

    // The text of a drive's entry, with TextCase applied.
    static std::string EntryText(const TDrive& drive, TTextCase textCase);

    // The row height: the larger of the font's row height and the pictures' (11).
    int ItemHeight() const { return itemHeight_; }

    // Fired at the end of every SelectDrive that does not return at once.
    std::function<void()> OnChange;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void DrawEntry(QPainter& painter, const QRect& rect, int row, bool selected) const;
    void UpdateItemHeight();
    const QPixmap& PictureOf(TDriveKind kind) const;

    std::string drive_;
    TTextCase textCase_ = TTextCase::tcLowerCase;
    std::array<QPixmap, 5> pictures_;
    int itemHeight_ = 0;
    std::vector<TDrive> drives_;
};

}  // namespace vantelo
