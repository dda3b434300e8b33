#pragma once
// The help viewer: a window of its own, owned by the window that asks for it
// (it closes with it), showing the program's help document. Linux has no system help viewer to hand
// "pelorinax.hlp" to; this stands in for it. The file is named without a folder,
// so the viewer searches the program's data folders for the name's stem with the
// document's extension (pelorinax.hlp -> pelorinax.html):
//   1. the folder of the executable (the document is copied there at build time),
//   2. the generic data folders under pelorinax/, as QStandardPaths knows them
//      ($XDG_DATA_HOME, then each of $XDG_DATA_DIRS, with their defaults),
//   3. ../share/pelorinax from the executable's folder (an install under any prefix).
// A document that cannot be found is reported in the viewer's own window.
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

class QTextBrowser;
class QToolButton;

namespace pel::help {

inline constexpr int kHelpContents = 3;   // show the help file's contents
inline const QString kDocumentSuffix = QStringLiteral(".html");

// The folders searched, in order.
QStringList searchFolders();

// The file name the viewer looks for: the stem of `helpFile` with the document's
// extension ("pelorinax.hlp" -> "pelorinax.html").
QString documentName(const QString &helpFile);
// The document in the first folder that holds it; empty when none does.
QString findDocument(const QString &helpFile);

class HelpViewer : public QWidget {
    Q_OBJECT
public:
    HelpViewer(QWidget *owner, const QString &helpFile);

    // Searches for the document and shows its contents, or the report that it
    // is missing.
    void showContents();
    bool documentFound() const { return !m_path.isEmpty(); }
    QString documentPath() const { return m_path; }
    QWidget *owner() const { return m_owner; }

    QTextBrowser *browser;

private:
    void showMissing(const QString &name, const QStringList &folders);

    QPointer<QWidget> m_owner;
    QString m_helpFile;
    QString m_path;
    QToolButton *m_back;
    QToolButton *m_forward;
    QToolButton *m_contents;
};

// Opens `helpFile` in the help viewer owned by `owner`, or brings the open viewer
// forward; returns at once (the caller never waits). `command` 3 shows the
// contents; the viewer knows no other command. Returns whether the document was
// found (the viewer's window reports it either way).
bool WinHelp(QWidget *owner, const QString &helpFile, int command, int data);

// The open viewer, if any.
HelpViewer *viewer();
// Closes the viewer (the program's shutdown).
void closeViewer();

}  // namespace pel::help
