#include "system/screen.h"

#include "system/os.h"
#include "system/twips.h"

namespace pel::screen {

QSize pixels() { return os().screenPixels(); }

double widthTwips() { return twips::fromPixels(pixels().width()); }
double heightTwips() { return twips::fromPixels(pixels().height()); }

}  // namespace pel::screen
