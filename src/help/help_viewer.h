#pragma once
// The help viewer: a window of its own, owned by the window that asks for it
// (it closes with it), showing the program's help document. Linux has no system help viewer to hand
// "pelorinax.hlp" to; this stands in for it. The file is named without a folder,
// so the viewer searches the program's data folders for the name's stem with the
// document's extension (pelorinax.hlp -> pelorinax.html):
//   1. the folder of the executable (the document is copied there at build time),
//   2. $XDG_DATA_HOME/pelorinax (default ~/.local/share/pelorinax),
//   3. each of $XDG_DATA_DIRS under pelorinax/ (default /usr/local/share, /usr/share),
//   4. ../share/pelorinax from the executable's folder (an install under any prefix).
// A document that cannot be found is reported in the viewer's own window.
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>

class QTextBrowser;
class QToolButton;

namespace pel::help {

inline constexpr int kHelpContents = 3;   // show the help file's contents
inline const QString kDocumentSuffix = QStringLiteral(".html");

// What the search reads from the system, so a test can set it.
struct SearchPlaces {
    QString exeDir;     // the folder of the executable
    QString dataHome;   // $XDG_DATA_HOME as set (empty when unset)
    QString dataDirs;   // $XDG_DATA_DIRS as set (empty when unset)
    QString home;       // $HOME

    static SearchPlaces fromSystem();
    // The folders searched, in order. Relative entries of the XDG variables are
    // ignored, as the XDG base directory rules ask.
    QStringList folders() const;
};

// The file name the viewer looks for: the stem of `helpFile` with the document's
// extension ("pelorinax.hlp" -> "pelorinax.html").
QString documentName(const QString &helpFile);
// The first folder of `places` holding the document; empty when none does.
QString findDocument(const QString &helpFile, const SearchPlaces &places);

// Tests set the places searched; nothing returns to the system's.
void setSearchPlacesOverride(std::optional<SearchPlaces> places);

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
