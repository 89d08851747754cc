// A label for one path. Its caption always holds the full path; when the
// path is wider than the label it is drawn shortened, leading folders first
// giving way to "...":
//   /home/user/Photos/2020 -> /.../user/Photos/2020 -> /.../Photos/2020
//   -> /.../2020 -> .../2020 -> 2020
// The root "/" is the drive part of a path here (there are no drive letters):
// it stays in front until only "/.../" is left of the folders. The first form
// that fits is drawn; the last one is drawn even when it still does not fit
// (cut at the label's edge). "&" is drawn like any other character.
#pragma once

#include <QWidget>

#include <functional>
#include <string>

namespace vantelo {

class TPathLabel : public QWidget {
    Q_OBJECT
public:
    explicit TPathLabel(QWidget* parent = nullptr);

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    Qt::Alignment Alignment() const { return alignment_; }
    void SetAlignment(Qt::Alignment alignment);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool on);
    // The text as drawn now: the caption shortened to the label's width.
    std::string ShownText() const;

    // Measures a text's width in pixels.
    using WidthOf = std::function<int(const std::string&)>;
    // The path unchanged when it fits in `maxWidth`, else the first shorter
    // form (see above) that fits, or the shortest one.
    static std::string ShortenPath(const std::string& path, const WidthOf& widthOf, int maxWidth);
    // One step of shortening a folder part ("/home/user/" -> "/.../user/",
    // "/.../user/" -> "/.../", ".../" -> ""); "/" becomes empty.
    static std::string DropLeadingFolder(std::string dir);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string caption_;
    Qt::Alignment alignment_ = Qt::AlignLeft;
    bool transparent_ = false;
};

}  // namespace vantelo
