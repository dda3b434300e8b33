#pragma once
// Listing a folder's picture files: the pattern, the scan and the order in which
// the user sees the names.
#include "system/file_id.h"
#include "system/result.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pel {

// A ";"-separated list of wildcards ("*.WMF;*.jpeg;*jpg;*bmp;*.ico"), matched
// case-insensitively as on the program's home platform: "*jpg" matches "photojpg".
class FilePattern {
public:
    explicit FilePattern(const QString &pattern = QString());
    bool matches(QStringView name) const;
    // The same answer as matches() for a name of ASCII characters, without
    // making a QString of it (the usual name in a folder of photos).
    bool matchesAscii(std::string_view name) const;
    QString text() const { return m_text; }
private:
    QString m_text;
    struct Part {
        QString prefix;
        QString suffix;
        bool wildcard = false;
        QString exact;
        // The same three lower-cased, when all of them are ASCII.
        bool ascii = false;
        std::string lowerPrefix, lowerSuffix, lowerExact;
    };
    void addPart(const QString &prefix, const QString &suffix, bool wildcard, const QString &exact);
    // Simple forms ("*suffix", "name") are matched without regex; others fall back.
    QStringList m_globs;
    std::vector<Part> m_parts;
};

struct ScanResult {
    QStringList names;         // sorted for the user
    std::vector<FileId> ids;   // what each name was when read (the entry itself, not a link's target)
    int skipped = 0;           // matching names beyond the list's capacity
};

// One reading of a folder's entries. Opening a folder lists its sub-folders and
// then its files in one step: the file listing that follows uses the reading the
// folder list made, so a large folder is read once.
struct FolderReading;
using FolderReadingPtr = std::shared_ptr<const FolderReading>;

// Regular files (or links to them) of `folder` whose names match, hidden dot-files
// left out, at most `capacity` names (the list's 16-bit limit), in natural order.
// Fails (Unreadable) when the folder cannot be read. `earlier` is a reading of the
// folder made a moment ago, used instead of reading it again while it is under a
// second old and the folder has not changed since.
Result<ScanResult> scanFolder(const QString &folder, const FilePattern &pattern, int capacity = 32767,
                              const FolderReadingPtr &earlier = {});

// Sub-folders of `folder` (hidden ones left out), in natural order; Unreadable
// when the folder cannot be read. *reading gets the reading made.
Result<QStringList> subFolders(const QString &folder, FolderReadingPtr *reading = nullptr);

// Case-insensitive natural order (IMG2 before IMG10) with Japanese collation,
// independent of the process locale.
void naturalSort(QStringList &names);
bool naturalLess(const QString &a, const QString &b);

}  // namespace pel
