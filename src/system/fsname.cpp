#include "system/fsname.h"

#include <QFile>

namespace pel::fsname {

QByteArray encode(const QString &name) { return QFile::encodeName(name); }
QString decode(const QByteArray &bytes) { return QFile::decodeName(bytes); }

}  // namespace pel::fsname
