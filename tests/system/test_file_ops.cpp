// The file-operation layer in real folders: the trash, deleting, renaming that
// never replaces, with failures made real by races and by the layer's seam.
#include "support/scripted_os.h"
#include "system/file_ops.h"
#include "system/fsname.h"
#include "system/messages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace pel;

namespace {
void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString reason(int e) { return messages::systemReason(e); }
}  // namespace

class TestFileOps : public QObject {
    Q_OBJECT
    std::unique_ptr<pel::test::ScriptedOs> m_os;
    QTemporaryDir m_home;
    QString m_folder;
    QString dataHome() const { return m_home.path() + "/home/.local/share"; }
    QString at(const QString &name) const { return m_folder + '/' + name; }
    QStringList entries() const
    {
        return QDir(m_folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                        QDir::Name);
    }

    // A volume that ignores letter case, as vfat or exFAT do: every name the calls
    // get is matched against the folder's entries without regard to case.
    QByteArray fold(const char *name) const
    {
        const QString n = QFile::decodeName(name);
        for (const QString &e : entries())
            if (e.compare(n, Qt::CaseInsensitive) == 0)
                return QFile::encodeName(e);
        return name;
    }
    void ignoreCase()
    {
        m_os->fstatatScript = [this](int fd, const char *n, struct stat *st, int flags) {
            return ::fstatat(fd, fold(n).constData(), st, flags);
        };
        m_os->renameat2Script = [this](int fd1, const char *a, int fd2, const char *b, unsigned flags) {
            struct stat st;
            if ((flags & RENAME_NOREPLACE) && ::fstatat(fd2, fold(b).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                errno = EEXIST;
                return -1;
            }
            return ::renameat2(fd1, fold(a).constData(), fd2, b, flags);
        };
    }

private slots:
    void initTestCase()
    {
        // The trash of these tests stays inside their own home.
        qputenv("HOME", QFile::encodeName(m_home.path() + "/home"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
        QVERIFY(QDir().mkpath(dataHome()));
    }
    void init()
    {
        m_folder = m_home.path() + "/pictures";
        QDir(m_folder).removeRecursively();
        QVERIFY(QDir().mkpath(m_folder));
        QDir(dataHome() + "/Trash").removeRecursively();
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
        m_os = std::make_unique<pel::test::ScriptedOs>();
    }
    void cleanup() { m_os.reset(); }

    void trashKeepsEveryCopyWithItsOrigin()
    {
        const QString name = QStringLiteral("写真 1.jpg");
        write(at(name), "first");
        Result<QString> r = fileops::moveToTrash(m_folder, name);
        QVERIFY2(r.ok(), qPrintable(messages::reason(r.outcome)));
        const QString trash = dataHome() + "/Trash";
        QCOMPARE(r.value, trash + "/files/" + name);
        QCOMPARE(read(r.value), QByteArray("first"));
        QVERIFY(!QFile::exists(at(name)));
        const QByteArray info = read(trash + "/info/" + name + ".trashinfo");
        QVERIFY2(info.startsWith("[Trash Info]\nPath=" + QFile::encodeName(m_folder).toPercentEncoding("/")
                                 + "/%E5%86%99%E7%9C%9F%201.jpg\nDeletionDate="),
                 info.constData());

        // The same name again, also when its information file is made at once: a
        // second copy with its own information, the first's untouched.
        write(at(name), "second");
        r = fileops::moveToTrash(m_folder, name);
        QVERIFY(r.ok());
        QCOMPARE(r.value, trash + "/files/写真 1.2.jpg");
        QCOMPARE(read(r.value), QByteArray("second"));
        QCOMPARE(read(trash + "/files/" + name), QByteArray("first"));
        QCOMPARE(read(trash + "/info/" + name + ".trashinfo"), info);
        QVERIFY(read(trash + "/info/写真 1.2.jpg.trashinfo").startsWith(info.left(info.indexOf("DeletionDate"))));
    }

    void noTrashLeavesTheFileAndNothingBesideIt()
    {
        // No trash can be made: its parent is a plain file.
        write(m_home.path() + "/plain", "x");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path() + "/plain/share"));
        write(at("a.jpg"), "keep");
        QDir::setCurrent(m_folder);   // the program stands in the folder it shows
        const Outcome r = fileops::moveToTrash(m_folder, "a.jpg").outcome;
        QCOMPARE(r.fault, Fault::NoTrash);
        QCOMPARE(messages::reason(r), reason(ENOTDIR));
        QCOMPARE(entries(), QStringList{"a.jpg"});   // no stand-in trash made in the folder
        QCOMPARE(read(at("a.jpg")), QByteArray("keep"));

        QVERIFY(fileops::remove(m_folder, "a.jpg").ok());
        QVERIFY(entries().isEmpty());
    }

    void deleteFailuresSayWhyAndKeepTheFile()
    {
        QCOMPARE(fileops::moveToTrash(m_folder, "none.jpg").outcome.fault, Fault::Gone);
        QCOMPARE(fileops::remove(m_folder, "none.jpg").fault, Fault::Gone);
        QCOMPARE(fileops::moveToTrash(m_folder + "/gone", "a.jpg").outcome.fault, Fault::Gone);

        write(at("a.jpg"), "keep");
        m_os->faccessatScript = [](int, const char *, int, int) { errno = EROFS; return -1; };
        Outcome r = fileops::moveToTrash(m_folder, "a.jpg").outcome;
        QCOMPARE(r.fault, Fault::Failed);   // no use asking for a delete for good
        QCOMPARE(messages::reason(r), reason(EROFS));
        m_os->unlinkatScript = [](int, const char *, int) { errno = EIO; return -1; };
        r = fileops::remove(m_folder, "a.jpg");
        QCOMPARE(r.fault, Fault::Failed);
        QCOMPARE(messages::reason(r), reason(EIO));
        QCOMPARE(read(at("a.jpg")), QByteArray("keep"));
        QVERIFY(!QDir(dataHome() + "/Trash/files").exists() || QDir(dataHome() + "/Trash/files").isEmpty());
    }

    void renameTakesTheLongestNameAndNoTakenOne()
    {
        write(at("a.jpg"), "keep");
        write(at(".hidden.jpg"), "hidden");
        write(at("notes.txt"), "notes");
        QVERIFY(QDir(m_folder).mkdir("sub"));
        QVERIFY(QFile::link(at("nowhere"), at("dangling")));
        for (const char *taken : {".hidden.jpg", "notes.txt", "sub", "dangling", "a.jpg"}) {
            const Outcome r = fileops::rename(m_folder, "a.jpg", QString::fromUtf8(taken));
            QVERIFY2(r.fault == Fault::Taken, taken);
        }
        QCOMPARE(read(at("a.jpg")), QByteArray("keep"));
        QCOMPARE(read(at(".hidden.jpg")), QByteArray("hidden"));
        QCOMPARE(read(at("notes.txt")), QByteArray("notes"));
        QVERIFY(QFileInfo(at("dangling")).isSymLink());

        const QString longest = QString(85, QChar(0x3042));   // 255 bytes
        QCOMPARE(fileops::rename(m_folder, "a.jpg", longest + "a").fault, Fault::BadName);
        QVERIFY(fileops::rename(m_folder, "a.jpg", longest).ok());
        QCOMPARE(read(at(longest)), QByteArray("keep"));
        QCOMPARE(fileops::rename(m_folder, "a.jpg", "b.jpg").fault, Fault::Gone);
    }

    void aNameTakenMeanwhileIsNotReplaced()
    {
        write(at("a.jpg"), "mine");
        // Another program makes the file between the check and the rename.
        m_os->renameat2Script = [this](int fd1, const char *a, int fd2, const char *b, unsigned flags) {
            write(at("b.jpg"), "theirs");
            return ::renameat2(fd1, a, fd2, b, flags);
        };
        QCOMPARE(fileops::rename(m_folder, "a.jpg", "b.jpg").fault, Fault::Taken);
        QCOMPARE(read(at("a.jpg")), QByteArray("mine"));
        QCOMPARE(read(at("b.jpg")), QByteArray("theirs"));
    }

    void withoutNoReplaceALinkDoesTheSameAndNothingElseIsTried()
    {
        write(at("a.jpg"), "mine");
        int renames = 0, plain = 0;
        m_os->renameat2Script = [&](int, const char *, int, const char *, unsigned flags) {
            plain += flags != RENAME_NOREPLACE;   // never a rename that may replace
            ++renames;
            errno = EINVAL;   // a volume that knows no RENAME_NOREPLACE
            return -1;
        };
        QVERIFY(fileops::rename(m_folder, "a.jpg", "b.jpg").ok());
        QCOMPARE(entries(), QStringList{"b.jpg"});
        QCOMPARE(read(at("b.jpg")), QByteArray("mine"));

        // The link cannot replace a file that appeared meanwhile.
        m_os->linkatScript = [this](int fd1, const char *a, int fd2, const char *b, int) {
            write(at("c.jpg"), "theirs");
            return ::linkat(fd1, a, fd2, b, 0);
        };
        QCOMPARE(fileops::rename(m_folder, "b.jpg", "c.jpg").fault, Fault::Taken);
        QCOMPARE(read(at("b.jpg")), QByteArray("mine"));
        QCOMPARE(read(at("c.jpg")), QByteArray("theirs"));

        // No hard links either (a FUSE FAT volume): refused as a volume that cannot
        // rename safely, not as an invalid argument.
        m_os->linkatScript = [](int, const char *, int, const char *, int) { errno = EPERM; return -1; };
        QCOMPARE(fileops::rename(m_folder, "b.jpg", "d.jpg").fault, Fault::Unsupported);
        QCOMPARE(entries(), (QStringList{"b.jpg", "c.jpg"}));
        QVERIFY(renames >= 3);
        QCOMPARE(plain, 0);
    }

    void letterCaseChangesAlsoWhereTheVolumeIgnoresCase()
    {
        write(at("IMG.jpg"), "photo");
        QVERIFY(fileops::rename(m_folder, "IMG.jpg", "Img.jpg").ok());   // a volume that sees case
        QCOMPARE(entries(), QStringList{"Img.jpg"});

        ignoreCase();
        // Plain RENAME_NOREPLACE would see "img.jpg" as taken by the file itself.
        const Outcome r = fileops::rename(m_folder, "Img.jpg", "img.jpg");
        QVERIFY2(r.ok(), qPrintable(messages::reason(r)));
        QCOMPARE(entries(), QStringList{"img.jpg"});   // no temporary name left behind
        QCOMPARE(read(at("img.jpg")), QByteArray("photo"));

        // Another file whose name differs only in case is still another file.
        write(at("OTHER.JPG"), "other");
        QCOMPARE(fileops::rename(m_folder, "img.jpg", "other.jpg").fault, Fault::Taken);
        QCOMPARE(entries(), (QStringList{"OTHER.JPG", "img.jpg"}));
    }
};

QTEST_MAIN(TestFileOps)
#include "test_file_ops.moc"
