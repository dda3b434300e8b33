#pragma once
// The command line: pelorinax [FOLDER | FILE], --help, --version.
#include <QString>
#include <QStringList>
#include <optional>

namespace pel {

class Form1;

struct CommandLine {
    enum class Action { Start, Help, Version, Misuse };
    Action action = Action::Start;
    QString startFolder;   // the folder to start in (canonical); empty: the current one
    QString pickName;      // a file of startFolder to pick once the main window shows
    QString message;       // one line for standard error: a misuse, or a path we cannot open

    // `args` are the arguments after the program's name.
    static CommandLine parse(const QStringList &args);
    static QStringList arguments(int argc, char *argv[]);
    static QString helpText();
    static QString versionLine();   // "pelorinax Ver.1.23"

    // Prints what the command line asks for or has to say (help and version on
    // standard output, the message on standard error). Returns the exit status
    // when the program ends here; nothing when it goes on to start.
    std::optional<int> report() const;
};

// Makes the start folder current, so that the main window loads there. False
// (and one line on standard error) when it can no longer be entered.
bool enterStartFolder(const CommandLine &cmd);
// The folder the main window starts in: the one entered, else the current one.
QString startFolder();

// Picks the start file in List1 of the shown main window, as a click on it does:
// the list takes the focus and the file is previewed. False (and one line on
// standard error) when the list does not show that file.
bool pickStartFile(Form1 &main, const CommandLine &cmd);

}  // namespace pel
