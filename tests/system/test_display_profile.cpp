// The display's profile reaches the loader: through the Os (scripted), and from a real
// X server (Xvfb), where a colour daemon's change of the root window's _ICC_PROFILE is
// followed. The X part runs in a child process of this test, connected to the server.
#include "picture/colour.h"
#include "support/files.h"
#include "support/scripted_os.h"
#include "system/display_profile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

using pel::test::readFile;

namespace colour = pel::picture::colour;

namespace {

const QString kAdobe = QStringLiteral("/usr/share/color/icc/colord/AdobeRGB1998.icc");
const QString kApple = QStringLiteral("/usr/share/color/icc/colord/AppleRGB.icc");

// What a colour daemon does: sets (or, with empty bytes, deletes) the root's _ICC_PROFILE.
void publish(xcb_connection_t *c, const QByteArray &icc)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const auto cookie = xcb_intern_atom(c, 0, std::strlen(pel::display_profile::kAtomName), pel::display_profile::kAtomName);
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(c, cookie, nullptr);
    if (icc.isEmpty())
        xcb_delete_property(c, root, atom->atom);
    else
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 8, uint32_t(icc.size()), icc.constData());
    std::free(atom);
    // A round trip, so the server has made the change before another client asks:
    // the server does not order requests from different connections.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The child: the program's start-up against a real X server.
int xChild(int argc, char **argv)
{
    const QByteArray adobe = readFile(kAdobe), apple = readFile(kApple);
    QGuiApplication app(argc, argv);
    xcb_connection_t *daemon = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(daemon))
        return 10;
    int changes = 0;
    QObject::connect(pel::display_profile::notifier(), &pel::display_profile::Notifier::changed, [&] { ++changes; });
    publish(daemon, adobe);  // already there when the program starts
    pel::display_profile::start();
    if (colour::displayProfile() != adobe || colour::displayIsSrgb())
        return 11;
    publish(daemon, apple);
    if (!waitFor([&] { return colour::displayProfile() == apple; }))
        return 12;
    publish(daemon, QByteArray(500, 'x'));  // unusable: sRGB
    if (!waitFor([&] { return colour::displayProfile().isEmpty() && colour::displayIsSrgb(); }))
        return 13;
    publish(daemon, adobe);
    if (!waitFor([&] { return colour::displayProfile() == adobe; }))
        return 14;
    publish(daemon, {});
    if (!waitFor([&] { return colour::displayProfile().isEmpty(); }))
        return 15;
    if (changes != 5)   // each step above changed the colours on screen
        return 16;
    xcb_disconnect(daemon);
    return 0;
}

}  // namespace

class TestDisplayProfile : public QObject {
    Q_OBJECT

private slots:
    void throughTheOs_data()
    {
        QTest::addColumn<QByteArray>("published");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<bool>("srgb");
        QTest::newRow("none") << QByteArray() << false << true;
        QTest::newRow("Adobe RGB") << readFile(kAdobe) << true << false;
        QTest::newRow("not a profile") << QByteArray(700, '\x7f') << false << true;
    }
    void throughTheOs()
    {
        QFETCH(QByteArray, published);
        QFETCH(bool, kept);
        QFETCH(bool, srgb);
        if (kept && published.isEmpty())
            QSKIP("colord-data's profiles are not installed");
        pel::test::ScriptedOs os;
        QSignalSpy changes(pel::display_profile::notifier(), &pel::display_profile::Notifier::changed);
        os.displayIcc = published;
        pel::display_profile::refresh();
        QCOMPARE(colour::displayProfile(), kept ? published : QByteArray());
        QCOMPARE(colour::displayIsSrgb(), srgb);
        // The windows hear of a change of the colours on screen only, at once.
        QCOMPARE(changes.count(), srgb ? 0 : 1);
        pel::display_profile::refresh();   // read again, the same
        QCOMPARE(changes.count(), srgb ? 0 : 1);
        os.displayIcc.clear();
        pel::display_profile::refresh();
        QVERIFY(colour::displayIsSrgb());
        QCOMPARE(changes.count(), srgb ? 0 : 2);
    }

    void followsTheRootWindow()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed");
        if (readFile(kAdobe).isEmpty() || readFile(kApple).isEmpty())
            QSKIP("colord-data's profiles are not installed");
        QProcess server;
        server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("640x480x24")});
        QVERIFY(server.waitForStarted());
        QByteArray number;
        while (!number.contains('\n') && server.waitForReadyRead(10000))
            number += server.readAllStandardOutput();
        QVERIFY2(!number.trimmed().isEmpty(), "Xvfb gave no display number");

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(number.trimmed()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("PEL_DISPLAY_PROFILE_CHILD"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        server.terminate();
        server.waitForFinished(5000);
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);  // 11..16: the step of xChild that failed
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("PEL_DISPLAY_PROFILE_CHILD"))
        return xChild(argc, argv);
    QGuiApplication app(argc, argv);
    TestDisplayProfile test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_display_profile.moc"
