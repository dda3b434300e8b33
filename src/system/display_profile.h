#pragma once
// The loader's colour management, set up by the program: the display's profile as the
// X session publishes it (read now, and again whenever a colour daemon changes it),
// and the pool's workers to convert large pictures on every core.
#include <QByteArray>

namespace pel::display_profile {

// Once, on the user-interface thread, after the QApplication exists: installs the
// loader's runner, reads the display's profile through the Os and follows changes
// of it (PropertyNotify on the X root window).
void start();

// Reads the profile through the Os and tells the loader. start() calls it, and so
// does every change of the root window's _ICC_PROFILE.
void refresh();

// The property's name for the primary screen.
inline constexpr char kAtomName[] = "_ICC_PROFILE";

}  // namespace pel::display_profile
