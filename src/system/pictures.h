#pragma once
// The picture files the windows show, opened and decoded through the loader off
// the user-interface thread (system/storage.h): a picture on a share that stopped
// answering fails in bounded time instead of freezing the windows.
#include "picture/picture.h"
#include "system/result.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <memory>

namespace pel {

using PicturePtr = std::shared_ptr<const PictureFile>;

// Opens the picture file at `path` on a worker, at the screen's resolution.
// Fault::Failed (the loader's reason in the detail) when it cannot be shown.
Result<PicturePtr> openPicture(const QString &path);

// `file` decoded at `target` pixels (empty: its natural size): a bitmap on a worker,
// for it reads its file again; a metafile here, drawn with this thread's fonts
// from what opening it read. `path` is the file's, for the wait.
Result<QImage> renderPicture(const PicturePtr &file, QSize target, const QString &path);

// Opens the file on the calling thread, which must be a worker or hold the file
// in memory (a copied picture): never the user-interface thread on a user's file.
PicturePtr openPictureHere(const QString &path, double twipsPerPixel, QString *error = nullptr);

}  // namespace pel
