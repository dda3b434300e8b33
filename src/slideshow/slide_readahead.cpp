#include "slideshow/slide_readahead.h"

#include "system/fsname.h"
#include "system/twips.h"


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

SlideReadAhead::Slide SlideReadAhead::prepareHere(const QString &path, QSizeF screen, double twipsPerPixel)
{
    Slide s;
    s.stamp = FileStamp::ofPath(fsname::encode(path));
    s.changed = !s.stamp;   // missing a moment: looked at again when its turn comes
    if (!s.stamp)
        return s;
    // A file replaced while it is read is no bad file: the next look reads it again.
    const auto failed = [&s, &path] {
        s.changed = FileStamp::ofPath(fsname::encode(path)) != s.stamp;
        return s;
    };
    auto file = openPictureHere(path, twipsPerPixel);
    if (!file)
        return failed();
    const QSizeF natural(float(file->sizeTwips().width()), float(file->sizeTwips().height()));
    if (!(natural.width() > 0 && natural.height() > 0))
        return s;
    s.shown = slideSize(natural, screen);
    // Metafiles are drawn with fonts, which belong to the user-interface thread; a
    // worker only opens them (their drawing is fast).
    if (!file->isVector()) {
        // The same pixel size the viewer's picture box will have at (0, 0).
        const QSize px(int(twips::roundHalfEven(s.shown.width() / twipsPerPixel)),
                       int(twips::roundHalfEven(s.shown.height() / twipsPerPixel)));
        if (!px.isEmpty()) {
            s.image = file->render(px);
            if (s.image.isNull())
                return failed();   // undecodable: no file, so the tick gives the bad-file message
        }
    }
    s.file = std::move(file);
    return s;
}

void SlideReadAhead::start(const QString &path, QSizeF screen)
{
    m_path = path;
    m_screen = screen;
    m_pending = storage::start(path, storage::Limit::Progress, [path, screen, tpp = twips::perPixel()] {
        return prepareHere(path, screen, tpp);
    });
}

Result<SlideReadAhead::Slide> SlideReadAhead::take(const QString &path, QSizeF screen)
{
    const double tpp = twips::perPixel();
    if (m_pending.valid() && path == m_path && screen == m_screen) {
        Result<Slide> ahead = std::exchange(m_pending, {}).take();
        if (!ahead.ok())
            return ahead;
        if (!ahead.value.file && !ahead.value.changed)
            return Result<Slide>::failure(Outcome::failure(Fault::Failed));
        if (ahead.value.file) {
            // Shown only if the file is still the one decoded.
            auto now = storage::run(path, storage::Limit::Answer,
                                    [path] { return FileStamp::ofPath(fsname::encode(path)); });
            if (!now.ok())
                return Result<Slide>::failure(now.outcome);
            if (now.value && now.value == ahead.value.stamp)
                return ahead;
        }
    }
    m_pending = {};
    auto r = storage::run(path, storage::Limit::Progress, [path, screen, tpp] { return prepareHere(path, screen, tpp); });
    if (r.ok() && !r.value.file)
        return Result<Slide>::failure(Outcome::failure(Fault::Failed));
    return r;
}

void SlideReadAhead::restart()
{
    if (m_pending.valid())
        start(m_path, m_screen);
}

}  // namespace pel
