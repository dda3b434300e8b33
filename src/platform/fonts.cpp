#include "platform/fonts.h"

#include <QFontDatabase>
#include <QHash>
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

QString installedFamily(const QString &face)
{
    install();
    // Asked once per face: the answer holds for the life of the process.
    static QHash<QString, QString> known;
    auto it = known.constFind(face);
    if (it != known.constEnd())
        return *it;
    QString family;
    for (const QString &candidate : QFont::substitutes(face)) {
        if (QFontDatabase::hasFamily(candidate)) {
            family = candidate;
            break;
        }
    }
    known.insert(face, family);
    return family;
}

QFont font(const QString &face, double points, bool bold, bool italic)
{
    // The installed stand-in by its own name: the same font the substitution would
    // pick first, but Qt then neither looks for the missing face nor asks fontconfig
    // for a fallback list up front, which cost about a millisecond per font and
    // script at start-up. Glyphs the font lacks still come from fallbacks.
    const QString family = installedFamily(face);
    QFont f(family.isEmpty() ? face : family);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

}  // namespace pel::fonts
