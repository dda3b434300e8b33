#include "app/appicon.h"

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
    registerResources();
    return QIcon(QStringLiteral(":/icon.png"));
}

QImage appIconImage()
{
    registerResources();
    return QImage(QStringLiteral(":/icon.png"));
}

}  // namespace pel
