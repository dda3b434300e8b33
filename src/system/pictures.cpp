#include "system/pictures.h"

#include "system/fsname.h"
#include "system/storage.h"
#include "system/twips.h"

namespace pel {

PicturePtr openPictureHere(const QString &path, double twipsPerPixel, QString *error)
{
    return PictureFile::open(fsname::encode(path), twipsPerPixel, error);
}

Result<PicturePtr> openPicture(const QString &path)
{
    struct Opened {
        PicturePtr file;
        QString error;
    };
    auto r = storage::run(path, storage::Limit::Progress, [bytes = fsname::encode(path), tpp = twips::perPixel()] {
        Opened o;
        o.file = PictureFile::open(bytes, tpp, &o.error);
        return o;
    });
    if (!r.ok())
        return Result<PicturePtr>::failure(r.outcome);
    if (!r.value.file)
        return Result<PicturePtr>::failure(Outcome::failure(Fault::Failed, 0, r.value.error));
    return Result<PicturePtr>::of(std::move(r.value.file));
}

Result<QImage> renderPicture(const PicturePtr &file, QSize target, const QString &path)
{
    struct Rendered {
        QImage image;
        QString error;
    };
    Result<Rendered> r;
    if (file->isVector()) {
        r.value.image = file->render(target, &r.value.error);
    } else {
        r = storage::run(path, storage::Limit::Progress, [file, target] {
            Rendered d;
            d.image = file->render(target, &d.error);
            return d;
        });
        if (!r.ok())
            return Result<QImage>::failure(r.outcome);
    }
    if (r.value.image.isNull())
        return Result<QImage>::failure(Outcome::failure(Fault::Failed, 0, r.value.error));
    return Result<QImage>::of(std::move(r.value.image));
}

}  // namespace pel
