#include "app/command_line.h"

#include "app/state/Form1.h"
#include "app/version.h"
#include "system/drives.h"
#include "system/fsname.h"
#include "system/storage.h"

#include <QCommandLineParser>
#include <QDir>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace pel {
namespace {

// How long the start looks at a path before the window shows without waiting more.
constexpr int kStartCheckMs = 100;
QString g_startFolder;   // entered, or at least asked for

void printLine(std::FILE *to, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), to);
    std::fflush(to);
}

CommandLine misuse(const QString &what)
{
    CommandLine c;
    c.action = CommandLine::Action::Misuse;
    c.message = QStringLiteral("pelorinax: %1 (pelorinax --help shows the usage)").arg(what);
    return c;
}

// A path the user gave that we cannot start with: they still get the program,
// in the current folder, with one line saying why.
CommandLine unusable(const QString &path, const QString &why)
{
    CommandLine c;
    c.message = QStringLiteral("pelorinax: %1: %2; starting in the current folder").arg(fsname::display(path), why);
    return c;
}

CommandLine checkedStart(const QString &path)
{
    const QByteArray bytes = fsname::encode(path);
    struct stat st;
    if (::stat(bytes.constData(), &st) != 0)
        return unusable(path, QStringLiteral("no such file or folder"));
    const QString absolute = fsname::absolute(path);
    if (S_ISDIR(st.st_mode)) {
        if (!Drives::isReadable(absolute))
            return unusable(path, QStringLiteral("the folder cannot be read"));
        CommandLine c;
        c.startFolder = fsname::canonical(absolute);
        return c;
    }
    if (!S_ISREG(st.st_mode))
        return unusable(path, QStringLiteral("not a folder or a picture file"));
    // The folder as the user named it (a link to a picture elsewhere is listed
    // under its own name, in the folder it sits in).
    const qsizetype slash = absolute.lastIndexOf(QLatin1Char('/'));
    const QString folder = fsname::canonical(slash > 0 ? absolute.left(slash) : QStringLiteral("/"));
    if (::access(bytes.constData(), R_OK) != 0 || folder.isEmpty() || !Drives::isReadable(folder))
        return unusable(path, QStringLiteral("the file cannot be read"));
    CommandLine c;
    c.startFolder = folder;
    c.pickName = absolute.mid(slash + 1);
    return c;
}

// What the path names is looked at on a worker: a share that does not answer at
// once must not keep the window from showing. Its folder is then taken as given
// and read once the window shows (where a share that never answers is reported).
CommandLine startWith(const QString &path)
{
    const QString absolute = fsname::absolute(path);
    storage::Pending<CommandLine> checked =
        storage::start(absolute, storage::Limit::Answer, [path] { return checkedStart(path); });
    if (checked.doneWithin(kStartCheckMs))
        return checked.takeDone().value;
    CommandLine c;
    c.startFolder = absolute;
    return c;
}

// The option as the user typed it ("-dash.bmp", "--slideshow=3"), from the name
// the parser reports.
QString typedOption(const QStringList &args, const QString &name)
{
    for (const QString &a : args) {
        if (a == QLatin1String("--"))
            break;
        const qsizetype dashes = a.startsWith(QLatin1String("--")) ? 2 : a.startsWith(QLatin1Char('-')) ? 1 : 0;
        if (dashes > 0 && a.mid(dashes).section(QLatin1Char('='), 0, 0) == name)
            return a;
    }
    return QStringLiteral("--") + name;
}

}  // namespace

QStringList CommandLine::arguments(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << fsname::decode(QByteArray(argv[i]));
    return args;
}

CommandLine CommandLine::parse(const QStringList &args)
{
    QCommandLineParser parser;
    // One dash and a word is one option: "-dash.bmp" is refused as itself, not
    // as the letters d, a, s, h (which would ask for the help).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("V"), QStringLiteral("version")});
    parser.addOption(help);
    parser.addOption(version);
    const bool understood = parser.parse(QStringList{QStringLiteral("pelorinax")} + args);
    // Help and version win over paths and mistakes alike.
    if (parser.isSet(help) || parser.isSet(version)) {
        CommandLine c;
        c.action = parser.isSet(help) ? Action::Help : Action::Version;
        return c;
    }
    if (!understood) {
        const QStringList unknown = parser.unknownOptionNames();
        return misuse(unknown.isEmpty() ? parser.errorText()
                                        : QStringLiteral("unknown option %1").arg(typedOption(args, unknown.first())));
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.size() > 1)
        return misuse(QStringLiteral("one folder or picture file at most, not %1").arg(paths.size()));
    if (paths.isEmpty())
        return CommandLine();
    return startWith(paths.first());
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "Usage: pelorinax [FOLDER | FILE]\n"
        "A picture viewer with a Japanese interface: lists the pictures of a folder,\n"
        "previews them, shows them at actual size and runs slideshows.\n"
        "\n"
        "  FOLDER         start in FOLDER instead of the current folder\n"
        "  FILE           start in the folder of FILE, with FILE picked and previewed\n"
        "  -h, --help     show this help and exit\n"
        "  -V, --version  show the version and exit\n"
        "  --             what follows is a path, even if it starts with -\n");
}

QString CommandLine::versionLine() { return QStringLiteral("pelorinax ") + versionText(); }

std::optional<int> CommandLine::report() const
{
    switch (action) {
    case Action::Help:
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case Action::Version:
        printLine(stdout, versionLine());
        return 0;
    case Action::Misuse:
        printLine(stderr, message);
        return 2;
    case Action::Start:
        if (!message.isEmpty())
            printLine(stderr, message);
        return std::nullopt;
    }
    return std::nullopt;
}

QString startFolder() { return g_startFolder.isEmpty() ? fsname::currentFolder() : g_startFolder; }

bool enterStartFolder(const CommandLine &cmd)
{
    if (cmd.startFolder.isEmpty())
        return true;
    // On a worker, as the look at the path: a folder that does not answer at once
    // is started in all the same, and read (or reported) once the window shows.
    g_startFolder = cmd.startFolder;
    storage::Pending<bool> entered = storage::start(cmd.startFolder, storage::Limit::Answer,
                                                    [folder = cmd.startFolder] { return fsname::setCurrentFolder(folder); });
    if (!entered.doneWithin(kStartCheckMs) || entered.takeDone().value)
        return true;
    g_startFolder.clear();
    printLine(stderr, QStringLiteral("pelorinax: %1: the folder cannot be entered; starting in the current folder")
                          .arg(fsname::display(cmd.startFolder)));
    return false;
}

bool pickStartFile(Form1 &main, const CommandLine &cmd)
{
    if (cmd.pickName.isEmpty())
        return true;
    kit::ListBox *list = main.List1;
    for (int i = 0; i < list->ListCount(); ++i) {
        if (list->List(i) == cmd.pickName) {
            list->setFocus(Qt::MouseFocusReason);
            list->setListIndex(i);
            return true;
        }
    }
    printLine(stderr, QStringLiteral("pelorinax: %1 is not among the pictures listed in %2; nothing is picked")
                          .arg(fsname::display(cmd.pickName), fsname::display(main.File1->Path())));
    return false;
}

}  // namespace pel
