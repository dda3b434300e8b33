#include "support/scripted_os.h"
#include "support/testsupport.h"
#include "system/file_listing.h"
#include "system/fsname.h"

#include <QCollator>
#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QDir>
#include <QTemporaryDir>
#include <utility>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pel;

namespace {

const QString kPicturePattern = QStringLiteral("*.WMF;*.jpeg;*jpg;*bmp;*.ico");

// Names whose natural, Japanese order is known: numbers by value whatever their
// width, case folded, kana of both scripts interleaved, kana before kanji, and
// level-1 kanji by reading (愛 "ai" before 一 "ichi", against their code points).
const QStringList kOrdered = {
    QStringLiteral("1"),        QStringLiteral("2"),          QStringLiteral("10"),
    QStringLiteral("a"),        QStringLiteral("A1"),         QStringLiteral("a2"),
    QStringLiteral("a10"),      QStringLiteral("a10b"),       QStringLiteral("B"),
    QStringLiteral("IMG2.jpg"), QStringLiteral("img10.jpg"),  QStringLiteral("IMG100.jpg"),
    QStringLiteral("z"),        QStringLiteral("あい"),       QStringLiteral("イヌ"),
    QStringLiteral("うみ"),     QStringLiteral("愛"),         QStringLiteral("一"),
    QStringLiteral("写真２"),   QStringLiteral("写真10"),
};

QStringList shuffled(QStringList l)
{
    QRandomGenerator rng(12345);
    for (qsizetype i = l.size() - 1; i > 0; --i)
        l.swapItemsAt(i, rng.bounded(int(i + 1)));
    return l;
}

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
}

}  // namespace

class TestFileListing : public QObject {
    Q_OBJECT
private slots:
    void pattern_data();
    void pattern();
    void scanFiltersAndSorts();
    void capacityCountsTheRest();
    void unreadableFolder();
    void subFoldersListsDirectoriesAndLinks();
    void aChangedFolderIsReadAfresh();
    void anOpenedFolderIsReadOnce();
    void naturalOrder_data();
    void naturalOrder();
    void equalNamesHaveOneFixedOrder();
    void orderUnderTheCLocale();
    void orderAgreesRunByRun();
};

void TestFileListing::pattern_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("listed");
    const QString pic = kPicturePattern;
    QTest::newRow("jpg without dot") << pic << "photojpg" << true;
    QTest::newRow("upper JPG") << pic << "IMG.JPG" << true;
    QTest::newRow("mixed Bmp") << pic << "a.Bmp" << true;
    QTest::newRow("bmp without dot") << pic << "xbmp" << true;
    QTest::newRow("ico") << pic << "x.ico" << true;
    QTest::newRow("upper jpeg") << pic << "s.JPEG" << true;
    QTest::newRow("lower wmf") << pic << "clip.wmf" << true;
    QTest::newRow("gif") << pic << "a.gif" << false;
    QTest::newRow("jpg not at end") << pic << "jpg.txt" << false;
    QTest::newRow("ico without dot") << pic << "xico" << false;
    QTest::newRow("japanese name") << pic << "写真.JPG" << true;
    QTest::newRow("question mark") << "img?.png" << "IMG7.PNG" << true;
    QTest::newRow("question mark needs a char") << "img?.png" << "img.png" << false;
    QTest::newRow("star in the middle") << "a*z" << "Abcz" << true;
    QTest::newRow("prefix and suffix overlap") << "ab*ba" << "aba" << false;
    QTest::newRow("two stars") << "*a*b" << "xxAyyB" << true;
    QTest::newRow("two stars, no match") << "*a*b" << "xxbyya" << false;
    QTest::newRow("exact name any case") << "readme" << "README" << true;
    QTest::newRow("exact name only") << "readme" << "readme2" << false;
    QTest::newRow("star dot star takes names without dot") << "*.*" << "Makefile" << true;
    QTest::newRow("blanks around parts") << " *.png ; *.gif " << "a.GIF" << true;
    QTest::newRow("no pattern lists all") << "" << "anything" << true;
    // Unicode case folding: the Kelvin sign folds to "k", so an ASCII name meets it.
    QTest::newRow("kelvin sign in the pattern") << QString::fromUtf8("*.\u212Apg") << "a.kpg" << true;
    QTest::newRow("kelvin sign, other letters") << QString::fromUtf8("*.\u212Apg") << "a.jpg" << false;
}

void TestFileListing::pattern()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, listed);
    const FilePattern p(pattern);
    QCOMPARE(p.matches(name), listed);
    // Most names in a folder are ASCII and take the byte path: the same answer.
    const QByteArray ascii = name.toLatin1();
    if (QString::fromLatin1(ascii) == name && !ascii.contains(char(0x80)))
        QCOMPARE(p.matchesAscii(std::string_view(ascii.constData(), size_t(ascii.size()))), listed);
}

void TestFileListing::scanFiltersAndSorts()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString d = tmp.path();
    for (const char *n : {"photojpg", "IMG.JPG", "a.Bmp", "x.ico", "a.gif", "jpg.txt", ".hidden.jpg",
                          "pic10.jpg", "pic9.jpg", "写真.jpeg"})
        touch(d + u'/' + QString::fromUtf8(n));
    QVERIFY(QDir(d).mkdir("folder.jpg"));
    QVERIFY(QFile::link(d + "/pic9.jpg", d + "/link.jpg"));
    QVERIFY(QFile::link(d + "/folder.jpg", d + "/dirlink.jpg"));
    QVERIFY(QFile::link(d + "/gone", d + "/dangling.jpg"));
    QVERIFY(mkfifo(QFile::encodeName(d + "/pipe.jpg").constData(), 0600) == 0);
    // A name that is not valid in the file-name encoding must not upset the scan.
    const QByteArray bad = QFile::encodeName(d) + "/bad\xff.jpg";
    FILE *f = std::fopen(bad.constData(), "w");
    QVERIFY(f);
    std::fclose(f);

    const Result<ScanResult> r = scanFolder(d, FilePattern(kPicturePattern));
    QVERIFY(r.ok());
    QCOMPARE(r.value.skipped, 0);
    QStringList names = r.value.names;
    QCOMPARE(r.value.ids.size(), size_t(names.size()));
    QVERIFY(names.removeOne(fsname::decode(QByteArray("bad\xff.jpg"))));
    unlink(bad.constData());  // QTemporaryDir cannot remove a name it cannot decode
    const QStringList expected = {"a.Bmp", "IMG.JPG", "link.jpg", "photojpg",
                            "pic9.jpg", "pic10.jpg", "x.ico", QString::fromUtf8("写真.jpeg")};
    QCOMPARE(names, expected);
}

void TestFileListing::capacityCountsTheRest()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    // More than the 16-bit list can hold: the first 32767 in order are kept.
    const int total = 32767 + 40;
    for (int i = 0; i < total; ++i) {
        const QByteArray path = QFile::encodeName(tmp.path()) + "/p" + QByteArray::number(i) + ".bmp";
        FILE *f = std::fopen(path.constData(), "w");
        QVERIFY(f);
        std::fclose(f);
    }
    touch(tmp.path() + "/other.txt");

    const ScanResult full = scanFolder(tmp.path(), FilePattern(kPicturePattern)).value;
    QCOMPARE(full.names.size(), 32767);
    QCOMPARE(full.skipped, 40);
    QCOMPARE(full.names.front(), QStringLiteral("p0.bmp"));
    QCOMPARE(full.names.back(), QStringLiteral("p32766.bmp"));

    const ScanResult small = scanFolder(tmp.path(), FilePattern("p1?.bmp;p2.bmp"), 5).value;
    QCOMPARE(small.names, (QStringList{"p2.bmp", "p10.bmp", "p11.bmp", "p12.bmp", "p13.bmp"}));
    QCOMPARE(small.skipped, 6);

    const ScanResult none = scanFolder(tmp.path(), FilePattern("*.txt"), 0).value;
    QVERIFY(none.names.isEmpty());
    QCOMPARE(none.skipped, 1);
}

void TestFileListing::unreadableFolder()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const Result<ScanResult> missing = scanFolder(tmp.path() + "/nowhere", FilePattern(kPicturePattern));
    QCOMPARE(missing.outcome.fault, Fault::Unreadable);
    QCOMPARE(missing.outcome.error, ENOENT);
    QVERIFY(missing.value.names.isEmpty());
    const Result<QStringList> noSubs = subFolders(tmp.path() + "/nowhere");
    QCOMPARE(noSubs.outcome.fault, Fault::Unreadable);
    QVERIFY(noSubs.value.isEmpty());

    const Result<ScanResult> notAFolder = scanFolder("/dev/null", FilePattern(kPicturePattern));
    QCOMPARE(notAFolder.outcome.error, ENOTDIR);

    const QString closed = tmp.path() + "/closed";
    QVERIFY(QDir().mkdir(closed));
    touch(closed + "/a.jpg");
    QVERIFY(chmod(QFile::encodeName(closed).constData(), 0) == 0);
    QVERIFY(chmod(QFile::encodeName(tmp.path()).constData(), 0711) == 0);
    // Root reads everything: check as an ordinary user in a child then.
    const bool asRoot = geteuid() == 0;
    const pid_t pid = asRoot ? fork() : 0;
    QVERIFY(pid >= 0);
    if (pid == 0) {
        if (asRoot && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        const Result<ScanResult> denied = scanFolder(closed, FilePattern(kPicturePattern));
        const Result<QStringList> subs = subFolders(closed);
        const bool ok = denied.outcome.error == EACCES && denied.value.names.isEmpty()
                        && subs.outcome.fault == Fault::Unreadable && subs.value.isEmpty();
        if (asRoot)
            _exit(ok ? 0 : 1);
        QVERIFY(ok);
    } else {
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
    chmod(QFile::encodeName(closed).constData(), 0700);
}

void TestFileListing::subFoldersListsDirectoriesAndLinks()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString d = tmp.path();
    for (const char *n : {"dir10", "dir9", "Dir1", ".git", "写真"})
        QVERIFY(QDir(d).mkdir(QString::fromUtf8(n)));
    touch(d + "/file");
    QVERIFY(QFile::link(d + "/dir9", d + "/linked"));
    QVERIFY(QFile::link(d + "/file", d + "/filelink"));
    QVERIFY(QFile::link(d + "/gone", d + "/dangling"));
    const Result<QStringList> subs = subFolders(d);
    QVERIFY(subs.ok());
    QCOMPARE(subs.value, (QStringList{"Dir1", "dir9", "dir10", "linked", QString::fromUtf8("写真")}));
}

// Opening a folder lists it twice from one reading; whatever changed in between
// must still show in the next listing.
void TestFileListing::aChangedFolderIsReadAfresh()
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const FilePattern pictures(QStringLiteral("*.jpg"));
    touch(d + "/a.jpg");
    QDir(d).mkdir("sub");
    QCOMPARE(subFolders(d).value, QStringList{"sub"});
    QCOMPARE(scanFolder(d, pictures).value.names, QStringList{"a.jpg"});
    touch(d + "/b.jpg");
    QCOMPARE(scanFolder(d, pictures).value.names, (QStringList{"a.jpg", "b.jpg"}));
    QFile::remove(d + "/a.jpg");
    QCOMPARE(scanFolder(d, pictures).value.names, QStringList{"b.jpg"});
    QDir(d).rmdir("sub");
    QCOMPARE(subFolders(d).value, QStringList{});
    // Another folder at the same path (renamed away, a new one made).
    QVERIFY(QDir().rename(d, d + "-old"));
    QVERIFY(QDir().mkdir(d));
    touch(d + "/c.jpg");
    QCOMPARE(scanFolder(d, pictures).value.names, QStringList{"c.jpg"});
    QDir(d + "-old").removeRecursively();
    // Non-ASCII names come through the reading intact.
    touch(d + QStringLiteral("/写真.jpg"));
    QCOMPARE(scanFolder(d, pictures).value.names, (QStringList{"c.jpg", QStringLiteral("写真.jpg")}));
}

// The folder list's reading serves the file list that follows, while the folder
// is unchanged; a changed folder, or another one, is read for itself.
void TestFileListing::anOpenedFolderIsReadOnce()
{
    QTemporaryDir tmp, other;
    const QString d = tmp.path();
    const FilePattern pictures(QStringLiteral("*.jpg"));
    touch(d + "/a.jpg");
    QDir(d).mkdir("sub");   // changed a moment ago: read once all the same
    touch(other.path() + "/o.jpg");

    test::ScriptedOs os;
    int &reads = os.folderReads;
    FolderReadingPtr reading;
    QCOMPARE(subFolders(d, &reading).value, QStringList{"sub"});
    QCOMPARE(scanFolder(d, pictures, 32767, reading).value.names, QStringList{"a.jpg"});
    QCOMPARE(std::exchange(reads, 0), 1);

    QTest::qWait(20);   // a later change carries a later time
    touch(d + "/b.jpg");   // the folder changed: the reading is no longer it
    QCOMPARE(scanFolder(d, pictures, 32767, reading).value.names, (QStringList{"a.jpg", "b.jpg"}));
    QCOMPARE(std::exchange(reads, 0), 1);
    QCOMPARE(scanFolder(other.path(), pictures, 32767, reading).value.names, QStringList{"o.jpg"});
    QCOMPARE(std::exchange(reads, 0), 1);
}

void TestFileListing::naturalOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::newRow("numbers by value") << "IMG2" << "IMG10";
    QTest::newRow("leading zeros count for nothing") << "img007" << "img8";
    QTest::newRow("zero before one") << "x000" << "x1";
    QTest::newRow("beyond 64 bits") << "n99999999999999999999999999999" << "n100000000000000000000000000000";
    QTest::newRow("long equal heads") << "n123456789012345678901234567890" << "n123456789012345678901234567891";
    QTest::newRow("case folded") << "apple" << "Banana";
    QTest::newRow("case folded, upper first") << "APPLE" << "banana";
    QTest::newRow("shorter first") << "img" << "img1";
    QTest::newRow("digits before letters") << "img1" << "imga";
    QTest::newRow("full-width digits by value") << QString::fromUtf8("写真２") << QString::fromUtf8("写真10");
    QTest::newRow("hiragana and katakana interleave") << QString::fromUtf8("ア") << QString::fromUtf8("い");
    QTest::newRow("katakana before later hiragana") << QString::fromUtf8("カメラ") << QString::fromUtf8("さくら");
    QTest::newRow("kana before kanji") << QString::fromUtf8("ん") << QString::fromUtf8("亜");
    QTest::newRow("kanji by reading") << QString::fromUtf8("愛") << QString::fromUtf8("一");
    QTest::newRow("latin before kana") << "z" << QString::fromUtf8("あ");
}

void TestFileListing::naturalOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QVERIFY(naturalLess(a, b));
    QVERIFY(!naturalLess(b, a));
    QStringList l{b, a};
    naturalSort(l);
    QCOMPARE(l, (QStringList{a, b}));
}

void TestFileListing::equalNamesHaveOneFixedOrder()
{
    // Names that differ only by case or leading zeros: each pair ordered one way,
    // whatever the order they came in.
    const QStringList pairs[] = {{"IMG1", "img1"}, {"img1", "img01"}, {"img01", "img001"},
                                 {QString::fromUtf8("あ"), QString::fromUtf8("ア")}};
    for (const QStringList &p : pairs) {
        QVERIFY2(naturalLess(p[0], p[1]) != naturalLess(p[1], p[0]), qPrintable(p.join(" / ")));
        QVERIFY(!naturalLess(p[0], p[0]));
    }
    QStringList all = {"img01", "IMG1", "img1", "img001", "Img1", "img2"};
    QStringList a = all, b = shuffled(all);
    std::reverse(all.begin(), all.end());
    naturalSort(a);
    naturalSort(b);
    naturalSort(all);
    QCOMPARE(a, b);
    QCOMPARE(a, all);
    QCOMPARE(a.back(), QStringLiteral("img2"));
}

void TestFileListing::orderUnderTheCLocale()
{
    // In this process, switched to the plain C locale.
    const QByteArray before = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    QStringList here = shuffled(kOrdered);
    naturalSort(here);
    std::setlocale(LC_ALL, before.constData());
    QCOMPARE(here, kOrdered);

    // And in a process that starts under it.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    env.remove("LANG");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--print-natural-order"});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    const QStringList printed = QString::fromUtf8(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(printed, kOrdered);
}

namespace {

// The order spelled out run by run, as a person would compare two names: an
// oracle for the byte keys the sort compares.
struct Run {
    bool number;
    QString text;    // text, or the significant digits
    int zeros = 0;   // leading zeros of a number
};

std::vector<Run> runsOf(const QString &s)
{
    std::vector<Run> runs;
    for (qsizetype i = 0; i < s.size();) {
        const bool digit = s[i].isDigit();
        qsizetype j = i;
        while (j < s.size() && s[j].isDigit() == digit)
            ++j;
        Run r{digit, s.mid(i, j - i)};
        if (digit) {
            QString digits;
            for (QChar c : r.text)
                digits += QChar(u'0' + c.digitValue());
            while (digits.size() > 1 && digits.startsWith(u'0')) {
                digits.remove(0, 1);
                ++r.zeros;
            }
            r.text = digits;
        }
        runs.push_back(r);
        i = j;
    }
    return runs;
}

bool oracleLess(const QString &a, const QString &b, const QCollator &collator)
{
    const std::vector<Run> ra = runsOf(a), rb = runsOf(b);
    for (size_t i = 0; i < std::min(ra.size(), rb.size()); ++i) {
        const Run &x = ra[i], &y = rb[i];
        if (x.number != y.number)
            return x.number;
        if (x.number) {
            if (x.text.size() != y.text.size())
                return x.text.size() < y.text.size();
            if (x.text != y.text)
                return x.text < y.text;
        } else if (const int c = collator.compare(x.text, y.text)) {
            return c < 0;
        }
    }
    if (ra.size() != rb.size())
        return ra.size() < rb.size();
    std::vector<int> za, zb;
    for (const Run &r : ra)
        if (r.number)
            za.push_back(r.zeros);
    for (const Run &r : rb)
        if (r.number)
            zb.push_back(r.zeros);
    if (za != zb)
        return za < zb;
    return a < b;
}

}  // namespace

// Names of every shape, long digit runs among them, and a folder with more
// distinct words than the short form of the keys can rank.
void TestFileListing::orderAgreesRunByRun()
{
    QCollator collator(QLocale(QLocale::Japanese, QLocale::Japan));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QRandomGenerator rng(2024);
    const QStringList pieces = {"IMG", "img", "Img_", "写真", "あ", "ア", "x", ".jpg", ".JPG", "_", " ",
                                "-", QString::fromUtf8("２"), "0", "007", "1", "99", QString(140, u'7'),
                                QString(139, u'7'), "é", "E"};
    QStringList mixed;
    for (int i = 0; i < 3000; ++i) {
        QString s;
        for (int k = 0, parts = 1 + rng.bounded(5); k < parts; ++k)
            s += rng.bounded(3) ? pieces[rng.bounded(int(pieces.size()))] : QString::number(rng.bounded(100000));
        mixed << s;
    }
    QStringList words;
    for (int i = 0; i < 40000; ++i) {
        QString s;
        for (int k = 0; k < 6; ++k)
            s += QChar(u'a' + rng.bounded(26));
        words << s + QString::number(rng.bounded(50));
    }
    for (QStringList names : {mixed, words}) {
        naturalSort(names);
        for (qsizetype i = 1; i < names.size(); ++i)
            QVERIFY2(!oracleLess(names[i], names[i - 1], collator),
                     qPrintable(names[i - 1].left(40) + " / " + names[i].left(40)));
    }
}

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--print-natural-order") == 0) {
        QCoreApplication app(argc, argv);
        QStringList l = shuffled(kOrdered);
        naturalSort(l);
        const QByteArray out = l.join(u'\n').toUtf8() + '\n';
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestFileListing t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_file_listing.moc"
