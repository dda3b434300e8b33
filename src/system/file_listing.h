#pragma once
// Listing a folder's picture files: the pattern, the scan and the order in which
// the user sees the names.
#include "system/file_id.h"
#include "system/result.h"

#include <QString>
#include <QStringList>

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

// Regular files (or links to them) of `folder` whose names match, hidden dot-files
// left out, at most `capacity` names (the list's 16-bit limit), in natural order.
// Fails (Unreadable) when the folder cannot be read.
Result<ScanResult> scanFolder(const QString &folder, const FilePattern &pattern, int capacity = 32767);

// Sub-folders of `folder` (hidden ones left out), in natural order; Unreadable
// when the folder cannot be read.
// Opening a folder lists its sub-folders and then its files in one step: the
// file listing of the same folder that follows in that step (before the event
// loop runs again) uses the reading made here, so a large folder is read once.
Result<QStringList> subFolders(const QString &folder);

// Case-insensitive natural order (IMG2 before IMG10) with Japanese collation,
// independent of the process locale.
void naturalSort(QStringList &names);
bool naturalLess(const QString &a, const QString &b);

}  // namespace pel
