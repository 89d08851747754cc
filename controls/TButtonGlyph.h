// The picture of an image button and its prepared images. The picture may hold
// up to four side-by-side images (up, disabled, down, latched); each state's
// image is prepared once, masked by the picture's transparent colour (the
// colour of its bottom-left pixel), kept in the shared glyph cache and drawn
// from there.
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

#include <array>

class QPainter;
class QPalette;
class QPoint;

namespace vantelo {

class TGlyphList;

// The drawing states of an image button. Latched is the state of a grouped
// button that stays down.
enum class TButtonState { Up = 0, Disabled = 1, Down = 2, Latched = 3 };

class TButtonGlyph {
public:
    // Olive, the transparent colour while no picture is assigned.
    static constexpr QRgb kNoPictureTransparent = qRgb(128, 128, 0);

    // Makes the pictures and the icon embedded in the main window's library
    // reachable under ":/" (a static library's resources are not registered
    // by themselves). Safe to call any number of times.
    static void InitResources();
    // Loads a picture, from the embedded resources or a file; a null image
    // when it is missing or unreadable.
    static QImage LoadPicture(const QString& path);

    TButtonGlyph();
    ~TButtonGlyph();
    TButtonGlyph(const TButtonGlyph&) = delete;
    TButtonGlyph& operator=(const TButtonGlyph&) = delete;

    // Assigns the picture (a null image clears it). Gives back the prepared
    // images; the transparent colour becomes the bottom-left pixel's colour;
    // when the width is a whole multiple of the height, the number of
    // pictures becomes width / height if below 5, else 1.
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }
    bool HasPicture() const { return !picture_.isNull(); }

    // The number of side-by-side pictures, 1 to 4; other values are ignored.
    // A change gives back the prepared images.
    void SetNumGlyphs(int count);
    int NumGlyphs() const { return numGlyphs_; }
    QColor TransparentColor() const { return transparent_; }
    // The size of one image (empty without a picture).
    QSize GlyphSize() const;

    // The cache index of a state's prepared image; -1 while not built (a state
    // that shares another state's image keeps -1).
    int ImageIndex(TButtonState state) const { return indexes_[static_cast<size_t>(state)]; }
    // The cache list that holds this glyph's images; null while none is built.
    TGlyphList* List() const { return list_; }

    // Prepares the state's image if not yet done and answers its cache index;
    // -1 without a picture. `palette` gives the colours of the disabled look.
    int Prepare(TButtonState state, const QPalette& palette);
    // Draws the state's image with its top-left at `at`, through its mask.
    // Nothing is drawn without a picture.
    void Draw(QPainter& painter, QPoint at, TButtonState state, const QPalette& palette);
    // Gives every prepared image back to the cache; the next draw prepares anew.
    void Invalidate();

private:
    TButtonState SourceState(TButtonState state) const;
    QImage Embossed(const QImage& source, const QPalette& palette) const;

    QImage picture_;
    int numGlyphs_ = 1;
    QColor transparent_ = QColor(kNoPictureTransparent);
    std::array<int, 4> indexes_{-1, -1, -1, -1};
    TGlyphList* list_ = nullptr;
};

}  // namespace vantelo
