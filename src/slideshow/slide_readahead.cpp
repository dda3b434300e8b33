#include "slideshow/slide_readahead.h"

#include "system/pictures.h"
#include "system/twips.h"
#include "system/workers.h"

#include <QFileInfo>

#include <utility>

namespace pel {

QSizeF slideSize(QSizeF natural, QSizeF screen)
{
    const double pw = natural.width(), ph = natural.height();
    const double rW = screen.width() * 0.7 / pw;
    const double rH = screen.height() * 0.7 / ph;
    if (rW >= 1 && rH >= 1)
        return QSizeF(twips::toSingle(pw), twips::toSingle(ph));
    const double s = rW < rH ? rW : rH;
    return QSizeF(twips::toSingle(s * pw), twips::toSingle(s * ph));
}

SlideReadAhead::~SlideReadAhead()
{
    if (m_job)
        m_job->waitForFinished();   // the job reads only its own copies; let it finish
}

SlideReadAhead::Slide SlideReadAhead::prepare(const QString &path, QSizeF screen)
{
    Slide s;
    auto file = openPicture(path);
    if (!file)
        return s;
    const QSizeF natural(float(file->sizeTwips().width()), float(file->sizeTwips().height()));
    if (!(natural.width() > 0 && natural.height() > 0))
        return s;
    s.shown = slideSize(natural, screen);
    if (!file->isVector()) {
        // The same pixel size the viewer's picture box will have at (0, 0).
        const QSize px = twips::toPixels(QRectF(QPointF(0, 0), s.shown)).size();
        if (!px.isEmpty()) {
            s.image = file->render(px);
            if (s.image.isNull())
                return s;   // undecodable: no file, so the tick gives the bad-file message
        }
    }
    s.file = std::move(file);
    return s;
}

SlideReadAhead::Stamp SlideReadAhead::stampOf(const QString &path)
{
    const QFileInfo fi(path);
    if (!fi.exists())
        return {};
    return {fi.size(), fi.lastModified()};
}

void SlideReadAhead::start(const QString &path, QSizeF screen)
{
    if (m_job)
        m_job->waitForFinished();   // one job at a time; it is almost always done by now
    m_path = path;
    m_screen = screen;
    m_stamp = stampOf(path);
    // Metafiles are drawn with fonts, which belong to the user-interface thread; a
    // worker only opens them (their drawing is fast).
    m_job = workers::run([path, screen] { return prepare(path, screen); });
}

std::optional<SlideReadAhead::Slide> SlideReadAhead::take(const QString &path, QSizeF screen)
{
    if (!m_job)
        return std::nullopt;
    const QFuture<Slide> job = *std::exchange(m_job, std::nullopt);
    Slide s;
    try {
        s = job.result();
    } catch (...) {
        return std::nullopt;   // the worker failed (out of memory): decode at the tick instead
    }
    if (path != m_path || screen != m_screen || stampOf(path) != m_stamp)
        return std::nullopt;
    return s;
}

}  // namespace pel
