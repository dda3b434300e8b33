// The input-method layer against a stand-in fcitx5 controller on a private session
// bus that the test starts itself: which calls reach the bus, and in what order.
#include "system/ime.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QtTest>

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
        ime::clearRequests();
        m_fake.calls.clear();
        QVERIFY(fcitx().registerService(QStringLiteral("org.fcitx.Fcitx5")));
        m_other->setFocus();
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("fcitx"));
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    void theFocusedBoxSwitchesInOnAndOffInOrder()
    {
        m_box->setFocus();
        QTRY_VERIFY(m_box->hasFocus());
        QTest::qWait(20);
        m_fake.calls.clear();
        ime::setMode(m_box, ime::On);
        ime::setMode(m_box, ime::Hiragana);
        ime::setMode(m_box, ime::Off);
        QTRY_COMPARE(m_fake.calls, (QStringList{"Activate", "Activate", "Deactivate"}));
        QCOMPARE(ime::requests(), (QStringList{"Form9.Text1:1", "Form9.Text1:4", "Form9.Text1:2"}));
        QCOMPARE(ime::mode(m_box), 2);
        QVERIFY(m_box->inputMethodHints() & Qt::ImhPreferLatin);
    }

    void aBoxWithoutTheFocusWaitsForIt()
    {
        ime::setMode(m_box, ime::On);
        ime::setMode(m_box, ime::Hiragana);
        QVERIFY(m_box->testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(!(m_box->inputMethodHints() & Qt::ImhPreferLatin));
        QTest::qWait(50);
        QVERIFY(m_fake.calls.isEmpty());   // input for another box is not switched
        m_box->setFocus();
        QTRY_COMPARE(m_fake.calls, QStringList{"Activate"});   // the mode last asked, once
        m_other->setFocus();
        m_box->setFocus();   // and again each time the box gets the focus
        QTRY_COMPARE(m_fake.calls, (QStringList{"Activate", "Activate"}));
        QCOMPARE(ime::requests(), (QStringList{"Form9.Text1:1", "Form9.Text1:4"}));
    }

    void silentWhereNoFrameworkRuns()
    {
        QVERIFY(fcitx().unregisterService(QStringLiteral("org.fcitx.Fcitx5")));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        m_box->setFocus();
        QTRY_VERIFY(m_box->hasFocus());
        ime::setMode(m_box, ime::Hiragana);
        ime::setMode(m_box, ime::Off);
        QTest::qWait(50);
        QVERIFY(m_fake.calls.isEmpty());
        QCOMPARE(ime::requests().size(), 2);   // still recorded
    }
};

QTEST_MAIN(TestIme)
#include "test_ime.moc"
