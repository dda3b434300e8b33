#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace pel::clipboard {

void clear()
{
    QGuiApplication::clipboard()->clear();
}

void putPicture(const QImage &image, const QByteArray &metafile)
{
    auto *data = new QMimeData;
    data->setImageData(image);
    if (!metafile.isEmpty()) {
        data->setData(QStringLiteral("image/wmf"), metafile);
        data->setData(QStringLiteral("image/x-wmf"), metafile);
    }
    QGuiApplication::clipboard()->setMimeData(data);
}

}  // namespace pel::clipboard
