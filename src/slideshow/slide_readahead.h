#pragma once
// The next picture of a run, opened and decoded on a worker while the current one
// shows, so that a tick only has to put a finished picture on screen.
#include "picture/file.h"
#include "system/pictures.h"
#include "system/result.h"
#include "system/storage.h"

#include <QImage>
#include <QSizeF>
#include <QString>

namespace pel {

// The size (twips) at which a run shows a picture of natural size `natural` on a
// screen of `screen` twips: its own size when it fits into 70 % both ways, else
// reduced by the smaller of the two factors (the height's on a tie).
QSizeF slideSize(QSizeF natural, QSizeF screen);

class SlideReadAhead {
public:
    struct Slide {
        PicturePtr file;
        QSizeF shown;    // twips, from slideSize()
        QImage image;    // decoded at the shown size; null for metafiles
        std::optional<FileStamp> stamp;   // the file as it was read
        bool changed = false;   // no file, for the file changed while it was read
    };

    // Opens and decodes `path` for showing on a screen of `screen` twips, on the
    // calling thread (a worker's job); a null file when it cannot be shown.
    static Slide prepareHere(const QString &path, QSizeF screen, double twipsPerPixel);

    // Starts preparing `path` on a worker; a previous request is dropped.
    void start(const QString &path, QSizeF screen);
    // The slide of `path`: the one prepared ahead when it was for this path and
    // screen and the file has not changed since, else prepared now. Waits here
    // (see storage::run); Fault::Failed when the file cannot be shown.
    Result<Slide> take(const QString &path, QSizeF screen);
    // The display's colour profile changed: a slide prepared ahead has the old
    // colours, so it is prepared again.
    void restart();

private:
    QString m_path;
    QSizeF m_screen;
    storage::Pending<Slide> m_pending;
};

}  // namespace pel
