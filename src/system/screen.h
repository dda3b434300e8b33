#pragma once
// The screen as the windows see it: its size in twips, read live.
#include <QSize>

namespace pel::screen {

// Live size of the primary screen in twips (the whole screen, not the work area).
double widthTwips();
double heightTwips();
QSize pixels();

}  // namespace pel::screen
