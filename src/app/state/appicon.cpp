#include "app/state/appicon.h"

#include "app/state/embedded_image.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>

// The resources live in a static library: nothing registers them until asked.
static void registerResources()
{
    static const bool once = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)once;
}

namespace pel {

QIcon appIcon()
{
    // From the picture, not the file name: a name makes Qt look for icon-engine
    // plugins first, which costs the start-up more than the icon itself.
    static const QIcon icon(QPixmap::fromImage(appIconImage()));
    return icon;
}

QImage appIconImage()
{
    // Compiled in as pixels (resources/icon.png through Qt's reader at build
    // time): decoding a file, the first of the process, made Qt scan every
    // image-format plugin at start.
    static const QImage image = embedded::icon.image();
    return image;
}

QImage storedImage(const QString &path)
{
    // Read by the reader of the file's own format alone: left to guess, the
    // reader loads every image-format plugin (and their libraries) to ask each
    // whether it knows the file, which cost the start-up 2-4 ms.
    registerResources();
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

}  // namespace pel
