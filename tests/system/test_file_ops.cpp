// The file-operation layer in real folders: the trash, deleting, renaming that
// never replaces, with failures made real by races and by the layer's seam.
#include "support/scripted_os.h"
#include "system/file_ops.h"
#include "system/fsname.h"
#include "system/messages.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <clocale>
#include <locale.h>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
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

// A small tmpfs mounted for one test: another volume than the home's. Mounting
// needs root; `skipWhy` says why when it cannot be had. Unmounted when it goes.
class ScratchVolume {
public:
    explicit ScratchVolume(const QString &at) : m_at(QFile::encodeName(at))
    {
        QDir().mkpath(at);
        if (::mount("tmpfs", m_at.constData(), "tmpfs", 0, "size=4m,mode=0755") == 0)
            m_mounted = true;
        else
            skipWhy = QStringLiteral("cannot mount a tmpfs for a second volume (%1; needs root)")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    ~ScratchVolume()
    {
        if (m_mounted)
            ::umount2(m_at.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString skipWhy;

private:
    QByteArray m_at;
    bool m_mounted = false;
};

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

        // A FUSE FAT volume: each spelling of a name gets an inode of its own, and
        // neither RENAME_NOREPLACE nor links work. The case change is not "taken":
        // the volume cannot rename safely, and nothing changes.
        m_os->fstatatScript = [this](int fd, const char *n, struct stat *st, int flags) {
            const int r = ::fstatat(fd, fold(n).constData(), st, flags);
            if (r == 0 && std::strcmp(n, ".") != 0)
                st->st_ino ^= qHash(QByteArray(n));
            return r;
        };
        m_os->renameat2Script = [](int, const char *, int, const char *, unsigned) { errno = EINVAL; return -1; };
        m_os->linkatScript = [](int, const char *, int, const char *, int) { errno = EPERM; return -1; };
        QCOMPARE(fileops::rename(m_folder, "img.jpg", "IMG.jpg").fault, Fault::Unsupported);
        QCOMPARE(entries(), (QStringList{"OTHER.JPG", "img.jpg"}));
        QCOMPARE(fileops::rename(m_folder, "img.jpg", "other.jpg").fault, Fault::Taken);
    }

    // What is there now is not what the list showed: nothing is done to it.
    void onlyTheListedFileIsActedOn_data()
    {
        QTest::addColumn<QString>("replacement");
        QTest::newRow("a folder of the same name") << "folder";
        QTest::newRow("another file of the same name") << "file";
        QTest::newRow("a pipe of the same name") << "pipe";
    }
    void onlyTheListedFileIsActedOn()
    {
        QFETCH(QString, replacement);
        write(at("a.jpg"), "listed");
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(at("a.jpg")).constData(), &st), 0);
        const FileId listed = FileId::of(st);
        write(at("new.jpg"), "another");   // made while the listed file still holds its inode
        QVERIFY(QFile::remove(at("a.jpg")));
        if (replacement == "folder") {
            QVERIFY(QDir(m_folder).mkpath("a.jpg/inner"));
            write(at("a.jpg/inner/b.jpg"), "inside");
        } else if (replacement == "file") {
            QVERIFY(QFile::rename(at("new.jpg"), at("a.jpg")));
        } else {
            QCOMPARE(::mkfifo(QFile::encodeName(at("a.jpg")).constData(), 0600), 0);
        }
        const QStringList before = entries();
        QCOMPARE(fileops::moveToTrash(m_folder, "a.jpg", listed).outcome.fault, Fault::Changed);
        QCOMPARE(fileops::remove(m_folder, "a.jpg", listed).fault, Fault::Changed);
        QCOMPARE(fileops::rename(m_folder, "a.jpg", "b.jpg", listed).fault, Fault::Changed);
        QCOMPARE(entries(), before);
        if (replacement == "folder")
            QCOMPARE(read(at("a.jpg/inner/b.jpg")), QByteArray("inside"));
        if (replacement == "file")
            QCOMPARE(read(at("a.jpg")), QByteArray("another"));
        QVERIFY(!QDir(dataHome() + "/Trash/files").exists() || QDir(dataHome() + "/Trash/files").isEmpty());
        // Even without an identity to check, only a file or a link is ever taken.
        if (replacement != "file")
            QCOMPARE(fileops::moveToTrash(m_folder, "a.jpg").outcome.fault, Fault::Changed);
    }

    // Another volume's own trash, at the top of the volume the folder really is on.
    void volumeTrash_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("trash");   // under the volume's top; empty: none can be used
        const QString uid = QString::number(::geteuid());
        QTest::newRow("none there yet") << "" << ".Trash-" + uid;
        QTest::newRow("shared, sticky") << "shared sticky" << ".Trash/" + uid;
        QTest::newRow("shared, sticky, through a link to the folder") << "shared sticky, link" << ".Trash/" + uid;
        QTest::newRow("shared, not sticky") << "shared" << ".Trash-" + uid;
        QTest::newRow("shared, a link to a sticky folder") << "shared link" << ".Trash-" + uid;
        QTest::newRow("shared, sticky, another user's") << "shared sticky, other owner" << ".Trash-" + uid;
        QTest::newRow("shared, sticky, our folder in it another's") << "shared sticky, other mine" << ".Trash-" + uid;
        QTest::newRow("own, open to others") << "own 0755" << "";
        QTest::newRow("own, a link to a folder") << "own link" << "";
    }
    void volumeTrash()
    {
        QFETCH(QString, setup);
        QFETCH(QString, trash);
        const QString top = m_home.path() + "/volume";
        ScratchVolume volume(top);
        if (!volume.mounted())
            QSKIP(qPrintable(volume.skipWhy));
        const QString uid = QString::number(::geteuid());
        QVERIFY(QDir(top).mkpath("pics") && QDir(top).mkpath("elsewhere"));
        auto sh = [](const QString &path, mode_t mode, uid_t owner = ::geteuid()) {
            const QByteArray p = QFile::encodeName(path);
            return ::chmod(p.constData(), mode) == 0 && ::lchown(p.constData(), owner, owner) == 0;
        };
        if (setup.startsWith("shared sticky") || setup == "shared") {
            QVERIFY(QDir(top).mkdir(".Trash"));
            QVERIFY(sh(top + "/.Trash", setup == "shared" ? 0777 : 01777, setup.contains("other owner") ? 4242 : 0));
            if (setup.contains("other mine")) {
                QVERIFY(QDir(top).mkdir(".Trash/" + uid));
                QVERIFY(sh(top + "/.Trash/" + uid, 0700, 4242));
            }
        } else if (setup == "shared link") {
            QVERIFY(sh(top + "/elsewhere", 01777));
            QVERIFY(QFile::link(top + "/elsewhere", top + "/.Trash"));
        } else if (setup == "own 0755") {
            QVERIFY(QDir(top).mkdir(".Trash-" + uid));
            QVERIFY(sh(top + "/.Trash-" + uid, 0755));
        } else if (setup == "own link") {
            QVERIFY(sh(top + "/elsewhere", 0700));
            QVERIFY(QFile::link(top + "/elsewhere", top + "/.Trash-" + uid));
        }
        write(top + "/pics/e1.jpg", "picture");
        // The folder as the user reached it: straight, or through a link in the home.
        QString folder = top + "/pics";
        if (setup.endsWith(", link")) {
            QVERIFY(QFile::link(folder, m_home.path() + "/usb"));
            folder = m_home.path() + "/usb";
        }

        const Result<QString> r = fileops::moveToTrash(folder, "e1.jpg");
        QDir(m_home.path()).remove("usb");
        if (trash.isEmpty()) {
            QCOMPARE(r.outcome.fault, Fault::NoTrash);
            QCOMPARE(read(top + "/pics/e1.jpg"), QByteArray("picture"));
            QCOMPARE(QDir(top + "/elsewhere").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
            return;
        }
        QVERIFY2(r.ok(), qPrintable(messages::reason(r.outcome)));
        QCOMPARE(r.value, top + "/" + trash + "/files/e1.jpg");
        QCOMPARE(read(r.value), QByteArray("picture"));
        const QByteArray info = read(top + "/" + trash + "/info/e1.jpg.trashinfo");
        QVERIFY2(info.startsWith("[Trash Info]\nPath=pics/e1.jpg\nDeletionDate="), info.constData());
        QCOMPARE(QDir(top + "/pics").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QVERIFY(!QFileInfo::exists(dataHome() + "/Trash/files/e1.jpg"));
        QCOMPARE(QFileInfo(top + "/" + trash).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
    }

    void theHomeTrashNamesAFileOfTheRootFolderWithOneSlash()
    {
        // Where the folder really is, as the system says: the root folder.
        write(at("r.jpg"), "root");
        m_os->readlinkScript = [](const char *, char *buffer, size_t) {
            buffer[0] = '/';
            return ssize_t(1);
        };
        const Result<QString> r = fileops::moveToTrash(m_folder, "r.jpg");
        QVERIFY(r.ok());
        const QByteArray info = read(dataHome() + "/Trash/info/r.jpg.trashinfo");
        QVERIFY2(info.startsWith("[Trash Info]\nPath=/r.jpg\n"), info.constData());
    }

    void anotherUsersFileInAStickyFolderIsNotOffered()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to own files as other users");
        const QString shared = m_home.path() + "/shared";
        QVERIFY(QDir().mkpath(shared));
        write(shared + "/theirs.jpg", "theirs");
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        QCOMPARE(::chmod(QFile::encodeName(m_home.path()).constData(), 0711), 0);
        QCOMPARE(::chown(QFile::encodeName(shared + "/theirs.jpg").constData(), 4242, 4242), 0);
        Result<QString> trashed;
        Outcome removed, renamed;
        QCOMPARE(::seteuid(4343), 0);
        trashed = fileops::moveToTrash(shared, "theirs.jpg");
        removed = fileops::remove(shared, "theirs.jpg");
        renamed = fileops::rename(shared, "theirs.jpg", "mine.jpg");
        QCOMPARE(::seteuid(0), 0);
        for (const Outcome &o : {trashed.outcome, removed, renamed}) {
            QCOMPARE(o.fault, Fault::Failed);   // not NoTrash: a delete for good cannot help either
            QCOMPARE(o.error, EPERM);
            QCOMPARE(messages::reason(o), messages::othersFileInSharedFolder());
        }
        QCOMPARE(read(shared + "/theirs.jpg"), QByteArray("theirs"));
    }

    void reasonsReadInJapaneseWithTheSystemsEnglish()
    {
        // Qt has given the C library the environment's locale (C.UTF-8 in the tests).
        QCOMPARE(QByteArray(std::setlocale(LC_MESSAGES, nullptr)), qgetenv("LC_ALL"));
        const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
        QSet<QString> seen;
        for (int e : {EPERM, ENOENT, EIO, EACCES, EBUSY, EEXIST, EXDEV, ENOTDIR, EISDIR, EINVAL, EMFILE, ENOSPC,
                      EROFS, EMLINK, ENAMETOOLONG, ENOSYS, ENOTEMPTY, ELOOP, EOPNOTSUPP, EDQUOT, ESTALE, ENOTCONN,
                      ETIMEDOUT, ENODEV, ENOMEM}) {
            const QString text = messages::systemReason(e);
            const QString english = QString::fromLocal8Bit(::strerror_l(e, c));
            QVERIFY2(text.endsWith(QStringLiteral("（%1）").arg(english)), qPrintable(text));
            const QString own = text.chopped(english.size() + 2);
            QVERIFY2(!own.isEmpty() && std::any_of(own.begin(), own.end(), [](QChar ch) { return ch.unicode() > 0x3000; }),
                     qPrintable(text));
            seen.insert(own);
        }
        QVERIFY(seen.size() >= 24);   // a text of its own for (almost) each
        ::freelocale(c);
    }
};

QTEST_MAIN(TestFileOps)
#include "test_file_ops.moc"
