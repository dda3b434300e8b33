#pragma once
// Linux has no drive letters. A "drive" here is the root of a mounted file system
// (the real local and removable volumes; "/" always). Each keeps its own current
// folder, as the home platform keeps one per drive.
#include "system/result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace pel {

struct Volume {
    QString root;     // mount point, e.g. "/" or "/media/usb"
    QString label;    // how the drive list shows it, e.g. "/" or "/media/usb [USBSTICK]"
                      // (bytes that are not UTF-8 read as "\xFF")
};

class Drives {
public:
    // The volumes now mounted, "/" first, from the mount table alone (see system/os.h).
    static std::vector<Volume> volumes();
    // The next volumes() reads the mount table again (one reading answers a step).
    static void forgetMountTable();

    // The volumes described by a /proc/self/mountinfo text: real file systems only,
    // no pseudo file systems, no bind-mount duplicates, "/" first. Labels come from
    // the symlinks in `byLabelDir`. volumes() uses it on the live system.
    static std::vector<Volume> parseMountInfo(const QByteArray &mountInfo,
                                              const QString &byLabelDir = QStringLiteral("/dev/disk/by-label"));

    // The volume holding `path` (longest mount-point prefix); "/" at worst.
    static QString driveOf(const QString &path);

    // The current folder kept for a drive: its root at first.
    static QString currentFolder(const QString &driveRoot);
    static void setCurrentFolder(const QString &folder);   // remembered for driveOf(folder)
    static void resetCurrentFolders();

    // Makes the drive current and gives its current folder. Fails (Unreadable)
    // when its root cannot be read: not mounted, gone, no permission. A current
    // folder that cannot be read falls back to the drive's root.
    static Result<QString> makeCurrent(const QString &driveRoot);

    // Every mount point of a /proc/self/mountinfo text, as bytes, of any file system.
    static QList<QByteArray> mountPoints(const QByteArray &mountInfo);

    // Whether a folder can be listed (exists, is a directory, readable and searchable).
    static bool isReadable(const QString &folder);
};

}  // namespace pel
