#pragma once
// Whole files in and out, for the tests (header-only: the sanitized tests use it too).
#include <QByteArray>
#include <QFile>
#include <QString>

namespace pel::test {

// The file's bytes, or none when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace pel::test
