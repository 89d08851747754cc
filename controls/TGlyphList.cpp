#include "controls/TGlyphList.h"

#include <QColor>
#include <QPainter>

#include <algorithm>

namespace vantelo {

bool TGlyphList::Used(int index) const
{
    return index >= 0 && index < Capacity() && used_[index];
}

int TGlyphList::AddMasked(const QImage& image, QColor transparent)
{
    // Prepared once: opaque copy, then every pixel of the transparent colour
    // made fully transparent, premultiplied so that painting converts nothing.
    QImage prepared = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent.rgb() & RGB_MASK;
    for (int y = 0; y < prepared.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(prepared.scanLine(y));
        for (int x = 0; x < prepared.width(); ++x)
            line[x] = (line[x] & RGB_MASK) == key ? 0 : (line[x] | 0xff000000u);
    }
    return AddPrepared(std::move(prepared));
}

int TGlyphList::AddPrepared(QImage prepared)
{
    prepared.convertTo(QImage::Format_ARGB32_Premultiplied);
    const auto freeSlot = std::find(used_.begin(), used_.end(), false);
    const int index = static_cast<int>(freeSlot - used_.begin());
    if (freeSlot == used_.end()) {
        images_.push_back(std::move(prepared));
        used_.push_back(true);
    } else {
        images_[index] = std::move(prepared);
        *freeSlot = true;
    }
    ++count_;
    return index;
}

void TGlyphList::Delete(int index)
{
    if (!Used(index))
        return;
    used_[index] = false;
    images_[index] = QImage();
    --count_;
}

void TGlyphList::Draw(QPainter& painter, QPoint at, int index) const
{
    if (Used(index))
        painter.drawImage(at, images_[index]);
}

QImage TGlyphList::Image(int index) const
{
    return Used(index) ? images_[index] : QImage();
}

}  // namespace vantelo
