#include "dirdlg/TPathLabel.h"

#include <QFontMetrics>
#include <QPainter>

#include "dirdlg/PathRoutines.h"
#include "platform/TCodePage.h"

namespace vantelo {

namespace {

// The first "/" that is a character of its own, or npos.
size_t FirstSlash(const std::string& text)
{
    return TCodePage::Active().FindChar(text, '/');
}

size_t LastSlash(const std::string& text)
{
    return TCodePage::Active().FindLastChar(text, '/');
}

}  // namespace

TPathLabel::TPathLabel(QWidget* parent) : QWidget(parent) {}

void TPathLabel::SetCaption(const std::string& caption)
{
    caption_ = caption;
    update();
}

void TPathLabel::SetAlignment(Qt::Alignment alignment)
{
    alignment_ = alignment;
    update();
}

void TPathLabel::SetTransparent(bool on)
{
    transparent_ = on;
    update();
}

std::string TPathLabel::DropLeadingFolder(std::string dir)
{
    if (dir == "/")
        return {};
    const bool rooted = !dir.empty() && dir[0] == '/';
    if (rooted)
        dir.erase(0, 1);
    // An earlier step's ".../" goes before the next folder does.
    if (!dir.empty() && dir[0] == '.')
        dir.erase(0, std::min<size_t>(4, dir.size()));
    const size_t slash = FirstSlash(dir);
    if (slash != std::string::npos)
        dir = ".../" + dir.substr(slash + 1);
    else
        dir.clear();
    return rooted ? "/" + dir : dir;
}

std::string TPathLabel::ShortenPath(const std::string& path, const WidthOf& widthOf, int maxWidth)
{
    std::string result = path;
    // The root alone is never shortened to nothing.
    if (path == "/")
        return result;
    const size_t slash = LastSlash(path);
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    while (!dir.empty() && widthOf(result) > maxWidth) {
        if (dir == "/.../")
            dir = ".../";
        else
            dir = DropLeadingFolder(dir);
        result = dir + name;
    }
    return result;
}

std::string TPathLabel::ShownText() const
{
    const QFontMetrics metrics(font());
    return ShortenPath(caption_, [&](const std::string& text) { return metrics.horizontalAdvance(ToDisplay(text)); },
                       width());
}

void TPathLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!transparent_)
        painter.fillRect(rect(), palette().color(backgroundRole()));
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    painter.drawText(rect(), static_cast<int>(alignment_ | Qt::AlignTop | Qt::TextSingleLine), ToDisplay(ShownText()));
}

}  // namespace vantelo
