#include "dirdlg/TListBitmap.h"

#include <QImage>

// The chooser's resources live in this static library; they must be
// registered by name before the first load.
static void InitDirDlgResources()
{
    Q_INIT_RESOURCE(dirdlg);
}

namespace vantelo {

QPixmap TListBitmap::Load(const std::string& name)
{
    static const bool initialised = (InitDirDlgResources(), true);
    (void)initialised;
    QImage image(QStringLiteral(":/dirdlg/%1.bmp").arg(QString::fromStdString(name)));
    if (image.isNull())
        return {};
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb transparent = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (line[x] == transparent)
                line[x] = qRgba(0, 0, 0, 0);
    }
    return QPixmap::fromImage(image);
}

}  // namespace vantelo
