#include "controls/TButtonGlyph.h"

#include <QPainter>
#include <QPalette>
#include <QString>

#include "controls/TGlyphCache.h"
#include "controls/TGlyphList.h"

// The resource initialiser is named at global scope, outside any namespace.
static void InitVanteloResources()
{
    Q_INIT_RESOURCE(vantelo);
}

namespace vantelo {

void TButtonGlyph::InitResources()
{
    static const bool done = (InitVanteloResources(), true);
    (void)done;
}

QImage TButtonGlyph::LoadPicture(const QString& path)
{
    InitResources();
    return QImage(path);
}

TButtonGlyph::TButtonGlyph()
{
    TGlyphCache::Acquire();
}

TButtonGlyph::~TButtonGlyph()
{
    Invalidate();
    TGlyphCache::ReleaseIfEmpty();
}

void TButtonGlyph::SetPicture(const QImage& picture)
{
    Invalidate();
    if (picture.isNull()) {
        picture_ = QImage();
        transparent_ = QColor(kNoPictureTransparent);
        return;
    }
    // Keep the colours exactly as stored; an alpha channel, if any, is not
    // part of the picture's look (the stored pictures carry 0 there).
    picture_ = picture.hasAlphaChannel() ? picture.convertToFormat(QImage::Format_ARGB32)
                                         : picture.convertToFormat(QImage::Format_RGB32);
    transparent_ = QColor(picture_.pixel(0, picture_.height() - 1) & RGB_MASK);
    if (picture_.height() > 0 && picture_.width() % picture_.height() == 0) {
        const int count = picture_.width() / picture_.height();
        numGlyphs_ = count >= 1 && count < 5 ? count : 1;
    }
}

void TButtonGlyph::SetNumGlyphs(int count)
{
    if (count < 1 || count > 4 || count == numGlyphs_)
        return;
    Invalidate();
    numGlyphs_ = count;
}

QSize TButtonGlyph::GlyphSize() const
{
    if (picture_.isNull())
        return {};
    return {picture_.width() / numGlyphs_, picture_.height()};
}

TButtonState TButtonGlyph::SourceState(TButtonState state) const
{
    // States without a picture of their own share the up image.
    switch (state) {
    case TButtonState::Down:
        return numGlyphs_ >= 3 ? state : TButtonState::Up;
    case TButtonState::Latched:
        return numGlyphs_ >= 4 ? state : numGlyphs_ >= 3 ? TButtonState::Down : TButtonState::Up;
    default:
        return state;
    }
}

int TButtonGlyph::Prepare(TButtonState requested, const QPalette& palette)
{
    if (picture_.isNull() || GlyphSize().isEmpty())
        return -1;
    const TButtonState state = SourceState(requested);
    int& index = indexes_[static_cast<size_t>(state)];
    if (index != -1)
        return index;

    if (!list_)
        list_ = &TGlyphCache::Acquire().GetList(GlyphSize());
    const QSize size = GlyphSize();
    if (state == TButtonState::Disabled && numGlyphs_ < 2) {
        const QImage up = picture_.copy(0, 0, size.width(), size.height());
        index = list_->AddPrepared(Embossed(up, palette));
    } else {
        const int picture = static_cast<int>(state) < numGlyphs_ ? static_cast<int>(state) : 0;
        const QImage copy = picture_.copy(picture * size.width(), 0, size.width(), size.height());
        index = list_->AddMasked(copy, QColor(copy.pixel(0, copy.height() - 1) & RGB_MASK));
    }
    return index;
}

QImage TButtonGlyph::Embossed(const QImage& source, const QPalette& palette) const
{
    // One colour, engraved: every dark pixel of the picture is drawn in the
    // highlight colour one pixel down and right, then in the shadow colour.
    const QRgb key = source.pixel(0, source.height() - 1) & RGB_MASK;
    QImage result(source.size(), QImage::Format_ARGB32);
    result.fill(Qt::transparent);
    const QRgb highlight = palette.color(QPalette::Light).rgb();
    const QRgb shadow = palette.color(QPalette::Dark).rgb();
    auto ink = [&](int x, int y) {
        const QRgb pixel = source.pixel(x, y) & RGB_MASK;
        return pixel != key && qGray(pixel) < 192;
    };
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            if (ink(x, y) && x + 1 < source.width() && y + 1 < source.height())
                result.setPixel(x + 1, y + 1, highlight);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            if (ink(x, y))
                result.setPixel(x, y, shadow);
    return result;
}

void TButtonGlyph::Draw(QPainter& painter, QPoint at, TButtonState state, const QPalette& palette)
{
    const int index = Prepare(state, palette);
    if (index != -1 && list_)
        list_->Draw(painter, at, index);
}

void TButtonGlyph::Invalidate()
{
    if (list_) {
        for (int& index : indexes_)
            if (index != -1)
                list_->Delete(index);
        if (TGlyphCache* cache = TGlyphCache::Instance())
            cache->ReturnList(list_);
    }
    indexes_.fill(-1);
    list_ = nullptr;
}

}  // namespace vantelo
