// The help viewer's search for a help file named without a folder, its report of
// a missing document, and the help document shipped with the program.
#include "help/help_viewer.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

using namespace pel;
using namespace pel::help;

class TestHelpViewer : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;   // fresh for every test
    QTemporaryDir &tmp() { return *dir; }

    QString folder(const QString &rel)
    {
        const QString p = tmp().filePath(rel);
        QDir().mkpath(p);
        return p;
    }
    static void writeDocument(const QString &folder, const QByteArray &title)
    {
        QFile f(QDir(folder).filePath(QStringLiteral("pelorinax.html")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<html><head><title>" + title + "</title></head><body><p>" + title + "</p></body></html>");
    }

private slots:
    // The data folders of each test are its own: XDG_DATA_HOME and two XDG_DATA_DIRS
    // (a relative entry among them, which the XDG rules ignore).
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", QFile::encodeName(tmp().filePath("datahome")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(tmp().filePath("d1") + ":relative/dir:" + tmp().filePath("d2")));
    }
    void cleanup()
    {
        closeViewer();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void theProgramsFolderFirstThenTheDataFoldersThenItsShareFolder()
    {
        const QString h = tmp().path(), exe = QCoreApplication::applicationDirPath();
        QCOMPARE(searchFolders(), (QStringList{exe, h + "/datahome/pelorinax", h + "/d1/pelorinax", h + "/d2/pelorinax",
                                               QDir::cleanPath(exe + "/../share/pelorinax")}));
        QCOMPARE(documentName("pelorinax.hlp"), QStringLiteral("pelorinax.html"));
    }

    void theFirstDataFolderHoldingTheDocumentWins()
    {
        QVERIFY(findDocument("pelorinax.hlp").isEmpty());
        // A folder of that name is not a document.
        folder("d1/pelorinax/pelorinax.html/");
        QVERIFY(findDocument("pelorinax.hlp").isEmpty());
        QDir(tmp().filePath("d1/pelorinax/pelorinax.html")).removeRecursively();
        // Filled from the last place to the first, each new one takes over.
        for (const char *rel : {"d2/pelorinax", "d1/pelorinax", "datahome/pelorinax"}) {
            writeDocument(folder(rel), rel);
            const QString expected = QDir(tmp().filePath(rel)).filePath("pelorinax.html");
            QCOMPARE(findDocument("pelorinax.hlp"), expected);
            QVERIFY(WinHelp(nullptr, "pelorinax.hlp", kHelpContents, 0));
            QCOMPARE(viewer()->documentPath(), expected);
            QCOMPARE(viewer()->browser->source(), QUrl::fromLocalFile(expected));
            QCOMPARE(viewer()->windowTitle(), QString::fromLatin1(rel));
        }
    }

    void aMissingDocumentIsReportedInTheViewersOwnWindow()
    {
        QWidget owner;
        QVERIFY(!WinHelp(&owner, "pelorinax.hlp", kHelpContents, 0));
        HelpViewer *v = viewer();
        QVERIFY(v && v->isVisible() && !v->documentFound());
        QCOMPARE(v->windowModality(), Qt::NonModal);
        QVERIFY(!QApplication::activeModalWidget());
        const QString text = v->browser->toPlainText();
        QVERIFY(text.contains("pelorinax.html"));
        for (const QString &f : searchFolders())
            QVERIFY2(text.contains(f), qPrintable(f));

        // Installed meanwhile: the next call finds it in the same window.
        writeDocument(folder("d2/pelorinax"), "found");
        QVERIFY(WinHelp(&owner, "pelorinax.hlp", kHelpContents, 0));
        QCOMPARE(viewer(), v);
        QVERIFY(v->browser->toPlainText().contains("found"));
        QVERIFY(!WinHelp(&owner, "pelorinax.hlp", 1, 0));   // a command the viewer does not know
        QCOMPARE(viewer(), v);
    }

    void theViewerGoesWithItsOwner()
    {
        auto *owner = new QWidget;
        WinHelp(owner, "pelorinax.hlp", kHelpContents, 0);
        QPointer<HelpViewer> v = viewer();
        QVERIFY(v);
        QVERIFY(!v->parentWidget());   // a window of its own, not kept above the owner
        delete owner;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(v.isNull());
    }

    // The shipped document: every link inside it leads somewhere, every picture is there.
    void theShippedDocumentHoldsTogether()
    {
        const QString dir = test::sourceDir() + "/resources/help";
        QFile f(dir + "/pelorinax.html");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        QSet<QString> anchors;
        for (const auto &m : QRegularExpression("<a name=\"([^\"]+)\"").globalMatch(html))
            anchors.insert(m.captured(1));
        int links = 0;
        for (const auto &m : QRegularExpression("href=\"#([^\"]+)\"").globalMatch(html)) {
            QVERIFY2(anchors.contains(m.captured(1)), qPrintable(m.captured(1)));
            ++links;
        }
        QVERIFY(links >= 12);
        int pictures = 0;
        for (const auto &m : QRegularExpression("<img src=\"([^\"]+)\"").globalMatch(html)) {
            QVERIFY2(QImage(dir + "/" + m.captured(1)).width() > 0, qPrintable(m.captured(1)));
            ++pictures;
        }
        QVERIFY(pictures >= 1);

        // Installed as a data folder, the viewer shows it and follows a link to its anchor.
        QVERIFY(QDir().mkpath(tmp().filePath("d2")));
        QVERIFY(QFile::link(dir, tmp().filePath("d2/pelorinax")));
        QVERIFY(WinHelp(nullptr, "pelorinax.hlp", kHelpContents, 0));
        QTextBrowser *b = viewer()->browser;
        QCOMPARE(viewer()->windowTitle(), QStringLiteral("Pelorinax Mini 使い方"));
        b->setSource(QUrl("#keys"));
        QCOMPARE(b->source().fragment(), QStringLiteral("keys"));
        QVERIFY(b->isBackwardAvailable());
    }
};

QTEST_MAIN(TestHelpViewer)
#include "test_help_viewer.moc"
