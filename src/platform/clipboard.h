#pragma once
// The system clipboard, as the copy command uses it.
#include <QImage>
#include <QByteArray>

namespace pel::clipboard {

void clear();
// Puts the picture on the clipboard as an image (any program can paste it);
// a metafile's own bytes are offered beside it.
void putPicture(const QImage &image, const QByteArray &metafile = QByteArray());

}  // namespace pel::clipboard
