#pragma once
// File names are bytes. The windows show and hold them as text; these are the one
// place where a name crosses between the two.
//
// A name need not be UTF-8. Each byte that is not part of valid UTF-8 is held as a
// lone low surrogate, U+DC80 + the byte, and goes back to that byte, so every
// name survives the trip to text and back exactly (valid UTF-8 never gives one of
// U+DC80..U+DCFF). The user reads such a byte as "\xFF" (display()).
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pel::fsname {

// The bytes of the name or path `name` as the system takes them.
QByteArray encode(const QString &name);
// The text of the name or path `bytes` as a folder or the system gave them.
QString decode(const QByteArray &bytes);
QString decode(const char *bytes, qsizetype size);

// Whether `name` holds bytes that are not UTF-8.
bool hasRawBytes(const QString &name);
// `name` as the user reads it: each byte that is not UTF-8 as "\xFF".
QString display(const QString &name);
// What a list shows for each of `names`: display() of each, and where two
// different names would read alike, a number after the one that is not UTF-8,
// so that no two entries look the same. Names of UTF-8 alone show as they are.
QStringList displayDistinct(const QStringList &names);

// The current folder, and changing it.
QString currentFolder();
bool setCurrentFolder(const QString &folder);
// The absolute path with no links, "." or ".." of an existing `path`; empty when
// it cannot be resolved.
QString canonical(const QString &path);
// `path` made absolute against the current folder (no file is looked at).
QString absolute(const QString &path);

}  // namespace pel::fsname
