#include "system/screen.h"

#include "system/twips.h"

#include <QGuiApplication>
#include <QScreen>

namespace pel::screen {
namespace {
QSize g_override;
}

QSize pixels()
{
    if (!g_override.isEmpty())
        return g_override;
    if (auto *s = QGuiApplication::primaryScreen())
        return s->geometry().size();
    return QSize(1024, 768);
}

double widthTwips() { return twips::fromPixels(pixels().width()); }
double heightTwips() { return twips::fromPixels(pixels().height()); }

void setOverridePixels(QSize px) { g_override = px; }

}  // namespace pel::screen
