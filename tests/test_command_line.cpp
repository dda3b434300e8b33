// The command line: what a path or an option starts, the pick of a start file, and
// the real program's answers before it opens a window.
#include "app/command_line.h"
#include "app/version.h"
#include "support/windows.h"

#include <QProcess>
#include <unistd.h>

using namespace pel;
using namespace pel::test;

class TestCommandLine : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    QString m_pictures;   // a folder of pictures inside the fixture's folder

    static CommandLine parse(const QStringList &args) { return CommandLine::parse(args); }

    // Runs the program itself with `args`, without a display unless `display` is given,
    // and with its own runtime folder for the single-instance lock.
    struct Run {
        int status = -1;
        QString out, err;
    };
    Run runProgram(const QStringList &args, const QString &runtimeDir, const QString &display = QString())
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(v));
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(PEL_PROGRAM), args);
        Run r;
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    QString privateRuntimeDir(QTemporaryDir &d)
    {
        QFile::setPermissions(d.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return d.path();
    }

private slots:
    void initTestCase()
    {
        QDir(fx.folder()).mkpath(QStringLiteral("pics/sub"));
        m_pictures = fx.folder() + QStringLiteral("/pics");
        makePicture(m_pictures + QStringLiteral("/IMG10.bmp"), 40, 30, "BMP");
        makePicture(m_pictures + QStringLiteral("/IMG2.bmp"), 40, 30, "BMP", Qt::red);
        makePicture(m_pictures + QStringLiteral("/-dash.bmp"), 40, 30, "BMP");
        makePicture(m_pictures + QStringLiteral("/anim.gif"), 10, 10, "PNG");
        QFile::link(m_pictures, fx.folder() + QStringLiteral("/link"));
    }
    void cleanup() { fx.stop(); }

    void aPathChoosesTheStartFolderAndTheFile()
    {
        CommandLine c = parse({m_pictures + QStringLiteral("/sub/")});
        QCOMPARE(c.action, CommandLine::Action::Start);
        QCOMPARE(c.startFolder, m_pictures + QStringLiteral("/sub"));
        QVERIFY(c.pickName.isEmpty());
        QVERIFY(c.message.isEmpty());

        // Relative to the current folder, through a link to the folder.
        QDir::setCurrent(fx.folder());
        c = parse({QStringLiteral("link/IMG2.bmp")});
        QCOMPARE(c.startFolder, m_pictures);
        QCOMPARE(c.pickName, QStringLiteral("IMG2.bmp"));
        QVERIFY(c.message.isEmpty());

        // After "--" a name that starts with a dash is a path.
        QDir::setCurrent(m_pictures);
        c = parse({QStringLiteral("--"), QStringLiteral("-dash.bmp")});
        QCOMPARE(c.action, CommandLine::Action::Start);
        QCOMPARE(c.pickName, QStringLiteral("-dash.bmp"));
        QCOMPARE(parse({QStringLiteral("-dash.bmp")}).action, CommandLine::Action::Misuse);
    }

    void aPathThatCannotBeOpenedStartsInTheCurrentFolderWithOneLine()
    {
        const QString missing = m_pictures + QStringLiteral("/gone.jpg");
        for (const QString &path : {missing, QStringLiteral("/dev/null")}) {
            const CommandLine c = parse({path});
            QCOMPARE(c.action, CommandLine::Action::Start);
            QVERIFY(c.startFolder.isEmpty());
            QVERIFY(c.pickName.isEmpty());
            QVERIFY2(c.message.contains(path) && !c.message.contains(QLatin1Char('\n')), qPrintable(c.message));
        }
    }

    void aFolderThatCannotBeReadStartsInTheCurrentFolder()
    {
        if (geteuid() == 0)
            QSKIP("permissions do not stop root from reading");
        const QString locked = fx.folder() + QStringLiteral("/locked");
        QDir().mkpath(locked);
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        const CommandLine c = parse({locked});
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(c.startFolder.isEmpty());
        QVERIFY(c.message.contains(locked));
    }

    void optionsWinOverPathsAndMisuseIsRefused()
    {
        QCOMPARE(parse({QStringLiteral("/nowhere"), QStringLiteral("--help")}).action, CommandLine::Action::Help);
        QCOMPARE(parse({QStringLiteral("-h")}).action, CommandLine::Action::Help);
        QCOMPARE(parse({QStringLiteral("--version"), m_pictures}).action, CommandLine::Action::Version);
        QCOMPARE(parse({QStringLiteral("-V")}).action, CommandLine::Action::Version);
        QCOMPARE(parse({QStringLiteral("--"), QStringLiteral("--help")}).action, CommandLine::Action::Start);
        // An unknown option is named as typed, in one line.
        for (const QString &typed : {QStringLiteral("--slideshow"), QStringLiteral("--slideshow=3"),
                                     QStringLiteral("-dash.bmp")}) {
            const CommandLine unknown = parse({m_pictures, typed});
            QCOMPARE(unknown.action, CommandLine::Action::Misuse);
            QVERIFY2(unknown.message.contains(typed + QLatin1Char(' ')) && !unknown.message.contains(QLatin1Char('\n')),
                     qPrintable(unknown.message));
        }
        QCOMPARE(parse({QStringLiteral("--bogus"), QStringLiteral("--help")}).action, CommandLine::Action::Help);
        QCOMPARE(parse({m_pictures, m_pictures}).action, CommandLine::Action::Misuse);
        QCOMPARE(parse({}).action, CommandLine::Action::Start);
        QVERIFY(parse({}).startFolder.isEmpty());
    }

    void theStartFileIsPickedAndPreviewedAsAClickDoes()
    {
        const CommandLine c = parse({m_pictures + QStringLiteral("/IMG2.bmp")});
        QVERIFY(enterStartFolder(c));
        Form1 &f = fx.start(QDir::currentPath());
        QCOMPARE(f.File1->Path(), m_pictures);
        QVERIFY(f.canvas->painted().isEmpty());
        QVERIFY(pickStartFile(f, c));
        QCOMPARE(f.List1->Text(), QStringLiteral("IMG2.bmp"));
        QCOMPARE(Module1::file_name, QStringLiteral("IMG2.bmp"));
        QCOMPARE(f.canvas->painted().size(), 1);
        QCOMPARE(f.canvas->painted().first().image.pixelColor(39, 29), QColor(Qt::red));
        QCOMPARE(f.focusWidget(), static_cast<QWidget *>(f.List1));
        QVERIFY(Module1::actual_flag == 0 && Module1::slide_flag == 0);
    }

    void aFileTheListDoesNotShowIsNotPicked()
    {
        const CommandLine c = parse({m_pictures + QStringLiteral("/anim.gif")});
        QCOMPARE(c.startFolder, m_pictures);   // a file that exists: its folder is entered
        QVERIFY(enterStartFolder(c));
        Form1 &f = fx.start(QDir::currentPath());
        QVERIFY(!pickStartFile(f, c));
        QCOMPARE(f.List1->ListIndex(), -1);
        QVERIFY(f.canvas->painted().isEmpty());
    }

    void helpAndVersionNeitherOpenAWindowNorTakeTheLock()
    {
        QTemporaryDir runtime;
        const QString dir = privateRuntimeDir(runtime);
        // The version is the text the version window shows.
        fx.start();
        const QString shown = Module1::ver_str;
        fx.stop();
        const Run version = runProgram({QStringLiteral("--version")}, dir);
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QStringLiteral("pelorinax ") + shown + QLatin1Char('\n'));
        QCOMPARE(shown, versionText());

        const Run help = runProgram({QStringLiteral("--help"), QStringLiteral("/nowhere")}, dir);
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.startsWith(QStringLiteral("Usage: pelorinax [FOLDER | FILE]")));
        QVERIFY(help.err.isEmpty());
        // No lock file: the lock was never asked for.
        QVERIFY(QDir(dir).isEmpty());

        const Run wrong = runProgram({QStringLiteral("--bogus")}, dir);
        QCOMPARE(wrong.status, 2);
        QCOMPARE(wrong.err.count(QLatin1Char('\n')), 1);
    }

    void withoutADisplayItSaysSoInOneLine()
    {
        QTemporaryDir runtime;
        const QString dir = privateRuntimeDir(runtime);
        // A display number with no server behind it.
        int n = 90;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
            ++n;
        const QString display = QStringLiteral(":%1").arg(n);
        const Run gone = runProgram({}, dir, display);
        QCOMPARE(gone.status, 1);
        QCOMPARE(gone.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(gone.err.contains(display), qPrintable(gone.err));

        const Run unset = runProgram({m_pictures}, dir);
        QCOMPARE(unset.status, 1);
        QCOMPARE(unset.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(unset.err.contains(QStringLiteral("DISPLAY")), qPrintable(unset.err));
    }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
