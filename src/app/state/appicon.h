#pragma once
// The application icon and the pictures stored with the windows, from the
// resources linked into the program.
#include <QIcon>
#include <QImage>

namespace pel {

QIcon appIcon();
QImage appIconImage();
// A picture of the resources by its path there, e.g. ":/form4.jpg".
QImage storedImage(const QString &path);

}  // namespace pel
