#pragma once
// What this program asks of the operating system and the desktop that a test needs
// to script, behind one interface: message boxes, the screen, the input method,
// the mount table and the file calls of folder reading, drives, file operations
// and the clipboard. The program runs
// on the real one; a test installs its own for as long as it needs it.
//
// The calls may come from any thread (folders are read off the user-interface
// thread); an installed Os must not be changed while a call may be under way.
#include <QByteArray>
#include <QSize>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

namespace pel {

// A message box as it would be shown: the prompt (CR LF for a line break), the
// button value (0 OK, 16 OK with the stop icon, 36 Yes/No with the question icon,
// 48 the warning icon, 256 the second button as the default) and the title.
struct MsgBoxShown {
    QString prompt;
    int buttons = 0;
    QString title;
};

class Os {
public:
    virtual ~Os() = default;

    // Shows the box modally over the active window; returns the button pressed
    // (vbOK, vbYes or vbNo of system/msgbox.h).
    virtual int messageBox(const MsgBoxShown &box);

    // The primary screen: its whole size in device pixels, and twips per pixel
    // (1440 / its logical DPI).
    virtual QSize screenPixels();
    virtual double twipsPerPixel();
    // The ICC profile the desktop publishes for the primary screen (the X root
    // window's _ICC_PROFILE), empty when there is none or no X display. The real
    // one is in system/display_profile.cpp.
    virtual QByteArray displayProfile();

    // Asks the input-method framework (fcitx5, where it runs on the session bus) to
    // switch input on or off for the text box that has the focus. Returns at once:
    // nothing waits for the bus. Silent where no framework runs.
    virtual void switchInputMethod(bool on);

    // The text of /proc/self/mountinfo: the mounted volumes.
    virtual QByteArray mountTable();
    // How long storage may take to answer before the place counts as not ready, ms.
    virtual int storageAnswerMs() { return 5000; }

    // File calls, as the system's: the result, or -1 with errno set.
    virtual int open(const char *path, int flags, mode_t mode = 0);
    virtual int openat(int dir, const char *name, int flags, mode_t mode = 0);
    virtual ssize_t readlink(const char *path, char *buffer, size_t size);
    virtual int fstatat(int dir, const char *name, struct stat *st, int flags);
    virtual int faccessat(int dir, const char *name, int mode, int flags);
    virtual int mkdirat(int dir, const char *name, mode_t mode);
    virtual int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags);
    virtual int linkat(int fromDir, const char *from, int toDir, const char *to, int flags);
    virtual int unlinkat(int dir, const char *name, int flags);
};

// The Os in use.
Os &os();
// Puts `os` in use (owned by the caller); nullptr puts the real one back.
void installOs(Os *os);

}  // namespace pel
