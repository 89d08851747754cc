// One image list of the shared glyph cache: prepared button images of one
// picture size, each drawn through its own mask. Slots are handed out lowest
// free first and given back when a button re-prepares its images, so a list
// grows only when every slot is in use.
#pragma once

#include <QImage>
#include <QSize>

#include <vector>

class QColor;
class QPainter;
class QPoint;

namespace vantelo {

class TGlyphList {
public:
    explicit TGlyphList(QSize size) : size_(size) {}

    QSize Size() const { return size_; }
    // Number of slots in use.
    int Count() const { return count_; }
    // Number of slots, used or free.
    int Capacity() const { return static_cast<int>(images_.size()); }
    bool Used(int index) const;

    // Stores `image` (of this list's size) in the lowest free slot, with every
    // pixel of colour `transparent` masked out, and answers the slot. The list
    // grows by one slot only when none is free.
    int AddMasked(const QImage& image, QColor transparent);
    // Stores an image that already carries its mask as transparency, in the
    // lowest free slot, and answers the slot.
    int AddPrepared(QImage image);
    // Gives a slot back. An index that is out of range or already free is ignored.
    void Delete(int index);
    // Draws the prepared image of a used slot with its top-left at `at`; the
    // masked pixels leave what is beneath. A free or unknown slot draws nothing.
    void Draw(QPainter& painter, QPoint at, int index) const;
    // The prepared image of a slot (null for a free or unknown slot).
    QImage Image(int index) const;

private:
    QSize size_;
    std::vector<QImage> images_;
    std::vector<bool> used_;
    int count_ = 0;
};

}  // namespace vantelo
