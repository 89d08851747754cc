// The shared cache of prepared button images: one list per picture size,
// lowest free slot first, slots given back on re-preparing, empty lists and
// finally the cache itself destroyed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include <memory>

#include "controls/TButtonGlyph.h"
#include "controls/TGlyphCache.h"
#include "controls/TGlyphList.h"

using namespace vantelo;

namespace {

constexpr QRgb kMagenta = qRgb(255, 0, 255);

// A picture of `width` x `height` on magenta with one coloured pixel.
QImage Picture(int width, int height, QRgb ink = qRgb(0, 0, 255))
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kMagenta);
    image.setPixel(width / 2, height / 2, ink);
    return image;
}

class GlyphCacheTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(TGlyphCache::Instance(), nullptr) << "a glyph outlived an earlier test"; }
    QPalette palette = QApplication::palette();
};

}  // namespace

TEST_F(GlyphCacheTest, CacheLivesFromTheFirstGlyphToTheLastOne)
{
    auto first = std::make_unique<TButtonGlyph>();
    TGlyphCache* cache = TGlyphCache::Instance();
    ASSERT_NE(cache, nullptr);
    auto second = std::make_unique<TButtonGlyph>();
    EXPECT_EQ(TGlyphCache::Instance(), cache);
    first->SetPicture(Picture(32, 32));
    first->Prepare(TButtonState::Up, palette);
    EXPECT_EQ(cache->ListCount(), 1);
    second.reset();
    EXPECT_EQ(TGlyphCache::Instance(), cache) << "a list is still in use";
    first.reset();
    EXPECT_EQ(TGlyphCache::Instance(), nullptr);
}

TEST_F(GlyphCacheTest, AGlyphOutlivingAnEmptiedCachePreparesIntoANewOne)
{
    TButtonGlyph survivor;
    { TButtonGlyph other; }  // the cache holds no list and goes
    EXPECT_EQ(TGlyphCache::Instance(), nullptr);
    survivor.SetPicture(Picture(32, 32));
    EXPECT_EQ(survivor.Prepare(TButtonState::Up, palette), 0);
    ASSERT_NE(TGlyphCache::Instance(), nullptr);
    EXPECT_EQ(survivor.List()->Count(), 1);
}

TEST_F(GlyphCacheTest, ButtonsWithPicturesOfOneSizeShareOneListAndTakeTheLowestFreeSlot)
{
    TButtonGlyph a, b, c, small;
    a.SetPicture(Picture(32, 32));
    b.SetPicture(Picture(32, 32));
    c.SetPicture(Picture(32, 32));
    small.SetPicture(Picture(16, 16));
    EXPECT_EQ(a.Prepare(TButtonState::Up, palette), 0);
    EXPECT_EQ(b.Prepare(TButtonState::Up, palette), 1);
    EXPECT_EQ(small.Prepare(TButtonState::Up, palette), 0);
    EXPECT_EQ(a.List(), b.List());
    EXPECT_NE(a.List(), small.List());
    EXPECT_EQ(TGlyphCache::Instance()->ListCount(), 2);

    // Re-preparing gives the slot back; the next image takes the lowest free one
    // and the list does not grow.
    TGlyphList* list = a.List();
    a.SetPicture(Picture(32, 32, qRgb(0, 128, 0)));
    EXPECT_EQ(a.ImageIndex(TButtonState::Up), -1);
    EXPECT_FALSE(list->Used(0));
    EXPECT_EQ(c.Prepare(TButtonState::Up, palette), 0);
    EXPECT_EQ(list->Capacity(), 2);
    EXPECT_EQ(a.Prepare(TButtonState::Up, palette), 2);
    EXPECT_EQ(list->Capacity(), 3);
    EXPECT_EQ(list->Count(), 3);
}

TEST_F(GlyphCacheTest, AListWithNoUsedSlotLeftIsDestroyed)
{
    TButtonGlyph big, small;
    big.SetPicture(Picture(32, 32));
    small.SetPicture(Picture(16, 16));
    big.Prepare(TButtonState::Up, palette);
    small.Prepare(TButtonState::Up, palette);
    ASSERT_EQ(TGlyphCache::Instance()->ListCount(), 2);
    small.SetPicture(QImage());
    EXPECT_EQ(TGlyphCache::Instance()->ListCount(), 1);
    EXPECT_EQ(TGlyphCache::Instance()->GetList({32, 32}).Count(), 1);
}

TEST_F(GlyphCacheTest, ListsOfOneSizeAreSearchedNewestFirst)
{
    TGlyphCache cache;
    TGlyphList& first = cache.GetList({32, 32});
    EXPECT_EQ(&cache.GetList({32, 32}), &first);
    EXPECT_NE(&cache.GetList({16, 32}), &first);
    EXPECT_EQ(cache.ListCount(), 2);
    cache.ReturnList(&first);  // unused: destroyed
    EXPECT_EQ(cache.ListCount(), 1);
}

TEST_F(GlyphCacheTest, PreparedImageMasksExactlyTheBottomLeftColour)
{
    QImage picture(32, 32, QImage::Format_RGB32);
    picture.fill(qRgb(10, 20, 30));
    picture.setPixel(0, 31, kMagenta);
    picture.setPixel(5, 5, kMagenta);
    picture.setPixel(6, 5, qRgb(254, 0, 255));  // near magenta stays
    TButtonGlyph glyph;
    glyph.SetPicture(picture);
    EXPECT_EQ(glyph.TransparentColor(), QColor(kMagenta));
    ASSERT_EQ(glyph.Prepare(TButtonState::Up, palette), 0);
    const QImage image = glyph.List()->Image(0).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(image.pixel(0, 31)), 0);
    EXPECT_EQ(qAlpha(image.pixel(5, 5)), 0);
    EXPECT_EQ(image.pixel(6, 5), qRgba(254, 0, 255, 255));
    EXPECT_EQ(image.pixel(1, 1), qRgba(10, 20, 30, 255));
}

TEST_F(GlyphCacheTest, PictureRulesTransparentColourAndNumberOfPictures)
{
    TButtonGlyph glyph;
    EXPECT_EQ(glyph.TransparentColor(), QColor(128, 128, 0)) << "olive until a picture is assigned";
    const struct {
        QSize size;
        int before;
        int expected;
    } rows[] = {
        {{32, 32}, 1, 1}, {{64, 32}, 1, 2}, {{96, 32}, 1, 3}, {{128, 32}, 1, 4},
        {{160, 32}, 2, 1},  // five or more side by side: one picture
        {{40, 32}, 3, 3},   // not a whole multiple: unchanged
    };
    for (const auto& row : rows) {
        glyph.SetPicture(Picture(32, 32));
        glyph.SetNumGlyphs(row.before);
        QImage picture = Picture(row.size.width(), row.size.height());
        picture.setPixel(0, picture.height() - 1, qRgb(1, 2, 3));
        glyph.SetPicture(picture);
        EXPECT_EQ(glyph.NumGlyphs(), row.expected) << row.size.width();
        EXPECT_EQ(glyph.TransparentColor(), QColor(1, 2, 3));
    }
}

TEST_F(GlyphCacheTest, DownAndLatchedShareTheUpImageOfASinglePicture)
{
    TButtonGlyph glyph;
    glyph.SetPicture(Picture(32, 32));
    const int up = glyph.Prepare(TButtonState::Up, palette);
    EXPECT_EQ(glyph.Prepare(TButtonState::Down, palette), up);
    EXPECT_EQ(glyph.Prepare(TButtonState::Latched, palette), up);
    EXPECT_EQ(glyph.ImageIndex(TButtonState::Down), -1);
    EXPECT_EQ(glyph.List()->Count(), 1);
    // The disabled look is an image of its own.
    const int disabled = glyph.Prepare(TButtonState::Disabled, palette);
    EXPECT_NE(disabled, up);
    EXPECT_EQ(glyph.Prepare(TButtonState::Disabled, palette), disabled) << "prepared once";
    EXPECT_EQ(glyph.List()->Count(), 2);
}

TEST_F(GlyphCacheTest, SeveralPicturesGiveEachStateItsOwnPart)
{
    QImage strip(96, 32, QImage::Format_RGB32);
    strip.fill(kMagenta);
    const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    for (int part = 0; part < 3; ++part)
        strip.setPixel(part * 32 + 10, 10, colours[part]);
    TButtonGlyph glyph;
    glyph.SetPicture(strip);
    ASSERT_EQ(glyph.NumGlyphs(), 3);
    const TButtonState states[] = {TButtonState::Up, TButtonState::Disabled, TButtonState::Down};
    for (int part = 0; part < 3; ++part) {
        const int index = glyph.Prepare(states[part], palette);
        const QImage image = glyph.List()->Image(index).convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(image.size(), QSize(32, 32));
        EXPECT_EQ(image.pixel(10, 10), colours[part] | 0xff000000u) << part;
    }
}

TEST_F(GlyphCacheTest, NoPictureDrawsNothingAndTakesNoSlot)
{
    TButtonGlyph glyph;
    EXPECT_EQ(glyph.Prepare(TButtonState::Up, palette), -1);
    EXPECT_EQ(glyph.List(), nullptr);
    EXPECT_TRUE(TGlyphCache::Instance()->Empty());
}
