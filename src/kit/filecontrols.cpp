#include "kit/filecontrols.h"

#include "system/drives.h"
#include "system/fsname.h"
#include "system/storage.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

namespace pel::kit {
namespace {
constexpr int kPathRole = Qt::UserRole + 1;

QString cleanFolder(const QString &path)
{
    QString p = QDir::cleanPath(path);
    return p.isEmpty() ? QStringLiteral("/") : p;
}

// Folder icons drawn here: the style's come from an icon-theme search that costs
// more than the rest of the start-up's folder list together.
QIcon drawFolder(bool open)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(150, 110, 20));
    p.setBrush(open ? QColor(235, 190, 70) : QColor(250, 210, 90));
    p.drawRect(1, 3, 6, 2);              // the tab
    p.drawRect(1, 4, open ? 12 : 13, 9);
    if (open) {                          // the front flap, tilted open
        p.setBrush(QColor(255, 225, 120));
        p.drawPolygon(QPolygon({QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13)}));
    }
    return QIcon(pm);
}

QIcon folderIcon(bool open)
{
    static const QIcon icons[2] = {drawFolder(false), drawFolder(true)};
    return icons[open ? 1 : 0];
}
}  // namespace

// ---- DriveListBox --------------------------------------------------------------

DriveListBox::DriveListBox(QWidget *parent) : Twips<QComboBox>(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    refreshVolumes();
    connect(this, &QComboBox::activated, this, [this](int i) {
        const QString root = itemData(i).toString();
        if (root != m_drive) {
            m_drive = root;
            emit Change();
        }
    });
}

void DriveListBox::refreshVolumes()
{
    const QSignalBlocker block(this);
    clear();
    for (const Volume &v : Drives::volumes())
        addItem(v.label, v.root);
    showDrive(m_drive);
}

void DriveListBox::showPopup()
{
    // Volumes come and go (a stick plugged in): list them as they are now.
    refreshVolumes();
    QComboBox::showPopup();
}

void DriveListBox::showDrive(const QString &root)
{
    const QSignalBlocker block(this);
    int i = findData(root);
    if (i < 0 && !root.isEmpty()) {
        addItem(root, root);
        i = count() - 1;
    }
    setCurrentIndex(i);
}

void DriveListBox::setDrive(const QString &root)
{
    showDrive(root);
    if (root == m_drive)
        return;
    m_drive = root;
    emit Change();
}

void DriveListBox::setBackColor(const QColor &c)
{
    m_back = c;
    QPalette p = palette();
    p.setColor(QPalette::Base, c);
    p.setColor(QPalette::Button, c);
    setPalette(p);
}

void DriveListBox::focusInEvent(QFocusEvent *e)
{
    QComboBox::focusInEvent(e);
    emit GotFocus();
}

// ---- DirListBox ----------------------------------------------------------------

DirListBox::DirListBox(QWidget *parent) : Twips<QListWidget>(parent)
{
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        if (item)
            setPath(item->data(kPathRole).toString());
    });
}

void DirListBox::setPath(const QString &path)
{
    const QString p = cleanFolder(path);
    if (p == m_path)
        return;
    m_path = p;
    fill();
    emit Change();
}

namespace {
// The reading the folder list made of its folder, for the file list that follows
// in the same step; dropped when the event loop next runs after that step.
FolderReadingPtr g_justRead;

void keepForFileList(FolderReadingPtr reading)
{
    g_justRead = std::move(reading);
    const FolderReading *kept = g_justRead.get();
    QTimer::singleShot(0, qApp, [kept] {
        if (g_justRead.get() == kept)
            g_justRead.reset();
    });
}
}  // namespace

void DirListBox::fill()
{
    // Read first: a folder on a share that does not answer in time is one that
    // cannot be read.
    struct Read {
        Result<QStringList> subs;
        FolderReadingPtr reading;
    };
    const Result<Read> read = storage::run(m_path, storage::Limit::Answer, [path = m_path] {
        Read r;
        r.subs = subFolders(path, &r.reading);
        return r;
    });
    if (read.outcome.fault == Fault::Closing)
        return;
    keepForFileList(read.value.reading);
    showEntries(read.ok() ? read.value.subs : Result<QStringList>::failure(read.outcome));
}

void DirListBox::setPathUnread(const QString &path)
{
    m_path = cleanFolder(path);
    showEntries(Result<QStringList>::failure(Outcome::failure(Fault::Unreadable)));
}

void DirListBox::showSubFolders(const Result<QStringList> &subs) { showEntries(subs); }

void DirListBox::showEntries(const Result<QStringList> &subs)
{
    clear();
    const QIcon open = folderIcon(true);
    const QIcon closed = folderIcon(false);
    // The chain from the root down to the open folder, each indented one step more.
    QStringList parts = m_path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString acc = QStringLiteral("/");
    int depth = 0;
    auto add = [this](const QString &text, const QString &full, const QIcon &icon, int indent) {
        auto *item = new QListWidgetItem(icon, QString(indent * 2, QLatin1Char(' ')) + text, this);
        item->setData(kPathRole, full);
        return item;
    };
    QListWidgetItem *current = add(QStringLiteral("/"), acc, open, depth);
    for (const QString &part : parts) {
        acc = acc.endsWith(QLatin1Char('/')) ? acc + part : acc + QLatin1Char('/') + part;
        current = add(fsname::display(part), acc, open, ++depth);
    }
    m_readable = subs.ok();
    const QStringList shown = fsname::displayDistinct(subs.value);
    for (qsizetype i = 0; i < subs.value.size(); ++i) {
        const QString &s = subs.value.at(i);
        const QString full = m_path.endsWith(QLatin1Char('/')) ? m_path + s : m_path + QLatin1Char('/') + s;
        add(shown.at(i), full, closed, depth + 1);
    }
    setCurrentItem(current);
    // A hidden list scrolls to its current entry when it shows (Qt remembers it);
    // scrolling now would lay the entries out, measuring them before the main
    // window's fonts are set.
    if (isVisible())
        scrollToItem(current);
}

QString DirListBox::highlightedPath() const
{
    const QListWidgetItem *item = currentItem();
    return item ? item->data(kPathRole).toString() : m_path;
}

void DirListBox::setBackColor(const QColor &c)
{
    m_back = c;
    QPalette p = palette();
    p.setColor(QPalette::Base, c);
    setPalette(p);
}

void DirListBox::focusInEvent(QFocusEvent *e)
{
    QListWidget::focusInEvent(e);
    emit GotFocus();
}

// ---- FileListBox ---------------------------------------------------------------

FileListBox::FileListBox(QObject *parent) : QObject(parent) {}

void FileListBox::setPath(const QString &path)
{
    const QString p = cleanFolder(path);
    if (p == m_path)
        return;   // a drive change sets the same path twice; one scan is enough
    m_path = p;
    Refresh();
}

void FileListBox::setPattern(const QString &pattern)
{
    m_pattern = FilePattern(pattern);
    Refresh();
}

void FileListBox::Refresh()
{
    m_names.clear();
    m_ids.clear();
    if (m_path.isEmpty() || m_pattern.text().isEmpty())
        return;
    FolderReadingPtr earlier = std::exchange(g_justRead, nullptr);
    // A folder on a share that does not answer in time lists nothing, as one that
    // cannot be read.
    Result<Result<ScanResult>> scan = storage::run(m_path, storage::Limit::Answer,
                                                   [path = m_path, pattern = m_pattern, earlier] {
                                                       return scanFolder(path, pattern, 32767, earlier);
                                                   });
    setListing(std::move(scan.value));
}

void FileListBox::setUnread(const QString &path, const QString &pattern)
{
    m_path = cleanFolder(path);
    m_pattern = FilePattern(pattern);
    m_names.clear();
    m_ids.clear();
}

void FileListBox::setListing(Result<ScanResult> listing)
{
    m_names = std::move(listing.value.names);
    m_ids = std::move(listing.value.ids);
}

}  // namespace pel::kit
