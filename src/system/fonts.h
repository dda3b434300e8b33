#pragma once
// The windows name their faces as on the home platform ("ＭＳ Ｐゴシック",
// "ＭＳ Ｐ明朝"); these map them to metric stand-ins installed on Linux.
#include <QFont>
#include <QString>

namespace pel::fonts {

inline const QString kGothic = QStringLiteral("ＭＳ Ｐゴシック");
inline const QString kMincho = QStringLiteral("ＭＳ Ｐ明朝");

// Starts reading the font configuration on the workers, so that it is ready when
// the first window measures text; called before the display is opened, which
// takes about as long. The first font asked for waits for the worker.
void preload();

// Called once the QApplication exists: the worker then goes on to fill Qt's list
// of installed fonts (its font database), which the first font needs, while
// this thread does the part of the start that needs no font: making the main
// window's controls among it. Until setApplicationFont(), the application's font
// is a name only, which nothing may measure or paint with.
void applicationReady();

// Waits for the worker and gives the application its font, ＭＳ Ｐゴシック 9 pt
// (when it has another); the widgets already made take it too.
void setApplicationFont();

// Registers the substitutions once per process (IPAPGothic, IPAPMincho, then
// any Japanese face fontconfig offers).
void install();

// The first stand-in for `face` that is installed; empty when none is.
QString installedFamily(const QString &face);

// A font by face name and size in points (through its installed stand-in).
QFont font(const QString &face, double points, bool bold = false, bool italic = false);

}  // namespace pel::fonts
