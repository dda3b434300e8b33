// Opening a picture: the format comes from the first bytes, the natural size from
// the header. Pixels are decoded later, by render(), at the size they are shown at.
#include "picture/picture.h"

#include "picture/decoders.h"
#include "picture/scale.h"
#include "picture/wmf.h"

#include <QtEndian>
#include <QFile>
#include <QImageReader>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace pel {
using namespace picture::detail;

namespace picture {
qint64 maxDecodedBytes()
{
    static const qint64 bound = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        const qint64 ram = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : qint64(2) << 30;
        // A quarter of the memory, so a 100-megapixel photo fits on any usual machine,
        // but no more than 2 GiB: beyond that a header is lying, not describing a photo.
        return std::clamp(ram / 4, qint64(256) << 20, qint64(2) << 30);
    }();
    return bound;
}

namespace detail {

bool withinBudget(QSize size, QString *error)
{
    if (decodedBytes(size) <= maxDecodedBytes())
        return true;
    setError(error, QStringLiteral("picture claims %1 x %2 pixels, more than this machine can hold")
                        .arg(size.width())
                        .arg(size.height()));
    return false;
}

void liftQtAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(int(maxDecodedBytes() >> 20)); });
}

bool pngChunksFit(QIODevice &device, QString *error)
{
    const qint64 size = device.size();
    qint64 at = 8;  // after the signature
    bool fits = true;
    while (at + 8 <= size && device.seek(at)) {
        const QByteArray head = device.read(8);
        if (head.size() < 8)
            break;
        const auto *h = reinterpret_cast<const uchar *>(head.constData());
        const qint64 length = qFromBigEndian<quint32>(h);
        const bool data = std::memcmp(h + 4, "IDAT", 4) == 0;
        if (!data && at + 12 + length > size) {
            fits = false;
            break;
        }
        if (std::memcmp(h + 4, "IEND", 4) == 0)
            break;
        at += 12 + length;
    }
    device.seek(0);
    if (!fits)
        setError(error, QStringLiteral("PNG chunk is longer than the file"));
    return fits;
}

}  // namespace detail
}  // namespace picture

namespace {

// Files we read whole (icons, metafiles) are small; anything bigger is not one of them.
constexpr qint64 kMaxWholeFile = qint64(64) << 20;
// Formats whose readers cannot reduce while they read (GIF, TIFF, WebP) are decoded whole.
constexpr qint64 kMaxWholeDecode = qint64(640) << 20;
// The first bytes: enough for every header we sniff, and for a BMP's headers and palette.
constexpr qint64 kHeadBytes = 8192;

enum class Sniffed { Unknown, Bmp, Jpeg, Ico, Cur, Wmf, Emf, Png, Gif, Tiff, Webp };


Sniffed sniff(const QByteArray &head)
{
    const auto *p = reinterpret_cast<const uchar *>(head.constData());
    const auto n = std::size_t(head.size());
    auto starts = [&](const char *magic, std::size_t len, std::size_t at = 0) {
        return n >= at + len && std::memcmp(p + at, magic, len) == 0;
    };
    if (starts("BM", 2))
        return Sniffed::Bmp;
    if (starts("\xff\xd8\xff", 3))
        return Sniffed::Jpeg;
    if (starts("\0\0\1\0", 4))
        return Sniffed::Ico;
    if (starts("\0\0\2\0", 4))
        return Sniffed::Cur;
    if (starts("\xd7\xcd\xc6\x9a", 4))
        return Sniffed::Wmf;  // placeable metafile
    if (n >= 6) {  // a metafile without the placeable header: type, header words, version
        const auto type = qFromLittleEndian<quint16>(p), words = qFromLittleEndian<quint16>(p + 2),
                   version = qFromLittleEndian<quint16>(p + 4);
        if ((type == 1 || type == 2) && words == 9 && (version == 0x100 || version == 0x300))
            return Sniffed::Wmf;
    }
    if (n >= 44 && qFromLittleEndian<quint32>(p) == 1 && starts(" EMF", 4, 40))
        return Sniffed::Emf;
    if (starts("\x89PNG\r\n\x1a\n", 8))
        return Sniffed::Png;
    if (starts("GIF87a", 6) || starts("GIF89a", 6))
        return Sniffed::Gif;
    if (starts("II*\0", 4) || starts("MM\0*", 4))
        return Sniffed::Tiff;
    if (starts("RIFF", 4) && starts("WEBP", 4, 8))
        return Sniffed::Webp;
    return Sniffed::Unknown;
}

// Opens `path` as a regular file into `file` (see openRegularFile).
bool openFile(QFile &file, const QByteArray &path, qint64 *size, QString *error)
{
    UniqueFd fd = openRegularFile(path, error);
    if (!fd.valid())
        return false;
    const auto stamp = FileStamp::of(fd.get(), path);
    if (!stamp) {
        setError(error, QStringLiteral("cannot read the file"));
        return false;
    }
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        setError(error, QStringLiteral("cannot open the file: %1").arg(file.errorString()));
        return false;
    }
    fd.release();  // the QFile closes it from now on
    *size = stamp->size;
    return true;
}

// A whole small file (an icon), mapped where possible.
class FileBytes {
public:
    bool open(const QByteArray &path, QString *error, qint64 limit)
    {
        if (!openFile(file_, path, &size_, error))
            return false;
        if (size_ > limit) {
            setError(error, QStringLiteral("file is too large for its kind"));
            return false;
        }
        if (size_ > 0)
            data_ = file_.map(0, size_);
        if (!data_) {
            copy_ = file_.readAll();
            data_ = reinterpret_cast<uchar *>(copy_.data());
            size_ = copy_.size();
        }
        if (size_ <= 0) {
            setError(error, QStringLiteral("file is empty"));
            return false;
        }
        return true;
    }
    const uchar *data() const { return data_; }
    std::size_t size() const { return std::size_t(size_); }

private:
    QFile file_;
    QByteArray copy_;
    uchar *data_ = nullptr;
    qint64 size_ = 0;
};

class BitmapPicture : public PictureFile {
public:
    BitmapPicture(const QByteArray &path, PictureFormat format, QSize size, double twipsPerPixel)
        : path_(path), format_(format), size_(size), twipsPerPixel_(twipsPerPixel) {}

    PictureFormat format() const override { return format_; }
    QSize pixelSize() const override { return size_; }
    QSizeF sizeTwips() const override { return QSizeF(size_) * twipsPerPixel_; }

    QImage render(QSize target, QString *error) const override
    {
        if (target.isEmpty())
            target = size_;
        if (!withinBudget(target, error) || !withinBudget(size_, error))
            return {};
        QImage img = decode(target, error);
        if (!img.isNull() && img.size() != target)
            img = scaledTo(img, target);
        return img;
    }

    bool paint(QPainter &painter, const QRectF &target, QString *error) const override
    {
        const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const QSize pixels = (target.size() * dpr).toSize();
        if (pixels.isEmpty())
            return true;  // nothing to cover
        const QImage img = render(pixels, error);
        if (img.isNull())
            return false;
        painter.drawImage(target, img);
        return true;
    }

protected:
    virtual QImage decode(QSize target, QString *error) const = 0;

    QByteArray path_;
    PictureFormat format_;
    QSize size_;
    double twipsPerPixel_;
};

class BmpPicture final : public BitmapPicture {
public:
    using BitmapPicture::BitmapPicture;

protected:
    QImage decode(QSize target, QString *error) const override
    {
        const UniqueFd fd = openRegularFile(path_, error);
        const auto stamp = FileStamp::of(fd.get(), path_);
        if (!fd.valid() || !stamp)
            return {};
        const qint64 fileSize = stamp->size;
        // The headers and the palette; the pixels are read in bands as they are decoded.
        std::vector<uchar> head(std::size_t(std::min<qint64>(fileSize, kHeadBytes)));
        head.resize(std::size_t(std::max<qint64>(readAt(fd.get(), head.data(), head.size(), 0), 0)));
        DibLayout layout;
        if (!parseBmp(head.data(), head.size(), std::size_t(fileSize), &layout, error))
            return {};
        if (QSize(layout.width, layout.height) != size_) {
            setError(error, QStringLiteral("file changed since it was opened"));
            return {};
        }
        return decodeBmpFile(fd.get(), fileSize, layout, target, error);
    }
};

class JpegPicture final : public BitmapPicture {
public:
    using BitmapPicture::BitmapPicture;

protected:
    QImage decode(QSize target, QString *error) const override { return decodeJpeg(path_, target, error); }
};

class IcoPicture final : public BitmapPicture {
public:
    using BitmapPicture::BitmapPicture;

protected:
    QImage decode(QSize target, QString *error) const override
    {
        FileBytes bytes;
        IcoEntry entry;
        bool cursor = false;
        if (!bytes.open(path_, error, kMaxWholeFile) || !parseIco(bytes.data(), bytes.size(), &entry, &cursor, error))
            return {};
        if (entry.size != size_) {
            setError(error, QStringLiteral("file changed since it was opened"));
            return {};
        }
        return decodeIcoEntry(bytes.data(), bytes.size(), entry, target, error);
    }
};

// Formats we leave to Qt's readers; BMP, JPEG and ICO never come here, so their
// plugins are never loaded for the common pictures.
class QtPicture final : public BitmapPicture {
public:
    QtPicture(const QByteArray &path, PictureFormat format, QSize size, double twipsPerPixel, QByteArray qtFormat)
        : BitmapPicture(path, format, size, twipsPerPixel), qtFormat_(std::move(qtFormat)) {}

protected:
    QImage decode(QSize target, QString *error) const override
    {
        QFile file;
        qint64 fileSize = 0;
        if (!openFile(file, path_, &fileSize, error))
            return {};
        if (format_ == PictureFormat::Png && !pngChunksFit(file, error))
            return {};
        QImageReader reader(&file, qtFormat_);
        // Readers that can reduce while they read (PNG does) then never hold the natural size.
        if (target.width() < size_.width() && target.height() < size_.height())
            reader.setScaledSize(target);
        QImage img = reader.read();
        if (img.isNull()) {
            setError(error, reader.errorString());
            return {};
        }
        return scaledTo(img, target);
    }

private:
    QByteArray qtFormat_;
};

class WmfPicture final : public PictureFile {
public:
    WmfPicture(wmf::Document doc, QByteArray bytes, double twipsPerPixel)
        : doc_(std::move(doc)), bytes_(std::move(bytes)), twipsPerPixel_(twipsPerPixel) {}

    PictureFormat format() const override { return PictureFormat::Wmf; }
    QSizeF sizeTwips() const override { return doc_.sizeTwips(); }
    QSize pixelSize() const override
    {
        // A metafile smaller than a pixel still covers one.
        const QSizeF tw = doc_.sizeTwips();
        auto pixels = [this](double twips) { return std::max(1, int(std::nearbyint(twips / twipsPerPixel_))); };
        return QSize(pixels(tw.width()), pixels(tw.height()));
    }
    QImage render(QSize target, QString *error) const override
    {
        if (target.isEmpty())
            target = pixelSize();
        if (target.isEmpty() || !withinBudget(target, error))
            return {};
        QImage img = doc_.render(target);
        if (img.isNull())
            setError(error, QStringLiteral("metafile cannot be rendered"));
        return img;
    }
    bool paint(QPainter &painter, const QRectF &target, QString *) const override
    {
        doc_.paint(painter, target);
        return true;
    }
    QByteArray nativeData() const override { return bytes_; }

private:
    wmf::Document doc_;
    QByteArray bytes_;
    double twipsPerPixel_;
};

std::shared_ptr<const PictureFile> openWithQt(const QByteArray &path, PictureFormat format, const char *qtFormat,
                                              double twipsPerPixel, QString *error)
{
    liftQtAllocationLimit();
    QFile file;
    qint64 fileSize = 0;
    if (!openFile(file, path, &fileSize, error) || (format == PictureFormat::Png && !pngChunksFit(file, error)))
        return nullptr;
    QImageReader reader(&file, qtFormat);
    const QSize size = reader.canRead() ? reader.size() : QSize();
    if (size.isEmpty()) {
        setError(error, QStringLiteral("cannot read the %1 header: %2").arg(QLatin1String(qtFormat), reader.errorString()));
        return nullptr;
    }
    if (!withinBudget(size, error))
        return nullptr;
    // Deflate packs at most 1032 bytes into one: a large PNG in fewer bytes than that is a lie.
    if (format == PictureFormat::Png && decodedBytes(size) > (qint64(64) << 20) &&
        mulSat(fileSize, 1032) < mulSat(size.width(), size.height())) {
        setError(error, QStringLiteral("PNG file is far shorter than its header claims"));
        return nullptr;
    }
    // The other readers decode the whole picture even for a preview: one they would
    // hold at more than this is refused rather than let a preview take gigabytes.
    if (format != PictureFormat::Png && decodedBytes(size) > kMaxWholeDecode) {
        setError(error, QStringLiteral("picture is too large for its kind"));
        return nullptr;
    }
    return std::make_shared<QtPicture>(path, format, size, twipsPerPixel, QByteArray(qtFormat));
}

}  // namespace

std::shared_ptr<const PictureFile> PictureFile::open(const QByteArray &path, double twipsPerPixel, QString *error)
{
    QFile file;
    qint64 fileSize = 0;
    if (!openFile(file, path, &fileSize, error))
        return nullptr;
    const QByteArray head = file.read(kHeadBytes);
    if (head.isEmpty()) {
        setError(error, QStringLiteral("file is empty or unreadable"));
        return nullptr;
    }
    const auto *p = reinterpret_cast<const uchar *>(head.constData());
    const auto n = std::size_t(head.size());

    switch (sniff(head)) {
    case Sniffed::Bmp: {
        DibLayout l;
        if (!parseBmp(p, n, std::size_t(fileSize), &l, error))
            return nullptr;
        const QSize size(l.width, l.height);
        if (!withinBudget(size, error) || !dibPlausible(l, fileSize, error))
            return nullptr;
        return std::make_shared<BmpPicture>(path, PictureFormat::Bmp, size, twipsPerPixel);
    }
    case Sniffed::Jpeg: {
        file.close();
        JpegHeader h;
        if (!readJpegHeader(path, &h, error) || !withinBudget(h.upright(), error))
            return nullptr;
        return std::make_shared<JpegPicture>(path, PictureFormat::Jpeg, h.upright(), twipsPerPixel);
    }
    case Sniffed::Ico:
    case Sniffed::Cur: {
        if (fileSize > kMaxWholeFile) {
            setError(error, QStringLiteral("icon file is too large"));
            return nullptr;
        }
        const QByteArray all = head + file.readAll();
        IcoEntry entry;
        bool cursor = false;
        if (!parseIco(reinterpret_cast<const uchar *>(all.constData()), std::size_t(all.size()), &entry, &cursor, error) ||
            !withinBudget(entry.size, error))
            return nullptr;
        return std::make_shared<IcoPicture>(path, cursor ? PictureFormat::Cur : PictureFormat::Ico, entry.size,
                                            twipsPerPixel);
    }
    case Sniffed::Wmf: {
        if (fileSize > kMaxWholeFile) {
            setError(error, QStringLiteral("metafile is too large"));
            return nullptr;
        }
        QByteArray all = head + file.readAll();
        auto doc = wmf::Document::parse(all, error);
        if (!doc)
            return nullptr;
        const QSizeF tw = doc->sizeTwips();
        if (!(tw.width() > 0 && tw.height() > 0)) {
            setError(error, QStringLiteral("metafile has no size"));
            return nullptr;
        }
        auto pic = std::make_shared<WmfPicture>(std::move(*doc), std::move(all), twipsPerPixel);
        if (!withinBudget(pic->pixelSize(), error))
            return nullptr;
        return pic;
    }
    case Sniffed::Emf:
        setError(error, QStringLiteral("enhanced metafiles (EMF) are not supported"));
        return nullptr;
    case Sniffed::Png:
        return openWithQt(path, PictureFormat::Png, "png", twipsPerPixel, error);
    case Sniffed::Gif:
        return openWithQt(path, PictureFormat::Gif, "gif", twipsPerPixel, error);
    case Sniffed::Tiff:
        return openWithQt(path, PictureFormat::Tiff, "tiff", twipsPerPixel, error);
    case Sniffed::Webp:
        return openWithQt(path, PictureFormat::Webp, "webp", twipsPerPixel, error);
    case Sniffed::Unknown:
        break;
    }
    setError(error, QStringLiteral("not a picture format we read"));
    return nullptr;
}

}  // namespace pel
