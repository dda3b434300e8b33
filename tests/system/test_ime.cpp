// The input-method layer: what it asks of the input method and when (seen through
// a scripted Os), and the real Os against a stand-in fcitx5 controller on a
// private session bus that the test starts itself: which calls reach the bus, in
// what order, and that none is waited for.
#include "support/scripted_os.h"
#include "system/ime.h"
#include "system/os.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QtTest>

#include <signal.h>

using namespace pel;

class FakeController : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.fcitx.Fcitx.Controller1")
public:
    QStringList calls;
public slots:
    void Activate() { calls << QStringLiteral("Activate"); }
    void Deactivate() { calls << QStringLiteral("Deactivate"); }
};

class TestIme : public QObject {
    Q_OBJECT
    QProcess m_daemon;
    FakeController m_fake;
    QString m_address;
    QWidget m_window;
    QLineEdit *m_box = nullptr;
    QLineEdit *m_other = nullptr;

    // The controller answers on a connection of its own, as another process would.
    QDBusConnection fcitx() const { return QDBusConnection(QStringLiteral("fcitx")); }

private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed (scripts/setup.sh installs it)");
        m_daemon.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QVERIFY(m_daemon.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 10000);
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());
        // Before the layer first looks for the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());

        QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("fcitx"));
        QVERIFY(bus.isConnected());
        QVERIFY(bus.registerObject(QStringLiteral("/controller"), &m_fake, QDBusConnection::ExportAllSlots));

        m_window.setObjectName(QStringLiteral("Form9"));
        auto *layout = new QVBoxLayout(&m_window);
        m_box = new QLineEdit(&m_window);
        m_box->setObjectName(QStringLiteral("Text1"));
        m_other = new QLineEdit(&m_window);
        m_other->setObjectName(QStringLiteral("Text2"));
        layout->addWidget(m_box);
        layout->addWidget(m_other);
        m_window.show();
        QApplication::setActiveWindow(&m_window);
        QVERIFY(QTest::qWaitForWindowActive(&m_window));
    }
    void init()
    {
        m_fake.calls.clear();
        QVERIFY(fcitx().registerService(QStringLiteral("org.fcitx.Fcitx5")));
        m_other->setFocus();
        QTRY_VERIFY(m_other->hasFocus());
        QTest::qWait(20);   // the focus handlers have run
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("fcitx"));
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    void theFocusedBoxSwitchesAtOnceInOrder()
    {
        test::ScriptedOs os;
        m_box->setFocus();
        QTRY_VERIFY(m_box->hasFocus());
        QTest::qWait(20);
        os.inputMethod.clear();
        ime::setMode(m_box, ime::On);
        ime::setMode(m_box, ime::Hiragana);
        ime::setMode(m_box, ime::Off);
        QCOMPARE(os.inputMethod, (QList<bool>{true, true, false}));
        QCOMPARE(ime::mode(m_box), 2);
        QVERIFY(m_box->inputMethodHints() & Qt::ImhPreferLatin);
    }

    void aBoxWithoutTheFocusWaitsForIt()
    {
        test::ScriptedOs os;
        ime::setMode(m_box, ime::On);
        ime::setMode(m_box, ime::Hiragana);
        QVERIFY(m_box->testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(!(m_box->inputMethodHints() & Qt::ImhPreferLatin));
        QTest::qWait(50);
        QVERIFY(os.inputMethod.isEmpty());   // input for another box is not switched
        m_box->setFocus();
        QTRY_COMPARE(os.inputMethod, QList<bool>{true});   // the mode last asked, once
        m_other->setFocus();
        ime::setMode(m_box, ime::Off);
        QTest::qWait(50);
        QCOMPARE(os.inputMethod, QList<bool>{true});
        m_box->setFocus();   // and again each time the box gets the focus
        QTRY_COMPARE(os.inputMethod, (QList<bool>{true, false}));
    }

    void theFrameworkHearsEachSwitchInOrder()
    {
        os().switchInputMethod(true);
        os().switchInputMethod(true);
        os().switchInputMethod(false);
        QTRY_COMPARE(m_fake.calls, (QStringList{"Activate", "Activate", "Deactivate"}));
    }

    // A bus that does not answer (its daemon stopped) holds up nothing: the box
    // gets the focus at once, and the framework hears of it when the bus wakes.
    void neverWaitsForTheBus()
    {
        ime::setMode(m_box, ime::Hiragana);
        QVERIFY(::kill(pid_t(m_daemon.processId()), SIGSTOP) == 0);
        QElapsedTimer clock;
        clock.start();
        m_box->setFocus();
        QTest::qWait(50);   // the focus handler runs
        ime::setMode(m_box, ime::Off);
        const qint64 took = clock.elapsed();
        QVERIFY(::kill(pid_t(m_daemon.processId()), SIGCONT) == 0);
        QVERIFY2(took < 1000, qPrintable(QStringLiteral("the user interface waited %1 ms").arg(took)));
        QTRY_COMPARE(m_fake.calls, (QStringList{"Activate", "Deactivate"}));
    }

    void silentWhereNoFrameworkRuns()
    {
        QVERIFY(fcitx().unregisterService(QStringLiteral("org.fcitx.Fcitx5")));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        os().switchInputMethod(true);
        os().switchInputMethod(false);
        QTest::qWait(100);
        QVERIFY(m_fake.calls.isEmpty());
    }
};

QTEST_MAIN(TestIme)
#include "test_ime.moc"
