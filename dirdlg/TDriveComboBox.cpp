#include "dirdlg/TDriveComboBox.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include "app/THandlerGuard.h"
#include "dirdlg/DirDlgTexts.h"
#include "dirdlg/PathRoutines.h"
#include "dirdlg/TListBitmap.h"
#include "dirdlg/TOwnerDrawDelegate.h"
#include "platform/TCurrentDirectory.h"

namespace vantelo {

namespace {

constexpr int kPictureTextGap = 6;

size_t KindIndex(TDriveKind kind)
{
    switch (kind) {
    case TDriveKind::Removable:
        return 0;
    case TDriveKind::Fixed:
        return 1;
    case TDriveKind::Remote:
        return 2;
    case TDriveKind::CDRom:
        return 3;
    case TDriveKind::RamDisk:
        return 4;
    }
    return 1;
}

std::string Fold(const std::string& text, TTextCase textCase)
{
    const QString display = ToDisplay(text);
    return FromDisplay(textCase == TTextCase::tcUpperCase ? display.toUpper() : display.toLower());
}

}  // namespace

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(false);
    const char* names[] = {"FLOPPY", "HARD", "NETWORK", "CDROM", "RAM"};
    for (size_t i = 0; i < pictures_.size(); ++i)
        pictures_[i] = TListBitmap::Load(names[i]);
    setItemDelegate(new TOwnerDrawDelegate(
        this, [this](QPainter& painter, const QRect& rect, int row, bool selected,
                     bool) { DrawEntry(painter, rect, row, selected); },
        [this] { return itemHeight_; }));
    UpdateItemHeight();

    std::string current;
    try {
        current = TCurrentDirectory::GetOrNearestParent();
    } catch (const Exception&) {
        // A current directory the system cannot give has no drive.
    }
    FillDriveList();
    if (!current.empty())
        SelectDrive(TDrives::DriveOf(current, drives_));

    // A pick in the drop-down (mouse or keyboard) selects its drive. This is
    // the boundary of the user's action: errors end here in the error box.
    connect(this, &QComboBox::activated, this,
            [this](int index) { Guarded(this, [&] { SelectDrive(EntryDrive(index)); }); });
}

std::string TDriveComboBox::EntryDrive(int index) const
{
    if (index < 0 || index >= static_cast<int>(drives_.size()))
        return {};
    return drives_[static_cast<size_t>(index)].mountPoint;
}

bool TDriveComboBox::EntryAvailable(int index) const
{
    return index >= 0 && index < static_cast<int>(drives_.size()) && drives_[static_cast<size_t>(index)].available;
}

std::string TDriveComboBox::EntryText(const TDrive& drive, TTextCase textCase)
{
    switch (drive.kind) {
    case TDriveKind::Removable:
        return drive.mountPoint;
    case TDriveKind::Remote:
        return Format(texts::kDriveEntryFormat, drive.mountPoint.c_str(), Fold(drive.source, textCase).c_str());
    case TDriveKind::Fixed:
    case TDriveKind::CDRom:
    case TDriveKind::RamDisk:
        break;
    }
    const std::string label = Format(texts::kVolumeLabelFormat, Fold(drive.label, textCase).c_str());
    return Format(texts::kDriveEntryFormat, drive.mountPoint.c_str(), label.c_str());
}

void TDriveComboBox::FillDriveList()
{
    const QSignalBlocker blocker(this);
    clear();
    // Network and FUSE mounts are asked whether they answer, all at once
    // and briefly; one that does not is listed but drawn unavailable.
    drives_ = TDrives::CurrentChecked();
    for (const TDrive& drive : drives_)
        addItem(ToDisplay(EntryText(drive, textCase_)));
    setCurrentIndex(-1);
}

void TDriveComboBox::SelectDrive(const std::string& mountPoint)
{
    if (currentIndex() >= 0 && mountPoint == drive_)
        return;
    if (mountPoint.empty()) {
        drive_.clear();
        const QSignalBlocker blocker(this);
        setCurrentIndex(-1);
    } else {
        drive_ = mountPoint;
        for (size_t i = 0; i < drives_.size(); ++i)
            if (drives_[i].mountPoint == mountPoint) {
                const QSignalBlocker blocker(this);
                setCurrentIndex(static_cast<int>(i));
                break;
            }
    }
    update();
    if (OnChange)
        OnChange();
}

void TDriveComboBox::SetTextCase(TTextCase textCase)
{
    const std::string previous = drive_;
    textCase_ = textCase;
    FillDriveList();
    SelectDrive(previous);
}

const QPixmap& TDriveComboBox::PictureOf(TDriveKind kind) const
{
    return pictures_[KindIndex(kind)];
}

void TDriveComboBox::UpdateItemHeight()
{
    itemHeight_ = std::max(TextRowHeight(font()), pictures_[0].isNull() ? 11 : pictures_[0].height());
    if (view())
        view()->doItemsLayout();
}

void TDriveComboBox::changeEvent(QEvent* event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateItemHeight();
}

void TDriveComboBox::DrawEntry(QPainter& painter, const QRect& rect, int row, bool selected) const
{
    const QPalette& colours = palette();
    painter.fillRect(rect, colours.color(selected ? QPalette::Highlight : QPalette::Base));
    int textLeft = rect.left() + 16 + kPictureTextGap;
    if (row >= 0 && row < static_cast<int>(drives_.size())) {
        const QPixmap& picture = PictureOf(drives_[static_cast<size_t>(row)].kind);
        if (!picture.isNull()) {
            const int top = (rect.top() + rect.top() + rect.height() - picture.height()) / 2;
            painter.drawPixmap(rect.left() + 2, top, picture);
            textLeft = rect.left() + picture.width() + kPictureTextGap;
        }
    }
    painter.setFont(font());
    const bool available = row < 0 || row >= static_cast<int>(drives_.size()) || drives_[static_cast<size_t>(row)].available;
    painter.setPen(selected    ? colours.color(QPalette::HighlightedText)
                   : available ? colours.color(QPalette::Text)
                               : colours.color(QPalette::Disabled, QPalette::Text));
    const QRect textRect(textLeft, rect.top(), rect.right() - textLeft + 1, rect.height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, itemText(row));
}

void TDriveComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    // The closed list shows the current entry drawn like a row of the
    // drop-down, highlighted while the list has the focus.
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (currentIndex() >= 0) {
        painter.save();
        painter.setClipRect(field);
        DrawEntry(painter, field, currentIndex(), hasFocus());
        painter.restore();
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = field;
        focus.backgroundColor = palette().color(QPalette::Highlight);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

}  // namespace vantelo
