#pragma once
// The loader's colour management, set up by the program: the display's profile as the
// X session publishes it (read now, and again whenever a colour daemon changes it),
// and the pool's workers to convert large pictures on every core.
#include <QByteArray>
#include <QObject>

namespace pel::display_profile {

// Tells the windows that the display's profile changed, so that the pictures they
// show are made again for it. Lives on the user-interface thread.
class Notifier final : public QObject {
    Q_OBJECT
signals:
    // Emitted on the user-interface thread once the loader converts for the new
    // profile; not when a read gives what was in use (or sRGB again).
    void changed();
};
Notifier *notifier();

// Once, on the user-interface thread, after the QApplication exists: installs the
// loader's runner, reads the display's profile through the Os and follows changes
// of it (PropertyNotify on the X root window).
void start();

// Reads the profile through the Os and tells the loader, then the notifier when the
// colours on screen change with it. start() calls it, and so does every change of
// the root window's _ICC_PROFILE.
void refresh();

// The property's name for the primary screen.
inline constexpr char kAtomName[] = "_ICC_PROFILE";

}  // namespace pel::display_profile
