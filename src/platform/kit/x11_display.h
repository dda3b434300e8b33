#pragma once
// Whether an X server answers at a display name (as DISPLAY gives it). Qt ends the
// process with an abort when it cannot open its display; asking first lets the
// program say so in one line and end normally.
#include <QByteArray>

namespace pel::kit {

bool x11DisplayAnswers(const QByteArray &display);

}  // namespace pel::kit
