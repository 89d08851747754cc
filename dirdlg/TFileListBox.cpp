#include "dirdlg/TFileListBox.h"

#include <QApplication>
#include <QCollator>
#include <QEvent>
#include <QPainter>

#include <algorithm>
#include <fcntl.h>
#include <fnmatch.h>
#include <numeric>
#include <sys/stat.h>

#include "app/THandlerGuard.h"
#include "dirdlg/DirDlgTexts.h"
#include "dirdlg/EInvalidOperation.h"
#include "dirdlg/PathRoutines.h"
#include "dirdlg/TLandingWatch.h"
#include "dirdlg/TListBitmap.h"
#include "dirdlg/TOwnerDrawDelegate.h"
#include "platform/TCurrentDirectory.h"
#include "platform/TDirectoryListing.h"
#include "platform/TDrives.h"

namespace vantelo {

namespace {

constexpr int kNameRole = Qt::UserRole;
// Entries landing at this position of a long listing switch to the busy cursor.
constexpr int kBusyCursorPosition = 100;

bool Matches(const std::string& pattern, const std::string& name)
{
    // "*.*" is the pattern of every name, with or without an extension.
    if (pattern == "*.*" || pattern == "*")
        return true;
    return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

std::vector<std::string> SplitMask(const std::string& mask)
{
    std::vector<std::string> patterns;
    size_t start = 0;
    while (start <= mask.size()) {
        const size_t end = std::min(mask.find(';', start), mask.size());
        if (end > start)
            patterns.push_back(mask.substr(start, end - start));
        start = end + 1;
    }
    return patterns;
}

// The busy cursor, from Show() until it goes out of scope.
class TBusyCursor {
public:
    TBusyCursor() = default;
    ~TBusyCursor() { Hide(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
    void Show()
    {
        if (on_)
            return;
        on_ = true;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    void Hide()
    {
        if (!on_)
            return;
        on_ = false;
        QApplication::restoreOverrideCursor();
    }

private:
    bool on_ = false;
};

}  // namespace

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent)
{
    resize(145, height());
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    // Entries are cut at the right edge; the list never scrolls sideways.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setItemDelegate(new TOwnerDrawDelegate(
        this, [this](QPainter& painter, const QRect& rect, int row, bool selected,
                     bool) { DrawEntry(painter, rect, row, selected); },
        [this] { return itemHeight_; }));
    textColor_ = palette().color(QPalette::Text);
    LoadBitmaps();
    UpdateItemHeight();
    folderPath_ = TCurrentDirectory::GetOrNearestParent();
    FillFileList();
    // A pick with the mouse or the keyboard.
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!filling_ && row != lastPicked_)
            Guarded(this, [this] { NotifyChange(); });
    });
}

void TFileListBox::LoadBitmaps()
{
    executable_ = TListBitmap::Load("EXECUTABLE");
    closedFolder_ = TListBitmap::Load("CLOSEDFOLDER");
    unknownFile_ = TListBitmap::Load("UNKNOWNFILE");
}

void TFileListBox::SetMask(const std::string& mask)
{
    if (mask == mask_)
        return;
    mask_ = mask;
    FillFileList();
}

void TFileListBox::SetFileType(unsigned fileType)
{
    if (fileType == fileType_)
        return;
    fileType_ = fileType;
    FillFileList();
}

void TFileListBox::SetShowGlyphs(bool on)
{
    if (on == showGlyphs_)
        return;
    showGlyphs_ = on;
    UpdateItemHeight();
    viewport()->update();
}

void TFileListBox::SetTextColor(const QColor& colour)
{
    textColor_ = colour;
    viewport()->update();
}

void TFileListBox::ChangeFolder(const std::string& path)
{
    if (path == folderPath_)
        return;
    if (TDrives::Answers(folderPath_) && TCurrentDirectory::DirectoryExists(folderPath_))
        TCurrentDirectory::Set(folderPath_);
    folderPath_ = TCurrentDirectory::Set(path);
    FillFileList();
}

bool TFileListBox::SomeEntryLandsAt(const std::vector<int>& finalRanks, int position)
{
    TLandingWatch<int, std::less<int>> watch(position, std::less<int>());
    bool landed = false;
    for (const int rank : finalRanks)
        landed = watch.Arrive(rank) || landed;
    return landed;
}

void TFileListBox::FillFileList()
{
    // A folder on a mount that stopped answering is not touched: the list
    // stays empty.
    const bool answers = TDrives::Answers(folderPath_);
    if (answers)
        TCurrentDirectory::Set(folderPath_);
    struct Filling {
        bool& flag;
        ~Filling() { flag = false; }
    } filling{filling_};
    filling_ = true;
    clear();
    entryPictures_.clear();

    // The busy cursor from the moment an entry lands at position 100 of the
    // sorted list, through the rest of the listing, the sorting and the
    // filling, and back also when an error ends the listing.
    TBusyCursor busy;
    lastFillBusy_ = false;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const auto sortsBefore = [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; };
    TLandingWatch<QString, decltype(sortsBefore)> landing(kBusyCursorPosition, sortsBefore);

    struct Entry {
        std::string text;
        QString key;
        const QPixmap* picture;
    };
    std::vector<Entry> entries;
    const auto add = [&](std::string text, const QPixmap* picture) {
        QString key = ToDisplay(text);
        if (landing.Arrive(key)) {
            lastFillBusy_ = true;
            busy.Show();
        }
        entries.push_back({std::move(text), std::move(key), picture});
    };
    for (const std::string& pattern : SplitMask(answers ? mask_ : std::string())) {
        TDirectoryListing listing;
        if (listing.Open(".") != 0)
            continue;
        std::string name;
        while (listing.Next(name)) {
            if (name == "." || name == "..")
                continue;
            const bool hidden = name[0] == '.';
            if ((hidden && !(fileType_ & ftHidden)) || !Matches(pattern, name))
                continue;
            // A folder is known from the listing itself: a mount point in
            // this folder is never asked, so one that stopped answering
            // cannot hold up the list.
            if (listing.EntryType() == DT_DIR) {
                if (fileType_ & ftDirectory)
                    add(Format(texts::kFolderEntryFormat, name.c_str()), &closedFolder_);
                continue;
            }
            struct stat info {};
            if (fstatat(listing.Descriptor(), name.c_str(), &info, 0) != 0)
                continue;
            if (S_ISDIR(info.st_mode)) {
                if (fileType_ & ftDirectory)
                    add(Format(texts::kFolderEntryFormat, name.c_str()), &closedFolder_);
                continue;
            }
            const QPixmap* picture = (info.st_mode & 0111) ? &executable_ : &unknownFile_;
            if (!S_ISREG(info.st_mode)) {
                if (fileType_ & ftSystem)
                    add(name, picture);
                continue;
            }
            const bool readOnly = (info.st_mode & 0222) == 0;
            if ((fileType_ & (ftNormal | ftArchive)) || (readOnly && (fileType_ & ftReadOnly)) ||
                (hidden && (fileType_ & ftHidden)))
                add(name, picture);
        }
    }

    // Sorted as the list sorts: by the locale, ignoring case; equal names in
    // the order they came.
    std::vector<int> order(entries.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return sortsBefore(entries[static_cast<size_t>(a)].key, entries[static_cast<size_t>(b)].key);
    });
    entryPictures_.reserve(entries.size());
    for (const int index : order) {
        const Entry& entry = entries[static_cast<size_t>(index)];
        auto* item = new QListWidgetItem(entry.key);
        item->setData(kNameRole, QByteArray::fromStdString(entry.text));
        addItem(item);
        entryPictures_.push_back(entry.picture);
    }
    setCurrentRow(-1);
    filling_ = false;
    // The cursor is back before the change event fires.
    busy.Hide();
    NotifyChange();
}

std::string TFileListBox::PickedName() const
{
    const QListWidgetItem* picked = currentItem();
    if (!picked || !picked->isSelected())
        return {};
    return picked->data(kNameRole).toByteArray().toStdString();
}

std::string TFileListBox::PickedPath() const
{
    const std::string name = PickedName();
    return name.empty() ? std::string() : JoinPath(folderPath_, name);
}

void TFileListBox::PickName(const std::string& name)
{
    if (name == PickedName())
        return;
    int found = -1;
    const QString wanted = ToDisplay(name);
    for (int row = 0; row < count(); ++row)
        if (item(row)->text().compare(wanted, Qt::CaseInsensitive) == 0) {
            found = row;
            break;
        }
    {
        const QSignalBlocker blocker(this);
        setCurrentRow(found);
    }
    NotifyChange();
}

void TFileListBox::ApplyPathText(const std::string& text)
{
    if (text.empty() || text == PickedPath())
        return;
    // A folder on a mount that stopped answering is taken as it is and
    // listed empty, never looked at.
    if (!TDrives::Answers(text)) {
        if (text != folderPath_) {
            folderPath_ = text;
            FillFileList();
        }
        return;
    }
    const TTypedPath typed = SplitTypedPath(text);
    ChangeFolder(typed.folder);
    if (typed.file.empty())
        return;
    if (typed.file.find_first_of("*?") != std::string::npos) {
        SetMask(typed.file);
        return;
    }
    if (!TCurrentDirectory::FileExists(JoinPath(folderPath_, typed.file)))
        throw EInvalidOperation(Format(texts::kInvalidFileNameFormat, text.c_str()));
    PickName(typed.file);
    if (PickedName().empty()) {
        SetMask(typed.file);
        PickName(typed.file);
    }
}

void TFileListBox::NotifyChange()
{
    lastPicked_ = currentRow();
    if (OnChange)
        OnChange();
}

void TFileListBox::SetItemHeight(int height)
{
    itemHeight_ = height;
    doItemsLayout();
}

void TFileListBox::UpdateItemHeight()
{
    int height = TextRowHeight(font());
    if (showGlyphs_)
        height = std::max(height, (executable_.isNull() ? 15 : executable_.height()) + 1);
    SetItemHeight(height);
}

void TFileListBox::changeEvent(QEvent* event)
{
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateItemHeight();
}

void TFileListBox::DrawEntry(QPainter& painter, const QRect& rect, int row, bool selected) const
{
    const QPalette& colours = palette();
    painter.fillRect(rect, colours.color(selected ? QPalette::Highlight : QPalette::Base));
    int offset = 2;
    const QPixmap* picture =
        row >= 0 && row < static_cast<int>(entryPictures_.size()) ? entryPictures_[static_cast<size_t>(row)] : nullptr;
    if (showGlyphs_ && picture && !picture->isNull()) {
        const int top = (rect.top() + rect.top() + rect.height() - picture->height()) / 2;
        painter.drawPixmap(rect.left() + 2, top, *picture);
        offset = picture->width() + 6;
    }
    painter.setFont(font());
    painter.setPen(selected ? colours.color(QPalette::HighlightedText) : textColor_);
    const int left = rect.left() + offset;
    painter.drawText(QRect(left, rect.top(), std::max(0, rect.right() - left + 1), rect.height()),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, item(row) ? item(row)->text() : QString());
}

}  // namespace vantelo
