#include "support/scripted_os.h"
#include "support/testsupport.h"
#include "system/drives.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

using namespace pel;

class TestDrives : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void mountTableKeepsRealVolumes();
    void liveVolumesStartAtRoot();
    void driveOfTakesLongestPrefix();
    void currentFolderPerDrive();
    void makeCurrentFailsOnUnreadableVolume();
    void vanishedFolderFallsBackToRoot();

private:
    QTemporaryDir m_tmp;
    QString m_a, m_nested, m_b;
    std::unique_ptr<test::ScriptedOs> m_os;
};

void TestDrives::init()
{
    QVERIFY(m_tmp.isValid());
    // Volume A, a volume mounted inside it, and volume B next to A.
    m_a = m_tmp.path() + "/vol";
    m_nested = m_a + "/inner";
    m_b = m_tmp.path() + "/vol2";
    for (const QString &d : {m_a, m_nested, m_b, m_a + "/photos/2024", m_nested + "/x", m_b + "/y"})
        QVERIFY(QDir().mkpath(d));
    m_os = std::make_unique<test::ScriptedOs>();
    m_os->setVolumes({"/", m_a, m_nested, m_b});
    Drives::resetCurrentFolders();
}

void TestDrives::cleanup()
{
    m_os.reset();
    Drives::resetCurrentFolders();
}

void TestDrives::mountTableKeepsRealVolumes()
{
    // A desktop's table: root on btrfs with subvolumes, a USB stick with a blank in
    // its mount point, pseudo file systems, a bind mount, a snap and a container.
    const QByteArray table =
        "22 1 0:21 / /proc rw - proc proc rw\n"
        "23 1 0:22 / /sys rw - sysfs sysfs rw\n"
        "24 1 0:6 / /dev rw - devtmpfs udev rw\n"
        "25 24 0:24 / /dev/pts rw - devpts devpts rw\n"
        "26 1 0:25 / /run rw shared:5 - tmpfs tmpfs rw\n"
        "27 1 0:26 /@ / rw,relatime shared:1 - btrfs /dev/nvme0n1p2 rw,subvol=/@\n"
        "28 27 0:26 /@home /home rw shared:2 - btrfs /dev/nvme0n1p2 rw,subvol=/@home\n"
        "29 23 0:27 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"
        "30 27 259:1 / /boot/efi rw shared:3 - vfat /dev/nvme0n1p1 rw\n"
        "31 26 8:17 / /run/media/me/USB\\040STICK rw,nosuid shared:9 master:1 - exfat /dev/sdb1 rw\n"
        "32 27 0:26 /@home/me/shared /srv/shared rw - btrfs /dev/nvme0n1p2 rw,subvol=/@home\n"
        "33 27 8:17 / /mnt/again rw - exfat /dev/sdb1 rw\n"
        "34 27 7:3 / /snap/core/123 ro - squashfs /dev/loop3 ro\n"
        "35 27 0:40 / /var/lib/docker/overlay2/abc/merged rw - overlay overlay rw\n"
        "36 27 0:41 / /mnt/nas rw - nfs4 nas:/export rw\n"
        "37 27 8:33 / /media/cd ro - iso9660 /dev/sr0 ro\n"
        "garbage line\n";
    QTemporaryDir labels;
    QVERIFY(labels.isValid());
    QVERIFY(QFile::link("/dev/sdb1", labels.path() + "/USB\\x20STICK"));
    QVERIFY(QFile::link("/dev/nvme0n1p1", labels.path() + "/EFI"));

    const std::vector<Volume> v = Drives::parseMountInfo(table, labels.path());
    QStringList roots, shown;
    for (const Volume &vol : v) {
        roots << vol.root;
        shown << vol.label;
    }
    QCOMPARE(roots, (QStringList{"/", "/boot/efi", "/home", "/media/cd", "/mnt/nas", "/run/media/me/USB STICK"}));
    QCOMPARE(shown[1], QStringLiteral("/boot/efi [EFI]"));
    QCOMPARE(shown[5], QStringLiteral("/run/media/me/USB STICK [USB STICK]"));
    QCOMPARE(shown[0], QStringLiteral("/"));

    // No real file system at "/" (a container): "/" is still the first drive.
    const std::vector<Volume> bare = Drives::parseMountInfo(
        "1 0 0:50 / / rw - overlay overlay rw\n2 1 8:1 / /data rw - ext4 /dev/sda1 rw\n", labels.path());
    QCOMPARE(bare.size(), size_t(2));
    QCOMPARE(bare[0].root, QStringLiteral("/"));
    QCOMPARE(bare[1].root, QStringLiteral("/data"));
}

void TestDrives::liveVolumesStartAtRoot()
{
    m_os->setVolumes({});
    const std::vector<Volume> v = Drives::volumes();
    QVERIFY(!v.empty());
    QCOMPARE(v.front().root, QStringLiteral("/"));
    QSet<QString> seen;
    for (const Volume &vol : v) {
        QVERIFY2(!seen.contains(vol.root), qPrintable(vol.root));
        seen.insert(vol.root);
        QVERIFY(vol.label.startsWith(vol.root));
        QVERIFY2(!vol.root.startsWith("/proc/") && !vol.root.startsWith("/sys/"), qPrintable(vol.root));
    }
    QCOMPARE(Drives::driveOf("/proc/self"), QStringLiteral("/"));
}

void TestDrives::driveOfTakesLongestPrefix()
{
    QCOMPARE(Drives::driveOf(m_a), m_a);
    QCOMPARE(Drives::driveOf(m_a + "/photos/2024"), m_a);
    QCOMPARE(Drives::driveOf(m_nested + "/x"), m_nested);
    QCOMPARE(Drives::driveOf(m_nested + "/../photos"), m_a);
    QCOMPARE(Drives::driveOf(m_b + "/y/"), m_b);  // "vol2" is not inside "vol"
    QCOMPARE(Drives::driveOf(m_tmp.path()), QStringLiteral("/"));
    QCOMPARE(Drives::driveOf("/"), QStringLiteral("/"));
}

void TestDrives::currentFolderPerDrive()
{
    QCOMPARE(Drives::currentFolder(m_a), m_a);
    QCOMPARE(Drives::currentFolder(m_b), m_b);

    Drives::setCurrentFolder(m_a + "/photos/2024");
    Drives::setCurrentFolder(m_b + "/y");
    Drives::setCurrentFolder(m_nested + "/x");
    QCOMPARE(Drives::currentFolder(m_a), m_a + "/photos/2024");
    QCOMPARE(Drives::currentFolder(m_b), m_b + "/y");
    QCOMPARE(Drives::currentFolder(m_nested), m_nested + "/x");

    QCOMPARE(Drives::makeCurrent(m_b).value, m_b + "/y");
    QCOMPARE(Drives::makeCurrent(m_a).value, m_a + "/photos/2024");

    Drives::setCurrentFolder(m_a + "/photos");
    QCOMPARE(Drives::makeCurrent(m_a).value, m_a + "/photos");

    Drives::resetCurrentFolders();
    QCOMPARE(Drives::currentFolder(m_a), m_a);
}

void TestDrives::makeCurrentFailsOnUnreadableVolume()
{
    Drives::setCurrentFolder(m_b + "/y");
    m_os->unreadable = {m_b};
    const Result<QString> unreadable = Drives::makeCurrent(m_b);
    QCOMPARE(unreadable.outcome.fault, Fault::Unreadable);
    QCOMPARE(unreadable.outcome.error, EACCES);
    QVERIFY(unreadable.value.isEmpty());
    QVERIFY(!Drives::isReadable(m_b + "/y"));  // nothing under an unmounted volume
    QVERIFY(Drives::isReadable(m_a));
    const Result<QString> readable = Drives::makeCurrent(m_a);
    QVERIFY(readable.ok());
    QCOMPARE(readable.value, m_a);

    // A volume that left the mount table, though its mount point is still there.
    m_os->unreadable.clear();
    m_os->setVolumes({"/", m_a});
    QCOMPARE(Drives::makeCurrent(m_b).outcome.fault, Fault::Unreadable);
    // A root that is gone altogether.
    m_os->setVolumes({"/", m_a, m_tmp.path() + "/gone"});
    QCOMPARE(Drives::makeCurrent(m_tmp.path() + "/gone").outcome.error, ENOENT);
    QVERIFY(!Drives::isReadable(m_tmp.path() + "/gone"));
}

void TestDrives::vanishedFolderFallsBackToRoot()
{
    Drives::setCurrentFolder(m_a + "/photos/2024");
    QVERIFY(QDir(m_a + "/photos").removeRecursively());
    QCOMPARE(Drives::makeCurrent(m_a).value, m_a);
    QCOMPARE(Drives::currentFolder(m_a), m_a);

    // The same when the remembered folder can no longer be read.
    Drives::setCurrentFolder(m_nested + "/x");
    m_os->unreadable = {m_nested + "/x"};
    QCOMPARE(Drives::makeCurrent(m_nested).value, m_nested);
}

QTEST_GUILESS_MAIN(TestDrives)
#include "test_drives.moc"
