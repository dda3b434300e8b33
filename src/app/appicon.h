#pragma once
// The application icon, from the resources linked into the program.
#include <QIcon>
#include <QImage>

namespace pel {

QIcon appIcon();
QImage appIconImage();

}  // namespace pel
