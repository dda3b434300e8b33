// Changing drives: each keeps its folder, and a drive that cannot be read gives
// one message and a way back, even when the way back cannot be read either.
#include "support/windows.h"

using namespace pel;
using namespace pel::test;

class TestDriveChange : public QObject {
    Q_OBJECT
    WindowsFixture fx;
    Form1 *f = nullptr;
    QString A, B, C;

    QStringList names() const
    {
        QStringList n;
        for (int i = 0; i < f->List1->ListCount(); ++i)
            n << f->List1->List(i);
        return n;
    }

private slots:
    void init()
    {
        QDir d(fx.folder());
        d.removeRecursively();
        QDir().mkpath(fx.folder());
        A = fx.folder() + "/volA";
        B = fx.folder() + "/volB";
        C = fx.folder() + "/volC";
        for (const QString &v : {A + "/pics", B, C})
            QDir().mkpath(v);
        makePicture(A + "/pics/one.bmp", 8, 8, "BMP");
        makePicture(A + "/pics/two.bmp", 8, 8, "BMP");
        makePicture(C + "/three.jpg", 8, 8, "JPG");
        fx.os().setVolumes({A, B, C});
        f = &fx.start(A + "/pics");
    }
    void cleanup() { fx.stop(); }

    void startsOnTheDriveOfTheStartFolder()
    {
        QCOMPARE(f->Drive1->Drive(), A);
        QCOMPARE(names(), (QStringList{"one.bmp", "two.bmp"}));
    }

    // The folder list and the file list share one reading of the folder, at the
    // start and at each change of drive or folder.
    void startAndEachChangeReadTheFolderOnce()
    {
        fx.stop();
        fx.os().setVolumes({A, B, C});
        int &reads = fx.os().folderReads;
        f = &fx.start(A + "/pics");
        QCOMPARE(reads, 1);
        reads = 0;
        f->Drive1->setDrive(C);
        QCOMPARE(names(), (QStringList{"three.jpg"}));
        QCOMPARE(reads, 1);
        reads = 0;
        f->Dir1->setPath(A);
        QCOMPARE(f->Dir1->item(f->Dir1->count() - 1)->text().trimmed(), QStringLiteral("pics"));
        QVERIFY(names().isEmpty());
        QCOMPARE(reads, 1);
    }

    void eachDriveKeepsItsOwnFolder()
    {
        f->Drive1->setDrive(C);
        QCOMPARE(f->Dir1->Path(), C);
        QCOMPARE(f->File1->Path(), C);
        QCOMPARE(names(), (QStringList{"three.jpg"}));
        f->Drive1->setDrive(A);
        QCOMPARE(f->Dir1->Path(), A + "/pics");
        QCOMPARE(names(), (QStringList{"one.bmp", "two.bmp"}));
        QVERIFY(fx.shown().isEmpty());
    }

    void unreadyDriveGivesOneMessageAndFallsBack()
    {
        f->List1->setListIndex(1);
        fx.os().unreadable = {B};
        f->Drive1->setDrive(B);
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(fx.shown().at(0).prompt, QStringLiteral("ディバイスが準備されていません"));
        QCOMPARE(fx.shown().at(0).buttons, 0);
        QCOMPARE(fx.shown().at(0).title, QStringLiteral("pelorinax"));
        QCOMPARE(f->Drive1->Drive(), A);
        QCOMPARE(f->Dir1->Path(), A + "/pics");
        QCOMPARE(names(), (QStringList{"one.bmp", "two.bmp"}));
        QCOMPARE(f->List1->ListIndex(), -1);
    }

    void unreadableWayBackEndsAfterOneMessageOnAReadablePlace()
    {
        // The volume of the current folder went away too: setting the list back
        // would fail again and again.
        fx.os().unreadable = {A, B};
        f->Drive1->setDrive(B);
        QCOMPARE(fx.shown().size(), 1);
        QCOMPARE(f->Drive1->Drive(), QStringLiteral("/"));   // the first volume that can be read
        QCOMPARE(f->Dir1->Path(), QStringLiteral("/"));
    }

    void driveChangeDuringARunChangesNothingElse()
    {
        Module1::slide_flag = 1;
        f->Drive1->setDrive(C);
        QCOMPARE(f->Dir1->Path(), A + "/pics");
        QCOMPARE(names(), (QStringList{"one.bmp", "two.bmp"}));
        Module1::slide_flag = 0;
    }
};

QTEST_MAIN(TestDriveChange)
#include "test_drive_change.moc"
