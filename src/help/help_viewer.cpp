#include "help/help_viewer.h"

#include "system/fonts.h"
#include "system/screen.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace pel::help {
namespace {
QPointer<HelpViewer> g_viewer;

const QString kFolder = QStringLiteral("pelorinax");

QString exeDir() { return QCoreApplication::applicationDirPath(); }
// Installed under a prefix the data folders do not name (/opt/pelorinax, say):
// the data folder beside the executable's.
QString besideExe() { return QDir::cleanPath(exeDir() + QStringLiteral("/../share/") + kFolder); }

QString documentIn(const QString &folder, const QString &name)
{
    const QFileInfo fi(QDir(folder).filePath(name));
    return fi.isFile() && fi.isReadable() ? fi.absoluteFilePath() : QString();
}
}  // namespace

QStringList searchFolders()
{
    QStringList out{exeDir()};
    for (const QString &data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        out << QDir(data).filePath(kFolder);
    out << besideExe();
    out.removeDuplicates();
    return out;
}

QString documentName(const QString &helpFile)
{
    return QFileInfo(helpFile).completeBaseName() + kDocumentSuffix;
}

QString findDocument(const QString &helpFile)
{
    const QString name = documentName(helpFile);
    QString found = documentIn(exeDir(), name);
    if (found.isEmpty())
        found = QStandardPaths::locate(QStandardPaths::GenericDataLocation, kFolder + QLatin1Char('/') + name);
    if (found.isEmpty())
        found = documentIn(besideExe(), name);
    return found;
}

// ---- HelpViewer --------------------------------------------------------------

// A window of its own, not kept above its owner: the user can bring the main
// window forward over it and go on working. It lives no longer than its owner.
HelpViewer::HelpViewer(QWidget *owner, const QString &helpFile)
    : QWidget(nullptr, Qt::Window), m_owner(owner), m_helpFile(helpFile)
{
    if (owner)
        connect(owner, &QObject::destroyed, this, &QObject::deleteLater);
    setObjectName(QStringLiteral("HelpViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("ヘルプ"));

    auto *bar = new QHBoxLayout;
    auto tool = [this, bar](const QString &text) {
        auto *b = new QToolButton(this);
        b->setText(text);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        bar->addWidget(b);
        return b;
    };
    m_contents = tool(QStringLiteral("目次"));
    m_back = tool(QStringLiteral("戻る"));
    m_forward = tool(QStringLiteral("進む"));
    bar->addStretch(1);

    browser = new QTextBrowser(this);
    browser->setObjectName(QStringLiteral("browser"));
    browser->setOpenExternalLinks(true);
    browser->setFont(fonts::font(fonts::kGothic, 10.5));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addLayout(bar);
    layout->addWidget(browser, 1);

    m_back->setEnabled(false);
    m_forward->setEnabled(false);
    connect(m_contents, &QToolButton::clicked, browser, &QTextBrowser::home);
    connect(m_back, &QToolButton::clicked, browser, &QTextBrowser::backward);
    connect(m_forward, &QToolButton::clicked, browser, &QTextBrowser::forward);
    connect(browser, &QTextBrowser::backwardAvailable, m_back, &QToolButton::setEnabled);
    connect(browser, &QTextBrowser::forwardAvailable, m_forward, &QToolButton::setEnabled);

    // A page of text, centred across and low on the screen, so that the title
    // and menus of the main window in its usual place stay in sight above it.
    const QSize scr = screen::pixels();
    const QSize size(std::min(720, scr.width() * 9 / 10), std::min(540, scr.height() * 7 / 10));
    resize(size);
    move((scr.width() - size.width()) / 2, std::max(0, scr.height() - size.height() - 40));
}

void HelpViewer::showContents()
{
    m_path = findDocument(m_helpFile);
    if (m_path.isEmpty()) {
        showMissing(documentName(m_helpFile), searchFolders());
        return;
    }
    browser->setSource(QUrl::fromLocalFile(m_path));
    browser->clearHistory();
    m_contents->setEnabled(true);
    const QString title = browser->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("ヘルプ") : title);
}

void HelpViewer::showMissing(const QString &name, const QStringList &folders)
{
    browser->setSource(QUrl());
    browser->clearHistory();
    m_contents->setEnabled(false);
    setWindowTitle(QStringLiteral("ヘルプ"));
    QString list;
    for (const QString &f : folders)
        list += QStringLiteral("<li><code>%1</code></li>").arg(f.toHtmlEscaped());
    browser->setHtml(QStringLiteral("<h2>ヘルプ ファイルが見つかりません</h2>"
                                    "<p>ヘルプ ファイル <b><code>%1</code></b> を次の場所で探しましたが、"
                                    "どこにもありませんでした。</p><ol>%2</ol>"
                                    "<p>プログラムを入れ直すか、このファイルをいずれかの場所に置いてから、"
                                    "もう一度［ヘルプ］→［使い方］を選んでください。</p>")
                         .arg(name.toHtmlEscaped(), list));
}

// ---- the call ------------------------------------------------------------------

bool WinHelp(QWidget *owner, const QString &helpFile, int command, int data)
{
    Q_UNUSED(data)
    if (command != kHelpContents)
        return false;
    HelpViewer *v = g_viewer;
    if (v && v->owner() != owner) {
        v->close();
        v = nullptr;
    }
    if (!v) {
        v = new HelpViewer(owner, helpFile);
        g_viewer = v;
    }
    v->showContents();
    v->show();
    v->raise();
    v->activateWindow();
    return v->documentFound();
}

HelpViewer *viewer() { return g_viewer; }

void closeViewer()
{
    if (g_viewer)
        g_viewer->close();
}

}  // namespace pel::help
