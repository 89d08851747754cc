// The small pictures the drive, folder and file lists draw beside their
// entries, loaded from the chooser's resources ("FLOPPY", "OPENFOLDER"...).
// The colour of a picture's bottom-left pixel is its transparent colour.
#pragma once

#include <QPixmap>

#include <string>

namespace vantelo {

class TListBitmap {
public:
    // The picture with that resource name, its bottom-left colour made
    // transparent. A null pixmap for an unknown name.
    static QPixmap Load(const std::string& name);
};

}  // namespace vantelo
