#include "app/appicon.h"

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

QImage appIconImage() { return storedImage(QStringLiteral(":/icon.png")); }

QImage storedImage(const QString &path)
{
    registerResources();
    return QImage(path);
}

}  // namespace pel
