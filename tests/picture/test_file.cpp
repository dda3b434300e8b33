// Descriptors that close themselves, file stamps, and reads at an offset.
#include "picture/file.h"
#include "support/files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using pel::FileStamp;
using pel::UniqueFd;
using pel::test::writeFile;

namespace {

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

std::optional<FileStamp> stampOf(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const UniqueFd fd(::open(name.constData(), O_RDONLY | O_CLOEXEC));
    return FileStamp::of(fd.get(), name);
}

constexpr qint64 kSecond = 1'000'000'000;

}  // namespace

class TestFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    // One owner at a time: the descriptor is closed exactly when its last owner goes.
    void uniqueFdOwnsOneDescriptor()
    {
        int a = -1, b = -1;
        {
            UniqueFd first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            a = first.get();
            QVERIFY(first.valid() && isOpen(a));
            UniqueFd second(std::move(first));
            QVERIFY(!first.valid());
            QCOMPARE(second.get(), a);
            UniqueFd third(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            b = third.get();
            third = std::move(second);   // b is closed, a changes hands
            QVERIFY(!isOpen(b));
            QVERIFY(isOpen(a));
            QCOMPARE(third.get(), a);
        }
        QVERIFY(!isOpen(a));

        UniqueFd kept(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        const int released = kept.release();
        QVERIFY(!kept.valid());
        { const UniqueFd gone(std::move(kept)); }
        QVERIFY(isOpen(released));   // released: not closed by its former owner
        ::close(released);
    }

    // The same content gives the same stamp; every kind of change gives another.
    void stampTellsVersionsApart_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("nothing") << "";
        QTest::newRow("rewritten in place, same size") << "rewrite";
        QTest::newRow("grown") << "append";
        QTest::newRow("replaced by a rename") << "rename";
        QTest::newRow("mtime put back after a rewrite") << "restore-mtime";
    }
    void stampTellsVersionsApart()
    {
        QFETCH(QString, change);
        const QString path = dir.filePath(QStringLiteral("stamped.bin"));
        const QString other = dir.filePath(QStringLiteral("other.bin"));
        QVERIFY(writeFile(path, "12345678") && writeFile(other, "abcdefgh"));
        const auto before = stampOf(path);
        QVERIFY(before);
        QCOMPARE(before->size, qint64(8));
        QCOMPARE(before->path, QFile::encodeName(path));
        QTest::qSleep(20);   // past the file system's clock tick
        if (change == QLatin1String("rewrite") || change == QLatin1String("restore-mtime")) {
            QVERIFY(writeFile(path, "87654321"));
        } else if (change == QLatin1String("append")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append) && f.write("9") == 1);
        } else if (change == QLatin1String("rename")) {
            QCOMPARE(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
        }
        if (change == QLatin1String("restore-mtime")) {
            const timespec times[2] = {{0, UTIME_OMIT}, {before->modifiedNs / kSecond, before->modifiedNs % kSecond}};
            QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        }
        const auto after = stampOf(path);
        QVERIFY(after);
        QCOMPARE(*after == *before, change.isEmpty());
        QVERIFY(!FileStamp::of(-1, QFile::encodeName(path)));
    }

    // A stamp may be trusted to show later changes once the file's last change, of its
    // data or of its inode, is a few seconds older than the moment it was read.
    void settledRule_data()
    {
        QTest::addColumn<qint64>("modifiedAgo");
        QTest::addColumn<qint64>("changedAgo");
        QTest::addColumn<bool>("settled");
        QTest::newRow("both old") << 10 * kSecond << 10 * kSecond << true;
        QTest::newRow("data just written") << kSecond << 10 * kSecond << false;
        QTest::newRow("inode just changed") << 10 * kSecond << kSecond << false;
        QTest::newRow("exactly the settling time") << FileStamp::kSettleNs << FileStamp::kSettleNs << false;
        QTest::newRow("in the future") << -10 * kSecond << -10 * kSecond << false;
    }
    void settledRule()
    {
        QFETCH(qint64, modifiedAgo);
        QFETCH(qint64, changedAgo);
        QFETCH(bool, settled);
        const qint64 now = FileStamp::nowNs();
        FileStamp s;
        s.modifiedNs = now - modifiedAgo;
        s.changedNs = now - changedAgo;
        QCOMPARE(s.settledAt(now), settled);
    }

    // Short only at the end of the file; an error is not mistaken for the end.
    void readAtOffset()
    {
        const QString path = dir.filePath(QStringLiteral("read.bin"));
        QVERIFY(writeFile(path, "0123456789"));
        QString error;
        const UniqueFd fd = pel::openRegularFile(QFile::encodeName(path), &error);
        QVERIFY2(fd.valid(), qPrintable(error));
        char buffer[16] = {};
        QCOMPARE(pel::readAt(fd.get(), buffer, 4, 3), qint64(4));
        QCOMPARE(QByteArray(buffer, 4), QByteArray("3456"));
        QCOMPARE(pel::readAt(fd.get(), buffer, 16, 6), qint64(4));
        QCOMPARE(pel::readAt(fd.get(), buffer, 16, 10), qint64(0));
        const UniqueFd directory(::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_CLOEXEC));
        QCOMPARE(pel::readAt(directory.get(), buffer, 16, 0), qint64(-1));   // EISDIR
        QVERIFY(!pel::openRegularFile(QFile::encodeName(dir.path()), &error).valid());
        QVERIFY(!error.isEmpty());
    }
};

QTEST_MAIN(TestFile)
#include "test_file.moc"
