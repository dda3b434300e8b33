#pragma once
// The operating system as a test scripts it. While a ScriptedOs lives it is the
// one the program asks (system/os.h): message boxes are answered by `answer` (No
// for a question, OK otherwise, when it is not set) and recorded in `shown`; the
// screen is 1024 x 768 pixels at 96 DPI, its colour profile `displayIcc` (none
// unless set); what the input method is asked is
// recorded in `inputMethod` (true on, false off); the mount table holds `volumes` when
// set; folders at or under `unreadable` cannot be read; any file call with a
// script of its own runs that script instead of the system's.
#include "system/drives.h"
#include "system/msgbox.h"
#include "system/os.h"

#include <QDir>
#include <QList>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <functional>

namespace pel::test {

class ScriptedOs : public Os {
public:
    ScriptedOs() { installOs(this); }
    ~ScriptedOs() override
    {
        installOs(nullptr);
        Drives::forgetMountTable();
    }
    ScriptedOs(const ScriptedOs &) = delete;
    ScriptedOs &operator=(const ScriptedOs &) = delete;

    std::function<int(const MsgBoxShown &)> answer;
    QList<MsgBoxShown> shown;
    QSize screen{1024, 768};
    double tpp = 15;
    int answerMs = 600;    // how long storage may take to answer (short, for the tests' sake)
    QList<bool> inputMethod;   // each switch asked of the input method, in order
    QByteArray displayIcc;  // the display's profile as the desktop would publish it
    int folderReads = 0;   // folders opened for reading their entries
    QStringList unreadable;

    std::function<int(int, const char *, int, const char *, unsigned)> renameat2Script;
    std::function<int(int, const char *, int, const char *, int)> linkatScript;
    std::function<int(int, const char *, int)> unlinkatScript;
    std::function<int(int, const char *, struct stat *, int)> fstatatScript;
    std::function<int(int, const char *, int, int)> faccessatScript;
    std::function<ssize_t(const char *, char *, size_t)> readlinkScript;

    // The mounted volumes are these mount points (each its own ext4 device); an
    // empty list gives back the real mount table.
    void setVolumes(const QStringList &roots)
    {
        m_volumes = roots;
        Drives::forgetMountTable();
    }

    int messageBox(const MsgBoxShown &box) override
    {
        shown.append(box);
        if (answer)
            return answer(box);
        return (box.buttons & 7) == vbYesNo ? vbNo : vbOK;
    }
    QSize screenPixels() override { return screen; }
    double twipsPerPixel() override { return tpp; }
    int storageAnswerMs() override { return answerMs; }
    void switchInputMethod(bool on) override { inputMethod.append(on); }
    QByteArray displayProfile() override { return displayIcc; }
    QByteArray mountTable() override
    {
        if (m_volumes.isEmpty())
            return Os::mountTable();
        QByteArray table;
        int n = 1;
        for (const QString &root : m_volumes) {
            const QByteArray point = QDir::cleanPath(root).toUtf8().replace(" ", "\\040");
            table += QByteArray::number(20 + n) + " 1 8:" + QByteArray::number(n) + " / " + point
                     + " rw - ext4 /dev/test" + QByteArray::number(n) + " rw\n";
            ++n;
        }
        return table;
    }
    int open(const char *path, int flags, mode_t mode) override
    {
        if (isUnreadable(path)) {
            errno = EACCES;
            return -1;
        }
        if ((flags & O_DIRECTORY) && !(flags & O_PATH))
            ++folderReads;
        return Os::open(path, flags, mode);
    }
    int fstatat(int dir, const char *name, struct stat *st, int flags) override
    {
        if (fstatatScript)
            return fstatatScript(dir, name, st, flags);
        return Os::fstatat(dir, name, st, flags);
    }
    int faccessat(int dir, const char *name, int mode, int flags) override
    {
        if (dir == AT_FDCWD && isUnreadable(name)) {
            errno = EACCES;
            return -1;
        }
        if (faccessatScript)
            return faccessatScript(dir, name, mode, flags);
        return Os::faccessat(dir, name, mode, flags);
    }
    ssize_t readlink(const char *path, char *buffer, size_t size) override
    {
        return readlinkScript ? readlinkScript(path, buffer, size) : Os::readlink(path, buffer, size);
    }
    int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags) override
    {
        return renameat2Script ? renameat2Script(fromDir, from, toDir, to, flags)
                               : Os::renameat2(fromDir, from, toDir, to, flags);
    }
    int linkat(int fromDir, const char *from, int toDir, const char *to, int flags) override
    {
        return linkatScript ? linkatScript(fromDir, from, toDir, to, flags) : Os::linkat(fromDir, from, toDir, to, flags);
    }
    int unlinkat(int dir, const char *name, int flags) override
    {
        return unlinkatScript ? unlinkatScript(dir, name, flags) : Os::unlinkat(dir, name, flags);
    }

private:
    bool isUnreadable(const char *path) const
    {
        const QString p = QDir::cleanPath(QString::fromUtf8(path));
        for (const QString &u : unreadable) {
            const QString root = QDir::cleanPath(u);
            if (p == root || p.startsWith(root + u'/'))
                return true;
        }
        return false;
    }
    QStringList m_volumes;
};

}  // namespace pel::test
