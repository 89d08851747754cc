#include "dirdlg/TDirectoryListBox.h"

#include <QCollator>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <utility>

#include "app/THandlerGuard.h"
#include "dirdlg/PathRoutines.h"
#include "dirdlg/TListBitmap.h"
#include "dirdlg/TOwnerDrawDelegate.h"
#include "platform/EInOutError.h"
#include "platform/TCurrentDirectory.h"
#include "platform/TDirectoryListing.h"
#include "platform/TDrives.h"

namespace vantelo {

namespace {

constexpr int kNameRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1;
constexpr int kPictureWidth = 16;
constexpr int kPictureTextGap = 4;
// The error number of a drive that is not ready ("I/O error 21").
constexpr int kDriveNotReady = 21;

}  // namespace

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent)
{
    resize(145, height());
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setItemDelegate(new TOwnerDrawDelegate(
        this, [this](QPainter& painter, const QRect& rect, int row, bool selected,
                     bool) { DrawEntry(painter, rect, row, selected); },
        [this] { return itemHeight_; }));
    LoadBitmaps();
    UpdateItemHeight();
    openPath_ = TCurrentDirectory::GetOrNearestParent();
    RebuildTree();
}

void TDirectoryListBox::LoadBitmaps()
{
    openFolder_ = TListBitmap::Load("OPENFOLDER");
    closedFolder_ = TListBitmap::Load("CLOSEDFOLDER");
    currentFolder_ = TListBitmap::Load("CURRENTFOLDER");
}

void TDirectoryListBox::AddEntry(const std::string& name, EntryKind kind)
{
    auto* item = new QListWidgetItem(ToDisplay(name));
    item->setData(kNameRole, QByteArray::fromStdString(name));
    item->setData(kKindRole, static_cast<int>(kind));
    addItem(item);
}

void TDirectoryListBox::RebuildTree()
{
    // One paint for the whole rebuild.
    struct UpdatesSuspended {
        QWidget* widget;
        ~UpdatesSuspended() { widget->setUpdatesEnabled(true); }
    } suspended{this};
    setUpdatesEnabled(false);
    {
        const QSignalBlocker blocker(this);
        clear();
    }

    const std::vector<TDrive> drives = TDrives::Current();
    const TDrive* drive = TDrives::Find(drives, TDrives::DriveOf(openPath_, drives));
    caseKept_ = drive ? drive->caseKept : true;
    caseMatters_ = drive ? drive->caseMatters : true;

    // The root, the ancestors and the open folder: one entry per component.
    std::string rest = openPath_.size() > 1 ? openPath_.substr(1) : std::string();
    if (rest.empty()) {
        AddEntry("/", ekOpenFolder);
    } else {
        AddEntry("/", ekAncestor);
        size_t slash;
        while ((slash = rest.find('/')) != std::string::npos) {
            AddEntry(rest.substr(0, slash), ekAncestor);
            rest.erase(0, slash + 1);
        }
        AddEntry(rest, ekOpenFolder);
    }
    openIndex_ = count() - 1;

    std::vector<std::string> names;
    // An open folder on a mount that stopped answering shows no subfolders
    // rather than hold up the window; its ancestors still lead away.
    if (TDrives::Answers(openPath_))
        ListSubfolders(openPath_, names);
    for (const std::string& name : names)
        AddEntry(name, ekSubfolder);

    const QSignalBlocker blocker(this);
    setCurrentRow(openIndex_);
    RevealOpenFolder();
    // Built before it is shown (in the constructor, before the dialog gives
    // the list its size), the list is scrolled by a size it does not keep:
    // it is scrolled again when it shows.
    revealOnShow_ = !isVisible();
}

void TDirectoryListBox::RevealOpenFolder()
{
    // A new list starts at its top, whatever an earlier one was scrolled
    // to, and then shows the open folder.
    scrollToTop();
    scrollToItem(item(openIndex_));
}

void TDirectoryListBox::showEvent(QShowEvent* event)
{
    QListWidget::showEvent(event);
    if (std::exchange(revealOnShow_, false))
        RevealOpenFolder();
}

int TDirectoryListBox::ListSubfolders(const std::string& parent, std::vector<std::string>& names) const
{
    names.clear();
    TDirectoryListing listing;
    // A folder that cannot be listed simply shows no subfolders.
    if (listing.Open(parent) != 0)
        return 0;
    std::string name;
    while (listing.Next(name)) {
        if (name.empty() || name[0] == '.')
            continue;
        // A folder is known from the listing itself, so a mount point here
        // is never asked (one that stopped answering cannot hold up the
        // tree). Other entries are asked by the parent's descriptor, which
        // works however long the parent's path is.
        const unsigned char type = listing.EntryType();
        struct stat info {};
        if (type == DT_DIR ||
            ((type == DT_LNK || type == DT_UNKNOWN) && fstatat(listing.Descriptor(), name.c_str(), &info, 0) == 0 &&
             S_ISDIR(info.st_mode)))
            names.push_back(name);
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<std::pair<QString, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& each : names)
        keyed.emplace_back(ToDisplay(each), std::move(each));
    std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        const int order = collator.compare(a.first, b.first);
        return order != 0 ? order < 0 : a.second < b.second;
    });
    names.clear();
    for (auto& each : keyed)
        names.push_back(std::move(each.second));
    return static_cast<int>(names.size());
}

TDirectoryListBox::EntryKind TDirectoryListBox::KindOf(int index) const
{
    const QListWidgetItem* entry = item(index);
    return entry ? static_cast<EntryKind>(entry->data(kKindRole).toInt()) : ekSubfolder;
}

std::string TDirectoryListBox::EntryName(int index) const
{
    const QListWidgetItem* entry = item(index);
    return entry ? entry->data(kNameRole).toByteArray().toStdString() : std::string();
}

std::string TDirectoryListBox::EntryPath(int index) const
{
    if (index < 0 || index >= count())
        return {};
    if (index == 0)
        return "/";
    switch (KindOf(index)) {
    case ekSubfolder:
        return JoinPath(openPath_, EntryName(index));
    case ekOpenFolder:
        return openPath_;
    case ekAncestor:
        break;
    }
    // The ancestor at index k: the open path up to its (k + 1)-th "/".
    int slashes = 0;
    for (size_t i = 0; i < openPath_.size(); ++i)
        if (openPath_[i] == '/' && ++slashes == index + 1)
            return openPath_.substr(0, i);
    return openPath_;
}

void TDirectoryListBox::ChangeOpenPath(const std::string& text)
{
    if (text.empty() || SamePath(text, openPath_))
        return;
    // Splitting the text already looks at the folder it names.
    if (!TDrives::Answers(Absolute(text)))
        throw EInOutError(kDriveNotReady);
    const TTypedPath typed = SplitTypedPath(text);
    // The drive is part of the path here: entering the folder moves to its
    // drive, with no separate drive switch that could fail half-way.
    EnterFolder(typed.folder);
}

void TDirectoryListBox::SetDrive(const std::string& mountPoint)
{
    if (mountPoint.empty() || mountPoint == TDrives::DriveOf(openPath_))
        return;
    if (!TDrives::Answers(mountPoint))
        throw EInOutError(kDriveNotReady);
    std::string folder = TDrives::RememberedFolder(mountPoint);
    if (!TCurrentDirectory::DirectoryExists(folder))
        folder = mountPoint;
    EnterFolder(folder);
}

void TDirectoryListBox::EnterFolder(const std::string& path)
{
    // A folder on a mount that does not answer is not entered: the drive
    // is not ready. The mount left behind is asked too before it is touched.
    if (!TDrives::Answers(Absolute(path)))
        throw EInOutError(kDriveNotReady);
    if (TDrives::Answers(openPath_) && TCurrentDirectory::DirectoryExists(openPath_))
        TCurrentDirectory::Set(openPath_);
    openPath_ = TCurrentDirectory::Set(path);
    RebuildTree();
    NotifyChange();
}

std::string TDirectoryListBox::Absolute(const std::string& path) const
{
    return std::filesystem::path(!path.empty() && path[0] == '/' ? path : JoinPath(openPath_, path)).lexically_normal();
}

void TDirectoryListBox::OpenEntry()
{
    ChangeOpenPath(EntryPath(currentRow()));
}

void TDirectoryListBox::NotifyChange()
{
    if (OnChange)
        OnChange();
}

std::string TDirectoryListBox::ShownName(const std::string& name) const
{
    if (caseKept_ || caseMatters_)
        return name;
    return FromDisplay(ToDisplay(name).toLower());
}

bool TDirectoryListBox::SamePath(const std::string& a, const std::string& b) const
{
    if (caseMatters_)
        return a == b;
    return ToDisplay(a).compare(ToDisplay(b), Qt::CaseInsensitive) == 0;
}

int TDirectoryListBox::EntryOffset(int index) const
{
    if (KindOf(index) == ekSubfolder)
        return (FolderDepth(openPath_) + 1) * 4 + 2;
    return index * 4 + 2;
}

void TDirectoryListBox::DrawEntry(QPainter& painter, const QRect& rect, int row, bool selected) const
{
    const QPalette& colours = palette();
    painter.fillRect(rect, colours.color(selected ? QPalette::Highlight : QPalette::Base));
    const int offset = EntryOffset(row);
    const QPixmap* picture = &closedFolder_;
    if (KindOf(row) == ekAncestor)
        picture = &openFolder_;
    else if (KindOf(row) == ekOpenFolder)
        picture = &currentFolder_;
    if (!picture->isNull()) {
        const int top = (rect.top() + rect.top() + rect.height() - picture->height()) / 2;
        painter.drawPixmap(rect.left() + offset, top, *picture);
    }
    painter.setFont(font());
    painter.setPen(colours.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const int left = rect.left() + kPictureWidth + offset + kPictureTextGap;
    painter.drawText(QRect(left, rect.top(), std::max(0, rect.right() - left + 1), rect.height()),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, ToDisplay(ShownName(EntryName(row))));
}

void TDirectoryListBox::UpdateItemHeight()
{
    const int pictureHeight = openFolder_.isNull() ? 15 : openFolder_.height();
    SetItemHeight(std::max(TextRowHeight(font()), pictureHeight + 1));
}

void TDirectoryListBox::SetItemHeight(int height)
{
    itemHeight_ = height;
    doItemsLayout();
    ApplyIntegralHeight();
}

void TDirectoryListBox::SetBounds(const QRect& bounds)
{
    requestedBounds_ = bounds;
    setGeometry(bounds);
    ApplyIntegralHeight();
}

void TDirectoryListBox::ApplyIntegralHeight()
{
    if (!integralHeight_ || requestedBounds_.isNull() || itemHeight_ <= 0)
        return;
    const int frame = 2 * frameWidth();
    const int rows = std::max(0, (requestedBounds_.height() - frame) / itemHeight_);
    setGeometry(QRect(requestedBounds_.topLeft(), QSize(requestedBounds_.width(), frame + rows * itemHeight_)));
}

void TDirectoryListBox::changeEvent(QEvent* event)
{
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateItemHeight();
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    QListWidget::mouseDoubleClickEvent(event);
    // The highlighted entry opens, wherever the pointer is.
    Guarded(this, [this] { OpenEntry(); });
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // Inside a dialog, Enter belongs to the dialog's default button.
    if (enter && event->modifiers() == Qt::NoModifier && !qobject_cast<QDialog*>(window())) {
        Guarded(this, [this] { OpenEntry(); });
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

}  // namespace vantelo
