// File names between bytes and text: every byte string comes back exactly, and
// what the user reads tells different names apart.
#include "system/fsname.h"

#include <QtTest>

using namespace pel;

class TestFsName : public QObject {
    Q_OBJECT
private slots:
    void everyByteStringComesBack_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("ascii") << QByteArray("a.bmp") << true;
        QTest::newRow("japanese") << QByteArray("\xe5\x86\x99\xe7\x9c\x9f.jpg") << true;
        QTest::newRow("four-byte") << QByteArray("\xf0\x9f\x93\xb7.jpg") << true;
        QTest::newRow("replacement character itself") << QByteArray("x\xef\xbf\xbd.bmp") << true;
        QTest::newRow("lone 0xff") << QByteArray("x\xff.bmp") << false;
        QTest::newRow("latin-1") << QByteArray("caf\xe9.jpg") << false;
        QTest::newRow("shift_jis") << QByteArray("\x8e\xca\x90\x5e.jpg") << false;
        QTest::newRow("cut sequence") << QByteArray("a\xe5\x86") << false;
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xb3\xbf") << false;
        QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("continuation alone") << QByteArray("\x80\x80z") << false;
        QTest::newRow("escape text literally") << QByteArray("x\\xFF.bmp") << true;
        QByteArray all;
        for (int b = 1; b < 256; ++b)
            all.append(char(b));
        QTest::newRow("every byte") << all << false;
    }
    void everyByteStringComesBack()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, utf8);
        const QString name = fsname::decode(bytes);
        QCOMPARE(fsname::encode(name), bytes);
        QCOMPARE(fsname::hasRawBytes(name), !utf8);
        if (utf8)
            QCOMPARE(name, QString::fromUtf8(bytes));   // valid UTF-8 is plain text
        // What the user reads has no lone surrogates, and is the name itself for UTF-8.
        const QString shown = fsname::display(name);
        QVERIFY(shown.isValidUtf16());
        QCOMPARE(shown == name, utf8);
    }

    void rawBytesReadAsHex()
    {
        QCOMPARE(fsname::display(fsname::decode(QByteArray("x\xff.bmp"))), QStringLiteral("x\\xFF.bmp"));
        QCOMPARE(fsname::display(fsname::decode(QByteArray("caf\xe9\x80"))), QStringLiteral("caf\\xE9\\x80"));
    }

    void noTwoEntriesReadAlike()
    {
        const QString raw = fsname::decode(QByteArray("x\xff.bmp"));
        const QString literal = QStringLiteral("x\\xFF.bmp");
        const QString replacement = fsname::decode(QByteArray("x\xef\xbf\xbd.bmp"));
        const QString raw2 = fsname::decode(QByteArray("x\\xFF\xff.bmp"));
        const QString raw3 = fsname::decode(QByteArray("x\xff\\xFF.bmp"));
        const QStringList names{raw, literal, replacement, QStringLiteral("a.bmp"), raw2, raw3};
        const QStringList shown = fsname::displayDistinct(names);
        QCOMPARE(shown.size(), names.size());
        QCOMPARE(QSet<QString>(shown.begin(), shown.end()).size(), names.size());
        QCOMPARE(shown.at(1), literal);   // names of UTF-8 show as they are
        QCOMPARE(shown.at(2), replacement);
        QCOMPARE(shown.at(3), QStringLiteral("a.bmp"));
        QVERIFY(shown.at(0).startsWith(literal));
        const QStringList plain{QStringLiteral("a.bmp"), QStringLiteral("b.bmp")};
        QCOMPARE(fsname::displayDistinct(plain), plain);
    }
};

QTEST_GUILESS_MAIN(TestFsName)
#include "test_fsname.moc"
