#include "help/help_viewer.h"

#include "system/fonts.h"
#include "system/screen.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace pel::help {
namespace {
std::optional<SearchPlaces> g_override;
QPointer<HelpViewer> g_viewer;

const QString kFolder = QStringLiteral("pelorinax");

QStringList absoluteEntries(const QString &list)
{
    QStringList out;
    for (const QString &entry : list.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(entry))
            out << entry;
    return out;
}
}  // namespace

SearchPlaces SearchPlaces::fromSystem()
{
    return {QCoreApplication::applicationDirPath(), qEnvironmentVariable("XDG_DATA_HOME"),
            qEnvironmentVariable("XDG_DATA_DIRS"), QDir::homePath()};
}

QStringList SearchPlaces::folders() const
{
    QStringList out;
    auto add = [&out](const QString &folder) {
        const QString f = QDir::cleanPath(folder);
        if (!out.contains(f))
            out << f;
    };
    if (!exeDir.isEmpty())
        add(exeDir);
    // $XDG_DATA_HOME is one absolute folder; unset, empty or relative means the default.
    if (QDir::isAbsolutePath(dataHome))
        add(dataHome + QLatin1Char('/') + kFolder);
    else if (!home.isEmpty())
        add(home + QStringLiteral("/.local/share/") + kFolder);
    const QStringList dirs = dataDirs.isEmpty() ? QStringList{QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")}
                                                : absoluteEntries(dataDirs);
    for (const QString &d : dirs)
        add(d + QLatin1Char('/') + kFolder);
    // Installed under a prefix the data folders do not name (/opt/pelorinax, say):
    // the data folder beside the executable's.
    if (!exeDir.isEmpty())
        add(exeDir + QStringLiteral("/../share/") + kFolder);
    return out;
}

QString documentName(const QString &helpFile)
{
    return QFileInfo(helpFile).completeBaseName() + kDocumentSuffix;
}

QString findDocument(const QString &helpFile, const SearchPlaces &places)
{
    const QString name = documentName(helpFile);
    for (const QString &folder : places.folders()) {
        const QFileInfo fi(QDir(folder).filePath(name));
        if (fi.isFile() && fi.isReadable())
            return fi.absoluteFilePath();
    }
    return {};
}

void setSearchPlacesOverride(std::optional<SearchPlaces> places) { g_override = std::move(places); }

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
    const SearchPlaces places = g_override ? *g_override : SearchPlaces::fromSystem();
    m_path = findDocument(m_helpFile, places);
    if (m_path.isEmpty()) {
        showMissing(documentName(m_helpFile), places.folders());
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
