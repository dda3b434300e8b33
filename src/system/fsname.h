#pragma once
// File names are bytes. The windows show and hold them as text; these are the one
// place where a name crosses between the two.
#include <QByteArray>
#include <QString>

namespace pel::fsname {

// The bytes of the name or path `name` as the system takes them.
QByteArray encode(const QString &name);
// The text of the name or path `bytes` as a folder or the system gave them.
QString decode(const QByteArray &bytes);

}  // namespace pel::fsname
