#pragma once
// The next picture of a run, decoded by a job on the workers while the current one shows,
// so that a tick only has to put a finished picture on screen.
#include <QDateTime>
#include <QFuture>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <memory>
#include <optional>

namespace pel {

class PictureFile;

// The size (twips) at which a run shows a picture of natural size `natural` on a
// screen of `screen` twips: its own size when it fits into 70 % both ways, else
// reduced by the smaller of the two factors (the height's on a tie).
QSizeF slideSize(QSizeF natural, QSizeF screen);

class SlideReadAhead {
public:
    struct Slide {
        std::shared_ptr<const PictureFile> file;   // null: the file cannot be shown
        QSizeF shown;                              // twips, from slideSize()
        QImage image;                              // decoded at the shown size; null for metafiles
    };

    SlideReadAhead() = default;
    SlideReadAhead(const SlideReadAhead &) = delete;
    SlideReadAhead &operator=(const SlideReadAhead &) = delete;
    ~SlideReadAhead();

    // Opens and decodes `path` for showing on a screen of `screen` twips (the work
    // the user-interface thread would otherwise do at the tick).
    static Slide prepare(const QString &path, QSizeF screen);

    // Starts preparing `path` on the workers; a previous request is dropped.
    void start(const QString &path, QSizeF screen);
    // The prepared slide when the last request was for this path and screen and the
    // file has not changed since (waits for the worker if it is still busy).
    std::optional<Slide> take(const QString &path, QSizeF screen);
    bool pending() const { return m_job.has_value(); }

private:
    struct Stamp {
        qint64 size = -1;
        QDateTime modified;
        bool operator==(const Stamp &) const = default;
    };
    static Stamp stampOf(const QString &path);

    QString m_path;
    QSizeF m_screen;
    Stamp m_stamp;
    std::optional<QFuture<Slide>> m_job;
};

}  // namespace pel
