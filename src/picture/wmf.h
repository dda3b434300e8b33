#pragma once
// Windows Metafile (WMF) reader and renderer of our own: records are replayed
// through QPainter, so a metafile stays sharp at any size.
#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <memory>
#include <optional>

class QPainter;

namespace pel::wmf {

class Document {
public:
    // Parses the header and walks the records once, bounded by the data (never by
    // the header's size fields). Returns nullopt for anything that is not a WMF we
    // can show (an EMF, a text file, a broken header); *error says why.
    // The document shares `data` (it is not copied): bytes() gives it back.
    static std::optional<Document> parse(const QByteArray &data, QString *error = nullptr);

    // The metafile's bytes, as parsed.
    QByteArray bytes() const;

    // Natural size in twips: placeable header (right-left) * 1440 / units per inch;
    // else the first SetWindowExt taken as twips; else the bounds of what it draws.
    QSizeF sizeTwips() const;

    // Replays the records stretched into `target` on `painter`. Unknown records are skipped.
    void paint(QPainter &painter, const QRectF &target) const;

    // Renders into a transparent ARGB32 image of `size` pixels.
    QImage render(QSize size) const;

    struct Data;
private:
    std::shared_ptr<const Data> d;
};

}  // namespace pel::wmf
