#pragma once
// The system clipboard, as the copy command uses it. A copied picture is offered
// in its file's own format (the file's bytes) and as PNG and as an image at its
// natural size; the pixels are made only when a program pastes them.
#include "picture/picture.h"
#include "system/result.h"

#include <QByteArray>
#include <QImage>
#include <QMimeData>
#include <QSize>
#include <QString>
#include <memory>

namespace pel::clipboard {

// A picture file as it was when it was copied. Its bytes are taken into memory by
// a job on the workers while the user reads the copy's message (at once when the
// file changed a moment ago, when a later change could carry the same time
// stamp); the file is then let go, so it may be changed, deleted or its card
// ejected. A paste gets exactly those bytes, or the picture made from them, or
// nothing when the file changed before they were taken: never another picture.
// The file is opened and its stamps read through the Os.
class CopiedFile {
public:
    // Opens `path` as it is now; null when it is not a readable file.
    static std::shared_ptr<CopiedFile> open(const QString &path);
    ~CopiedFile();
    CopiedFile(const CopiedFile &) = delete;
    CopiedFile &operator=(const CopiedFile &) = delete;

    // The opened file itself, for checking what it holds before the copy is made.
    QString openedPath() const;
    // Starts taking the bytes (once). False when they were taken at once and are
    // not the file's as opened (it changed, or could not be read).
    bool take();
    // Waits until the bytes are taken; true when they are the file's as opened.
    bool ready() const;
    // The bytes as copied; empty unless ready().
    QByteArray bytes() const;
    // A path from which the copied bytes can be read while this object lives
    // (the picture loader opens it); empty unless ready().
    QString bytesPath() const;

    struct State;

private:
    CopiedFile() = default;
    std::shared_ptr<State> m_state;
};

// The clipboard's contents for a copied picture. Formats: the file's own
// ("image/jpeg", "image/bmp", "image/wmf" and "image/x-wmf", "image/png"), then
// "image/png" and "application/x-qt-image"; any other image format a program asks
// for is written from the image by Qt.
class PictureMimeData final : public QMimeData {
public:
    PictureMimeData(std::shared_ptr<CopiedFile> file, PictureFormat format, QSize naturalSize);

    QStringList formats() const override;
    // The picture at its natural size in sRGB, made from the copied bytes (and kept
    // a few seconds for the next request); null when the copy holds nothing.
    QImage image() const;
    // The picture as PNG: the file's bytes when it is one, else written from image().
    QByteArray png() const;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    std::shared_ptr<CopiedFile> m_file;
    PictureFormat m_format;
    QSize m_size;
    QStringList m_ownFormats;   // offered as the file's own bytes
    mutable QImage m_image;     // the last one made, for a few seconds
};

void clear();

// Clears the clipboard and puts the picture held by the file at `path` on it, when
// the file still holds a picture of `format` and `naturalSize` (the one the viewer
// shows). Fault::Failed, with the clipboard untouched, when it does not; the file
// is looked at on a worker (see storage::run). Nothing is decoded here, so it
// takes no longer for a large picture.
Outcome putPictureFile(const QString &path, PictureFormat format, QSize naturalSize);

}  // namespace pel::clipboard
