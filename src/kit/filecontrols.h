#pragma once
// The drive list, the folder list and the (hidden) file list.
#include "kit/controls.h"
#include "system/file_listing.h"

#include <QComboBox>
#include <QListWidget>
#include <QObject>

namespace pel::kit {

// The mounted volumes; Drive is the root of the chosen one. Setting a different
// drive, by the user or by code, runs Change.
class DriveListBox : public Twips<QComboBox> {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget *parent);
    QString Drive() const { return m_drive; }
    void setDrive(const QString &root);
    void refreshVolumes();
    void setBackColor(const QColor &c);
    QColor backColor() const { return m_back; }
signals:
    void Change();
    void GotFocus();
protected:
    void focusInEvent(QFocusEvent *e) override;
    void showPopup() override;
private:
    void showDrive(const QString &root);
    QString m_drive;
    QColor m_back;
};

// The folder list: the parent chain of Path, then its sub-folders. Setting a
// different path runs Change; a double-click opens the entry, moving the
// highlight opens nothing.
class DirListBox : public Twips<QListWidget> {
    Q_OBJECT
public:
    explicit DirListBox(QWidget *parent);
    QString Path() const { return m_path; }
    void setPath(const QString &path);
    // The path without reading the folder (Change does not run): the entries are
    // the parent chain alone until showSubFolders() gives the rest, read elsewhere.
    void setPathUnread(const QString &path);
    void showSubFolders(const Result<QStringList> &subs);
    // The folder of the highlighted entry (Path itself when nothing else is highlighted).
    QString highlightedPath() const;
    bool lastReadable() const { return m_readable; }
    void setBackColor(const QColor &c);
    QColor backColor() const { return m_back; }
signals:
    void Change();
    void GotFocus();
protected:
    void focusInEvent(QFocusEvent *e) override;
private:
    void fill();
    void showEntries(const Result<QStringList> &subs);
    QString m_path;
    QColor m_back;
    bool m_readable = true;
};

// The hidden file list: the names in Path that match Pattern, sorted.
class FileListBox : public QObject {
    Q_OBJECT
public:
    explicit FileListBox(QObject *parent);
    QString Path() const { return m_path; }
    void setPath(const QString &path);
    QString Pattern() const { return m_pattern.text(); }
    void setPattern(const QString &pattern);
    int ListCount() const { return int(m_names.size()); }
    QString List(int i) const { return (i >= 0 && i < m_names.size()) ? m_names.at(i) : QString(); }
    const QStringList &names() const { return m_names; }
    // What each name was when the folder was read.
    const std::vector<FileId> &ids() const { return m_ids; }
    void Refresh();
    // Path and pattern without reading the folder: no names until setListing()
    // gives what was read elsewhere.
    void setUnread(const QString &path, const QString &pattern);
    void setListing(Result<ScanResult> listing);
private:
    QString m_path;
    FilePattern m_pattern;
    QStringList m_names;
    std::vector<FileId> m_ids;
};

}  // namespace pel::kit
