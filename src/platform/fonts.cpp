#include "platform/fonts.h"

#include <QStringList>

namespace pel::fonts {

void install()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    QStringList gothic, mincho;
    gothic << QStringLiteral("IPAPGothic") << QStringLiteral("IPAGothic") << QStringLiteral("Noto Sans CJK JP");
    mincho << QStringLiteral("IPAPMincho") << QStringLiteral("IPAMincho") << QStringLiteral("Noto Serif CJK JP");
    QFont::insertSubstitutions(kGothic, gothic);
    QFont::insertSubstitutions(kMincho, mincho);
}

QFont font(const QString &face, double points, bool bold, bool italic)
{
    install();
    QFont f(face);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

}  // namespace pel::fonts
