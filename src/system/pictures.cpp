#include "system/pictures.h"

#include "system/fsname.h"
#include "system/twips.h"

namespace pel {

std::shared_ptr<const PictureFile> openPicture(const QString &path, QString *error)
{
    return PictureFile::open(fsname::encode(path), twips::perPixel(), error);
}

}  // namespace pel
